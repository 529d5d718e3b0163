// The business-database chain: named connection from the connection definitions,
// SQL dataset -> provider -> client dataset, parameters by marker name, exact values
// all the way into a client-dataset file.
#include "FbTestDb.h"
#include "Fixtures.h"
#include "platform/cds/CdsFile.h"
#include "platform/db/ClientDataSet.h"
#include "platform/db/SqlExpr.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace rpt;

namespace {

struct Chain {
    QObject owner;
    TSQLConnection *conn;
    TSQLDataSet *sql;
    TDataSetProvider *dsp;
    TClientDataSet *cds;
    explicit Chain(const QString &iniDir)
    {
        conn = new TSQLConnection(&owner, "SQLConnection1");
        conn->SetConnectionName("Tormel");
        conn->SetDriverName("Interbase");
        conn->SetLoadParamsOnConnect(true);
        conn->SetSearchDirs({iniDir});
        sql = new TSQLDataSet(&owner, "SQL_RPT");
        sql->SetSQLConnection(conn);
        dsp = new TDataSetProvider(&owner, "DSP_RPT");
        dsp->SetDataSet(sql);
        dsp->SetAllowCommandText(true);
        cds = new TClientDataSet(&owner, "CDS_RPT");
        cds->SetProviderName("DSP_RPT");
    }
    void run(const QString &script, const QList<std::pair<QString, QString>> &values)
    {
        cds->Close();
        cds->Params().Clear();
        cds->SetCommandText(script);
        cds->FetchParams();
        for (const auto &[name, value] : values)
            cds->Params().ParamByName(name).SetAsString(value);
        cds->Open();
    }
};

const QString big5Name = QString::fromUtf8("台北旗艦店");

} // namespace

class TestSqlChain : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void parametersFollowTheCurrentScript();
    void exactValuesReachTheFile();
    void legacyBig5TextSurvives();
    void errorsKeepTheirTexts();
    void missingConnectionDefinition();

private:
    QTemporaryDir m_dir;
};

void TestSqlChain::initTestCase()
{
    test::createFbTestDb(m_dir.path(), QString(),
                         {"CREATE TABLE sales (sale_date DATE, store VARCHAR(20), amount NUMERIC(18,4), qty INTEGER, note BLOB SUB_TYPE TEXT)",
                          test::FbStatement("INSERT INTO sales VALUES ('2024-01-05', ?, 1234567890123.4567, 3, ?)",
                                            {big5Name, QString(5000, QChar(0x9EDE))}),
                          "INSERT INTO sales VALUES ('2024-02-01', 'B', -0.0001, 1, NULL)"},
                         "biz.fdb");
    fixtures::writeDbxConnections(m_dir.path(), m_dir.filePath("biz.fdb"));
}

void TestSqlChain::parametersFollowTheCurrentScript()
{
    Chain c(m_dir.path());
    const QString byDate = "select * from sales where sale_date between :sdate and :edate";
    c.run(byDate, {{"SDATE", "2024-01-01"}, {"edate", "2024-01-31"}}); // names bind ignoring case
    QCOMPARE(c.cds->RecordCount(), 1);
    c.run(byDate, {{"sdate", "2024-01-01"}, {"edate", "2024-12-31"}}); // the same script again
    QCOMPARE(c.cds->RecordCount(), 2);

    // Another script never sees the previous one's names.
    c.run("select * from sales where qty = :qty and store <> ':notamarker'", {{"qty", "1"}});
    QCOMPARE(c.cds->RecordCount(), 1);
    QCOMPARE(c.cds->Params().Count(), 1);
    try {
        c.cds->Params().ParamByName("sdate");
        QFAIL("stale parameter");
    } catch (const EDatabaseError &e) {
        QCOMPARE(e.message(), QString("CDS_RPT: Parameter 'sdate' not found"));
    }

    // A script without markers runs unchanged.
    c.run("select count(*) from sales", {});
    QCOMPARE(c.cds->Fields(0)->AsInteger(), 2);
}

void TestSqlChain::exactValuesReachTheFile()
{
    Chain c(m_dir.path());
    c.run("select amount, sale_date, note, qty from sales order by sale_date", {});
    QCOMPARE(c.cds->FieldByName("amount")->AsString(), QString("1234567890123.4567"));
    QCOMPARE(c.cds->FieldByName("note")->AsString().size(), 5000);
    const QString file = m_dir.filePath("temp.cds");
    c.cds->SaveToFile(file);
    const cds::CdsTable t = cds::readFile(file);
    QCOMPARE(int(t.rows.size()), 2);
    QCOMPARE(t.rows[0][0].value<Decimal>(), *Decimal::fromString(u"1234567890123.4567"));
    QCOMPARE(t.rows[1][0].value<Decimal>(), *Decimal::fromString(u"-0.0001"));
    QCOMPARE(t.rows[0][1].toDate(), QDate(2024, 1, 5));
    QVERIFY(!t.rows[1][2].isValid()); // NULL stays NULL

    TClientDataSet back(nullptr, "Back");
    back.LoadFromFile(file);
    QCOMPARE(back.FieldByName("qty")->AsInteger(), 3);
    QCOMPARE(back.FieldByName("note")->AsString(), QString(5000, QChar(0x9EDE)));
}

void TestSqlChain::legacyBig5TextSurvives()
{
    Chain c(m_dir.path());
    // A character-set NONE database holds Big5 bytes; a Big5 value bound to a marker
    // finds them, and they come back as the same text.
    c.run("select store from sales where store = :store", {{"store", big5Name}});
    QCOMPARE(c.cds->RecordCount(), 1);
    QCOMPARE(c.cds->Fields(0)->AsString(), big5Name);
    c.run(QString::fromUtf8("select '總店' as label from rdb$database"), {});
    QCOMPARE(c.cds->Fields(0)->AsString(), QString::fromUtf8("總店"));
}

void TestSqlChain::errorsKeepTheirTexts()
{
    Chain c(m_dir.path());
    try {
        c.run("select * from no_such_table", {});
        QFAIL("refused script ran");
    } catch (const EDatabaseError &e) {
        QVERIFY2(e.message().contains("NO_SUCH_TABLE", Qt::CaseInsensitive), qPrintable(e.message()));
    }
    QVERIFY(!c.cds->Active());
    c.run("select qty from sales where qty = :qty", {{"qty", "3"}}); // the connection is still usable
    QCOMPARE(c.cds->RecordCount(), 1);
}

void TestSqlChain::missingConnectionDefinition()
{
    QTemporaryDir empty;
    Chain c(empty.path());
    try {
        c.run("select 1 from rdb$database", {});
        QFAIL("connected without a definition");
    } catch (const Exception &e) {
        QVERIFY2(e.message().contains("Tormel") && e.message().contains(empty.path()), qPrintable(e.message()));
    }
}

QTEST_GUILESS_MAIN(TestSqlChain)
#include "tst_sqlchain.moc"
