// Start-up, the report list and the catalogue rules of the main window, on real SQLite
// catalogues.
#include "LauncherWorld.h"

#include "platform/forms/Buttons.h"
#include "platform/forms/DBGrid.h"
#include "platform/forms/Form.h"

using namespace rpt;
using world::World;

namespace {

QList<world::Report> threeReports(const QString &tempDir = QString())
{
    // rpt_order is text: "10" sorts before "9".
    return {{"A", "10001", "Nine", "select 1 from rdb$database", "9", tempDir + "/nine.rtm", ""},
            {"A", "10002", "Ten", "select cast(:a as varchar(20)) as a, cast(:B as varchar(20)) as b from rdb$database",
             "10", tempDir + "/ten.rtm", ""},
            {"B", "10003", "Other", "select 1 from rdb$database", "1", tempDir + "/ten.rtm", ""}};
}

QList<world::Param> params()
{
    return {{"10001", "only", QString::fromUtf8("唯一"), "", "stored"},
            {"10002", "a", "A", "", "a-stored"},
            {"10002", "b", "B", "", "b-stored"}};
}

} // namespace

class TestLauncher : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { m_app = std::make_unique<TApplication>(); }
    void startupListsTheIndex();
    void autoSwitchIsExact_data();
    void autoSwitchIsExact();
    void missingDataLinkLeavesAnEmptyWindow();
    void singleParameterPreset();
    void numberingIsGlobal();
    void numberingLimits_data();
    void numberingLimits();
    void savingWritesParametersThenDefinition();
    void abandonedNewDefinitionLeavesNoParameters();
    void deleteAsksAndKeepsSharedTemplates();
    void failingBatchWritesNothing();
    void enterMovesToTheNextValue();

private:
    std::unique_ptr<TApplication> m_app;
};

void TestLauncher::startupListsTheIndex()
{
    World w(threeReports(), params());
    TFormRptDlg *f = w.start({"A"});
    QVERIFY(w.errors.isEmpty());
    QCOMPARE(world::column(f->ADODataSet1, "rpt_name"), (QStringList{"Ten", "Nine"}));
    QCOMPARE(world::column(f->ADODataSet2, "params_item"), (QStringList{"a", "b"}));
    f->ADODataSet1->Next(); // every move reloads the parameters
    QCOMPARE(world::column(f->ADODataSet2, "params_item"), QStringList{"only"});
    QCOMPARE(f->ADODataSet1->FieldByName("rpt_name")->DisplayLabel(), QString::fromUtf8("報表名稱"));

    // The header record: open, 26 fields, Field13 a memo, no record yet.
    QVERIFY(f->CDS->Active());
    QCOMPARE(f->CDS->FieldCount(), 26);
    QCOMPARE(f->CDS->RecordCount(), 0);
    for (int i = 0; i < 26; ++i) {
        QCOMPARE(f->CDS->Fields(i)->FieldName(), QString("Field%1").arg(i));
        QCOMPARE(f->CDS->Fields(i)->DataType(), i == 13 ? ftMemo : ftString);
        QCOMPARE(f->CDS->Fields(i)->Size(), i == 13 ? 0 : 50);
    }

    World none(threeReports(), params());
    TFormRptDlg *g = none.start({});
    QVERIFY(g->ADODataSet1->IsEmpty()); // no index given: no definition has an empty one
    QVERIFY(g->ADODataSet2->IsEmpty());
}

void TestLauncher::autoSwitchIsExact_data()
{
    QTest::addColumn<QString>("sw");
    QTest::addColumn<bool>("prints");
    QTest::newRow("auto") << "auto" << true;
    QTest::newRow("Auto") << "Auto" << false;
    QTest::newRow("trailing blank") << "auto " << false;
    QTest::newRow("none") << "" << false;
}

void TestLauncher::autoSwitchIsExact()
{
    QFETCH(QString, sw);
    QFETCH(bool, prints);
    World w(threeReports(), params());
    w.business();
    // No print module here: an auto run reports it and the window closes.
    TFormRptDlg *f = w.start({"A", "", sw});
    QCOMPARE(w.errors, prints ? QStringList{"Unable to Load DLL."} : QStringList{});
    QCOMPARE(f->IsClosed(), prints);
    QCOMPARE(QFile::exists(w.dir.filePath("temp.cds")), prints);
}

void TestLauncher::missingDataLinkLeavesAnEmptyWindow()
{
    World w(threeReports(), params());
    QFile::remove(w.dir.filePath("Rpt.udl"));
    TFormRptDlg *f = w.start({"A", "", "auto"});
    QCOMPARE(w.errors.size(), 1);
    QVERIFY2(w.errors[0].contains("Rpt.udl"), qPrintable(w.errors[0]));
    QVERIFY(!f->IsClosed()); // no auto print after a failed start
    QVERIFY(!f->ADODataSet1->Active());
    QCOMPARE(f->CDS->FieldCount(), 0);
    // A query afterwards fails with the data layer's error instead of crashing.
    guarded([&] { f->SpeedButton1Click(f->SpeedButton1); });
    QCOMPARE(w.errors.size(), 2);

    World broken(threeReports(), params());
    fixtures::writeUdl(broken.dir.path(), "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=x.mdb");
    broken.start({"A"});
    QCOMPARE(broken.errors.size(), 1);
    QVERIFY2(broken.errors[0].contains("Microsoft.Jet.OLEDB.4.0"), qPrintable(broken.errors[0]));
}

void TestLauncher::singleParameterPreset()
{
    World w(threeReports(), params());
    TFormRptDlg *f = w.start({"A", "2024/01"});
    // "Ten" has two parameters: they keep their stored values.
    QCOMPARE(world::column(f->ADODataSet2, "default_value"), (QStringList{"a-stored", "b-stored"}));
    f->ADODataSet1->Next();
    QCOMPARE(f->ADODataSet2->State(), dsEdit); // the preset is an unposted edit
    QCOMPARE(f->ADODataSet2->FieldByName("default_value")->AsString(), QString("2024/01"));
    // Moving away and back reloads it; nothing reached the catalogue.
    f->ADODataSet1->Prior();
    f->ADODataSet1->Next();
    QCOMPARE(f->ADODataSet2->FieldByName("default_value")->AsString(), QString("2024/01"));
    QCOMPARE(fixtures::sqliteRows(w.catalogue, "select default_value from RPT_SUB where rpt_id='10001'"),
             QStringList{"stored"});
}

void TestLauncher::numberingIsGlobal()
{
    World w(threeReports(), params());
    TFormRptDlg *f = w.start({"A"});
    QCOMPARE(f->NextReportNumber(), QString("10004")); // 10003 lives under index B
    World empty({}, {});
    TFormRptDlg *g = empty.start({"A"});
    g->ADODataSet1->Insert();
    QCOMPARE(g->ADODataSet1->FieldByName("rpt_id")->AsString(), QString("10001"));
    QCOMPARE(g->ADODataSet1->FieldByName("rpt_index")->AsString(), QString("A"));
}

void TestLauncher::numberingLimits_data()
{
    QTest::addColumn<QString>("top");
    QTest::addColumn<QString>("error");
    QTest::newRow("99999 has no five-digit successor") << "99999" << QString::fromUtf8("報表代號已用到 99999，無法再新增報表");
    QTest::newRow("not a number") << "1000A" << "'1000A' is not a valid integer value";
}

void TestLauncher::numberingLimits()
{
    QFETCH(QString, top);
    QFETCH(QString, error);
    World w({{"A", top, "Top", "", "1", "", ""}}, {});
    TFormRptDlg *f = w.start({"A"});
    bool editorOpened = false;
    f->ShowEditor = [&] { editorOpened = true; };
    try {
        f->N1Click(nullptr);
        QFAIL("a new definition was started");
    } catch (const Exception &e) {
        QCOMPARE(e.message(), error);
    }
    QVERIFY(!editorOpened);
    QCOMPARE(f->ADODataSet1->State(), dsBrowse);
    QCOMPARE(f->ADODataSet1->RecordCount(), 1);
}

void TestLauncher::savingWritesParametersThenDefinition()
{
    World w(threeReports(), params());
    // The catalogue refuses a definition whose parameters are not there yet.
    fixtures::sqliteExec(w.catalogue, {"CREATE TRIGGER order_check BEFORE INSERT ON RPT_MASTER "
                                       "WHEN (SELECT COUNT(*) FROM RPT_SUB WHERE rpt_id = NEW.rpt_id) = 0 "
                                       "BEGIN SELECT RAISE(ABORT, 'parameters first'); END"});
    TFormRptDlg *f = w.start({"A"});
    f->ShowEditor = [f] {
        f->ADODataSet1->FieldByName("rpt_name")->SetAsString(QString::fromUtf8("新報表"));
        f->ADODataSet1->FieldByName("rpt_order")->SetAsString("5");
        f->ADODataSet2->Append();
        f->ADODataSet2->FieldByName("params_item")->SetAsString("p1");
        f->ADODataSet2->FieldByName("default_value")->SetAsString("v1");
        f->ADODataSet1->Post();
    };
    f->N1Click(nullptr);
    QCOMPARE(fixtures::sqliteRows(w.catalogue, "select rpt_index, rpt_name from RPT_MASTER where rpt_id='10004'"),
             QStringList{QString::fromUtf8("A|新報表")});
    QCOMPARE(fixtures::sqliteRows(w.catalogue, "select params_item, default_value from RPT_SUB where rpt_id='10004'"),
             QStringList{"p1|v1"});
    QCOMPARE(f->ADODataSet1->State(), dsBrowse);
}

void TestLauncher::abandonedNewDefinitionLeavesNoParameters()
{
    World w(threeReports(), params());
    TFormRptDlg *f = w.start({"A"});
    f->ShowEditor = [f] {
        for (const char *item : {"p1", "p2"}) {
            f->ADODataSet2->Append();
            f->ADODataSet2->FieldByName("params_item")->SetAsString(item);
            f->ADODataSet2->Post();
        }
        f->ADODataSet2->Delete(); // writes every pending parameter change at once
        f->ADODataSet1->Cancel();
    };
    f->N1Click(nullptr);
    QCOMPARE(fixtures::sqliteRows(w.catalogue, "select count(*) from RPT_SUB where rpt_id='10004'"), QStringList{"0"});
    // The next new definition takes the same number and inherits nothing.
    f->ShowEditor = [f] {
        QCOMPARE(f->ADODataSet1->FieldByName("rpt_id")->AsString(), QString("10004"));
        QVERIFY(f->ADODataSet2->IsEmpty());
        f->ADODataSet1->Cancel();
    };
    f->N1Click(nullptr);
    // Rows of a stored definition are never touched by a cancel.
    f->ShowEditor = [f] { f->ADODataSet1->Cancel(); };
    f->N2Click(nullptr);
    QCOMPARE(fixtures::sqliteRows(w.catalogue, "select count(*) from RPT_SUB where rpt_id='10002'"), QStringList{"2"});
}

void TestLauncher::deleteAsksAndKeepsSharedTemplates()
{
    World w(threeReports(), params());
    // Re-make the catalogue with template paths in the world's folder.
    QFile::remove(w.catalogue);
    w.catalogue = fixtures::makeCatalogue(w.dir.path(), threeReports(w.dir.path()), params());
    for (const char *name : {"nine.rtm", "ten.rtm"}) {
        QFile t(w.dir.filePath(name));
        QVERIFY(t.open(QIODevice::WriteOnly));
    }
    TFormRptDlg *f = w.start({"A"});

    w.answers = {mrNo};
    f->N3Click(nullptr);
    QCOMPARE(w.questions, QStringList{QString::fromUtf8("確定刪除該張報表. now?")});
    QCOMPARE(f->ADODataSet1->RecordCount(), 2);

    // "Ten" goes with its parameters; its template stays because "Other" still uses it.
    w.answers = {mrYes};
    f->N3Click(nullptr);
    QCOMPARE(fixtures::sqliteRows(w.catalogue, "select rpt_name from RPT_MASTER order by rpt_id"), (QStringList{"Nine", "Other"}));
    QCOMPARE(fixtures::sqliteRows(w.catalogue, "select count(*) from RPT_SUB where rpt_id='10002'"), QStringList{"0"});
    QVERIFY(QFile::exists(w.dir.filePath("ten.rtm")));
    QCOMPARE(world::column(f->ADODataSet2, "params_item"), QStringList{"only"}); // reloaded for "Nine"

    // The last one: rows and its own template go; the list and parameters are empty.
    w.answers = {mrYes};
    f->N3Click(nullptr);
    QVERIFY(!QFile::exists(w.dir.filePath("nine.rtm")));
    QVERIFY(f->ADODataSet1->IsEmpty());
    QVERIFY(f->ADODataSet2->IsEmpty());

    // Confirmed on an empty list: the data layer's message.
    w.answers = {mrYes};
    try {
        f->N3Click(nullptr);
        QFAIL("deleted from an empty list");
    } catch (const EDatabaseError &e) {
        QCOMPARE(e.message(), QString("ADODataSet1: Cannot perform this operation on an empty dataset"));
    }
}

void TestLauncher::failingBatchWritesNothing()
{
    World w(threeReports(), params());
    fixtures::sqliteExec(w.catalogue, {"CREATE TRIGGER refuse BEFORE UPDATE ON RPT_SUB WHEN NEW.default_value = 'bad' "
                                       "BEGIN SELECT RAISE(ABORT, 'refused'); END"});
    TFormRptDlg *f = w.start({"A"});
    f->ShowEditor = [f] {
        f->ADODataSet1->FieldByName("rpt_name")->SetAsString("Renamed");
        f->ADODataSet2->First();
        f->ADODataSet2->Edit();
        f->ADODataSet2->FieldByName("default_value")->SetAsString("good");
        f->ADODataSet2->Next();
        f->ADODataSet2->Edit();
        f->ADODataSet2->FieldByName("default_value")->SetAsString("bad");
        f->ADODataSet1->Post();
    };
    try {
        f->N2Click(nullptr);
        QFAIL("the refused batch passed");
    } catch (const EDatabaseError &e) {
        QVERIFY2(e.message().contains("refused"), qPrintable(e.message()));
    }
    QCOMPARE(f->ADODataSet1->State(), dsEdit); // the definition was not posted
    QCOMPARE(fixtures::sqliteRows(w.catalogue, "select default_value from RPT_SUB where rpt_id='10002' order by params_item"),
             (QStringList{"a-stored", "b-stored"}));
    QCOMPARE(fixtures::sqliteRows(w.catalogue, "select rpt_name from RPT_MASTER where rpt_id='10002'"), QStringList{"Ten"});
}

void TestLauncher::enterMovesToTheNextValue()
{
    World w(threeReports(), params());
    TFormRptDlg *f = w.start({"A"});
    f->show();
    QVERIFY(QTest::qWaitForWindowExposed(f));
    TDBGrid *grid = f->zebdbgrid2;
    grid->setFocus();
    grid->SetSelectedIndex(1); // the value column
    QTest::keyClicks(grid->focusWidget(), "x");
    QTest::keyClick(grid->focusWidget(), Qt::Key_Return);
    // The Tab the handler posts arrives after the grid has finished with the Enter.
    QTRY_COMPARE(f->ADODataSet2->RecNo(), 2);
    QCOMPARE(grid->SelectedIndex(), 1);
    QCOMPARE(f->ADODataSet2->RowValue(0, 4).toString(), QString("x")); // typed value kept (posted locally)
    QVERIFY(w.errors.isEmpty());
}

QTEST_MAIN(TestLauncher)
#include "tst_launcher.moc"
