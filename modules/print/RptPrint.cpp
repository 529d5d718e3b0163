// RptPrint.so: prints the handed-off report without asking anything.
//
// It runs unattended (the launcher's "auto" switch), so it never opens a window: every
// outcome, good or bad, is one line on stderr. Where the report went:
//   [print] pdf=<file>     a PDF file there;
//   [print] printer=<name> that printer (the default one when it is not installed);
//   otherwise              the default printer, or, on a machine without one,
//                          report.pdf next to the hand-off files.

#include "modules/report/HandOff.h"

#include <QCoreApplication>
#include <QDir>
#include <QGuiApplication>
#include <QPrinter>
#include <QPrinterInfo>

#include <cstdio>
#include <exception>

extern "C" __attribute__((visibility("default"))) void ShowForm(void);

namespace {

using namespace rpt::report;

void say(const QString &line)
{
    const QByteArray bytes = (QStringLiteral("RptPrint: ") + line + u'\n').toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

void toPdf(const ReportRenderer &report, const QString &path, const QString &why)
{
    QString error;
    if (!report.writePdf(path, &error))
        throw HandOffError(error);
    say(QStringLiteral("%1報表已存成 PDF：%2（%3 頁）").arg(why, QDir::toNativeSeparators(path)).arg(report.pageCount()));
}

void run()
{
    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        throw HandOffError(QStringLiteral("程式沒有啟動圖形介面，無法排版報表"));
    const HandOff handOff = readHandOff(
        {moduleDirectory(reinterpret_cast<const void *>(&ShowForm)), QCoreApplication::applicationDirPath()});
    const auto report = prepareReport(handOff);

    if (!handOff.pdfPath.isEmpty()) {
        toPdf(*report, handOff.pdfPath, QString());
        return;
    }

    QPrinterInfo target;
    if (!handOff.printer.trimmed().isEmpty()) {
        target = QPrinterInfo::printerInfo(handOff.printer.trimmed());
        if (target.isNull())
            say(QStringLiteral("找不到印表機「%1」，改用預設印表機").arg(handOff.printer.trimmed()));
    }
    if (target.isNull())
        target = QPrinterInfo::defaultPrinter();
    if (target.isNull()) {
        toPdf(*report, QDir(handOff.outputDirectory()).absoluteFilePath(QStringLiteral("report.pdf")),
              QStringLiteral("這台電腦沒有可用的印表機，"));
        return;
    }

    QString copiesWarning;
    const int copies = handOff.copyCount(&copiesWarning);
    if (!copiesWarning.isEmpty())
        say(copiesWarning);
    QPrinter printer(target, QPrinter::HighResolution);
    printer.setCopyCount(copies);
    printer.setDocName(QStringLiteral("報表"));
    QString error;
    if (!report->print(printer, &error))
        throw HandOffError(error);
    say(QStringLiteral("已送到印表機「%1」：%2 頁，%3 份").arg(target.printerName()).arg(report->pageCount()).arg(copies));
}

} // namespace

extern "C" void ShowForm(void)
{
    // Nothing may unwind into the caller: it is a plain C entry.
    try {
        run();
    } catch (const HandOffError &e) {
        say(QStringLiteral("無法列印：%1").arg(e.message()));
    } catch (const std::exception &e) {
        say(QStringLiteral("無法列印：%1").arg(QString::fromUtf8(e.what())));
    } catch (...) {
        say(QStringLiteral("無法列印：發生未預期的錯誤"));
    }
}
