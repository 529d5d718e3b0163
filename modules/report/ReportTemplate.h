#pragma once
// Report templates (*.rtm): JSON documents described in docs/templates.md.
//
// Loading never throws. A template that cannot be used comes back with ok == false and
// a reason in Traditional Chinese; the renderer then lays the report out by itself and
// prints the reason on the first page.

#include "modules/report/ValueFormat.h"

#include <QByteArray>
#include <QMarginsF>
#include <QPageLayout>
#include <QPageSize>
#include <QRgb>
#include <QString>
#include <QStringList>
#include <QVector>

#include <optional>

namespace rpt::report {

enum class Align { Left, Center, Right };

// One printed line of a band. Either `text` (with `align`) or up to three parts that
// share the line. Texts may hold placeholders: {Field0}..{Field25} (any header field by
// name), {page}, {pages}, {printDate}, {printTime}, {rowCount}; "{{" and "}}" are braces.
struct TemplateLine {
    QString text;
    Align align = Align::Left;
    QString left, center, right;
    bool parts = false;      // left/center/right given instead of text
    double sizePt = 0;       // 0 = the band's default size
    bool bold = false;
    bool boldSet = false;
};

enum class TotalKind { None, Sum, Count };

struct TemplateColumn {
    QString field;           // result column name, matched ignoring case
    QString caption;         // heading; the field name when empty
    double widthMm = 0;      // 0 = sized from the data
    std::optional<Align> align;
    std::optional<int> decimals;
    std::optional<bool> thousands;
    QString dateFormat;
    TotalKind total = TotalKind::None;
};

struct ReportTemplate {
    QPageSize pageSize = QPageSize(QPageSize::A4);
    QPageLayout::Orientation orientation = QPageLayout::Portrait;
    bool orientationSet = false;
    QMarginsF marginsMm = QMarginsF(12, 12, 12, 12);

    QStringList fontFamilies;   // empty = the built-in list with CJK fallbacks
    double fontSizePt = 10;

    QVector<TemplateLine> title;        // first page only
    QVector<TemplateLine> pageHeader;   // top of every page
    QVector<TemplateLine> footer;       // after the totals, at the end of the report
    TemplateLine pageFooter;            // bottom of every page (parts)

    bool columnsGiven = false;          // false = one column per result field
    QVector<TemplateColumn> columns;
    QString totalsLabel = QStringLiteral("合計");
    bool zebra = false;
    QRgb zebraColor = qRgb(0xEE, 0xF3, 0xF8);
    bool gridLines = false;
    double rowHeightMm = 0;             // 0 = from the font

    // The layout used when there is no usable template.
    static ReportTemplate fallback();
};

struct TemplateLoad {
    ReportTemplate tpl;
    bool ok = false;
    QString path;
    QString error;   // why the template was not used (Traditional Chinese)
};

// Parses template text; on failure returns nullopt with *error set.
std::optional<ReportTemplate> parseTemplate(const QByteArray &json, QString *error);
// Reads and parses a template file. An empty path, a missing, empty, unreadable or
// malformed file give ok == false and the fallback layout.
TemplateLoad loadTemplate(const QString &path);

// The notice printed on page 1 when the template was not used.
QString templateNotice(const TemplateLoad &load);

// The families tried for every text, CJK faces first so that Chinese never falls back
// to boxes; the template's own list goes in front of it.
QStringList defaultFontFamilies();

} // namespace rpt::report
