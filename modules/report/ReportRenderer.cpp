#include "modules/report/ReportRenderer.h"

#include <QFileInfo>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPdfWriter>
#include <QPrinter>
#include <QSaveFile>

#include <algorithm>
#include <cmath>

namespace rpt::report {

namespace {

constexpr double mm(double v) { return v * kUnitsPerMm; }

// Private-use stand-ins for "{{" and "}}" between the two expansion passes, so an
// escaped "{{page}}" never turns into a page number.
constexpr char16_t kOpenBrace = 0xE000;
constexpr char16_t kCloseBrace = 0xE001;

const QRgb kBlack = qRgb(0, 0, 0);
const QRgb kRuleColor = qRgb(0x40, 0x40, 0x40);
const QRgb kHeadingFill = qRgb(0xDD, 0xE3, 0xEA);
const QRgb kGridColor = qRgb(0xB0, 0xB0, 0xB0);
const QRgb kNoticeColor = qRgb(0xB0, 0x00, 0x00);
const QRgb kNoticeFill = qRgb(0xFD, 0xEC, 0xEC);
const QRgb kGrey = qRgb(0x55, 0x55, 0x55);

bool isPagePlaceholder(QStringView name)
{
    return name.compare(u"page", Qt::CaseInsensitive) == 0 || name.compare(u"pages", Qt::CaseInsensitive) == 0;
}

} // namespace

QStringList PageContent::texts_of(Role role) const
{
    QStringList out;
    for (const TextItem &t : texts)
        if (t.role == role)
            out << t.text;
    return out;
}

ReportRenderer::ReportRenderer(ReportData data, TemplateLoad load, QDateTime printTime)
    : m_data(std::move(data)), m_load(std::move(load)), m_tpl(m_load.tpl),
      m_printTime(printTime.isValid() ? printTime : QDateTime::currentDateTime())
{
    if (!m_load.ok)
        m_notices << templateNotice(m_load);

    m_bodyFont = fontFor(m_tpl.fontSizePt, false);
    m_headingFont = fontFor(m_tpl.fontSizePt, true);
    m_totalFont = m_headingFont;
    m_smallFont = fontFor(std::max(6.0, m_tpl.fontSizePt * 0.85), false);
    m_noticeFont = fontFor(m_tpl.fontSizePt, true);

    const FontStyle &body = m_fonts[size_t(m_bodyFont)];
    m_cellPad = mm(1.2);
    m_rowHeight = m_tpl.rowHeightMm > 0 ? mm(m_tpl.rowHeightMm) : std::ceil(body.height * 1.45);
    m_headingHeight = std::ceil(m_fonts[size_t(m_headingFont)].height * 1.7);
    m_totalsHeight = std::ceil(m_fonts[size_t(m_totalFont)].height * 1.7);

    setupColumns();   // also adds up the totals and settles the page size and orientation

    if (!m_load.ok)
        buildFallbackHeader();
    else {
        m_title = buildBand(m_tpl.title, m_tpl.fontSizePt * 1.6, true, true);
        m_pageHeader = buildBand(m_tpl.pageHeader, m_tpl.fontSizePt, false, true);
    }
    m_footer = buildBand(m_tpl.footer, m_tpl.fontSizePt, false, true);
    {
        const auto pf = buildBand({m_tpl.pageFooter}, m_tpl.fontSizePt * 0.85, false, true);
        if (!pf.empty())
            m_pageFooter = pf.front();
    }
    const FontStyle &small = m_fonts[size_t(m_smallFont)];
    m_pageFooterHeight = (m_pageFooter.left.isEmpty() && m_pageFooter.center.isEmpty() && m_pageFooter.right.isEmpty())
        ? 0
        : std::ceil(small.height * 1.5 + mm(1.5));
    paginate();
}

ReportRenderer::~ReportRenderer() = default;

void ReportRenderer::addNotice(const QString &notice)
{
    if (notice.isEmpty() || m_notices.contains(notice))
        return;
    m_notices << notice;
    m_noticeLines.clear();
    paginate();
}

int ReportRenderer::fontFor(double sizePt, bool bold)
{
    for (size_t i = 0; i < m_fonts.size(); ++i)
        if (std::abs(m_fonts[i].sizePt - sizePt) < 0.01 && m_fonts[i].bold == bold)
            return int(i);
    QFont f;
    QStringList families = m_tpl.fontFamilies;
    for (const QString &fam : defaultFontFamilies())
        if (!families.contains(fam, Qt::CaseInsensitive))
            families << fam;
    f.setFamilies(families);
    // Pixel sizes in fixed units keep text metrics the same on every device. They are
    // kept moderate (one font pixel = kFontUnit layout units): at very large pixel
    // sizes the font engine stops caching glyph metrics and measuring gets slow.
    f.setPixelSize(std::max(1, int(std::lround(sizePt * 25.4 / 72.0 * kUnitsPerMm / kFontUnit))));
    f.setBold(bold);
    f.setHintingPreference(QFont::PreferNoHinting);
    f.setKerning(false);
    QFontMetricsF fm(f);
    m_fonts.push_back(FontStyle{f, fm, fm.ascent() * kFontUnit, fm.height() * kFontUnit, sizePt, bold});
    return int(m_fonts.size() - 1);
}

QString ReportRenderer::cellText(int row, const ColumnLayout &c) const
{
    const QVector<QVariant> &values = m_data.rows[size_t(row)];
    if (c.field >= values.size())
        return QString();
    return formatValue(values[c.field], c.type, c.format);
}

void ReportRenderer::setupColumns()
{
    m_columns.clear();
    const TFieldDefs &defs = m_data.columns;
    auto makeAuto = [&](int field) {
        ColumnLayout c;
        c.field = field;
        c.caption = defs[field].Name;
        c.type = defs[field].DataType;
        c.numeric = isNumericType(c.type);
        c.align = c.numeric ? Align::Right : Align::Left;
        c.format = defaultFormat(c.type);
        return c;
    };
    std::vector<double> fixedWidth;   // 0 = auto

    if (m_tpl.columnsGiven) {
        QStringList missing, notSummable;
        for (const TemplateColumn &tc : m_tpl.columns) {
            const int idx = defs.IndexOf(tc.field);
            if (idx < 0) {
                missing << tc.field;
                continue;
            }
            ColumnLayout c = makeAuto(idx);
            if (!tc.caption.isEmpty())
                c.caption = tc.caption;
            if (tc.align)
                c.align = *tc.align;
            if (tc.decimals)
                c.format.decimals = *tc.decimals;
            if (tc.thousands)
                c.format.thousands = *tc.thousands;
            c.format.dateFormat = tc.dateFormat;
            c.total = tc.total;
            if (c.total == TotalKind::Sum && !c.numeric) {
                notSummable << c.caption;
                c.total = TotalKind::None;
            }
            m_columns.push_back(c);
            fixedWidth.push_back(mm(tc.widthMm));
        }
        if (m_columns.empty() && !defs.isEmpty()) {
            m_notices << QStringLiteral("查詢結果沒有範本指定的任何欄位（%1），已列出查詢結果的所有欄位")
                             .arg(missing.join(QStringLiteral("、")));
        } else if (!missing.isEmpty()) {
            m_notices << QStringLiteral("查詢結果沒有範本指定的欄位：%1").arg(missing.join(QStringLiteral("、")));
        }
        if (!notSummable.isEmpty())
            m_notices << QStringLiteral("不是數值的欄位無法加總：%1").arg(notSummable.join(QStringLiteral("、")));
    }
    if (m_columns.empty()) {
        fixedWidth.clear();
        for (int i = 0; i < defs.size(); ++i) {
            const TFieldType t = defs[i].DataType;
            if (t == ftBlob || t == ftBytes || t == ftVarBytes)
                continue;   // pictures and raw bytes have no printable text
            m_columns.push_back(makeAuto(i));
            fixedWidth.push_back(0);
        }
    }
    for (ColumnLayout &c : m_columns)
        if (isDecimalType(c.type) && c.format.decimals < 0 && defs[c.field].Size > 0)
            c.format.decimals = defs[c.field].Size;

    computeTotals();

    // Natural widths of the columns sized from their data and their total.
    const FontStyle &body = m_fonts[size_t(m_bodyFont)];
    const FontStyle &heading = m_fonts[size_t(m_headingFont)];
    std::vector<double> natural(m_columns.size(), 0);
    for (size_t i = 0; i < m_columns.size(); ++i) {
        if (fixedWidth[i] > 0) {
            natural[i] = fixedWidth[i];
            continue;
        }
        const ColumnLayout &c = m_columns[i];
        double w = std::max(heading.advance(c.caption), m_fonts[size_t(m_totalFont)].advance(m_totalTexts[i]));
        for (size_t r = 0; r < m_data.rows.size(); ++r)
            w = std::max(w, body.advance(cellText(int(r), c)));
        natural[i] = std::ceil(w + 2 * m_cellPad + mm(0.5));
    }
    double total = 0;
    for (double w : natural)
        total += w;

    // Page: the template's, or for the built-in layout the orientation that fits.
    m_orientation = m_tpl.orientation;
    auto contentWidth = [&](QPageLayout::Orientation o) {
        QSizeF s = m_tpl.pageSize.size(QPageSize::Millimeter);
        if (o == QPageLayout::Landscape)
            s.transpose();
        return mm(s.width() - m_tpl.marginsMm.left() - m_tpl.marginsMm.right());
    };
    if (!m_load.ok && !m_tpl.orientationSet && total > contentWidth(QPageLayout::Portrait))
        m_orientation = QPageLayout::Landscape;
    const QRectF full = pageLayout().fullRect(QPageLayout::Millimeter);
    m_page = QSizeF(mm(full.width()), mm(full.height()));
    m_content = QRectF(mm(m_tpl.marginsMm.left()), mm(m_tpl.marginsMm.top()),
                       m_page.width() - mm(m_tpl.marginsMm.left() + m_tpl.marginsMm.right()),
                       m_page.height() - mm(m_tpl.marginsMm.top() + m_tpl.marginsMm.bottom()));

    const double avail = m_content.width();
    std::vector<double> width = natural;
    if (!m_load.ok) {
        // A lone long text column must not push the others off the page.
        for (size_t i = 0; i < width.size(); ++i)
            width[i] = std::min(width[i], avail * 0.45);
    }
    total = 0;
    for (double w : width)
        total += w;
    if (total > avail && total > 0) {
        const double k = avail / total;
        for (double &w : width)
            w = std::floor(w * k);
    } else if (!m_load.ok && total < avail && total > 0) {
        // The built-in layout spreads spare room over all its columns so the table
        // spans the page like a designed one.
        const double k = avail / total;
        for (double &w : width)
            w = std::floor(w * k);
    }
    double x = 0;
    for (size_t i = 0; i < m_columns.size(); ++i) {
        m_columns[i].x = x;
        m_columns[i].width = width[i];
        x += width[i];
    }
    m_tableWidth = x;
}

void ReportRenderer::computeTotals()
{
    m_totalTexts.assign(m_columns.size(), QString());
    std::vector<ColumnSum> sums(m_columns.size());
    std::vector<size_t> wanted;
    for (size_t i = 0; i < m_columns.size(); ++i)
        if (m_columns[i].total != TotalKind::None)
            wanted.push_back(i);
    if (wanted.empty())
        return;
    for (const auto &row : m_data.rows)
        for (size_t i : wanted) {
            const int f = m_columns[i].field;
            if (f < row.size())
                sums[i].add(row[f]);
        }
    for (size_t i : wanted) {
        const ColumnLayout &c = m_columns[i];
        if (c.total == TotalKind::Count) {
            // Count every non-NULL cell, numeric or not.
            qint64 n = 0;
            for (const auto &row : m_data.rows)
                if (c.field < row.size() && row[c.field].isValid() && !row[c.field].isNull())
                    ++n;
            m_totalTexts[i] = formatInteger(n, true);
        } else {
            m_totalTexts[i] = sums[i].text(c.type, c.format);
        }
    }
}

QString ReportRenderer::expand(const QString &text, int pageIndex) const
{
    if (!text.contains(u'{') && !text.contains(u'}') && !text.contains(QChar(kOpenBrace))
        && !text.contains(QChar(kCloseBrace)))
        return text;
    const bool staticPass = pageIndex < 0;
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'{' && i + 1 < text.size() && text[i + 1] == u'{') {
            out += staticPass ? QChar(kOpenBrace) : QChar(u'{');
            ++i;
            continue;
        }
        if (c == u'}' && i + 1 < text.size() && text[i + 1] == u'}') {
            out += staticPass ? QChar(kCloseBrace) : QChar(u'}');
            ++i;
            continue;
        }
        if (c == u'{') {
            const qsizetype end = text.indexOf(u'}', i + 1);
            if (end > i) {
                const QStringView name = QStringView(text).mid(i + 1, end - i - 1).trimmed();
                bool known = true;
                QString value;
                if (isPagePlaceholder(name)) {
                    if (staticPass) {
                        known = false;   // filled in when the page is drawn
                    } else if (name.compare(u"page", Qt::CaseInsensitive) == 0) {
                        value = QString::number(pageIndex + 1);
                    } else {
                        value = QString::number(pageCount());
                    }
                } else if (name.compare(u"printDate", Qt::CaseInsensitive) == 0) {
                    value = m_printTime.toString(QStringLiteral("yyyy/MM/dd"));
                } else if (name.compare(u"printTime", Qt::CaseInsensitive) == 0) {
                    value = m_printTime.toString(QStringLiteral("HH:mm"));
                } else if (name.compare(u"rowCount", Qt::CaseInsensitive) == 0) {
                    value = formatInteger(qint64(m_data.rows.size()), true);
                } else if (m_data.hasHeaderField(name.toString())) {
                    // Data may hold braces; they must not become placeholders later.
                    value = m_data.headerText(name.toString());
                    if (staticPass)
                        value.replace(u'{', QChar(kOpenBrace)).replace(u'}', QChar(kCloseBrace));
                } else if (name.size() > 5 && name.startsWith(u"Field", Qt::CaseInsensitive)) {
                    // A header field the record lacks prints as nothing, like an empty one.
                    bool isNum = false;
                    (void)name.mid(5).toInt(&isNum);
                    known = isNum;
                } else {
                    known = false;
                }
                if (known) {
                    out += value;
                    i = end;
                    continue;
                }
                if (!staticPass || isPagePlaceholder(name)) {
                    out += text.mid(i, end - i + 1);
                    i = end;
                    continue;
                }
            }
        }
        if (!staticPass && c == QChar(kOpenBrace))
            out += u'{';
        else if (!staticPass && c == QChar(kCloseBrace))
            out += u'}';
        else
            out += c;
    }
    return out;
}

QStringList ReportRenderer::wrap(const QString &text, int font, double width) const
{
    const FontStyle &fm = m_fonts[size_t(font)];
    QStringList out;
    for (const QString &para : text.split(u'\n')) {
        QString line = para;
        if (line.endsWith(u'\r'))
            line.chop(1);
        if (fm.advance(line) <= width) {
            out << line;
            continue;
        }
        // Chinese breaks between any two characters; Latin words are kept whole where
        // a blank allows it.
        qsizetype start = 0;
        while (start < line.size()) {
            qsizetype lo = start + 1, hi = line.size();
            while (lo < hi) {
                const qsizetype mid = (lo + hi + 1) / 2;
                if (fm.advance(QStringView(line).mid(start, mid - start).toString()) <= width)
                    lo = mid;
                else
                    hi = mid - 1;
            }
            qsizetype end = lo;
            if (end < line.size()) {
                const qsizetype space = line.lastIndexOf(u' ', end);
                if (space > start && end - space < 20 && line[end].isLetterOrNumber()
                    && line[end - 1].isLetterOrNumber() && line[end].unicode() < 0x2E80)
                    end = space + 1;
            }
            if (end > start + 1 && end < line.size() && line[end].isLowSurrogate())
                --end;   // never split a surrogate pair
            if (end <= start)
                end = start + 1;
            out << line.mid(start, end - start).trimmed();
            start = end;
            while (start < line.size() && line[start] == u' ')
                ++start;
        }
    }
    return out;
}

std::vector<ReportRenderer::BandLine> ReportRenderer::buildBand(const QVector<TemplateLine> &lines,
                                                                double defaultPt, bool defaultBold, bool dropBlank)
{
    std::vector<BandLine> band;
    for (const TemplateLine &tl : lines) {
        const double pt = tl.sizePt > 0 ? tl.sizePt : defaultPt;
        const bool bold = tl.boldSet ? tl.bold : defaultBold;
        const int font = fontFor(pt, bold);
        const double height = std::ceil(m_fonts[size_t(font)].height * 1.3);
        auto hasPlaceholder = [](const QString &s) { return s.contains(u'{'); };
        auto blank = [](const QString &s) { return s.trimmed().isEmpty(); };
        if (tl.parts) {
            BandLine bl;
            auto flat = [&](const QString &s) {
                QString e = expand(s, -1);
                e.replace(u'\n', u' ').remove(u'\r');
                return e;
            };
            bl.left = flat(tl.left);
            bl.center = flat(tl.center);
            bl.right = flat(tl.right);
            bl.font = font;
            bl.height = height;
            const bool literal = !hasPlaceholder(tl.left) && !hasPlaceholder(tl.center) && !hasPlaceholder(tl.right);
            if (dropBlank && !literal && blank(bl.left) && blank(bl.center) && blank(bl.right))
                continue;
            band.push_back(bl);
            continue;
        }
        const QString e = expand(tl.text, -1);
        if (dropBlank && hasPlaceholder(tl.text) && blank(e))
            continue;
        // Long or multi-line texts (the footer memo) wrap to the width of the page.
        for (const QString &piece : wrap(e, font, m_content.width())) {
            BandLine bl;
            (tl.align == Align::Left ? bl.left : tl.align == Align::Center ? bl.center : bl.right) = piece;
            bl.font = font;
            bl.height = height;
            band.push_back(bl);
        }
    }
    return band;
}

void ReportRenderer::buildFallbackHeader()
{
    QVector<TemplateLine> title, header;
    TemplateLine company;
    company.text = m_data.headerText(QStringLiteral("Field12")).trimmed();
    company.align = Align::Center;
    if (company.text.isEmpty())
        company.text = QStringLiteral("報表");
    title << company;

    TemplateLine store;
    store.parts = true;
    const QString storeName = m_data.headerText(QStringLiteral("Field11")).trimmed();
    if (!storeName.isEmpty())
        store.left = QStringLiteral("門市：") + storeName;
    QStringList params;
    for (int i : {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 25}) {
        const QString v = m_data.headerText(QStringLiteral("Field%1").arg(i)).trimmed();
        if (!v.isEmpty())
            params << v;
    }
    if (!params.isEmpty())
        store.right = QStringLiteral("條件：") + params.join(QStringLiteral("／"));
    if (!store.left.isEmpty() || !store.right.isEmpty())
        header << store;
    QStringList storeData;
    for (int i = 14; i <= 24; ++i) {
        const QString v = m_data.headerText(QStringLiteral("Field%1").arg(i)).trimmed();
        if (!v.isEmpty())
            storeData << v;
    }
    if (!storeData.isEmpty()) {
        TemplateLine l;
        l.text = storeData.join(QStringLiteral("　"));
        l.sizePt = m_tpl.fontSizePt * 0.85;
        header << l;
    }
    // The values come from data, not from the template: keep their braces literal.
    auto escape = [](QString s) { return s.replace(u'{', QStringLiteral("{{")).replace(u'}', QStringLiteral("}}")); };
    for (TemplateLine &l : title)
        l.text = escape(l.text);
    for (TemplateLine &l : header) {
        l.text = escape(l.text);
        l.left = escape(l.left);
        l.right = escape(l.right);
    }
    m_title = buildBand(title, m_tpl.fontSizePt * 1.6, true, true);
    m_pageHeader = buildBand(header, m_tpl.fontSizePt, false, true);
    m_tpl.totalsLabel = QStringLiteral("共 {rowCount} 筆");
}

double ReportRenderer::bandHeight(const std::vector<BandLine> &band) const
{
    double h = 0;
    for (const BandLine &l : band)
        h += l.height;
    return h;
}

double ReportRenderer::noticeHeight() const
{
    if (m_notices.isEmpty())
        return 0;
    if (m_noticeLines.size() != size_t(m_notices.size())) {
        m_noticeLines.clear();
        for (const QString &n : m_notices)
            m_noticeLines.push_back(wrap(n, m_noticeFont, m_content.width() - 2 * m_cellPad));
    }
    int lines = 0;
    for (const QStringList &l : m_noticeLines)
        lines += int(l.size());
    const double lh = std::ceil(m_fonts[size_t(m_noticeFont)].height * 1.25);
    return lines * lh + 2 * m_cellPad + mm(2);   // box plus the gap under it
}

void ReportRenderer::paginate()
{
    m_slices.clear();
    const int n = int(m_data.rows.size());
    bool hasTotals = !m_load.ok;
    for (const ColumnLayout &c : m_columns)
        if (c.total != TotalKind::None)
            hasTotals = true;
    const int footerLines = int(m_footer.size());
    const double bottom = m_content.bottom() - (m_pageFooterHeight > 0 ? m_pageFooterHeight + mm(1) : 0);
    const double footerGap = mm(3);

    // The end of the report (totals and footer) should not stand alone on its page:
    // when it does not fit under the last rows, a few rows go over with it.
    constexpr int kRowsKeptWithEnd = 3;
    double endHeight = hasTotals ? m_totalsHeight : 0;
    if (footerLines > 0)
        endHeight += footerGap + bandHeight(m_footer);
    const double freshTop = m_content.top() + bandHeight(m_pageHeader) + (m_pageHeader.empty() ? 0 : mm(2))
        + m_headingHeight;

    int row = 0, footer = 0;
    bool totalsDone = !hasTotals;
    do {
        const int index = int(m_slices.size());
        PageSlice s;
        double y = m_content.top();
        if (index == 0) {
            y += bandHeight(m_title);
            if (!m_title.empty())
                y += mm(1);
            y += noticeHeight();
        }
        y += bandHeight(m_pageHeader);
        if (!m_pageHeader.empty())
            y += mm(2);
        // Column headings only over rows or totals, not over a page of footer text.
        if (row < n || !totalsDone || (n == 0 && index == 0))
            y += m_headingHeight;
        bool placed = false;
        if (n == 0 && index == 0) {
            y += m_rowHeight;   // "no data" line
            placed = true;
        }
        s.firstRow = row;
        if (row < n) {
            int k = int(std::floor((bottom - y) / m_rowHeight + 1e-9));
            k = std::clamp(k, 1, n - row);   // a page always takes at least one row
            if (row + k == n && k > 1 && endHeight > 0 && y + k * m_rowHeight + endHeight > bottom + 1e-6) {
                const int carry = std::min(kRowsKeptWithEnd, k - 1);
                if (freshTop + carry * m_rowHeight + endHeight <= bottom + 1e-6)
                    k -= carry;
            }
            s.rowCount = k;
            row += k;
            y += k * m_rowHeight;
            placed = true;
        }
        if (row == n && !totalsDone) {
            if (!placed || y + m_totalsHeight <= bottom + 1e-6) {
                s.totals = true;
                totalsDone = true;
                y += m_totalsHeight;
                placed = true;
            }
        }
        if (row == n && totalsDone && footer < footerLines) {
            s.firstFooterLine = footer;
            double fy = y + (placed ? footerGap : 0);
            while (footer < footerLines) {
                const double h = m_footer[size_t(footer)].height;
                if (fy + h > bottom + 1e-6 && (placed || s.footerLineCount > 0))
                    break;
                fy += h;
                ++footer;
                ++s.footerLineCount;
            }
        }
        m_slices.push_back(s);
    } while (row < n || !totalsDone || footer < footerLines);
}

int ReportRenderer::rowsPerFullPage() const
{
    const double bottom = m_content.bottom() - (m_pageFooterHeight > 0 ? m_pageFooterHeight + mm(1) : 0);
    double y = m_content.top() + bandHeight(m_pageHeader) + (m_pageHeader.empty() ? 0 : mm(2)) + m_headingHeight;
    return std::max(1, int(std::floor((bottom - y) / m_rowHeight + 1e-9)));
}

QPageLayout ReportRenderer::pageLayout() const
{
    return QPageLayout(m_tpl.pageSize, m_orientation, QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter);
}

void ReportRenderer::emitText(PageContent &pc, const QRectF &rect, const QString &text, int font, Align align,
                              Role role, QRgb color, int row, int column, bool number) const
{
    if (text.isEmpty())
        return;
    const FontStyle &fs = m_fonts[size_t(font)];
    const double pad = (role == Role::Cell || role == Role::Heading || role == Role::Total) ? m_cellPad : 0;
    const double avail = rect.width() - 2 * pad;
    QString shown = text;
    double w = fs.advance(shown);
    if (w > avail) {
        if (number) {
            // A cut-off number would be read as a different amount.
            shown = QStringLiteral("###");
        } else {
            shown = fs.elide(text, avail);
        }
        w = fs.advance(shown);
    }
    double x = rect.left() + pad;
    if (align == Align::Right)
        x = rect.right() - pad - w;
    else if (align == Align::Center)
        x = rect.left() + (rect.width() - w) / 2;
    const double baseline = rect.top() + (rect.height() - fs.height) / 2 + fs.ascent;
    pc.texts.push_back(TextItem{rect, QPointF(x, baseline), shown, font, align, color, role, row, column});
}

void ReportRenderer::emitBand(PageContent &pc, const std::vector<BandLine> &band, double &y, Role role,
                              int pageIndex) const
{
    const QRgb color = role == Role::PageFooter ? kGrey : kBlack;
    for (const BandLine &l : band) {
        const QRectF r(m_content.left(), y, m_content.width(), l.height);
        emitText(pc, r, expand(l.left, pageIndex), l.font, Align::Left, role, color);
        emitText(pc, r, expand(l.center, pageIndex), l.font, Align::Center, role, color);
        emitText(pc, r, expand(l.right, pageIndex), l.font, Align::Right, role, color);
        y += l.height;
    }
}

PageContent ReportRenderer::page(int index) const
{
    PageContent pc;
    if (index < 0 || index >= pageCount())
        return pc;
    const PageSlice &s = m_slices[size_t(index)];
    const double left = m_content.left();
    const double thin = mm(0.15), thick = mm(0.35);
    pc.texts.reserve(size_t(s.rowCount) * m_columns.size() + 32);
    pc.fills.reserve(size_t(s.rowCount) / 2 + 4);

    double y = m_content.top();
    if (index == 0) {
        emitBand(pc, m_title, y, Role::Title, index);
        if (!m_title.empty())
            y += mm(1);
        if (!m_notices.isEmpty()) {
            noticeHeight();   // makes sure the wrapped lines exist
            const double lh = std::ceil(m_fonts[size_t(m_noticeFont)].height * 1.25);
            int lines = 0;
            for (const QStringList &l : m_noticeLines)
                lines += int(l.size());
            const QRectF box(left, y, m_content.width(), lines * lh + 2 * m_cellPad);
            pc.fills.push_back(FillItem{box, kNoticeFill});
            pc.lines.push_back(LineItem{QLineF(box.topLeft(), box.topRight()), thin, kNoticeColor});
            pc.lines.push_back(LineItem{QLineF(box.bottomLeft(), box.bottomRight()), thin, kNoticeColor});
            pc.lines.push_back(LineItem{QLineF(box.topLeft(), box.bottomLeft()), thin, kNoticeColor});
            pc.lines.push_back(LineItem{QLineF(box.topRight(), box.bottomRight()), thin, kNoticeColor});
            double ny = y + m_cellPad;
            for (const QStringList &notice : m_noticeLines)
                for (const QString &line : notice) {
                    emitText(pc, QRectF(left + m_cellPad, ny, m_content.width() - 2 * m_cellPad, lh), line,
                             m_noticeFont, Align::Left, Role::Notice, kNoticeColor);
                    ny += lh;
                }
            y += box.height() + mm(2);
        }
    }
    emitBand(pc, m_pageHeader, y, Role::PageHeader, index);
    if (!m_pageHeader.empty())
        y += mm(2);

    // Column headings, repeated on every page that has rows or the totals.
    const bool table = s.rowCount > 0 || s.totals || (m_data.rows.empty() && index == 0);
    const QRectF headRect(left, y, m_tableWidth, table ? m_headingHeight : 0);
    if (table) {
        pc.fills.push_back(FillItem{headRect, kHeadingFill});
        pc.lines.push_back(LineItem{QLineF(headRect.topLeft(), headRect.topRight()), thick, kRuleColor});
        pc.lines.push_back(LineItem{QLineF(headRect.bottomLeft(), headRect.bottomRight()), thin, kRuleColor});
        for (size_t c = 0; c < m_columns.size(); ++c) {
            const ColumnLayout &col = m_columns[c];
            emitText(pc, QRectF(left + col.x, y, col.width, m_headingHeight), col.caption, m_headingFont, col.align,
                     Role::Heading, kBlack, -1, int(c));
        }
        y += m_headingHeight;
    }

    if (m_data.rows.empty() && index == 0) {
        emitText(pc, QRectF(left, y, m_tableWidth, m_rowHeight), QStringLiteral("（查無資料）"), m_bodyFont,
                 Align::Center, Role::NoRows, kGrey);
        y += m_rowHeight;
    }
    for (int r = s.firstRow; r < s.firstRow + s.rowCount; ++r) {
        if (m_tpl.zebra && (r % 2) == 1)
            pc.fills.push_back(FillItem{QRectF(left, y, m_tableWidth, m_rowHeight), m_tpl.zebraColor});
        for (size_t c = 0; c < m_columns.size(); ++c) {
            const ColumnLayout &col = m_columns[c];
            emitText(pc, QRectF(left + col.x, y, col.width, m_rowHeight), cellText(r, col), m_bodyFont, col.align,
                     Role::Cell, kBlack, r, int(c), col.numeric);
        }
        y += m_rowHeight;
        if (m_tpl.gridLines)
            pc.lines.push_back(LineItem{QLineF(left, y, left + m_tableWidth, y), thin, kGridColor});
    }
    if (s.rowCount > 0 || (m_data.rows.empty() && index == 0))
        pc.lines.push_back(LineItem{QLineF(left, y, left + m_tableWidth, y), thin, kRuleColor});
    if (m_tpl.gridLines && !m_columns.empty()) {
        const double top = headRect.top();
        for (size_t c = 1; c < m_columns.size(); ++c) {
            const double x = left + m_columns[c].x;
            pc.lines.push_back(LineItem{QLineF(x, top, x, y), thin, kGridColor});
        }
    }

    if (s.totals) {
        const QRectF tr(left, y, m_tableWidth, m_totalsHeight);
        pc.lines.push_back(LineItem{QLineF(tr.left(), tr.top() + mm(0.4), tr.right(), tr.top() + mm(0.4)), thin,
                                    kRuleColor});
        pc.lines.push_back(LineItem{QLineF(tr.bottomLeft(), tr.bottomRight()), thick, kRuleColor});
        // The label takes the leading columns that carry no total; without any total
        // column (the built-in layout's row count) it has the whole row.
        bool anyTotal = false;
        double labelRight = 0;
        for (const ColumnLayout &c : m_columns) {
            if (c.total != TotalKind::None) {
                anyTotal = true;
                break;
            }
            labelRight = c.x + c.width;
        }
        if (!anyTotal)
            labelRight = m_tableWidth;
        const QString label = expand(m_tpl.totalsLabel, index);
        if (labelRight > 0)
            emitText(pc, QRectF(left, y, labelRight, m_totalsHeight), label, m_totalFont, Align::Left, Role::Total);
        // A total is usually wider than the cells above it: a right-aligned one may use
        // the free room to its left, up to the label or the previous total.
        double freeFrom = left + std::min(labelRight, label.isEmpty() ? 0.0
                                                                      : m_fonts[size_t(m_totalFont)].advance(label) + 3 * m_cellPad);
        for (size_t c = 0; c < m_columns.size(); ++c) {
            const ColumnLayout &col = m_columns[c];
            if (col.total == TotalKind::None)
                continue;
            const double colLeft = left + col.x, colRight = colLeft + col.width;
            const double boxLeft = col.align == Align::Right ? std::min(colLeft, freeFrom) : colLeft;
            emitText(pc, QRectF(boxLeft, y, colRight - boxLeft, m_totalsHeight), m_totalTexts[c], m_totalFont, col.align,
                     Role::Total, kBlack, -1, int(c), true);
            freeFrom = colRight;
        }
        y += m_totalsHeight;
    }

    if (s.footerLineCount > 0) {
        if (s.rowCount > 0 || s.totals || index == 0)
            y += mm(3);
        std::vector<BandLine> part(m_footer.begin() + s.firstFooterLine,
                                   m_footer.begin() + s.firstFooterLine + s.footerLineCount);
        emitBand(pc, part, y, Role::Footer, index);
    }

    if (m_pageFooterHeight > 0) {
        const double top = m_content.bottom() - m_pageFooterHeight;
        pc.lines.push_back(LineItem{QLineF(left, top + mm(0.5), m_content.right(), top + mm(0.5)), thin, kGrey});
        double fy = top + mm(1.5);
        BandLine l = m_pageFooter;
        l.height = m_pageFooterHeight - mm(1.5);
        emitBand(pc, {l}, fy, Role::PageFooter, index);
    }
    return pc;
}

void ReportRenderer::paintPage(QPainter &painter, int index) const
{
    const PageContent pc = page(index);
    painter.save();
    for (const FillItem &f : pc.fills)
        painter.fillRect(f.rect, QColor::fromRgb(f.color));
    for (const LineItem &l : pc.lines) {
        QPen pen(QColor::fromRgb(l.color));
        pen.setWidthF(l.width);
        pen.setCapStyle(Qt::FlatCap);
        painter.setPen(pen);
        painter.drawLine(l.line);
    }
    int font = -1;
    QRgb color = 0x1;
    painter.scale(kFontUnit, kFontUnit);
    const double toFont = 1.0 / kFontUnit;
    double boldOffset = 0;
    for (const TextItem &t : pc.texts) {
        if (t.font != font) {
            font = t.font;
            const FontStyle &fs = m_fonts[size_t(font)];
            painter.setFont(fs.font);
            // The Chinese faces come in one weight only; a second pass a hair to the
            // right gives bold headings and totals their weight.
            boldOffset = fs.bold ? fs.font.pixelSize() * 0.035 : 0;
        }
        if (t.color != color) {
            color = t.color;
            painter.setPen(QColor::fromRgb(color));
        }
        const QPointF at = t.origin * toFont;
        painter.drawText(at, t.text);
        if (boldOffset > 0)
            painter.drawText(at + QPointF(boldOffset, 0), t.text);
    }
    painter.restore();
}

void ReportRenderer::paintPageOnDevice(QPainter &painter, int index, double deviceDpi) const
{
    painter.save();
    const double k = deviceDpi / 25.4 / kUnitsPerMm;
    painter.scale(k, k);
    paintPage(painter, index);
    painter.restore();
}

QImage ReportRenderer::pageImage(int index, double dpi, double devicePixelRatio) const
{
    const double k = dpi / 25.4 / kUnitsPerMm;
    const QSize size(int(std::ceil(m_page.width() * k * devicePixelRatio)),
                     int(std::ceil(m_page.height() * k * devicePixelRatio)));
    QImage img(size, QImage::Format_RGB32);
    img.setDevicePixelRatio(devicePixelRatio);
    img.fill(Qt::white);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    paintPageOnDevice(p, index, dpi);
    p.end();
    return img;
}

bool ReportRenderer::paintDocument(QPagedPaintDevice &device, QString *error, int from, int to) const
{
    if (to < 0 || to >= pageCount())
        to = pageCount() - 1;
    from = std::clamp(from, 0, std::max(0, pageCount() - 1));
    QPainter painter;
    if (!painter.begin(&device)) {
        if (error)
            *error = QStringLiteral("無法開始輸出頁面");
        return false;
    }
    const double dpi = device.logicalDpiX();
    for (int i = from; i <= to; ++i) {
        if (i > from && !device.newPage()) {
            if (error)
                *error = QStringLiteral("無法開始新的一頁（第 %1 頁）").arg(i + 1);
            painter.end();
            return false;
        }
        paintPageOnDevice(painter, i, dpi);
    }
    if (!painter.end()) {
        if (error)
            *error = QStringLiteral("無法完成輸出");
        return false;
    }
    return true;
}

bool ReportRenderer::writePdf(const QString &path, QString *error, int from, int to) const
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        if (error)
            *error = QStringLiteral("無法建立 PDF 檔 %1：%2").arg(path, file.errorString());
        return false;
    }
    {
        QPdfWriter writer(&file);
        writer.setResolution(1200);
        writer.setPageLayout(pageLayout());
        writer.setCreator(QStringLiteral("rptdlg"));
        const QString title = m_data.headerText(QStringLiteral("Field12"));
        writer.setTitle(title.isEmpty() ? QFileInfo(path).completeBaseName() : title);
        QString why;
        if (!paintDocument(writer, &why, from, to)) {
            file.cancelWriting();
            if (error)
                *error = QStringLiteral("無法寫入 PDF 檔 %1：%2").arg(path, why);
            return false;
        }
    }
    if (!file.commit()) {
        if (error)
            *error = QStringLiteral("無法寫入 PDF 檔 %1：%2").arg(path, file.errorString());
        return false;
    }
    return true;
}

bool ReportRenderer::print(QPrinter &printer, QString *error, int from, int to) const
{
    printer.setFullPage(true);
    printer.setPageLayout(pageLayout());
    QString why;
    if (!paintDocument(printer, &why, from, to) || printer.printerState() == QPrinter::Error) {
        if (error)
            *error = QStringLiteral("列印失敗（%1）：%2")
                         .arg(printer.printerName().isEmpty() ? printer.outputFileName() : printer.printerName(),
                              why.isEmpty() ? QStringLiteral("印表機回報錯誤") : why);
        return false;
    }
    return true;
}

} // namespace rpt::report
