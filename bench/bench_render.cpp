// Renders a 10,000-row report (integer, exact decimal, date, two Chinese texts,
// timestamp) to PDF and prints pages per second and peak memory.
//
//   bench_render [rows] [output.pdf]
//
// Figures only; it never fails on a time.

#include "modules/ReportFixtures.h"
#include "modules/report/ReportRenderer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <cstdio>

using namespace rpt::report;

namespace {

// CPU seconds of this process: the machine is shared, so wall time alone overstates
// the cost when other work runs beside the benchmark.
double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

long peakRssKb()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const int rows = argc > 1 ? std::max(1, atoi(argv[1])) : 10000;
    QTemporaryDir tmp;
    const QString out = argc > 2 ? QString::fromLocal8Bit(argv[2]) : tmp.filePath(QStringLiteral("bench.pdf"));

    QString error;
    auto parsed = parseTemplate(fixtures::wideSalesTemplate(), &error);
    if (!parsed) {
        std::fprintf(stderr, "template: %s\n", qPrintable(error));
        return 1;
    }
    TemplateLoad load;
    load.tpl = *parsed;
    load.ok = true;

    ReportData data = fixtures::wideSales(rows);
    const long rssData = peakRssKb();

    // Warm-up: the first use of a font loads it, which is not the renderer's cost.
    {
        ReportRenderer warm(fixtures::wideSales(50), load);
        warm.writePdf(tmp.filePath(QStringLiteral("warm.pdf")), &error);
    }

    const double cpu0 = cpuSeconds();
    QElapsedTimer t;
    t.start();
    ReportRenderer report(std::move(data), load);
    const double layoutMs = t.nsecsElapsed() / 1e6;

    t.restart();
    qint64 items = 0;
    for (int i = 0; i < report.pageCount(); ++i)
        items += qint64(report.page(i).texts.size());
    const double listMs = t.nsecsElapsed() / 1e6;

    t.restart();
    if (!report.writePdf(out, &error)) {
        std::fprintf(stderr, "pdf: %s\n", qPrintable(error));
        return 1;
    }
    const double pdfMs = t.nsecsElapsed() / 1e6;
    const double cpuPdf = cpuSeconds() - cpu0;   // layout, display lists and PDF

    t.restart();
    const int previewPages = std::min(20, report.pageCount());
    for (int i = 0; i < previewPages; ++i)
        (void)report.pageImage(i, 96);
    const double imageMs = t.nsecsElapsed() / 1e6;

    // The built-in layout (no usable template) sizes every column from all its cells.
    t.restart();
    ReportRenderer fallback(fixtures::wideSales(rows), loadTemplate(QString()));
    const double fallbackMs = t.nsecsElapsed() / 1e6;

    const int pages = report.pageCount();
    std::printf("rows                  %d\n", rows);
    std::printf("pages                 %d\n", pages);
    std::printf("text items            %lld\n", static_cast<long long>(items));
    std::printf("layout (constructor)  %.1f ms\n", layoutMs);
    std::printf("display lists only    %.1f ms  (%.0f pages/s)\n", listMs, pages / (listMs / 1000.0));
    std::printf("PDF written           %.1f ms  (%.0f pages/s)\n", pdfMs, pages / (pdfMs / 1000.0));
    std::printf("layout + PDF          %.0f pages/s wall\n", pages / ((layoutMs + pdfMs) / 1000.0));
    std::printf("layout + lists + PDF  %.2f s CPU  (%.0f pages per CPU second)\n", cpuPdf, pages / cpuPdf);
    std::printf("built-in layout       %.1f ms  (%d pages, columns sized from the data)\n", fallbackMs,
                fallback.pageCount());
    std::printf("preview images 96dpi  %.1f ms per page\n", imageMs / std::max(1, previewPages));
    std::printf("PDF size              %lld KiB\n", static_cast<long long>(QFileInfo(out).size() / 1024));
    std::printf("peak RSS              %ld KiB (data built: %ld KiB)\n", peakRssKb(), rssData);
    return 0;
}
