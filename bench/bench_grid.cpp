// Data grid over a large result: a million rows in six columns, opened in a grid on the
// offscreen platform and moved through with the keys, the scroll bar and the wheel, each
// step painted. Prints the time of every step and the peak memory; fails on nothing.
//
//   bench_grid [rows] [--shot file.png]
//
// --shot also saves a picture of the grid (CJK titles and data) for a look by eye.
#include "platform/db/ClientDataSet.h"
#include "platform/forms/DBGrid.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QScrollBar>
#include <QWheelEvent>

#include <sys/resource.h>

#include <cstdio>

using namespace rpt;

namespace {

long peakRssKb()
{
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_maxrss;
}

void report(const char *what, qint64 ns, int steps = 1)
{
    std::printf("%-38s %10.1f ms", what, ns / 1e6);
    if (steps > 1)
        std::printf("   %8.3f ms/step (%d steps)", ns / 1e6 / steps, steps);
    std::printf("   peak RSS %ld MB\n", peakRssKb() / 1024);
}

void press(QWidget *w, int key, Qt::KeyboardModifiers mods = Qt::NoModifier)
{
    QKeyEvent e(QEvent::KeyPress, key, mods);
    QApplication::sendEvent(w, &e);
}

// One frame: the rows area painted into a picture, as the screen would get it.
void frame(TDBGrid *g)
{
    g->viewport()->grab();
}

const char16_t *const kStores[] = {u"台北門市", u"新竹門市", u"台中門市", u"高雄門市", u"花蓮門市"};
const char16_t *const kItems[] = {u"鉛筆", u"筆記本", u"原子筆", u"橡皮擦", u"資料夾", u"計算機"};

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    installFontAliases();

    int rows = 1000000;
    QString shot;
    for (int i = 1; i < argc; ++i) {
        const QString a = QString::fromLocal8Bit(argv[i]);
        if (a == QLatin1String("--shot") && i + 1 < argc)
            shot = QString::fromLocal8Bit(argv[++i]);
        else if (a.toInt() > 0)
            rows = a.toInt();
    }
    std::printf("grid benchmark: %d rows x 6 columns\n", rows);

    QElapsedTimer t;
    t.start();
    TFieldDefs defs;
    defs.Add("store_no", ftInteger);
    defs.Add("store_name", ftString, 20);
    defs.Add("item", ftWideString, 20);
    defs.Add("qty", ftInteger);
    defs.Add("amount", ftFloat);
    defs.Add("sale_date", ftDate);
    RecordLayout layout(defs);
    RecordBuilder b(layout);
    std::vector<QByteArray> data;
    data.reserve(size_t(rows));
    const QDate day0(2024, 1, 1);
    for (int i = 0; i < rows; ++i) {
        b.begin();
        b.setInt(0, i + 1);
        b.setText(1, QStringView(kStores[i % 5]));
        b.setText(2, QStringView(kItems[i % 6]));
        b.setInt(3, (i * 7) % 100);
        b.setDouble(4, (i % 1000) * 1.25);
        b.setDate(5, day0.addDays(i % 365));
        data.push_back(b.finish());
    }
    report("build rows", t.nsecsElapsed());

    TClientDataSet cds(nullptr, "CDS_RPT");
    TDataSource src(nullptr, "DataSource3");
    src.SetDataSet(&cds);
    t.restart();
    cds.LoadRows(defs, std::move(data));
    cds.Open();
    report("open dataset", t.nsecsElapsed());
    cds.FieldByName("store_name")->SetDisplayLabel(QStringLiteral("門市名稱"));
    cds.FieldByName("item")->SetDisplayLabel(QStringLiteral("品名"));
    cds.FieldByName("qty")->SetDisplayLabel(QStringLiteral("數量"));
    cds.FieldByName("amount")->SetDisplayLabel(QStringLiteral("金額"));

    TDBGrid grid;
    grid.resize(800, 600);
    t.restart();
    grid.SetDataSource(&src);
    grid.show();
    grid.activateWindow();
    grid.setFocus();
    QCoreApplication::processEvents();
    frame(&grid);
    report("grid open + first frame", t.nsecsElapsed());
    std::printf("  visible rows %d, columns %d, scroll bar %s (0..%d)\n", grid.VisibleRowCount(),
                grid.Columns().Count(), grid.verticalScrollBar()->isVisible() ? "shown" : "hidden",
                grid.verticalScrollBar()->maximum());

    if (!shot.isEmpty()) {
        cds.SetRecNo(3);
        grid.grab().save(shot);
        std::printf("  picture saved to %s\n", qPrintable(shot));
        cds.First();
    }

    const int steps = qMin(1000, rows);
    t.restart();
    for (int i = 0; i < steps; ++i) {
        press(&grid, Qt::Key_PageDown);
        frame(&grid);
    }
    report("page down", t.nsecsElapsed(), steps);
    std::printf("  now on record %d, first row shows %d\n", cds.RecNo(), grid.TopRecord() + 1);

    t.restart();
    for (int i = 0; i < steps; ++i) {
        press(&grid, Qt::Key_Down);
        frame(&grid);
    }
    report("down arrow", t.nsecsElapsed(), steps);

    t.restart();
    press(&grid, Qt::Key_End, Qt::ControlModifier);
    frame(&grid);
    report("jump to end (ctrl+end)", t.nsecsElapsed());
    std::printf("  now on record %d of %d\n", cds.RecNo(), cds.RecordCount());

    t.restart();
    for (int i = 0; i < steps; ++i) {
        press(&grid, Qt::Key_PageUp);
        frame(&grid);
    }
    report("page up from the end", t.nsecsElapsed(), steps);

    t.restart();
    QScrollBar *vb = grid.verticalScrollBar();
    for (int i = 0; i < 100; ++i) {
        vb->setSliderPosition(int(qint64(rows - 1) * ((i * 37) % 100) / 100));
        vb->triggerAction(QAbstractSlider::SliderMove);
        frame(&grid);
    }
    report("scroll bar jumps", t.nsecsElapsed(), 100);

    t.restart();
    const QPoint at(100, 100);
    for (int i = 0; i < steps; ++i) {
        QWheelEvent w(at, grid.viewport()->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(grid.viewport(), &w);
        frame(&grid);
    }
    report("mouse wheel notches", t.nsecsElapsed(), steps);

    t.restart();
    press(&grid, Qt::Key_Home, Qt::ControlModifier);
    frame(&grid);
    report("jump to start (ctrl+home)", t.nsecsElapsed());

    t.restart();
    for (int i = 0; i < 100; ++i)
        grid.grab();
    report("full grabs of the control", t.nsecsElapsed(), 100);

    std::printf("peak RSS %ld MB\n", peakRssKb() / 1024);
    return 0;
}
