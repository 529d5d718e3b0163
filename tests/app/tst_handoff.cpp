// The preview and print commands: the hand-off files, the module call, and the end of
// the program in every case.
#include "LauncherWorld.h"

#include "platform/cds/CdsFile.h"
#include "platform/forms/Buttons.h"
#include "platform/forms/Form.h"
#include "platform/text/IniFile.h"

#include <dlfcn.h>
#include <link.h>

using namespace rpt;
using world::World;

namespace {

const QString kByRange =
    "select sale_date, store, amount from sales where sale_date between :sdate and :edate order by sale_date";

QList<world::Report> reports(const QString &dir)
{
    return {{"A", "10001", "Sales", kByRange, "1", dir + "/sales.rtm", "foot"},
            {"A", "10002", "Stores", "select store_no, STORE_NAME from store_choise", "2", dir + "/stores.rtm", ""}};
}

QList<world::Param> params()
{
    return {{"10001", "sdate", "", "", "2024-01-01"}, {"10001", "edate", "", "", "2024-12-31"}};
}

// A shared library that is not a module: it has no ShowForm.
QString libraryWithoutShowForm()
{
    void *h = dlopen("libm.so.6", RTLD_NOW);
    link_map *map = nullptr;
    dlinfo(h, RTLD_DI_LINKMAP, &map);
    return QString::fromLocal8Bit(map->l_name);
}

} // namespace

class TestHandOff : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { m_app = std::make_unique<TApplication>(); }
    void filesAreWrittenAndTheProgramEnds();
    void secondRunReplacesTheDataFiles();
    void missingModule();
    void previewAfterChoosingAnotherReport();
    void autoRunPrintsToPdf();

private:
    std::unique_ptr<TApplication> m_app;
};

void TestHandOff::filesAreWrittenAndTheProgramEnds()
{
    World w(reports(QString()), params());
    QFile::remove(w.catalogue);
    w.catalogue = fixtures::makeCatalogue(w.dir.path(), reports(w.dir.path()), params());
    w.business();
    w.module("RptPrint.so", libraryWithoutShowForm());
    {
        // Sections of its own that the launcher must keep.
        TIniFile ini(w.dir.filePath("rpttemp.ini"));
        ini.WriteString("print", "pdf", "/somewhere/else.pdf");
        ini.WriteString("rpttemp", "path", "old");
        ini.WriteString("rpttemp", "extra", "kept");
    }
    TFormRptDlg *f = w.start({"A"});
    guarded([&] { f->SpeedButton4Click(f->SpeedButton4); }); // no query yet: it runs first
    QVERIFY2(w.errors.isEmpty(), qPrintable(w.errors.join('\n')));
    QVERIFY(f->IsClosed());
    QCOMPARE(f->WindowState(), wsNormal); // print does not minimise

    TIniFile ini(w.dir.filePath("rpttemp.ini"));
    QCOMPARE(ini.ReadString("rpttemp", "path", ""), w.dir.filePath("sales.rtm"));
    QCOMPARE(ini.ReadString("rpttemp", "tempfile", ""), w.dir.filePath("temp.cds"));
    QCOMPARE(ini.ReadString("rpttemp", "tempfile2", ""), w.dir.filePath("temp2.cds"));
    QCOMPARE(ini.ReadString("rpttemp", "extra", ""), QString("kept"));
    QCOMPARE(ini.ReadString("print", "pdf", ""), QString("/somewhere/else.pdf"));

    const cds::CdsTable rows = cds::readFile(w.dir.filePath("temp.cds"));
    QCOMPARE(rows.fieldDefs.size(), 3);
    QCOMPARE(int(rows.rows.size()), 2);
    QCOMPARE(rows.rows[1][2].value<Decimal>().toString(), QString("20.25"));
    const cds::CdsTable head = cds::readFile(w.dir.filePath("temp2.cds"));
    QCOMPARE(head.fieldDefs.size(), 26);
    QCOMPARE(head.fieldDefs[13].DataType, ftMemo);
    QCOMPARE(int(head.rows.size()), 1);
    QCOMPARE(head.rows[0][2].toString(), QString("2024-12-31"));
    QCOMPARE(head.rows[0][13].toString(), QString("foot"));
}

void TestHandOff::secondRunReplacesTheDataFiles()
{
    World w(reports(QString()), params());
    w.business();
    w.module("RptPrint.so", libraryWithoutShowForm());
    for (const char *name : {"temp.cds", "temp2.cds"}) {
        QFile stale(w.dir.filePath(name));
        QVERIFY(stale.open(QIODevice::WriteOnly));
        stale.write("left over from the last run");
    }
    TFormRptDlg *f = w.start({"A"});
    guarded([&] { f->SpeedButton4Click(f->SpeedButton4); });
    QVERIFY(w.errors.isEmpty());
    QCOMPARE(int(cds::readFile(w.dir.filePath("temp.cds")).rows.size()), 2);
    QCOMPARE(int(cds::readFile(w.dir.filePath("temp2.cds")).rows.size()), 1);
}

void TestHandOff::missingModule()
{
    World w(reports(QString()), params());
    w.business();
    TFormRptDlg *f = w.start({"A"});
    guarded([&] { f->SpeedButton2Click(f->SpeedButton2); });
    QCOMPARE(w.errors, QStringList{"Unable to Load DLL."});
    QVERIFY(f->IsClosed()); // the program ends all the same
    QVERIFY(QFile::exists(w.dir.filePath("temp.cds")));
}

void TestHandOff::previewAfterChoosingAnotherReport()
{
    World w(reports(QString()), params());
    QFile::remove(w.catalogue);
    w.catalogue = fixtures::makeCatalogue(w.dir.path(), reports(w.dir.path()), params());
    w.business();
    w.module("RptPreview.so", libraryWithoutShowForm());
    TFormRptDlg *f = w.start({"A"});
    f->SpeedButton1Click(f->SpeedButton1);
    f->ADODataSet1->Next();
    guarded([&] { f->SpeedButton2Click(f->SpeedButton2); });
    QVERIFY2(w.errors.isEmpty(), qPrintable(w.errors.join('\n')));
    // The template is the newly chosen report's; the data are the result that was held.
    QCOMPARE(TIniFile(w.dir.filePath("rpttemp.ini")).ReadString("rpttemp", "path", ""), w.dir.filePath("stores.rtm"));
    const cds::CdsTable rows = cds::readFile(w.dir.filePath("temp.cds"));
    QCOMPARE(rows.fieldDefs[0].Name.toUpper(), QString("SALE_DATE"));
}

void TestHandOff::autoRunPrintsToPdf()
{
    World w(reports(QString()), params());
    w.business();
    w.module("RptPrint.so", World::builtModule("RptPrint.so"));
    const QString pdf = w.dir.filePath("out.pdf");
    TIniFile(w.dir.filePath("rpttemp.ini")).WriteString("print", "pdf", pdf);
    // The template does not exist: the print goes ahead with the built-in layout.
    TFormRptDlg *f = w.start({"A", "", "auto"});
    QVERIFY2(w.errors.isEmpty(), qPrintable(w.errors.join('\n')));
    QVERIFY(f->IsClosed());
    QFile out(pdf);
    QVERIFY(out.open(QIODevice::ReadOnly));
    QVERIFY(out.read(5) == "%PDF-");
}

QTEST_MAIN(TestHandOff)
#include "tst_handoff.moc"
