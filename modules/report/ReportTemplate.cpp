#include "modules/report/ReportTemplate.h"

#include "platform/text/CodePage.h"

#include <QColor>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSizeF>
#include <QStringDecoder>

#include <cmath>

namespace rpt::report {

namespace {

// Thrown inside the parser only; loadTemplate turns it into a reason.
struct TemplateError {
    QString message;
};

[[noreturn]] void fail(const QString &message)
{
    throw TemplateError{message};
}

QString quoted(const QString &s)
{
    return QStringLiteral("「%1」").arg(s);
}

void checkKeys(const QJsonObject &o, std::initializer_list<const char *> allowed, const QString &where)
{
    for (auto it = o.begin(); it != o.end(); ++it) {
        bool known = false;
        for (const char *k : allowed)
            if (it.key() == QLatin1String(k))
                known = true;
        if (!known)
            fail(QStringLiteral("%1有不認得的設定 %2").arg(where, quoted(it.key())));
    }
}

double number(const QJsonValue &v, const QString &what, double min, double max)
{
    if (!v.isDouble())
        fail(QStringLiteral("%1 必須是數字").arg(quoted(what)));
    const double d = v.toDouble();
    if (!std::isfinite(d) || d < min || d > max)
        fail(QStringLiteral("%1 必須介於 %2 與 %3 之間").arg(quoted(what)).arg(min).arg(max));
    return d;
}

QString string(const QJsonValue &v, const QString &what)
{
    if (!v.isString())
        fail(QStringLiteral("%1 必須是文字").arg(quoted(what)));
    return v.toString();
}

bool boolean(const QJsonValue &v, const QString &what)
{
    if (!v.isBool())
        fail(QStringLiteral("%1 必須是 true 或 false").arg(quoted(what)));
    return v.toBool();
}

Align alignment(const QJsonValue &v, const QString &what)
{
    const QString s = string(v, what).trimmed().toLower();
    if (s == u"left")
        return Align::Left;
    if (s == u"center")
        return Align::Center;
    if (s == u"right")
        return Align::Right;
    fail(QStringLiteral("%1 必須是 left、center 或 right").arg(quoted(what)));
}

TemplateLine parseLine(const QJsonValue &v, const QString &where)
{
    TemplateLine line;
    if (v.isString()) {
        line.text = v.toString();
        return line;
    }
    if (!v.isObject())
        fail(QStringLiteral("%1的每一行必須是文字或物件").arg(where));
    const QJsonObject o = v.toObject();
    checkKeys(o, {"text", "align", "left", "center", "right", "size", "bold"}, where);
    const bool hasText = o.contains(u"text");
    line.parts = o.contains(u"left") || o.contains(u"center") || o.contains(u"right");
    if (hasText && line.parts)
        fail(QStringLiteral("%1的一行不能同時有 text 與 left/center/right").arg(where));
    if (hasText)
        line.text = string(o[u"text"], QStringLiteral("text"));
    if (o.contains(u"align"))
        line.align = alignment(o[u"align"], QStringLiteral("align"));
    if (o.contains(u"left"))
        line.left = string(o[u"left"], QStringLiteral("left"));
    if (o.contains(u"center"))
        line.center = string(o[u"center"], QStringLiteral("center"));
    if (o.contains(u"right"))
        line.right = string(o[u"right"], QStringLiteral("right"));
    if (o.contains(u"size"))
        line.sizePt = number(o[u"size"], QStringLiteral("size"), 4, 72);
    if (o.contains(u"bold")) {
        line.bold = boolean(o[u"bold"], QStringLiteral("bold"));
        line.boldSet = true;
    }
    return line;
}

QVector<TemplateLine> parseBand(const QJsonValue &v, const QString &name)
{
    const QString where = quoted(name);
    QVector<TemplateLine> lines;
    if (v.isString() || v.isObject()) {
        lines.append(parseLine(v, where));
        return lines;
    }
    if (!v.isArray())
        fail(QStringLiteral("%1 必須是一行或多行的陣列").arg(where));
    for (const QJsonValue &l : v.toArray())
        lines.append(parseLine(l, where));
    return lines;
}

QPageSize namedPageSize(const QString &name)
{
    const QString n = name.trimmed().toLower();
    if (n == u"a4")
        return QPageSize(QPageSize::A4);
    if (n == u"a3")
        return QPageSize(QPageSize::A3);
    if (n == u"a5")
        return QPageSize(QPageSize::A5);
    if (n == u"b5")
        return QPageSize(QPageSize::B5);
    if (n == u"letter")
        return QPageSize(QPageSize::Letter);
    if (n == u"legal")
        return QPageSize(QPageSize::Legal);
    fail(QStringLiteral("不支援的紙張 %1（可用 A4、A3、A5、B5、Letter、Legal，或以 width/height 指定公釐）")
             .arg(quoted(name)));
}

void parsePage(const QJsonValue &v, ReportTemplate &t)
{
    if (!v.isObject())
        fail(QStringLiteral("「page」必須是物件"));
    const QJsonObject o = v.toObject();
    checkKeys(o, {"size", "width", "height", "orientation", "margins"}, QStringLiteral("「page」"));
    const bool custom = o.contains(u"width") || o.contains(u"height");
    if (custom) {
        if (o.contains(u"size") && string(o[u"size"], QStringLiteral("size")).trimmed().toLower() != u"custom")
            fail(QStringLiteral("「page」不能同時指定 size 與 width/height"));
        if (!o.contains(u"width") || !o.contains(u"height"))
            fail(QStringLiteral("自訂紙張需要 width 與 height（公釐）"));
        const double w = number(o[u"width"], QStringLiteral("width"), 50, 2000);
        const double h = number(o[u"height"], QStringLiteral("height"), 50, 2000);
        t.pageSize = QPageSize(QSizeF(w, h), QPageSize::Millimeter, QStringLiteral("自訂"),
                               QPageSize::ExactMatch);
    } else if (o.contains(u"size")) {
        t.pageSize = namedPageSize(string(o[u"size"], QStringLiteral("size")));
    }
    if (o.contains(u"orientation")) {
        const QString s = string(o[u"orientation"], QStringLiteral("orientation")).trimmed().toLower();
        if (s == u"portrait")
            t.orientation = QPageLayout::Portrait;
        else if (s == u"landscape")
            t.orientation = QPageLayout::Landscape;
        else
            fail(QStringLiteral("「orientation」必須是 portrait 或 landscape"));
        t.orientationSet = true;
    }
    if (o.contains(u"margins")) {
        const QJsonValue m = o[u"margins"];
        if (m.isDouble()) {
            const double all = number(m, QStringLiteral("margins"), 0, 100);
            t.marginsMm = QMarginsF(all, all, all, all);
        } else if (m.isObject()) {
            const QJsonObject mo = m.toObject();
            checkKeys(mo, {"left", "top", "right", "bottom"}, QStringLiteral("「margins」"));
            auto side = [&](const char *k, double def) {
                return mo.contains(QLatin1String(k)) ? number(mo[QLatin1String(k)], QLatin1String(k), 0, 100) : def;
            };
            t.marginsMm = QMarginsF(side("left", t.marginsMm.left()), side("top", t.marginsMm.top()),
                                    side("right", t.marginsMm.right()), side("bottom", t.marginsMm.bottom()));
        } else {
            fail(QStringLiteral("「margins」必須是數字或物件"));
        }
    }
    QSizeF mm = t.pageSize.size(QPageSize::Millimeter);
    if (t.orientation == QPageLayout::Landscape)
        mm.transpose();
    if (mm.width() - t.marginsMm.left() - t.marginsMm.right() < 30
        || mm.height() - t.marginsMm.top() - t.marginsMm.bottom() < 30)
        fail(QStringLiteral("邊界太寬，紙張上沒有足夠的列印範圍"));
}

TemplateColumn parseColumn(const QJsonValue &v, int index)
{
    const QString where = QStringLiteral("第 %1 個欄位").arg(index + 1);
    TemplateColumn c;
    if (v.isString()) {
        c.field = v.toString().trimmed();
    } else if (v.isObject()) {
        const QJsonObject o = v.toObject();
        checkKeys(o, {"field", "caption", "width", "align", "decimals", "thousands", "format", "total"}, where);
        if (!o.contains(u"field"))
            fail(QStringLiteral("%1缺少 field").arg(where));
        c.field = string(o[u"field"], QStringLiteral("field")).trimmed();
        if (o.contains(u"caption"))
            c.caption = string(o[u"caption"], QStringLiteral("caption"));
        if (o.contains(u"width")) {
            const QJsonValue w = o[u"width"];
            if (!(w.isString() && w.toString().trimmed().toLower() == u"auto"))
                c.widthMm = number(w, QStringLiteral("width"), 3, 1000);
        }
        if (o.contains(u"align"))
            c.align = alignment(o[u"align"], QStringLiteral("align"));
        if (o.contains(u"decimals")) {
            const double d = number(o[u"decimals"], QStringLiteral("decimals"), 0, 10);
            if (d != std::floor(d))
                fail(QStringLiteral("「decimals」必須是整數"));
            c.decimals = int(d);
        }
        if (o.contains(u"thousands"))
            c.thousands = boolean(o[u"thousands"], QStringLiteral("thousands"));
        if (o.contains(u"format"))
            c.dateFormat = string(o[u"format"], QStringLiteral("format"));
        if (o.contains(u"total")) {
            const QString s = string(o[u"total"], QStringLiteral("total")).trimmed().toLower();
            if (s == u"sum")
                c.total = TotalKind::Sum;
            else if (s == u"count")
                c.total = TotalKind::Count;
            else if (s != u"none" && !s.isEmpty())
                fail(QStringLiteral("「total」必須是 sum、count 或 none"));
        }
    } else {
        fail(QStringLiteral("%1必須是欄位名稱或物件").arg(where));
    }
    if (c.field.isEmpty())
        fail(QStringLiteral("%1的 field 是空的").arg(where));
    return c;
}

QRgb parseColor(const QJsonValue &v, const QString &what)
{
    const QString s = string(v, what).trimmed();
    const QColor c = QColor::fromString(s);
    if (!c.isValid())
        fail(QStringLiteral("%1 不是顏色（例如 \"#EEF3F8\"）").arg(quoted(what)));
    return c.rgb();
}

ReportTemplate parseObject(const QJsonObject &root)
{
    checkKeys(root,
              {"rtm", "page", "font", "title", "pageHeader", "columns", "totals", "footer", "pageFooter",
               "zebra", "gridLines", "rowHeight", "comment"},
              QStringLiteral("範本"));
    if (root.contains(u"rtm")) {
        const double v = number(root[u"rtm"], QStringLiteral("rtm"), 0, 1e9);
        if (v != 1)
            fail(QStringLiteral("不支援的範本版本 %1").arg(v));
    }
    ReportTemplate t;
    if (root.contains(u"page"))
        parsePage(root[u"page"], t);
    if (root.contains(u"font")) {
        const QJsonValue f = root[u"font"];
        if (!f.isObject())
            fail(QStringLiteral("「font」必須是物件"));
        const QJsonObject o = f.toObject();
        checkKeys(o, {"families", "size"}, QStringLiteral("「font」"));
        if (o.contains(u"families")) {
            const QJsonValue fam = o[u"families"];
            if (fam.isString())
                t.fontFamilies << fam.toString();
            else if (fam.isArray())
                for (const QJsonValue &x : fam.toArray())
                    t.fontFamilies << string(x, QStringLiteral("families"));
            else
                fail(QStringLiteral("「families」必須是文字或文字陣列"));
        }
        if (o.contains(u"size"))
            t.fontSizePt = number(o[u"size"], QStringLiteral("size"), 5, 36);
    }
    if (root.contains(u"title"))
        t.title = parseBand(root[u"title"], QStringLiteral("title"));
    if (root.contains(u"pageHeader"))
        t.pageHeader = parseBand(root[u"pageHeader"], QStringLiteral("pageHeader"));
    if (root.contains(u"footer"))
        t.footer = parseBand(root[u"footer"], QStringLiteral("footer"));
    else
        t.footer = ReportTemplate::fallback().footer;
    if (root.contains(u"pageFooter")) {
        const QJsonValue pf = root[u"pageFooter"];
        if (pf.isNull()) {
            t.pageFooter = TemplateLine{};
            t.pageFooter.parts = true;
        } else {
            TemplateLine l = parseLine(pf, QStringLiteral("「pageFooter」"));
            if (!l.parts) {
                l.parts = true;
                (l.align == Align::Left ? l.left : l.align == Align::Center ? l.center : l.right) = l.text;
                l.text.clear();
            }
            t.pageFooter = l;
        }
    } else {
        t.pageFooter = ReportTemplate::fallback().pageFooter;
    }
    if (root.contains(u"columns")) {
        const QJsonValue cols = root[u"columns"];
        if (!cols.isArray())
            fail(QStringLiteral("「columns」必須是陣列"));
        const QJsonArray a = cols.toArray();
        for (int i = 0; i < a.size(); ++i)
            t.columns.append(parseColumn(a[i], i));
        t.columnsGiven = !t.columns.isEmpty();
    }
    if (root.contains(u"totals")) {
        const QJsonValue tv = root[u"totals"];
        if (!tv.isObject())
            fail(QStringLiteral("「totals」必須是物件"));
        const QJsonObject o = tv.toObject();
        checkKeys(o, {"label"}, QStringLiteral("「totals」"));
        if (o.contains(u"label"))
            t.totalsLabel = string(o[u"label"], QStringLiteral("label"));
    }
    if (root.contains(u"zebra")) {
        const QJsonValue z = root[u"zebra"];
        if (z.isBool()) {
            t.zebra = z.toBool();
        } else {
            t.zebraColor = parseColor(z, QStringLiteral("zebra"));
            t.zebra = true;
        }
    }
    if (root.contains(u"gridLines"))
        t.gridLines = boolean(root[u"gridLines"], QStringLiteral("gridLines"));
    if (root.contains(u"rowHeight"))
        t.rowHeightMm = number(root[u"rowHeight"], QStringLiteral("rowHeight"), 2, 50);
    return t;
}

// Templates saved by Windows editors may be in code page 950 rather than UTF-8.
QByteArray toUtf8(const QByteArray &bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString s = utf8(bytes);
    if (!utf8.hasError())
        return bytes;
    return cp950::toUnicode(bytes).toUtf8();
}

// The line of a parse error. The parser stops after the offending token, often on the
// next line; the last non-blank character before that point is where the fix goes.
int lineOf(const QByteArray &bytes, int offset)
{
    int at = std::min<int>(offset, int(bytes.size())) - 1;
    while (at > 0 && (bytes[at] == ' ' || bytes[at] == '\t' || bytes[at] == '\r' || bytes[at] == '\n'))
        --at;
    return int(bytes.left(at + 1).count('\n')) + 1;
}

} // namespace

QStringList defaultFontFamilies()
{
    // Latin letters and digits from a sans face with even digit widths, so number
    // columns line up; Chinese from the Ming faces that carry Big5 completely.
    return {QStringLiteral("DejaVu Sans"),       QStringLiteral("AR PL UMing TW"),
            QStringLiteral("AR PL UMing TW MBE"), QStringLiteral("Noto Sans CJK TC"),
            QStringLiteral("Noto Serif CJK TC"),  QStringLiteral("Microsoft JhengHei"),
            QStringLiteral("PMingLiU"),           QStringLiteral("WenQuanYi Zen Hei"),
            QStringLiteral("AR PL UKai TW"),      QStringLiteral("Droid Sans Fallback")};
}

ReportTemplate ReportTemplate::fallback()
{
    ReportTemplate t;
    TemplateLine footer;
    footer.text = QStringLiteral("{Field13}");
    t.footer = {footer};
    t.pageFooter.parts = true;
    t.pageFooter.left = QStringLiteral("列印日期：{printDate} {printTime}");
    t.pageFooter.right = QStringLiteral("第 {page} 頁 / 共 {pages} 頁");
    t.zebra = true;
    return t;
}

std::optional<ReportTemplate> parseTemplate(const QByteArray &raw, QString *error)
{
    QByteArray bytes = raw;
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3);
    const QByteArray trimmed = bytes.trimmed();
    if (trimmed.isEmpty()) {
        if (error)
            *error = QStringLiteral("範本檔是空的");
        return std::nullopt;
    }
    if (!trimmed.startsWith('{') && !trimmed.startsWith('[')) {
        if (error)
            *error = QStringLiteral("不是 JSON 格式的報表範本");
        return std::nullopt;
    }
    bytes = toUtf8(bytes);
    QJsonParseError pe;
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &pe);
    if (pe.error != QJsonParseError::NoError) {
        if (error)
            *error = QStringLiteral("JSON 格式錯誤（第 %1 行）：%2").arg(lineOf(bytes, pe.offset)).arg(pe.errorString());
        return std::nullopt;
    }
    if (!doc.isObject()) {
        if (error)
            *error = QStringLiteral("範本的最外層必須是物件");
        return std::nullopt;
    }
    try {
        return parseObject(doc.object());
    } catch (const TemplateError &e) {
        if (error)
            *error = e.message;
        return std::nullopt;
    }
}

TemplateLoad loadTemplate(const QString &path)
{
    TemplateLoad load;
    load.path = path;
    load.tpl = ReportTemplate::fallback();
    if (path.trimmed().isEmpty()) {
        load.error = QStringLiteral("報表沒有指定範本");
        return load;
    }
    QFileInfo info(path);
    if (!info.exists()) {
        load.error = QStringLiteral("找不到檔案");
        return load;
    }
    if (info.isDir()) {
        load.error = QStringLiteral("這是資料夾，不是檔案");
        return load;
    }
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        load.error = QStringLiteral("無法讀取檔案（%1）").arg(f.errorString());
        return load;
    }
    // Templates are a few kilobytes; anything huge is not one and must not eat memory.
    constexpr qint64 kMaxTemplate = 4 * 1024 * 1024;
    if (f.size() > kMaxTemplate) {
        load.error = QStringLiteral("檔案太大，不是報表範本");
        return load;
    }
    const QByteArray bytes = f.readAll();
    if (f.error() != QFileDevice::NoError) {
        load.error = QStringLiteral("無法讀取檔案（%1）").arg(f.errorString());
        return load;
    }
    QString error;
    if (auto t = parseTemplate(bytes, &error)) {
        load.tpl = *t;
        load.ok = true;
    } else {
        load.error = error;
    }
    return load;
}

QString templateNotice(const TemplateLoad &load)
{
    if (load.ok)
        return QString();
    if (load.path.trimmed().isEmpty())
        return QStringLiteral("無法使用報表範本：%1，已使用預設版面").arg(load.error);
    return QStringLiteral("無法使用報表範本 %1：%2，已使用預設版面").arg(load.path, load.error);
}

} // namespace rpt::report
