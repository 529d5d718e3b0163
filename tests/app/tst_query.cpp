// The query command: parameters bound by name, the result in CDS_RPT, and the header
// record filled in the order that decides which value wins.
#include "LauncherWorld.h"

#include "platform/forms/Buttons.h"
#include "platform/forms/Form.h"

using namespace rpt;
using world::World;

namespace {

const QString kSalesByRange =
    "select sale_date, store, amount from sales where sale_date between :sdate and :edate order by sale_date";

QList<world::Param> numbered(const QString &id, int n, const QString &prefix = "v")
{
    QList<world::Param> out;
    for (int i = 1; i <= n; ++i)
        out.append({id, QString("p%1").arg(i, 2, 10, QChar('0')), "", "", prefix + QString::number(i)});
    return out;
}

// A script that takes n parameters (p01..pNN) and returns their count of non-nulls.
QString scriptFor(int n)
{
    QStringList terms;
    for (int i = 1; i <= n; ++i)
        terms << QString("iif(cast(:p%1 as varchar(60)) is null, 0, 1)").arg(i, 2, 10, QChar('0'));
    return "select " + (terms.isEmpty() ? QString("0") : terms.join(" + ")) + " as bound from rdb$database";
}

QString header(TFormRptDlg *f, int i)
{
    return f->CDS->Fields(i)->AsString();
}

void run(TFormRptDlg *f)
{
    f->SpeedButton1Click(f->SpeedButton1);
}

} // namespace

class TestQuery : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { m_app = std::make_unique<TApplication>(); }
    void headerAfterARun();
    void parameterCountsDecideWhatWins_data();
    void parameterCountsDecideWhatWins();
    void sameReportTwiceAndOtherCase();
    void longValuesAreCutOnlyInTheHeader();
    void emptyStoreTable();
    void staleResultAfterChangingReport();
    void failures_data();
    void failures();

private:
    std::unique_ptr<TApplication> m_app;
};

void TestQuery::headerAfterARun()
{
    World w({{"A", "10001", "Sales", kSalesByRange, "1", "", QString::fromUtf8("製表：王小明\n主管：")}},
            {{"10001", "sdate", "", "", "2024-01-01"}, {"10001", "edate", "", "", "2024-01-31"}});
    w.business();
    TFormRptDlg *f = w.start({"A"});
    run(f);
    QVERIFY(w.errors.isEmpty());
    QCOMPARE(f->CDS_RPT->RecordCount(), 1);
    QCOMPARE(f->CDS_RPT->FieldByName("amount")->AsString(), QString("100.50"));
    QCOMPARE(f->CDS->State(), dsBrowse); // posted
    QCOMPARE(header(f, 0), QString());
    QCOMPARE(header(f, 1), QString("2024-01-01"));
    QCOMPARE(header(f, 2), QString("2024-01-31"));
    QCOMPARE(header(f, 11), QString::fromUtf8("民生店"));
    QCOMPARE(header(f, 12), QString::fromUtf8("好運來股份有限公司"));
    QCOMPARE(header(f, 13), QString::fromUtf8("製表：王小明\n主管："));
    for (int p = 6; p <= 16; ++p)
        QCOMPARE(header(f, p + 8), QString("v%1").arg(p));
    QCOMPARE(header(f, 25), QString());
}

void TestQuery::parameterCountsDecideWhatWins_data()
{
    QTest::addColumn<int>("count");
    QTest::newRow("none") << 0;
    QTest::newRow("twelve") << 12;
    QTest::newRow("twenty-five") << 25;
    QTest::newRow("twenty-seven") << 27;
}

void TestQuery::parameterCountsDecideWhatWins()
{
    QFETCH(int, count);
    World w({{"A", "10001", "Many", scriptFor(count), "1", "", "foot"}}, numbered("10001", count));
    w.business();
    TFormRptDlg *f = w.start({"A"});
    run(f);
    QVERIFY2(w.errors.isEmpty(), qPrintable(w.errors.join('\n')));
    QCOMPARE(f->CDS_RPT->Fields(0)->AsInteger(), count); // every row reached the script
    for (int i = 1; i <= 10; ++i)
        QCOMPARE(header(f, i), i <= count ? QString("v%1").arg(i) : QString());
    // Rows 11..24 were overwritten by the store, company and footer values.
    QCOMPARE(header(f, 11), QString::fromUtf8("民生店"));
    QCOMPARE(header(f, 12), QString::fromUtf8("好運來股份有限公司"));
    QCOMPARE(header(f, 13), QString("foot"));
    QCOMPARE(header(f, 14), QString("v6"));
    QCOMPARE(header(f, 25), count >= 25 ? QString("v25") : QString());
}

void TestQuery::sameReportTwiceAndOtherCase()
{
    World w({{"A", "10001", "Sales", kSalesByRange, "1", "", ""},
             {"A", "10002", "Few", "select count(*) from sales where store = :STORE", "2", "", ""}},
            {{"10001", "SDate", "", "", "2024-01-01"}, {"10001", "EDATE", "", "", "2024-12-31"},
             {"10002", "store", "", "", "A"}});
    w.business();
    TFormRptDlg *f = w.start({"A"});
    run(f);
    run(f); // the parameter list is emptied before each run
    QVERIFY2(w.errors.isEmpty(), qPrintable(w.errors.join('\n')));
    QCOMPARE(f->CDS_RPT->RecordCount(), 2);
    // Another report after it: the list follows the new script's markers.
    f->ADODataSet1->Next();
    run(f);
    QVERIFY2(w.errors.isEmpty(), qPrintable(w.errors.join('\n')));
    QCOMPARE(f->CDS_RPT->Fields(0)->AsInteger(), 1);
    // A field the second run does not write keeps the first run's value.
    QCOMPARE(header(f, 1), QString("A"));
    QCOMPARE(header(f, 2), QString("2024-12-31"));
}

void TestQuery::longValuesAreCutOnlyInTheHeader()
{
    const QString longValue = QString::fromUtf8("台北市松山區民生東路四段一百三十三號之一二樓之三（捷運站旁）");
    QVERIFY(longValue.size() > 25);
    World w({{"A", "10001", "Echo", "select cast(:v as varchar(200)) as v from rdb$database", "1", "", ""}},
            {{"10001", "v", "", "", longValue}});
    w.business();
    TFormRptDlg *f = w.start({"A"});
    run(f);
    QCOMPARE(f->CDS_RPT->Fields(0)->AsString(), longValue);    // the script got it whole
    QCOMPARE(header(f, 1), longValue.left(25));                // 50 bytes of Big5
}

void TestQuery::emptyStoreTable()
{
    World w({{"A", "10001", "Sales", kSalesByRange, "1", "", ""}},
            {{"10001", "sdate", "", "", "2024-01-01"}, {"10001", "edate", "", "", "2024-12-31"}});
    w.business({}, 17, false);
    TFormRptDlg *f = w.start({"A"});
    run(f);
    QVERIFY2(w.errors.isEmpty(), qPrintable(w.errors.join('\n')));
    QCOMPARE(header(f, 11), QString());
    for (int i = 14; i <= 24; ++i)
        QCOMPARE(header(f, i), QString());
}

void TestQuery::staleResultAfterChangingReport()
{
    World w({{"A", "10001", "Sales", kSalesByRange, "1", "", ""}, {"A", "10002", "Count", "select count(*) as n from sales", "2", "", ""}},
            {{"10001", "sdate", "", "", "2024-01-01"}, {"10001", "edate", "", "", "2024-12-31"}});
    w.business();
    TFormRptDlg *f = w.start({"A"});
    run(f);
    f->ADODataSet1->Next();
    QVERIFY(f->CDS_RPT->Active());
    QCOMPARE(f->CDS_RPT->FieldCount(), 3); // still the first report's result
}

void TestQuery::failures_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<int>("storeColumns");
    QTest::addColumn<bool>("company");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("resultOpen");
    QTest::addColumn<QString>("field1");
    QTest::newRow("unknown parameter") << "select 1 from rdb$database" << 17 << true << "CDS_RPT: Parameter 'sdate' not found"
                                       << false << QString();
    QTest::newRow("refused script") << "select * from nowhere where :sdate = :edate" << 17 << true << "NOWHERE" << false
                                    << "2024-01-01";
    QTest::newRow("too few store columns") << kSalesByRange << 12 << true << "List index out of bounds (12)" << true
                                           << "2024-01-01";
    QTest::newRow("no company file") << kSalesByRange << 17 << false << "Bramwix.dat" << true << "2024-01-01";
}

void TestQuery::failures()
{
    QFETCH(QString, script);
    QFETCH(int, storeColumns);
    QFETCH(bool, company);
    QFETCH(QString, message);
    QFETCH(bool, resultOpen);
    QFETCH(QString, field1);
    World w({{"A", "10001", "R", script, "1", "", ""}},
            {{"10001", "sdate", "", "", "2024-01-01"}, {"10001", "edate", "", "", "2024-12-31"}});
    w.business({}, storeColumns);
    if (!company)
        QFile::remove(w.dir.filePath("Bramwix.dat"));
    TFormRptDlg *f = w.start({"A"});
    guarded([&] { run(f); });
    QCOMPARE(w.errors.size(), 1);
    QVERIFY2(w.errors[0].contains(message, Qt::CaseInsensitive), qPrintable(w.errors[0]));
    QCOMPARE(f->CDS_RPT->Active(), resultOpen);
    // Nothing is rolled back: the header stays in edit, with what was written.
    QCOMPARE(f->CDS->State(), dsInsert);
    QCOMPARE(header(f, 1), field1);
}

QTEST_MAIN(TestQuery)
#include "tst_query.moc"
