// The report renderer: templates, the built-in layout, page breaking, totals, value
// formats and the PDF it writes.

#include "modules/ReportFixtures.h"
#include "modules/report/ReportRenderer.h"
#include "platform/text/CodePage.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace rpt;
using namespace rpt::report;
using namespace rpt::report::fixtures;

namespace {

const QDateTime kPrintTime(QDate(2024, 4, 1), QTime(10, 30));

std::unique_ptr<ReportRenderer> render(ReportData data, const QByteArray &json)
{
    QString error;
    auto tpl = parseTemplate(json, &error);
    if (!tpl)
        qFatal("fixture template does not parse: %s", qPrintable(error));
    TemplateLoad load;
    load.tpl = *tpl;
    load.ok = true;
    load.path = QStringLiteral("fixture.rtm");
    return std::make_unique<ReportRenderer>(std::move(data), load, kPrintTime);
}

std::unique_ptr<ReportRenderer> renderFile(ReportData data, const QString &path)
{
    return std::make_unique<ReportRenderer>(std::move(data), loadTemplate(path), kPrintTime);
}

int pdfPageCount(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray bytes = f.readAll();
    static const QRegularExpression page(QStringLiteral("/Type\\s*/Page(?!s)"));
    return int(QString::fromLatin1(bytes).count(page));
}

QString pdfText(const QString &path)
{
    const QString tool = QStandardPaths::findExecutable(QStringLiteral("pdftotext"));
    if (tool.isEmpty())
        return QString();
    QProcess p;
    p.start(tool, {QStringLiteral("-layout"), path, QStringLiteral("-")});
    p.waitForFinished(60000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

const char *kSalesTemplate = R"({
  "rtm": 1,
  "page": {"size": "A4", "margins": 15},
  "title": [{"text": "每日銷售彙總表", "align": "center", "size": 16, "bold": true}],
  "pageHeader": [{"left": "門市：{Field11}", "right": "期間：{Field1} ~ {Field2}"}],
  "columns": [
    {"field": "SALE_DATE", "caption": "營業日", "width": 30},
    {"field": "QTY", "caption": "數量", "width": 25, "thousands": true, "total": "sum"},
    {"field": "AMOUNT", "caption": "銷售金額", "width": 40, "thousands": true, "total": "sum"},
    {"field": "NET_AMOUNT", "caption": "實收金額", "width": 40, "thousands": true, "total": "sum"}
  ]
})";

} // namespace

class TestRenderer : public QObject {
    Q_OBJECT

private slots:
    // ---- templates ---------------------------------------------------------------

    void parseTemplate_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("error");   // empty = must parse

        QTest::newRow("empty object") << QByteArray("{}") << "";
        QTest::newRow("full") << QByteArray(kSalesTemplate) << "";
        QTest::newRow("custom page, landscape, one margin")
            << QByteArray(R"({"page": {"width": 240, "height": 140, "orientation": "landscape", "margins": 8}})") << "";
        QTest::newRow("utf-8 bom") << QByteArray("\xEF\xBB\xBF{\"title\": \"日報\"}") << "";
        QTest::newRow("blank file") << QByteArray(" \n\t ") << "範本檔是空的";
        QTest::newRow("binary designer file") << QByteArray("TPF0\x0bTppReport") << "不是 JSON";
        QTest::newRow("syntax error names the line")
            << QByteArray("{\n  \"title\": \"x\",\n  \"zebra\": tru\n}") << "第 3 行";
        QTest::newRow("array at the top") << QByteArray("[1, 2]") << "最外層";
        QTest::newRow("misspelt key") << QByteArray(R"({"colums": []})") << "「colums」";
        QTest::newRow("columns not an array") << QByteArray(R"({"columns": {"field": "A"}})") << "「columns」";
        QTest::newRow("column without field") << QByteArray(R"({"columns": [{"caption": "A"}]})") << "缺少 field";
        QTest::newRow("bad alignment") << QByteArray(R"({"columns": [{"field": "A", "align": "rigth"}]})") << "align";
        QTest::newRow("fractional decimals") << QByteArray(R"({"columns": [{"field": "A", "decimals": 1.5}]})")
                                             << "整數";
        QTest::newRow("unknown total") << QByteArray(R"({"columns": [{"field": "A", "total": "avg"}]})") << "total";
        QTest::newRow("unknown paper") << QByteArray(R"({"page": {"size": "B7"}})") << "不支援的紙張";
        QTest::newRow("margins eat the page") << QByteArray(R"({"page": {"size": "A5", "margins": 70}})") << "邊界";
        QTest::newRow("newer version") << QByteArray(R"({"rtm": 2})") << "版本";
        QTest::newRow("font size out of range") << QByteArray(R"({"font": {"size": 300}})") << "size";
        QTest::newRow("title with text and parts")
            << QByteArray(R"({"title": [{"text": "a", "left": "b"}]})") << "不能同時";
    }
    void parseTemplate()
    {
        QFETCH(QByteArray, json);
        QFETCH(QString, error);
        QString why;
        const auto t = rpt::report::parseTemplate(json, &why);
        if (error.isEmpty()) {
            QVERIFY2(t.has_value(), qPrintable(why));
        } else {
            QVERIFY(!t.has_value());
            QVERIFY2(why.contains(error), qPrintable(why));
        }
    }

    void templateSettingsAreRead()
    {
        QString why;
        const auto t = rpt::report::parseTemplate(
            R"({"page": {"size": "Letter", "orientation": "landscape", "margins": {"left": 20, "top": 5}},
                "columns": ["QTY", {"field": "AMOUNT", "width": 30, "align": "center", "decimals": 1,
                                    "thousands": false, "format": "yyyy", "total": "count"}],
                "totals": {"label": "總計"}, "zebra": "#FF0000", "pageFooter": null})",
            &why);
        QVERIFY2(t, qPrintable(why));
        QCOMPARE(t->pageSize.id(), QPageSize::Letter);
        QCOMPARE(t->orientation, QPageLayout::Landscape);
        QCOMPARE(t->marginsMm, QMarginsF(20, 5, 12, 12));
        QCOMPARE(t->columns.size(), 2);
        QCOMPARE(t->columns[0].field, QStringLiteral("QTY"));
        QCOMPARE(t->columns[1].widthMm, 30.0);
        QCOMPARE(*t->columns[1].align, Align::Center);
        QCOMPARE(*t->columns[1].decimals, 1);
        QCOMPARE(*t->columns[1].thousands, false);
        QCOMPARE(t->columns[1].total, TotalKind::Count);
        QCOMPARE(t->totalsLabel, QStringLiteral("總計"));
        QCOMPARE(t->zebraColor, qRgb(255, 0, 0));
        QVERIFY(t->pageFooter.left.isEmpty() && t->pageFooter.right.isEmpty());
    }

    void templateInBig5IsAccepted()
    {
        const QByteArray big5 = cp950::fromUnicode(u"{\"title\": \"每日銷售\"}");
        QString why;
        const auto t = rpt::report::parseTemplate(big5, &why);
        QVERIFY2(t, qPrintable(why));
        QCOMPARE(t->title.value(0).text, QStringLiteral("每日銷售"));
    }

    void unusableTemplateFile_data()
    {
        QTest::addColumn<QString>("name");       // file in the temp dir; "" = no path at all
        QTest::addColumn<QByteArray>("content"); // null = do not create
        QTest::addColumn<QString>("reason");

        QTest::newRow("no path") << "" << QByteArray() << "沒有指定範本";
        QTest::newRow("missing") << "gone.rtm" << QByteArray() << "找不到檔案";
        QTest::newRow("empty") << "empty.rtm" << QByteArray("") << "範本檔是空的";
        QTest::newRow("malformed") << "bad.rtm" << QByteArray("{\"title\": ") << "JSON 格式錯誤";
        QTest::newRow("a folder") << "folder.rtm" << QByteArray("<dir>") << "資料夾";
    }
    void unusableTemplateFile()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        const QString path = name.isEmpty() ? QString() : dir.filePath(name);
        if (content == "<dir>") {
            QVERIFY(QDir().mkpath(path));
        } else if (!content.isNull()) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(content);
        }
        auto r = renderFile(salesByDay(40), path);
        QVERIFY(!r->templateLoad().ok);

        // Page 1 says why, in the words the shop sees; the report is still complete.
        const QStringList notice = r->page(0).texts_of(Role::Notice);
        QVERIFY(!notice.isEmpty());
        const QString said = notice.join(QString());
        QVERIFY2(said.contains(QStringLiteral("無法使用報表範本")) && said.contains(reason)
                     && said.contains(QStringLiteral("已使用預設版面")),
                 qPrintable(said));
        if (!path.isEmpty())
            QVERIFY2(said.contains(QFileInfo(path).fileName()), qPrintable(said));
        for (int p = 1; p < r->pageCount(); ++p)
            QVERIFY(r->page(p).texts_of(Role::Notice).isEmpty());

        // The built-in layout: every result column, the store and company, footer, page numbers.
        QCOMPARE(int(r->columns().size()), r->data().columns.size());
        const PageContent first = r->page(0);
        QVERIFY(first.texts_of(Role::Title).contains(QStringLiteral("大同生活百貨股份有限公司")));
        QVERIFY(first.texts_of(Role::PageHeader).join(u'|').contains(QStringLiteral("台北忠孝門市")));
        QVERIFY(first.texts_of(Role::PageHeader).join(u'|').contains(QStringLiteral("2024/03/01")));
        const PageContent last = r->page(r->pageCount() - 1);
        QVERIFY(last.texts_of(Role::Footer).contains(QStringLiteral("本報表金額均含稅。")));
        QVERIFY(last.texts_of(Role::Total).join(QString()).contains(QStringLiteral("共 40 筆")));
        QVERIFY(first.texts_of(Role::PageFooter)
                    .contains(QStringLiteral("第 1 頁 / 共 %1 頁").arg(r->pageCount())));
    }

    void demoTemplatesParse()
    {
        const QDir dir(QStringLiteral(RPT_TEST_DATA "/../../demo/templates"));
        const QStringList files = dir.entryList({QStringLiteral("*.rtm")}, QDir::Files);
        QVERIFY(files.size() >= 3);
        for (const QString &f : files) {
            const TemplateLoad load = loadTemplate(dir.filePath(f));
            QVERIFY2(load.ok, qPrintable(f + QStringLiteral(": ") + load.error));
            QVERIFY2(load.tpl.columnsGiven, qPrintable(f));
        }
    }

    void wideResultTurnsTheBuiltInLayoutSideways()
    {
        ReportData d;
        fillHeader(d);
        for (int c = 0; c < 12; ++c)
            d.columns.Add(QStringLiteral("COLUMN_%1").arg(c), ftWideString, 30);
        for (int r = 0; r < 5; ++r) {
            QVector<QVariant> row;
            for (int c = 0; c < 12; ++c)
                row << QStringLiteral("第 %1 列第 %2 欄的內容").arg(r).arg(c);
            d.rows.push_back(row);
        }
        auto r = renderFile(std::move(d), QString());
        QCOMPARE(r->pageLayout().orientation(), QPageLayout::Landscape);
        // Squeezed to the paper: nothing runs past the right margin.
        const ColumnLayout &lastCol = r->columns().back();
        QVERIFY(lastCol.x + lastCol.width <= r->pageSizeUnits().width() - 2 * 12 * kUnitsPerMm + 1);
    }

    void templateColumnsMissingFromResult()
    {
        auto r = render(salesByDay(3), R"({"columns": [
            {"field": "SALE_DATE"}, {"field": "NO_SUCH"}, {"field": "AMOUNT", "total": "sum"},
            {"field": "sale_date", "caption": "again", "total": "sum"}]})");
        QCOMPARE(int(r->columns().size()), 3);   // field names match ignoring case
        const QString notes = r->notices().join(u'\n');
        QVERIFY2(notes.contains(QStringLiteral("NO_SUCH")), qPrintable(notes));
        QVERIFY2(notes.contains(QStringLiteral("無法加總")), qPrintable(notes));
        QCOMPARE(r->page(0).texts_of(Role::Notice).isEmpty(), false);

        auto none = render(salesByDay(3), R"({"columns": [{"field": "X"}, {"field": "Y"}]})");
        QCOMPARE(int(none->columns().size()), none->data().columns.size());
    }

    // ---- page breaking -----------------------------------------------------------

    void pagesCoverEveryRowOnce_data()
    {
        QTest::addColumn<int>("rows");
        QTest::newRow("none") << 0;
        QTest::newRow("one") << 1;
        QTest::newRow("one page") << 30;
        QTest::newRow("many pages") << 400;
    }
    void pagesCoverEveryRowOnce()
    {
        QFETCH(int, rows);
        auto r = render(salesByDay(rows), kSalesTemplate);
        const int n = r->pageCount();
        QVERIFY(n >= 1);
        int next = 0;
        const double bottom = r->pageSizeUnits().height() - 15 * kUnitsPerMm;
        for (int p = 0; p < n; ++p) {
            const PageContent pc = r->page(p);
            QList<int> seen;
            for (const TextItem &t : pc.texts) {
                if (t.role == Role::Cell && t.column == 0)
                    seen << t.row;
                // Nothing is drawn below the bottom margin.
                QVERIFY2(t.rect.bottom() <= bottom + 1, qPrintable(QStringLiteral("page %1: %2").arg(p + 1).arg(t.text)));
            }
            for (int row : seen)
                QCOMPARE(row, next++);
            // Header, headings and page number on every page; title only on the first.
            QCOMPARE(pc.texts_of(Role::PageHeader).join(u'|'),
                     QStringLiteral("門市：台北忠孝門市|期間：2024/03/01 ~ 2024/03/31"));
            QVERIFY(pc.texts_of(Role::Heading).contains(QStringLiteral("銷售金額")));
            QCOMPARE(pc.texts_of(Role::Title).isEmpty(), p != 0);
            QVERIFY(pc.texts_of(Role::PageFooter).contains(QStringLiteral("第 %1 頁 / 共 %2 頁").arg(p + 1).arg(n)));
            // Totals only at the very end.
            QCOMPARE(pc.texts_of(Role::Total).isEmpty(), p != n - 1);
        }
        QCOMPARE(next, rows);
        if (rows == 0)
            QVERIFY(r->page(0).texts_of(Role::NoRows).contains(QStringLiteral("（查無資料）")));
    }

    void fullPagesHoldTheSameNumberOfRows()
    {
        auto r = render(salesByDay(500), kSalesTemplate);
        const int perPage = r->rowsPerFullPage();
        QVERIFY(perPage > 20);
        const auto &s = r->slices();
        for (size_t p = 1; p + 2 < s.size(); ++p)
            QCOMPARE(s[p].rowCount, perPage);
        QVERIFY(s[0].rowCount < perPage);   // the title takes room on page 1
        int total = 0;
        for (const PageSlice &x : s)
            total += x.rowCount;
        QCOMPARE(total, 500);
    }

    void endOfReportNeverStandsAlone()
    {
        // Row counts around the point where the first page fills up exactly.
        for (int rows = 30; rows <= 80; ++rows) {
            auto r = render(salesByDay(rows), kSalesTemplate);
            const PageSlice &last = r->slices().back();
            QVERIFY2(last.totals, qPrintable(QString::number(rows)));
            QVERIFY2(last.rowCount > 0, qPrintable(QStringLiteral("%1 rows: totals alone on the last page").arg(rows)));
        }
    }

    void longFooterFlowsOverPages()
    {
        ReportData d = salesByDay(10);
        QStringList lines;
        for (int i = 1; i <= 150; ++i)
            lines << QStringLiteral("第 %1 條注意事項").arg(i);
        d.header[13] = lines.join(u'\n');
        auto r = render(std::move(d), kSalesTemplate);
        QStringList printed;
        for (int p = 0; p < r->pageCount(); ++p)
            printed << r->page(p).texts_of(Role::Footer);
        QCOMPARE(printed, lines);
        QVERIFY(r->pageCount() >= 3);
    }

    void totalsAreExact()
    {
        ReportData d;
        fillHeader(d);
        d.columns.Add(QStringLiteral("AMOUNT"), ftBCD, 2);
        d.columns.Add(QStringLiteral("QTY"), ftLargeint);
        d.columns.Add(QStringLiteral("NOTE"), ftWideString, 10);
        // 10,000 × 0.01 plus an amount beyond double precision: a double would lose the cents.
        d.rows.push_back({QVariant::fromValue(dec("12345678901234567.89")), qlonglong(1), QStringLiteral("x")});
        for (int i = 0; i < 10000; ++i)
            d.rows.push_back({QVariant::fromValue(dec("0.01")), qlonglong(2), i % 2 ? QVariant() : QVariant("y")});
        d.rows.push_back({QVariant(), QVariant(), QVariant()});   // NULLs add nothing
        auto r = render(std::move(d), R"({"columns": [
            {"field": "AMOUNT", "thousands": true, "total": "sum"},
            {"field": "QTY", "total": "sum"},
            {"field": "NOTE", "total": "count"}]})");
        const QStringList totals = r->page(r->pageCount() - 1).texts_of(Role::Total);
        QVERIFY2(totals.contains(QStringLiteral("12,345,678,901,234,667.89")), qPrintable(totals.join(u'|')));
        QVERIFY2(totals.contains(QStringLiteral("20001")), qPrintable(totals.join(u'|')));
        QVERIFY2(totals.contains(QStringLiteral("5,001")), qPrintable(totals.join(u'|')));
    }

    void columnSum_data()
    {
        QTest::addColumn<QVariantList>("values");
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("decimals");
        QTest::addColumn<QString>("text");

        auto D = [](const char *s) { return QVariant::fromValue(dec(s)); };
        QTest::newRow("mixed scales") << QVariantList{D("1.5"), D("2.25"), D("-0.75")} << int(ftBCD) << -1 << "3.00";
        QTest::newRow("nothing is zero") << QVariantList{} << int(ftBCD) << 2 << "0.00";
        QTest::newRow("money doubles") << QVariantList{0.1, 0.2, 0.3} << int(ftCurrency) << -1 << "0.60";
        QTest::newRow("overflow is said, not wrapped")
            << QVariantList{D("99999999999999999999999999999999999999"), D("99999999999999999999999999999999999999")}
            << int(ftBCD) << -1 << "溢位";
        QTest::newRow("integers") << QVariantList{1, 2, qlonglong(3), QVariant()} << int(ftInteger) << -1 << "6";
    }
    void columnSum()
    {
        QFETCH(QVariantList, values);
        QFETCH(int, type);
        QFETCH(int, decimals);
        QFETCH(QString, text);
        ColumnSum sum;
        for (const QVariant &v : values)
            sum.add(v);
        CellFormat f = defaultFormat(TFieldType(type));
        f.decimals = decimals >= 0 ? decimals : f.decimals;
        f.thousands = false;
        QCOMPARE(sum.text(TFieldType(type), f), text);
    }

    // ---- values ------------------------------------------------------------------

    void formatValue_data()
    {
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("decimals");
        QTest::addColumn<bool>("thousands");
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QString>("text");

        auto D = [](const char *s) { return QVariant::fromValue(dec(s)); };
        QTest::newRow("decimal keeps its scale") << D("1234567.50") << int(ftBCD) << -1 << true << "" << "1,234,567.50";
        QTest::newRow("decimal rounds half up") << D("2.675") << int(ftBCD) << 2 << false << "" << "2.68";
        QTest::newRow("negative rounds away") << D("-1234.565") << int(ftBCD) << 2 << true << "" << "-1,234.57";
        QTest::newRow("no minus on zero") << D("-0.004") << int(ftBCD) << 2 << false << "" << "0.00";
        QTest::newRow("more decimals pads") << D("7") << int(ftFMTBcd) << 3 << false << "" << "7.000";
        QTest::newRow("huge decimal") << D("12345678901234567890123.45") << int(ftFMTBcd) << 0 << true << ""
                                      << "12,345,678,901,234,567,890,123";
        QTest::newRow("integer plain") << QVariant(1234567) << int(ftInteger) << -1 << false << "" << "1234567";
        QTest::newRow("integer grouped") << QVariant(-1234567) << int(ftInteger) << -1 << true << "" << "-1,234,567";
        QTest::newRow("int64 minimum") << QVariant(std::numeric_limits<qlonglong>::min()) << int(ftLargeint) << -1
                                       << true << "" << "-9,223,372,036,854,775,808";
        QTest::newRow("double as a person rounds") << QVariant(2.675) << int(ftFloat) << 2 << false << "" << "2.68";
        QTest::newRow("double shortest") << QVariant(0.1 + 0.2) << int(ftFloat) << -1 << false << ""
                                         << "0.30000000000000004";
        QTest::newRow("currency two places") << QVariant(1500.0) << int(ftCurrency) << -1 << true << "" << "1,500.00";
        QTest::newRow("date default") << QVariant(QDate(2024, 3, 5)) << int(ftDate) << -1 << false << ""
                                      << "2024/03/05";
        QTest::newRow("date pattern") << QVariant(QDate(2024, 3, 5)) << int(ftDate) << -1 << false << "MM-dd"
                                      << "03-05";
        QTest::newRow("timestamp is wall clock")
            << QVariant(QDateTime(QDate(2024, 3, 5), QTime(23, 59, 58), Qt::UTC)) << int(ftTimeStamp) << -1 << false
            << "" << "2024/03/05 23:59:58";
        QTest::newRow("time") << QVariant(QTime(7, 5)) << int(ftTime) << -1 << false << "" << "07:05:00";
        QTest::newRow("boolean") << QVariant(true) << int(ftBoolean) << -1 << false << "" << "是";
        QTest::newRow("null") << QVariant() << int(ftBCD) << 2 << true << "" << "";
        QTest::newRow("line breaks stay on the row") << QVariant(QStringLiteral("甲\r\n乙")) << int(ftMemo) << -1
                                                     << false << "" << "甲  乙";
        QTest::newRow("bytes") << QVariant(QByteArray("\x01\x02", 2)) << int(ftBlob) << -1 << false << ""
                               << "（二進位資料）";
    }
    void formatValue()
    {
        QFETCH(QVariant, value);
        QFETCH(int, type);
        QFETCH(int, decimals);
        QFETCH(bool, thousands);
        QFETCH(QString, pattern);
        QFETCH(QString, text);
        CellFormat f;
        f.decimals = decimals;
        f.thousands = thousands;
        f.dateFormat = pattern;
        QCOMPARE(rpt::report::formatValue(value, TFieldType(type), f), text);
    }

    void placeholders_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expanded");
        QTest::newRow("header field") << "門市：{Field11}" << "門市：台北忠孝門市";
        QTest::newRow("any letter case") << "{field1}~{FIELD2}" << "2024/03/01~2024/03/31";
        QTest::newRow("page numbers") << "第 {page} 頁 / 共 {pages} 頁" << "第 2 頁 / 共 3 頁";
        QTest::newRow("print date and rows") << "{printDate} {printTime} {rowCount}" << "2024/04/01 10:30 1,200";
        QTest::newRow("escaped braces") << "{{Field11}} {{page}}" << "{Field11} {page}";
        QTest::newRow("unknown stays") << "{nothing} {" << "{nothing} {";
        QTest::newRow("empty header field") << "[{Field7}]" << "[]";
        QTest::newRow("data is not a placeholder") << "{Field16}" << "{page} 折扣";
    }
    void placeholders()
    {
        QFETCH(QString, text);
        QFETCH(QString, expanded);
        ReportData d = salesByDay(1200);
        d.header[16] = QStringLiteral("{page} 折扣");
        auto r = render(std::move(d), kSalesTemplate);
        QVERIFY(r->pageCount() >= 3);
        // Both passes, as the bands use them: header values first, page numbers when drawn.
        QString once = r->expand(text, -1);
        QString shown = r->expand(once, 1);
        shown.replace(QStringLiteral("共 %1 頁").arg(r->pageCount()), QStringLiteral("共 3 頁"));
        QCOMPARE(shown, expanded);
    }

    void numbersLineUpOnTheRight()
    {
        auto r = render(salesByDay(31), kSalesTemplate);
        const PageContent pc = r->page(0);
        const ColumnLayout &amount = r->columns()[2];
        QFontMetricsF fm(r->font(0));
        QList<double> rightEdges;
        for (const TextItem &t : pc.texts)
            if (t.role == Role::Cell && t.column == 2)
                rightEdges << t.origin.x() + fm.horizontalAdvance(t.text) * kFontUnit;
        QVERIFY(rightEdges.size() > 20);
        for (double x : rightEdges)
            QVERIFY(std::abs(x - rightEdges.first()) < 2);   // 0.02 mm
        QVERIFY(rightEdges.first() <= 15 * kUnitsPerMm + amount.x + amount.width);
    }

    void numberTooWideIsNotCut()
    {
        ReportData d;
        d.columns.Add(QStringLiteral("AMOUNT"), ftBCD, 2);
        d.rows.push_back({QVariant::fromValue(dec("123456789012.34"))});
        d.rows.push_back({QVariant::fromValue(dec("5.00"))});
        auto r = render(std::move(d), R"({"columns": [{"field": "AMOUNT", "width": 14, "thousands": true}]})");
        const QStringList cells = r->page(0).texts_of(Role::Cell);
        // A truncated amount reads as another amount: it is masked instead.
        QCOMPARE(cells, (QStringList{QStringLiteral("###"), QStringLiteral("5.00")}));
    }

    // ---- output ------------------------------------------------------------------

    void writesPdfWithEveryPage()
    {
        auto r = render(wideSales(300), wideSalesTemplate());
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("out.pdf"));
        QString error;
        QVERIFY2(r->writePdf(path, &error), qPrintable(error));
        QCOMPARE(pdfPageCount(path), r->pageCount());
        const QString text = pdfText(path);
        if (text.isEmpty())
            QSKIP("pdftotext not installed: text content not checked");
        QVERIFY(text.contains(QStringLiteral("銷售明細表")));
        QVERIFY(text.contains(QStringLiteral("光泉鮮乳")));
        QVERIFY(text.contains(QRegularExpression(QStringLiteral("第\\s*%1\\s*頁\\s*/\\s*共\\s*%1\\s*頁").arg(r->pageCount()))));
    }

    void failedPdfLeavesNoFileBehind()
    {
        auto r = render(salesByDay(5), kSalesTemplate);
        QTemporaryDir dir;
        QString error;
        QVERIFY(!r->writePdf(dir.filePath(QStringLiteral("no/such/folder/out.pdf")), &error));
        QVERIFY2(error.contains(QStringLiteral("out.pdf")), qPrintable(error));

        // An existing file is replaced only by a complete document.
        const QString path = dir.filePath(QStringLiteral("keep.pdf"));
        {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("old");
        }
        QVERIFY(r->writePdf(path, &error));
        QCOMPARE(pdfPageCount(path), r->pageCount());
    }

    void pageImageShowsThePage()
    {
        auto r = renderFile(salesByDay(5), QStringLiteral("/no/such/template.rtm"));
        const QImage img = r->pageImage(0, 50);
        QCOMPARE(img.width(), int(std::ceil(210 / 25.4 * 50)));
        // The notice box is red-tinted, the text dark: both are there.
        int dark = 0, red = 0;
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x) {
                const QColor c = img.pixelColor(x, y);
                if (c.lightness() < 80)
                    ++dark;
                if (c.red() > 150 && c.green() < 100 && c.blue() < 100)
                    ++red;
            }
        QVERIFY(dark > 500);
        QVERIFY(red > 20);
    }
};

QTEST_MAIN(TestRenderer)
#include "tst_renderer.moc"
