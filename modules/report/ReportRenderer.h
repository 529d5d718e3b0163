#pragma once
// Lays a report out on pages and paints them.
//
// Layout works in hundredths of a millimetre, independent of any device; each page is
// built on request as a small display list (texts, lines, fills), which the tests read
// and which painting replays on a PDF writer, a printer or a preview image. Column
// positions, fonts and metrics are fixed once in the constructor, so a page costs only
// the formatting and drawing of its own cells.

#include "modules/report/ReportData.h"
#include "modules/report/ReportTemplate.h"

#include <QDateTime>
#include <QFont>
#include <QFontMetricsF>
#include <QImage>
#include <QPageLayout>
#include <QRectF>
#include <QStringList>

#include <memory>
#include <vector>

class QPainter;
class QPagedPaintDevice;
class QPrinter;

namespace rpt::report {

// Layout units per millimetre.
constexpr double kUnitsPerMm = 100.0;
// Layout units per font pixel.
constexpr double kFontUnit = 4.0;

enum class Role {
    Title,
    PageHeader,
    Notice,
    Heading,
    Cell,
    NoRows,
    Total,
    Footer,
    PageFooter,
};

struct TextItem {
    QRectF rect;         // the box the text belongs to (a cell, a line of a band)
    QPointF origin;      // baseline start where it is drawn
    QString text;        // as drawn (elided if it did not fit)
    int font = 0;        // index into the renderer's fonts
    Align align = Align::Left;
    QRgb color = qRgb(0, 0, 0);
    Role role = Role::Cell;
    int row = -1;        // result row of a cell
    int column = -1;     // layout column of a cell, heading or total
};

struct LineItem {
    QLineF line;
    double width = 0;    // units
    QRgb color = qRgb(0, 0, 0);
};

struct FillItem {
    QRectF rect;
    QRgb color = qRgb(255, 255, 255);
};

struct PageContent {
    std::vector<FillItem> fills;
    std::vector<LineItem> lines;
    std::vector<TextItem> texts;

    // Texts of one role, in drawing order (for checks and tests).
    QStringList texts_of(Role role) const;
};

// Where a page's share of the report starts and ends.
struct PageSlice {
    int firstRow = 0;
    int rowCount = 0;
    bool totals = false;
    int firstFooterLine = 0;
    int footerLineCount = 0;
};

struct ColumnLayout {
    int field = -1;             // index into ReportData::columns
    QString caption;
    TFieldType type = ftUnknown;
    double x = 0;               // left edge, units from the left margin
    double width = 0;
    Align align = Align::Left;
    bool numeric = false;
    CellFormat format;
    TotalKind total = TotalKind::None;
};

class ReportRenderer {
public:
    // printTime is printed as the print date; an invalid value means now.
    ReportRenderer(ReportData data, TemplateLoad tpl, QDateTime printTime = QDateTime());
    ~ReportRenderer();
    ReportRenderer(const ReportRenderer &) = delete;
    ReportRenderer &operator=(const ReportRenderer &) = delete;

    // Notes shown on page 1: why the template was not used, columns it names that the
    // result lacks, a header file that could not be read...
    QStringList notices() const { return m_notices; }
    void addNotice(const QString &notice);

    const ReportData &data() const { return m_data; }
    const TemplateLoad &templateLoad() const { return m_load; }
    const std::vector<ColumnLayout> &columns() const { return m_columns; }
    const std::vector<PageSlice> &slices() const { return m_slices; }

    QPageLayout pageLayout() const;   // size, orientation; margins are drawn by the renderer
    QSizeF pageSizeUnits() const { return m_page; }
    int pageCount() const { return int(m_slices.size()); }
    int rowsPerFullPage() const;

    QFont font(int index) const { return m_fonts[size_t(index)].font; }

    // The display list of one page (0-based).
    PageContent page(int index) const;

    // Paints one page with the painter mapped so that 1 unit = 0.01 mm at the painter's
    // origin (the caller sets that up, e.g. through paintPageOnDevice).
    void paintPage(QPainter &painter, int index) const;
    // Paints one page on a device whose origin is the paper's corner.
    void paintPageOnDevice(QPainter &painter, int index, double deviceDpi) const;

    // The page as an image at the given resolution, white background.
    QImage pageImage(int index, double dpi, double devicePixelRatio = 1.0) const;

    // Pages [from, to] (0-based, inclusive; to < 0 = last) on a device that is ready but
    // not yet painted on. Returns false with *error on failure.
    bool paintDocument(QPagedPaintDevice &device, QString *error, int from = 0, int to = -1) const;
    // Writes a PDF file; the file is replaced only when the whole document was written.
    bool writePdf(const QString &path, QString *error, int from = 0, int to = -1) const;
    // Sends pages to a printer that has been chosen and set up by the caller.
    bool print(QPrinter &printer, QString *error, int from = 0, int to = -1) const;

    // Replaces {Field..}, {page}, {pages}, {printDate}, {printTime}, {rowCount}.
    QString expand(const QString &text, int pageIndex) const;

private:
    struct FontStyle {
        QFont font;
        QFontMetricsF metrics;
        double ascent, height;   // layout units
        double sizePt;
        bool bold;
        double advance(const QString &s) const { return metrics.horizontalAdvance(s) * kFontUnit; }
        QString elide(const QString &s, double width) const
        {
            return metrics.elidedText(s, Qt::ElideRight, width / kFontUnit);
        }
    };
    struct BandLine {
        QString left, center, right;   // expanded except page placeholders
        int font = 0;
        double height = 0;
        bool pagePlaceholders = false;
    };

    int fontFor(double sizePt, bool bold);
    void setupColumns();
    void computeTotals();
    std::vector<BandLine> buildBand(const QVector<TemplateLine> &lines, double defaultPt, bool defaultBold,
                                    bool dropBlank);
    void buildFallbackHeader();
    void paginate();
    double bandHeight(const std::vector<BandLine> &band) const;
    double noticeHeight() const;
    QStringList wrap(const QString &text, int font, double width) const;
    void emitBand(PageContent &pc, const std::vector<BandLine> &band, double &y, Role role, int pageIndex) const;
    void emitText(PageContent &pc, const QRectF &rect, const QString &text, int font, Align align, Role role,
                  QRgb color = qRgb(0, 0, 0), int row = -1, int column = -1, bool number = false) const;
    QString cellText(int row, const ColumnLayout &c) const;

    ReportData m_data;
    TemplateLoad m_load;
    ReportTemplate m_tpl;
    QDateTime m_printTime;
    QStringList m_notices;

    std::vector<FontStyle> m_fonts;
    int m_bodyFont = 0, m_headingFont = 0, m_totalFont = 0, m_smallFont = 0, m_noticeFont = 0;

    QSizeF m_page;          // units
    QRectF m_content;       // units, inside the margins
    QPageLayout::Orientation m_orientation = QPageLayout::Portrait;
    double m_rowHeight = 0, m_headingHeight = 0, m_pageFooterHeight = 0, m_totalsHeight = 0;
    double m_cellPad = 0;
    double m_tableWidth = 0;

    std::vector<ColumnLayout> m_columns;
    std::vector<QString> m_totalTexts;   // per layout column
    std::vector<BandLine> m_title, m_pageHeader, m_footer;
    BandLine m_pageFooter;
    std::vector<PageSlice> m_slices;
    mutable std::vector<QStringList> m_noticeLines;
};

} // namespace rpt::report
