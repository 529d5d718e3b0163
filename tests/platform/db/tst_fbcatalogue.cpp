// The report catalogue on an embedded Firebird database, reached the way the program
// reaches it: Rpt.udl -> TADOConnection -> TADODataSet. Declared fields, bound
// parameters, wide text in both directions, batch writes, the all-or-nothing batch.
#include "FbTestDb.h"
#include "Fixtures.h"

#include "platform/db/Ado.h"
#include "platform/text/CodePage.h"
#include "platform/text/DataLink.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace rpt;
using rpt::test::createFbTestDb;

namespace {

TFieldDecl decl(const char *name, TFieldType type, int size)
{
    TFieldDecl d;
    d.Name = QString::fromLatin1(name);
    d.DataType = type;
    d.Size = size;
    return d;
}

const QList<TFieldDecl> kMasterFields = {
    decl("rpt_index", ftWideString, 50),  decl("rpt_id", ftWideString, 5),     decl("rpt_name", ftWideString, 50),
    decl("rpt_Table", ftWideString, 50),  decl("rpt_SQLScript", ftWideMemo, 0), decl("rpt_order", ftWideString, 50),
    decl("rpt_tempfile", ftWideString, 100), decl("rpt_footer", ftWideMemo, 0),
};
const QList<TFieldDecl> kSubFields = {
    decl("rpt_id", ftWideString, 5),       decl("params_item", ftWideString, 10), decl("params_label", ftWideString, 30),
    decl("params_type", ftWideString, 10), decl("default_value", ftWideString, 50),
};

// Every cell as text, NULL as "<null>", whatever setter the layer chose.
class TextRows : public fb::RowSink {
public:
    QStringList rows;
    void setColumns(const QList<fb::Column> &) override {}
    void beginRow() override { m_cells.clear(); }
    void setNull(int) override { m_cells << QStringLiteral("<null>"); }
    void setInt(int, qint64 v) override { m_cells << QString::number(v); }
    void setDouble(int, double v) override { m_cells << QString::number(v); }
    void setDecimal(int, const Decimal &v) override { m_cells << v.toString(); }
    void setBool(int, bool v) override { m_cells << (v ? QStringLiteral("true") : QStringLiteral("false")); }
    void setDate(int, const QDate &v) override { m_cells << v.toString(Qt::ISODate); }
    void setTime(int, const QTime &v) override { m_cells << v.toString(Qt::ISODate); }
    void setDateTime(int, const QDateTime &v) override { m_cells << v.toString(Qt::ISODate); }
    void setText(int, const QString &v) override { m_cells << v; }
    void setAnsi(int, const char *p, qsizetype n) override { m_cells << cp950::toUnicode(QByteArray(p, n)); }
    void setBlob(int, const char *p, qsizetype n) override { m_cells << QString::fromLatin1(QByteArray(p, n).toHex()); }
    void endRow() override { rows << m_cells.join(u'|'); }

private:
    QStringList m_cells;
};

struct Catalogue {
    QTemporaryDir dir;
    fb::ConnectParams params;
    QString udl;

    // `extra` is appended to the data link's connection string.
    explicit Catalogue(const QString &extra = QString())
    {
        params = createFbTestDb(
            dir.path(), QStringLiteral("UTF8"),
            {"CREATE TABLE RPT_MASTER (rpt_index VARCHAR(50), rpt_id VARCHAR(5), rpt_name VARCHAR(50), "
             "rpt_Table VARCHAR(50), rpt_SQLScript BLOB SUB_TYPE TEXT, rpt_order VARCHAR(50), "
             "rpt_tempfile VARCHAR(100), rpt_footer BLOB SUB_TYPE TEXT)",
             // Columns of the catalogue's own that the program does not declare; one needs
             // quoting for its capitals, one because the word is reserved.
             "CREATE TABLE RPT_SUB (rpt_id VARCHAR(5), params_item VARCHAR(10), params_label VARCHAR(30), "
             "params_type VARCHAR(10), default_value VARCHAR(50), \"Remark\" VARCHAR(20), \"POSITION\" INTEGER)",
             "INSERT INTO RPT_MASTER VALUES ('A', '10001', '銷售日報', 'SALES', "
             "'select * from sales where sdate >= :sdate', '1', '/srv/rpt/daily.rpt', NULL)",
             "INSERT INTO RPT_MASTER VALUES ('A', '10002', '庫存表', NULL, 'select 1 from rdb$database', '2', "
             "NULL, '頁尾')",
             "INSERT INTO RPT_SUB VALUES ('10001', 'sdate', '起始日期', 'date', '2024/01/01', '備註', 1)",
             "INSERT INTO RPT_SUB VALUES ('10001', 'edate', '結束日期', 'date', '2024/01/31', NULL, 2)",
             "INSERT INTO RPT_SUB VALUES ('10002', 'x', 'X', 'text', 'one', NULL, NULL)"},
            QStringLiteral("cat.fdb"));
        // The path is relative: a data link's paths are read from its own folder.
        fixtures::writeUdl(dir.path(), "Provider=LCPI.IBProvider.1;Data Source=cat.fdb;User ID=SYSDBA;"
                                       "Password=masterkey" + extra);
        udl = dir.filePath("Rpt.udl");
    }

    void connect(TADOConnection &c) const
    {
        c.SetConnectionString(adoFileNameConnectionString(udl));
        c.Open();
    }

    // Straight from the database, on a connection of its own.
    QStringList rows(const QString &sql) const
    {
        fb::Connection c;
        c.open(params);
        TextRows sink;
        c.execute(sql, {}, &sink);
        return sink.rows;
    }
    QStringList subRows() const
    {
        return rows("SELECT rpt_id, params_item, default_value FROM RPT_SUB ORDER BY rpt_id, params_item");
    }
    void exec(const QString &sql) const
    {
        fb::Connection c;
        c.open(params);
        c.execute(sql);
    }
};

void openSub(TADODataSet &ds, TADOConnection &c, TLockType lock, const QString &rptId = QStringLiteral("10001"))
{
    ds.SetConnection(&c);
    ds.SetLockType(lock);
    ds.DeclareFields(kSubFields);
    ds.SetCommandText("select * from RPT_SUB\r\nwhere rpt_id = :rpt_id\r\n");
    ds.Parameters().ParamByName("rpt_id").SetAsString(rptId);
    ds.Open();
}

void openMaster(TADODataSet &ds, TADOConnection &c, const QString &index = QStringLiteral("A"))
{
    ds.SetConnection(&c);
    ds.SetLockType(ltBatchOptimistic);
    ds.DeclareFields(kMasterFields);
    ds.SetCommandText("select *  from RPT_MASTER\r\nwhere rpt_index = :rpt_index\r\norder by rpt_order");
    ds.Parameters().ParamByName("rpt_index").SetAsString(index);
    ds.Open();
}

} // namespace

class TestFbCatalogue : public QObject {
    Q_OBJECT
private slots:
    void declaredFieldsAndParameters();
    void undeclaredColumnsTakeTheTablesShape();
    void wideTextRoundTrip_data();
    void wideTextRoundTrip();
    void batchReachesTheCatalogueOnUpdateBatch();
    void failingBatchWritesNothingAndStaysPending();
    void immediateWriteAndConflict();
    void overlongParameterIsAClearError();
    void unusableCatalogue_data();
    void unusableCatalogue();
};

void TestFbCatalogue::declaredFieldsAndParameters()
{
    Catalogue cat;
    TADOConnection c(nullptr, "ADOConnection1");
    cat.connect(c);
    QCOMPARE(c.Session().describe(), "Firebird " + cat.params.database);
    TADODataSet ds(nullptr, "ADODataSet2");
    openSub(ds, c, ltBatchOptimistic);
    QCOMPARE(ds.RecordCount(), 2);
    QCOMPARE(ds.FieldCount(), 5); // Remark and POSITION are not declared
    QCOMPARE(ds.Fields(4)->FieldName(), QString("default_value"));
    QCOMPARE(ds.FieldByName("params_label")->AsString(), QString::fromUtf8("起始日期"));
    QVERIFY(!ds.FindField("Remark"));

    TADODataSet master(nullptr, "ADODataSet1");
    // A value is bound, never spliced into the statement.
    openMaster(master, c, "A' OR 'A'='A");
    QVERIFY(master.IsEmpty());
    master.Close();
    master.Parameters().ParamByName("rpt_index").SetAsString("A");
    master.Open();
    QCOMPARE(master.RecordCount(), 2);
    QCOMPARE(master.FieldByName("rpt_SQLScript")->AsString(), QString("select * from sales where sdate >= :sdate"));
    QVERIFY(master.FieldByName("rpt_footer")->IsNull());
    master.Next();
    QCOMPARE(master.FieldByName("rpt_footer")->AsString(), QString::fromUtf8("頁尾"));
}

void TestFbCatalogue::undeclaredColumnsTakeTheTablesShape()
{
    Catalogue cat;
    TADOConnection c(nullptr, "ADOConnection1");
    cat.connect(c);
    TADODataSet ds(nullptr, "ADODataSet3");
    ds.SetConnection(&c);
    ds.SetCommandText("select * from RPT_MASTER");
    ds.Open();
    QCOMPARE(ds.FieldCount(), 8);
    const TFieldDef &id = ds.FieldDefs()[ds.FieldDefs().IndexOf("rpt_id")];
    QCOMPARE(id.DataType, ftWideString);
    QCOMPARE(id.Size, 5); // characters, though UTF8 takes up to 20 bytes for them
    QCOMPARE(ds.FieldDefs()[ds.FieldDefs().IndexOf("rpt_footer")].DataType, ftWideMemo);

    // Writes name every column, the catalogue's own ones included.
    TADODataSet sub(nullptr, "ADODataSet3");
    sub.SetConnection(&c);
    sub.SetCommandText("select * from RPT_SUB where rpt_id = '10001' order by params_item");
    sub.Open();
    QCOMPARE(sub.FieldCount(), 7);
    sub.Last(); // sdate, whose Remark and POSITION are set
    sub.Edit();
    sub.FieldByName("default_value")->SetAsString("2024/02/01");
    sub.Post();
    QCOMPARE(cat.rows("SELECT default_value, \"Remark\", \"POSITION\" FROM RPT_SUB WHERE params_item = 'sdate'"),
             QStringList{QString::fromUtf8("2024/02/01|備註|1")});
}

void TestFbCatalogue::wideTextRoundTrip_data()
{
    QTest::addColumn<QString>("udlExtra");
    QTest::newRow("default character set") << QString();
    QTest::newRow("ctype UTF8") << ";ctype=UTF8";
    QTest::newRow("Character Set BIG_5") << ";Character Set=BIG_5";
    QTest::newRow("lc_ctype BIG_5") << ";lc_ctype=BIG_5";
}

void TestFbCatalogue::wideTextRoundTrip()
{
    QFETCH(QString, udlExtra);
    Catalogue cat(udlExtra);
    const QString name = QString::fromUtf8("月份銷售統計表"); // 7 characters: 21 bytes in UTF-8
    const QString script = QString::fromUtf8("select 門市, sum(金額) from 銷售 where 日期 >= :起日 group by 門市");
    {
        TADOConnection c(nullptr, "ADOConnection1");
        cat.connect(c);
        TADODataSet ds(nullptr, "ADODataSet1");
        openMaster(ds, c);
        ds.Append();
        ds.FieldByName("rpt_index")->SetAsString("A");
        ds.FieldByName("rpt_id")->SetAsString("10003");
        ds.FieldByName("rpt_name")->SetAsString(name);
        ds.FieldByName("rpt_SQLScript")->SetAsString(script);
        ds.FieldByName("rpt_order")->SetAsString("3");
        ds.Post();
        ds.UpdateBatch(arAll);
        // Reading it back through the same connection settings.
        ds.Close();
        ds.Open();
        ds.Last(); // rpt_order 3
        QCOMPARE(ds.FieldByName("rpt_id")->AsString(), QString("10003"));
        QCOMPARE(ds.FieldByName("rpt_name")->AsString(), name);
        QCOMPARE(ds.FieldByName("rpt_SQLScript")->AsString(), script);
        QCOMPARE(ds.FieldByName("rpt_footer")->IsNull(), true);
    }
    // Stored as these characters, not as bytes that only this setting reads back.
    QCOMPARE(cat.rows("SELECT rpt_name, rpt_SQLScript FROM RPT_MASTER WHERE rpt_id = '10003'"),
             QStringList{name + u'|' + script});
}

void TestFbCatalogue::batchReachesTheCatalogueOnUpdateBatch()
{
    Catalogue cat;
    const QStringList before = cat.subRows();
    TADOConnection c(nullptr, "ADOConnection1");
    cat.connect(c);
    TADODataSet ds(nullptr, "ADODataSet2");
    openSub(ds, c, ltBatchOptimistic);
    ds.Edit();
    ds.FieldByName("default_value")->SetAsString(QString::fromUtf8("二〇二五"));
    ds.Post();
    ds.Last();
    ds.Delete();
    ds.Append();
    ds.FieldByName("rpt_id")->SetAsString("10001");
    ds.FieldByName("params_item")->SetAsString("store");
    // Left open on purpose: UpdateBatch posts a changed edit itself.
    QCOMPARE(cat.subRows(), before);
    ds.UpdateBatch(arAll);
    QCOMPARE(ds.State(), dsBrowse);
    QVERIFY(!ds.HasPendingUpdates());
    QCOMPARE(cat.subRows(), (QStringList{QString::fromUtf8("10001|sdate|二〇二五"), "10001|store|<null>",
                                         "10002|x|one"}));

    // A definition row is found by all its values, memos and NULLs included.
    TADODataSet master(nullptr, "ADODataSet1");
    openMaster(master, c);
    master.Edit();
    master.FieldByName("rpt_name")->SetAsString(QString::fromUtf8("銷售日報（新）"));
    master.Post();
    master.Next();
    master.Edit();
    master.FieldByName("rpt_footer")->SetAsString(QString::fromUtf8("第二版頁尾"));
    master.Post();
    master.UpdateBatch(arAll);
    QCOMPARE(cat.rows("SELECT rpt_id, rpt_name, rpt_footer FROM RPT_MASTER ORDER BY rpt_id"),
             (QStringList{QString::fromUtf8("10001|銷售日報（新）|<null>"), QString::fromUtf8("10002|庫存表|第二版頁尾")}));
    master.First();
    master.Delete();
    master.UpdateBatch(arAll);
    QCOMPARE(cat.rows("SELECT rpt_id FROM RPT_MASTER"), QStringList{"10002"});
}

void TestFbCatalogue::failingBatchWritesNothingAndStaysPending()
{
    Catalogue cat;
    cat.exec("CREATE EXCEPTION refused 'refused by the catalogue'");
    cat.exec("CREATE TRIGGER refuse_bad FOR RPT_SUB BEFORE INSERT AS "
             "BEGIN IF (NEW.params_item = 'bad') THEN EXCEPTION refused; END");
    const QStringList before = cat.subRows();
    TADOConnection c(nullptr, "ADOConnection1");
    cat.connect(c);
    TADODataSet ds(nullptr, "ADODataSet2");
    openSub(ds, c, ltBatchOptimistic);
    ds.First();
    ds.Delete();                                   // would succeed on its own
    ds.Edit();
    ds.FieldByName("default_value")->SetAsString("changed");
    ds.Post();                                     // would succeed on its own
    ds.Append();
    ds.FieldByName("rpt_id")->SetAsString("10001");
    ds.FieldByName("params_item")->SetAsString("bad");
    ds.Post();                                     // refused, after the others were written
    try {
        ds.UpdateBatch(arAll);
        QFAIL("the batch was accepted");
    } catch (const EDatabaseError &e) {
        QVERIFY2(e.message().contains("refused by the catalogue"), qPrintable(e.message()));
    }
    QCOMPARE(cat.subRows(), before);
    QVERIFY(ds.HasPendingUpdates());

    // The connection is left without a transaction: mend the refused row and retry,
    // and everything arrives once.
    ds.Last();
    ds.Edit();
    ds.FieldByName("params_item")->SetAsString("good");
    ds.Post();
    ds.UpdateBatch(arAll);
    QVERIFY(!ds.HasPendingUpdates());
    QCOMPARE(cat.subRows(), (QStringList{"10001|edate|changed", "10001|good|<null>", "10002|x|one"}));
}

void TestFbCatalogue::immediateWriteAndConflict()
{
    Catalogue cat;
    TADOConnection c1(nullptr, "ADOConnection1"), c2(nullptr, "ADOConnection2");
    cat.connect(c1);
    cat.connect(c2);
    TADODataSet mine(nullptr, "ADODataSet2"), theirs(nullptr, "ADODataSet3");
    openSub(mine, c1, ltBatchOptimistic);
    openSub(theirs, c2, ltOptimistic);
    theirs.Edit();
    theirs.FieldByName("default_value")->SetAsString("theirs");
    theirs.Post(); // written at once
    QCOMPARE(cat.rows("SELECT default_value FROM RPT_SUB WHERE params_item = 'sdate'"), QStringList{"theirs"});

    mine.Edit();
    mine.FieldByName("default_value")->SetAsString("mine");
    mine.Post();
    try {
        mine.UpdateBatch();
        QFAIL("conflict not seen");
    } catch (const EDatabaseError &e) {
        QCOMPARE(e.message(), QString("ADODataSet2: Row cannot be located for updating. "
                                      "Some values may have been changed since it was last read."));
    }
    QCOMPARE(cat.rows("SELECT default_value FROM RPT_SUB WHERE params_item = 'sdate'"), QStringList{"theirs"});
}

void TestFbCatalogue::overlongParameterIsAClearError()
{
    // The server compares a parameter in the column's own type, so a value longer than
    // the column is refused instead of matching nothing.
    Catalogue cat;
    TADOConnection c(nullptr, "ADOConnection1");
    cat.connect(c);
    TADODataSet ds(nullptr, "ADODataSet2");
    try {
        openSub(ds, c, ltBatchOptimistic, "100010");
        QFAIL("opened");
    } catch (const EDatabaseError &e) {
        QVERIFY2(e.message().contains("truncation"), qPrintable(e.message()));
    }
    QVERIFY(!ds.Active());
    ds.Parameters().ParamByName("rpt_id").SetAsString("10001");
    ds.Open();
    QCOMPARE(ds.RecordCount(), 2);
}

void TestFbCatalogue::unusableCatalogue_data()
{
    QTest::addColumn<QString>("initString");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("missing database file")
        << "Provider=LCPI.IBProvider.1;Data Source=missing.fdb;User ID=SYSDBA;Password=masterkey"
        << QStringList{"Rpt.udl", "missing.fdb"};
    QTest::newRow("unknown character set")
        << "Provider=LCPI.IBProvider.1;Data Source=cat.fdb;User ID=SYSDBA;Password=masterkey;ctype=NO_SUCH_SET"
        << QStringList{"Rpt.udl", "NO_SUCH_SET"};
    QTest::newRow("server that does not answer")
        << "Provider=LCPI.IBProvider.1;Data Source=127.0.0.1/1:/srv/rpt.fdb;User ID=SYSDBA;Password=masterkey"
        << QStringList{"Rpt.udl", "127.0.0.1"};
    QTest::newRow("Windows drive path")
        << "Provider=LCPI.IBProvider.1;Data Source=C:\\Tormel\\rpt.fdb;User ID=SYSDBA;Password=masterkey"
        << QStringList{"Rpt.udl", "Windows drive path"};
}

void TestFbCatalogue::unusableCatalogue()
{
    QFETCH(QString, initString);
    QFETCH(QStringList, expected);
    Catalogue cat;
    fixtures::writeUdl(cat.dir.path(), initString);
    TADOConnection c(nullptr, "ADOConnection1");
    c.SetConnectionString(adoFileNameConnectionString(cat.udl));
    try {
        c.Open();
        QFAIL("opened");
    } catch (const EDatabaseError &e) {
        for (const QString &part : expected)
            QVERIFY2(e.message().contains(part, Qt::CaseInsensitive), qPrintable(e.message()));
    }
    QVERIFY(!c.Connected());
}

QTEST_GUILESS_MAIN(TestFbCatalogue)
#include "tst_fbcatalogue.moc"
