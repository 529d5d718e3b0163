// Catalogue datasets against real SQLite files: declared fields, bound parameters,
// immediate and batch writes, the all-or-nothing batch, and conflicts.
#include "platform/db/Ado.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

using namespace rpt;

namespace {

struct Catalogue {
    QTemporaryDir dir;
    QString path;
    Catalogue()
    {
        path = dir.filePath("cat.db");
        exec({"CREATE TABLE RPT_SUB (rpt_id VARCHAR(5), params_item VARCHAR(10), default_value VARCHAR(50), extra INTEGER)",
              "INSERT INTO RPT_SUB VALUES ('10001','sdate','2024/01/01',7)",
              "INSERT INTO RPT_SUB VALUES ('10001','edate','2024/01/31',7)",
              "INSERT INTO RPT_SUB VALUES ('10002','x','one',7)"});
    }
    void exec(const QStringList &sqls) const
    {
        {
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "fixture");
            db.setDatabaseName(path);
            QVERIFY(db.open());
            for (const QString &s : sqls) {
                QSqlQuery q(db);
                if (!q.exec(s))
                    qFatal("fixture: %s", qPrintable(s));
            }
        }
        QSqlDatabase::removeDatabase("fixture");
    }
    QStringList rows(const QString &where = "1=1") const
    {
        QStringList out;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "peek");
            db.setDatabaseName(path);
            db.open();
            QSqlQuery q(db);
            q.exec("SELECT rpt_id, params_item, default_value FROM RPT_SUB WHERE " + where + " ORDER BY rpt_id, params_item");
            while (q.next())
                out << q.value(0).toString() + "|" + q.value(1).toString() + "|" + q.value(2).toString();
        }
        QSqlDatabase::removeDatabase("peek");
        return out;
    }
    void connect(TADOConnection &c) const
    {
        c.OpenWithSession(makeQtSqlSession("QSQLITE", "ado-" + c.Name() + QString::number(quintptr(&c)),
                                           [this](QSqlDatabase &db) { db.setDatabaseName(path); }));
    }
};

void setUp(TADODataSet &ds, TADOConnection &c, TLockType lock)
{
    ds.SetConnection(&c);
    ds.SetLockType(lock);
    ds.DeclareFields({{"rpt_id", ftWideString, 5}, {"params_item", ftWideString, 10}, {"default_value", ftWideString, 50}});
    ds.SetCommandText("select * from RPT_SUB\r\nwhere rpt_id = :rpt_id\r\n");
    ds.Parameters().ParamByName("rpt_id").SetAsString("10001");
    ds.Open();
}

} // namespace

class TestAdo : public QObject {
    Q_OBJECT
private slots:
    void declaredFieldsAndParameters();
    void missingDeclaredColumn();
    void parameterValuesAreNeverSpliced();
    void immediateWrites();
    void batchStaysLocalUntilUpdateBatch();
    void failingBatchWritesNothingAndStaysPending();
    void concurrentChangeIsDetected();
    void duplicateRowsAreNotGuessed();
    void closeDropsPendingChanges();
    void dataLinkFileOpensSqlite();
};

void TestAdo::declaredFieldsAndParameters()
{
    Catalogue cat;
    TADOConnection c(nullptr, "ADOConnection1");
    cat.connect(c);
    TADODataSet ds(nullptr, "ADODataSet2");
    setUp(ds, c, ltBatchOptimistic);
    QCOMPARE(ds.RecordCount(), 2);
    QCOMPARE(ds.FieldCount(), 3); // "extra" is not declared, so it is ignored
    QCOMPARE(ds.Fields(2)->FieldName(), QString("default_value"));
    QCOMPARE(ds.FieldByName("DEFAULT_VALUE")->AsString(), QString("2024/01/01"));
    QVERIFY(!ds.FindField("extra"));
    try {
        ds.Parameters().ParamByName("nope");
        QFAIL("no exception");
    } catch (const EDatabaseError &e) {
        QCOMPARE(e.message(), QString("ADODataSet2: Parameter 'nope' not found"));
    }
}

void TestAdo::missingDeclaredColumn()
{
    Catalogue cat;
    TADOConnection c(nullptr, "ADOConnection1");
    cat.connect(c);
    TADODataSet ds(nullptr, "ADODataSet2");
    ds.SetConnection(&c);
    ds.DeclareFields({{"rpt_id", ftWideString, 5}, {"params_label", ftWideString, 30}});
    ds.SetCommandText("select * from RPT_SUB");
    try {
        ds.Open();
        QFAIL("opened");
    } catch (const EDatabaseError &e) {
        QCOMPARE(e.message(), QString("ADODataSet2: Field 'params_label' not found"));
    }
    QVERIFY(!ds.Active());
}

void TestAdo::parameterValuesAreNeverSpliced()
{
    Catalogue cat;
    TADOConnection c(nullptr, "ADOConnection1");
    cat.connect(c);
    TADODataSet ds(nullptr, "ADODataSet2");
    setUp(ds, c, ltBatchOptimistic);
    ds.Close();
    ds.Parameters().ParamByName("rpt_id").SetAsString("x' OR '1'='1");
    ds.Open();
    QVERIFY(ds.IsEmpty());
}

void TestAdo::immediateWrites()
{
    Catalogue cat;
    TADOConnection c(nullptr, "ADOConnection1");
    cat.connect(c);
    TADODataSet ds(nullptr, "ADODataSet3");
    setUp(ds, c, ltOptimistic);
    ds.Edit();
    ds.FieldByName("default_value")->SetAsString(QString::fromUtf8("二〇二四"));
    ds.Post();
    QCOMPARE(cat.rows("params_item='sdate'"), QStringList{QString::fromUtf8("10001|sdate|二〇二四")});
    ds.Append();
    ds.FieldByName("rpt_id")->SetAsString("10001");
    ds.FieldByName("params_item")->SetAsString("zz");
    ds.Post();
    ds.First();
    ds.Delete();
    QCOMPARE(cat.rows("rpt_id='10001'"), (QStringList{"10001|edate|2024/01/31", "10001|zz|"}));
}

void TestAdo::batchStaysLocalUntilUpdateBatch()
{
    Catalogue cat;
    const QStringList before = cat.rows();
    TADOConnection c(nullptr, "ADOConnection1");
    cat.connect(c);
    TADODataSet ds(nullptr, "ADODataSet2");
    setUp(ds, c, ltBatchOptimistic);
    ds.Edit();
    ds.FieldByName("default_value")->SetAsString("2025/01/01");
    ds.Post();
    ds.Last();
    ds.Delete();
    ds.Append();
    ds.FieldByName("rpt_id")->SetAsString("10001");
    ds.FieldByName("params_item")->SetAsString("store");
    // Left open on purpose: UpdateBatch posts a changed edit itself.
    QCOMPARE(cat.rows(), before);
    ds.UpdateBatch(arAll);
    QCOMPARE(ds.State(), dsBrowse);
    QVERIFY(!ds.HasPendingUpdates());
    QCOMPARE(cat.rows("rpt_id='10001'"), (QStringList{"10001|sdate|2025/01/01", "10001|store|"}));

    // An untouched open edit is cancelled, and nothing is written.
    ds.Edit();
    ds.UpdateBatch(arAll);
    QCOMPARE(ds.State(), dsBrowse);
    QCOMPARE(cat.rows("rpt_id='10001'"), (QStringList{"10001|sdate|2025/01/01", "10001|store|"}));
}

void TestAdo::failingBatchWritesNothingAndStaysPending()
{
    Catalogue cat;
    cat.exec({"CREATE TRIGGER refuse BEFORE INSERT ON RPT_SUB WHEN NEW.params_item = 'bad' "
              "BEGIN SELECT RAISE(ABORT, 'refused by the catalogue'); END"});
    const QStringList before = cat.rows();
    TADOConnection c(nullptr, "ADOConnection1");
    cat.connect(c);
    TADODataSet ds(nullptr, "ADODataSet2");
    setUp(ds, c, ltBatchOptimistic);
    ds.First();
    ds.Delete();                                   // would succeed on its own
    ds.Edit();
    ds.FieldByName("default_value")->SetAsString("changed");
    ds.Post();                                     // would succeed on its own
    ds.Append();
    ds.FieldByName("rpt_id")->SetAsString("10001");
    ds.FieldByName("params_item")->SetAsString("bad");
    ds.Post();                                     // refused
    try {
        ds.UpdateBatch(arAll);
        QFAIL("the batch was accepted");
    } catch (const EDatabaseError &e) {
        QVERIFY2(e.message().contains("refused by the catalogue"), qPrintable(e.message()));
    }
    QCOMPARE(cat.rows(), before);
    QVERIFY(ds.HasPendingUpdates());

    // Mend the refused row and try again: everything arrives once.
    ds.Last();
    ds.Edit();
    ds.FieldByName("params_item")->SetAsString("good");
    ds.Post();
    ds.UpdateBatch(arAll);
    QCOMPARE(cat.rows("rpt_id='10001'"), (QStringList{"10001|edate|changed", "10001|good|"}));
}

void TestAdo::concurrentChangeIsDetected()
{
    Catalogue cat;
    TADOConnection c1(nullptr, "ADOConnection1"), c2(nullptr, "ADOConnection2");
    cat.connect(c1);
    cat.connect(c2);
    TADODataSet mine(nullptr, "ADODataSet2"), theirs(nullptr, "Other");
    setUp(mine, c1, ltBatchOptimistic);
    setUp(theirs, c2, ltOptimistic);
    theirs.Edit();
    theirs.FieldByName("default_value")->SetAsString("theirs");
    theirs.Post();
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
    QCOMPARE(cat.rows("params_item='sdate'"), QStringList{"10001|sdate|theirs"});
}

void TestAdo::duplicateRowsAreNotGuessed()
{
    Catalogue cat;
    cat.exec({"INSERT INTO RPT_SUB VALUES ('10001','sdate','2024/01/01',8)"});
    TADOConnection c(nullptr, "ADOConnection1");
    cat.connect(c);
    TADODataSet ds(nullptr, "ADODataSet2");
    setUp(ds, c, ltOptimistic);
    ds.First();
    ds.Edit();
    ds.FieldByName("default_value")->SetAsString("only one");
    QVERIFY_THROWS_EXCEPTION(EDatabaseError, ds.Post());
    QCOMPARE(ds.State(), dsEdit); // the post did not happen
    QCOMPARE(cat.rows("params_item='sdate'"), (QStringList{"10001|sdate|2024/01/01", "10001|sdate|2024/01/01"}));
}

void TestAdo::closeDropsPendingChanges()
{
    Catalogue cat;
    const QStringList before = cat.rows();
    TADOConnection c(nullptr, "ADOConnection1");
    cat.connect(c);
    TADODataSet ds(nullptr, "ADODataSet2");
    setUp(ds, c, ltBatchOptimistic);
    ds.Delete();
    ds.Close();
    ds.Open();
    ds.UpdateBatch();
    QCOMPARE(ds.RecordCount(), 2);
    QCOMPARE(cat.rows(), before);
}

void TestAdo::dataLinkFileOpensSqlite()
{
    Catalogue cat;
    // Windows writes data-link files as UTF-16LE with a byte-order mark; the path is
    // relative to the file's folder.
    const QString udl = cat.dir.filePath("Rpt.udl");
    QFile f(udl);
    QVERIFY(f.open(QIODevice::WriteOnly));
    const QString text = "[oledb]\r\n; Everything after this line is an OLE DB initstring\r\n"
                         "Provider=SQLite;Data Source=cat.db\r\n";
    f.write("\xFF\xFE");
    f.write(reinterpret_cast<const char *>(text.utf16()), text.size() * 2);
    f.close();
    TADOConnection c(nullptr, "ADOConnection1");
    c.SetConnectionString("FILE NAME=" + udl);
    c.Open();
    TADODataSet ds(nullptr, "ADODataSet2");
    setUp(ds, c, ltBatchOptimistic);
    QCOMPARE(ds.RecordCount(), 2);

    TADOConnection missing(nullptr, "ADOConnection1");
    missing.SetConnectionString("FILE NAME=" + cat.dir.filePath("nope.udl"));
    try {
        missing.Open();
        QFAIL("opened");
    } catch (const Exception &e) {
        QVERIFY2(e.message().contains("nope.udl"), qPrintable(e.message()));
    }
    QVERIFY(!missing.Connected());
}

QTEST_GUILESS_MAIN(TestAdo)
#include "tst_ado.moc"
