// RptPrint.so and RptPreview.so as the launcher uses them: hand-off files in a folder,
// the module copied next to them, loaded with dlopen and ShowForm called. Also the
// hand-off reading and the preview window on their own.

#include "modules/ReportFixtures.h"
#include "modules/preview/PreviewDialog.h"
#include "modules/report/HandOff.h"
#include "platform/cds/CdsFile.h"

#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QMessageBox>
#include <QPrinterInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTimer>
#include <QtTest>

#include <dlfcn.h>
#include <unistd.h>

#include <functional>

using namespace rpt;
using namespace rpt::report;
using namespace rpt::report::fixtures;

namespace {

int pdfPageCount(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    static const QRegularExpression page(QStringLiteral("/Type\\s*/Page(?!s)"));
    return int(QString::fromLatin1(f.readAll()).count(page));
}

QString pdfText(const QString &path)
{
    const QString tool = QStandardPaths::findExecutable(QStringLiteral("pdftotext"));
    if (tool.isEmpty())
        return QString();
    QProcess p;
    p.start(tool, {path, QStringLiteral("-")});
    p.waitForFinished(60000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

// What a call wrote on stderr.
QString captureStderr(const std::function<void()> &call)
{
    std::fflush(stderr);
    QTemporaryFile file;
    if (!file.open())
        qFatal("no temporary file");
    const int saved = dup(2);
    dup2(file.handle(), 2);
    call();
    std::fflush(stderr);
    dup2(saved, 2);
    close(saved);
    file.seek(0);
    return QString::fromUtf8(file.readAll());
}

void writeTable(const QString &path, const TFieldDefs &fields, const std::vector<QVector<QVariant>> &rows)
{
    cds::CdsTable t;
    t.fieldDefs = fields;
    t.rows = rows;
    cds::writeFile(path, t);
}

// A folder laid out as the launcher leaves it, with a module copied in.
class HandOffFolder {
public:
    HandOffFolder() { QVERIFY(m_dir.isValid()); }
    QString path(const QString &name) const { return m_dir.filePath(name); }

    void writeData(const ReportData &d)
    {
        writeTable(path(QStringLiteral("temp.cds")), d.columns, d.rows);
        writeTable(path(QStringLiteral("temp2.cds")), d.headerFields, {d.header});
    }
    void writeIni(const QString &templatePath, const QString &extra = QString())
    {
        QFile f(path(QStringLiteral("rpttemp.ini")));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QStringLiteral("[rpttemp]\r\npath=%1\r\ntempfile=%2\r\ntempfile2=%3\r\n%4")
                    .arg(templatePath, path(QStringLiteral("temp.cds")), path(QStringLiteral("temp2.cds")), extra)
                    .toUtf8());
    }
    void writeTemplate(const QString &name, const QByteArray &json)
    {
        QFile f(path(name));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(json);
    }
    // Copies the module here and calls its ShowForm; returns what it wrote on stderr.
    QString callModule(const QString &module)
    {
        const QString built = QCoreApplication::applicationDirPath() + u'/' + module;
        if (!QFile::exists(built))
            qFatal("%s is not built next to the tests", qPrintable(built));
        const QString copy = path(module);
        QFile::remove(copy);
        if (!QFile::copy(built, copy))
            qFatal("cannot copy %s", qPrintable(built));
        void *handle = dlopen(QFile::encodeName(copy).constData(), RTLD_NOW | RTLD_LOCAL);
        if (!handle)
            qFatal("dlopen: %s", dlerror());
        auto showForm = reinterpret_cast<void (*)()>(dlsym(handle, "ShowForm"));
        if (!showForm)
            qFatal("no ShowForm in %s", qPrintable(module));
        const QString err = captureStderr(showForm);
        dlclose(handle);
        return err;
    }
    int expectedPages() const
    {
        return prepareReport(readHandOffFile(path(QStringLiteral("rpttemp.ini"))))->pageCount();
    }

private:
    QTemporaryDir m_dir;
};

// Closes every modal window that turns up and remembers what it showed.
class ModalWatcher : public QObject {
public:
    QStringList seen;
    ModalWatcher()
    {
        connect(&m_timer, &QTimer::timeout, this, [this] {
            for (QWidget *w : QApplication::topLevelWidgets()) {
                auto *d = qobject_cast<QDialog *>(w);
                if (!d || !d->isVisible())
                    continue;
                QString what = d->windowTitle();
                const QVariant text = d->property("text");
                if (text.isValid())
                    what += u'|' + text.toString();
                what += u'|' + QString::fromLatin1(d->metaObject()->className());
                seen << what;
                d->reject();
            }
        });
        m_timer.start(100);
    }

private:
    QTimer m_timer;
};

const char *kTemplate = R"({
  "rtm": 1,
  "title": [{"text": "每日銷售彙總表", "align": "center", "size": 16, "bold": true}],
  "pageHeader": [{"left": "門市：{Field11}", "right": "期間：{Field1} ~ {Field2}"}],
  "columns": [
    {"field": "SALE_DATE", "caption": "營業日", "width": 30},
    {"field": "AMOUNT", "caption": "銷售金額", "width": 40, "thousands": true, "total": "sum"}
  ]
})";

} // namespace

class TestModules : public QObject {
    Q_OBJECT

private slots:
    // ---- hand-off files ----------------------------------------------------------

    void handOffReadsTheWindowsRules()
    {
        QTemporaryDir dir;
        QFile f(dir.filePath(QStringLiteral("rpttemp.ini")));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("[other]\r\nx=1\r\n[RPTTEMP]\r\nPATH = \"templates/daily.rtm\"\r\nTempFile=  temp.cds  \r\n"
                "tempfile2=/abs/temp2.cds\r\n[Print]\r\nPrinter=Front Desk\r\ncopies=2\r\n");
        f.close();
        const HandOff h = readHandOffFile(f.fileName());
        QCOMPARE(h.templatePath, dir.filePath(QStringLiteral("templates/daily.rtm")));
        QCOMPARE(h.rowsPath, dir.filePath(QStringLiteral("temp.cds")));
        QCOMPARE(h.headerPath, QStringLiteral("/abs/temp2.cds"));
        QCOMPARE(h.printer, QStringLiteral("Front Desk"));
        QCOMPARE(h.copyCount(), 2);
        QCOMPARE(QDir(h.outputDirectory()), QDir(dir.path()));
    }

    void copies_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("copies");
        QTest::addColumn<bool>("warned");
        QTest::newRow("absent") << "" << 1 << false;
        QTest::newRow("three") << "3" << 3 << false;
        QTest::newRow("zero") << "0" << 1 << true;
        QTest::newRow("negative") << "-2" << 1 << true;
        QTest::newRow("words") << "two" << 1 << true;
        QTest::newRow("absurd") << "100000" << 1 << true;
    }
    void copies()
    {
        QFETCH(QString, text);
        QFETCH(int, copies);
        QFETCH(bool, warned);
        HandOff h;
        h.copies = text;
        QString warning;
        QCOMPARE(h.copyCount(&warning), copies);
        QCOMPARE(!warning.isEmpty(), warned);
    }

    // ---- RptPrint.so -------------------------------------------------------------

    void printToConfiguredPdf_data()
    {
        QTest::addColumn<QString>("printSection");  // %1 = the folder
        QTest::addColumn<QString>("pdfName");
        QTest::addColumn<QString>("said");
        QTest::addColumn<bool>("needsNoPrinter");

        QTest::newRow("pdf key, absolute") << "[print]\r\npdf=%1/out.pdf\r\n" << "out.pdf" << "報表已存成 PDF" << false;
        QTest::newRow("pdf key, relative to the ini") << "[Print]\r\nPDF=sub.pdf\r\ncopies=x\r\n" << "sub.pdf"
                                                      << "sub.pdf" << false;
        QTest::newRow("no printer anywhere") << "" << "report.pdf" << "沒有可用的印表機" << true;
        QTest::newRow("named printer missing") << "[print]\r\nprinter=No Such Printer\r\n" << "report.pdf"
                                               << "找不到印表機「No Such Printer」" << true;
    }
    void printToConfiguredPdf()
    {
        QFETCH(QString, printSection);
        QFETCH(QString, pdfName);
        QFETCH(QString, said);
        QFETCH(bool, needsNoPrinter);
        if (needsNoPrinter && !QPrinterInfo::availablePrinters().isEmpty())
            QSKIP("this machine has printers; the PDF fallback is not reachable");

        HandOffFolder folder;
        folder.writeData(salesByDay(120));
        folder.writeTemplate(QStringLiteral("sales.rtm"), kTemplate);
        printSection.replace(QStringLiteral("%1"), folder.path(QString()));
        folder.writeIni(folder.path(QStringLiteral("sales.rtm")), printSection);
        const QString err = folder.callModule(QStringLiteral("RptPrint.so"));

        const QString pdf = folder.path(pdfName);
        QVERIFY2(QFile::exists(pdf), qPrintable(err));
        QVERIFY2(err.contains(said), qPrintable(err));
        QVERIFY2(err.contains(pdf), qPrintable(err));
        const int pages = folder.expectedPages();
        QVERIFY(pages >= 3);
        QCOMPARE(pdfPageCount(pdf), pages);
        const QString text = pdfText(pdf);
        if (!text.isEmpty()) {
            QVERIFY(text.contains(QStringLiteral("每日銷售彙總表")));
            QVERIFY(text.contains(QStringLiteral("台北忠孝門市")));
        }
    }

    void printWithoutTemplateStillPrints()
    {
        HandOffFolder folder;
        folder.writeData(salesByDay(20));
        folder.writeIni(folder.path(QStringLiteral("missing.rtm")), QStringLiteral("[print]\r\npdf=out.pdf\r\n"));
        const QString err = folder.callModule(QStringLiteral("RptPrint.so"));
        const QString pdf = folder.path(QStringLiteral("out.pdf"));
        QVERIFY2(QFile::exists(pdf), qPrintable(err));
        QCOMPARE(pdfPageCount(pdf), 1);
        const QString text = pdfText(pdf);
        if (text.isEmpty())
            QSKIP("pdftotext not installed: notice text not checked");
        QVERIFY2(text.contains(QStringLiteral("無法使用報表範本")), qPrintable(text));
        QVERIFY(text.contains(QStringLiteral("missing.rtm")));
    }

    void printFailuresAreReported_data()
    {
        QTest::addColumn<QString>("breakage");
        QTest::addColumn<QString>("said");
        QTest::newRow("no rpttemp.ini") << "no ini" << "找不到交接檔 rpttemp.ini";
        QTest::newRow("ini without the section") << "no section" << "沒有 [rpttemp] 段落";
        QTest::newRow("result rows missing") << "no rows" << "無法讀取查詢結果";
        QTest::newRow("result rows garbage") << "bad rows" << "無法讀取查詢結果";
        QTest::newRow("pdf folder missing") << "bad pdf path" << "無法建立 PDF 檔";
    }
    void printFailuresAreReported()
    {
        QFETCH(QString, breakage);
        QFETCH(QString, said);
        HandOffFolder folder;
        folder.writeData(salesByDay(5));
        folder.writeIni(QString(), breakage == u"bad pdf path" ? QStringLiteral("[print]\r\npdf=nowhere/x.pdf\r\n")
                                                               : QStringLiteral("[print]\r\npdf=out.pdf\r\n"));
        if (breakage == u"no ini")
            QFile::remove(folder.path(QStringLiteral("rpttemp.ini")));
        if (breakage == u"no section") {
            QFile f(folder.path(QStringLiteral("rpttemp.ini")));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("[print]\r\npdf=out.pdf\r\n");
        }
        if (breakage == u"no rows")
            QFile::remove(folder.path(QStringLiteral("temp.cds")));
        if (breakage == u"bad rows") {
            QFile f(folder.path(QStringLiteral("temp.cds")));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(QByteArray(300, '\x7f'));
        }
        const QString err = folder.callModule(QStringLiteral("RptPrint.so"));
        QVERIFY2(err.contains(QStringLiteral("無法列印")) && err.contains(said), qPrintable(err));
        QVERIFY(!QFile::exists(folder.path(QStringLiteral("out.pdf"))));
        QVERIFY(!QFile::exists(folder.path(QStringLiteral("report.pdf"))));
    }

    void brokenHeaderFileOnlyAddsANotice()
    {
        HandOffFolder folder;
        folder.writeData(salesByDay(5));
        {
            QFile f(folder.path(QStringLiteral("temp2.cds")));
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            f.write("not a dataset");
        }
        folder.writeTemplate(QStringLiteral("sales.rtm"), kTemplate);
        folder.writeIni(folder.path(QStringLiteral("sales.rtm")), QStringLiteral("[print]\r\npdf=out.pdf\r\n"));
        const QString err = folder.callModule(QStringLiteral("RptPrint.so"));
        QVERIFY2(QFile::exists(folder.path(QStringLiteral("out.pdf"))), qPrintable(err));
        auto report = prepareReport(readHandOffFile(folder.path(QStringLiteral("rpttemp.ini"))));
        QVERIFY(report->notices().join(QString()).contains(QStringLiteral("無法讀取表頭資料")));
        QCOMPARE(report->data().rows.size(), size_t(5));
    }

    // ---- RptPreview.so -----------------------------------------------------------

    void previewShowsAModalWindowAndReturns()
    {
        HandOffFolder folder;
        folder.writeData(salesByDay(60));
        folder.writeTemplate(QStringLiteral("sales.rtm"), kTemplate);
        folder.writeIni(folder.path(QStringLiteral("sales.rtm")));
        ModalWatcher watcher;
        const QString err = folder.callModule(QStringLiteral("RptPreview.so"));
        QVERIFY2(err.isEmpty(), qPrintable(err));
        QCOMPARE(watcher.seen.size(), 1);
        QVERIFY2(watcher.seen.first().startsWith(QStringLiteral("報表預覽|")), qPrintable(watcher.seen.first()));
        QVERIFY(watcher.seen.first().endsWith(QStringLiteral("PreviewDialog")));
    }

    void previewErrorIsShownInABox()
    {
        HandOffFolder folder;   // no hand-off files at all
        ModalWatcher watcher;
        folder.callModule(QStringLiteral("RptPreview.so"));
        QCOMPARE(watcher.seen.size(), 1);
        QVERIFY2(watcher.seen.first().contains(QStringLiteral("找不到交接檔")), qPrintable(watcher.seen.first()));
        QVERIFY(watcher.seen.first().endsWith(QStringLiteral("QMessageBox")));
    }

    // ---- preview window ----------------------------------------------------------

    void previewNavigation()
    {
        TemplateLoad load;
        load.tpl = *parseTemplate(kTemplate, nullptr);
        load.ok = true;
        PreviewDialog dlg(std::make_unique<ReportRenderer>(salesByDay(200), load));
        const int n = dlg.report().pageCount();
        QVERIFY(n >= 4);
        QCOMPARE(dlg.currentPage(), 0);
        dlg.previousPage();
        QCOMPARE(dlg.currentPage(), 0);
        dlg.nextPage();
        dlg.nextPage();
        QCOMPARE(dlg.currentPage(), 2);
        dlg.lastPage();
        QCOMPARE(dlg.currentPage(), n - 1);
        dlg.nextPage();
        QCOMPARE(dlg.currentPage(), n - 1);
        dlg.setPage(1000);
        QCOMPARE(dlg.currentPage(), n - 1);
        dlg.firstPage();
        QCOMPARE(dlg.currentPage(), 0);

        auto *box = dlg.findChild<QSpinBox *>();
        QVERIFY(box);
        box->setValue(3);
        QCOMPARE(dlg.currentPage(), 2);
    }

    void previewZoom()
    {
        PreviewDialog dlg(std::make_unique<ReportRenderer>(salesByDay(10), loadTemplate(QString())));
        dlg.resize(900, 700);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QCOMPARE(dlg.zoomMode(), PreviewDialog::ZoomMode::FitWidth);

        dlg.setZoom(1.0);
        const int actual = dlg.pageImage(0).width();
        dlg.zoomIn();
        QCOMPARE(dlg.zoom(), 1.25);
        QVERIFY(dlg.pageImage(0).width() > actual);
        dlg.zoomOut();
        dlg.zoomOut();
        QCOMPARE(dlg.zoom(), 0.75);
        for (int i = 0; i < 10; ++i)
            dlg.zoomOut();
        QCOMPARE(dlg.zoom(), 0.25);

        dlg.fitPage();
        const QSizeF whole = dlg.pageImage(0).deviceIndependentSize();
        QVERIFY(whole.height() <= 700);
        dlg.fitWidth();
        QVERIFY(dlg.pageImage(0).deviceIndependentSize().width() > whole.width());
    }

    void previewExportsPdf()
    {
        PreviewDialog dlg(std::make_unique<ReportRenderer>(salesByDay(100), loadTemplate(QString())));
        QTemporaryDir dir;
        QString error;
        QVERIFY2(dlg.exportPdf(dir.filePath(QStringLiteral("x.pdf")), &error), qPrintable(error));
        QCOMPARE(pdfPageCount(dir.filePath(QStringLiteral("x.pdf"))), dlg.report().pageCount());
    }
};

QTEST_MAIN(TestModules)
#include "tst_modules.moc"
