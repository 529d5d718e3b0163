#include "modules/preview/PreviewDialog.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QResizeEvent>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QShortcut>
#include <QSpinBox>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace rpt::report {

namespace {

constexpr double kZoomSteps[] = {0.25, 0.5, 0.75, 1.0, 1.25, 1.5, 2.0, 3.0, 4.0};
constexpr int kGap = 16;   // grey border around the page, pixels
constexpr int kCacheMegabytes = 192;   // page images kept for paging back and forth

QToolButton *toolButton(QWidget *parent, const QString &text, QStyle::StandardPixmap icon, const QString &tip)
{
    auto *b = new QToolButton(parent);
    b->setText(text);
    b->setToolTip(tip.isEmpty() ? text : tip);
    if (icon != QStyle::SP_CustomBase)
        b->setIcon(parent->style()->standardIcon(icon));
    b->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    b->setAutoRaise(true);
    return b;
}

} // namespace

// Shows one page image centred on a grey desk, with a thin shadow.
class PageView : public QWidget {
public:
    explicit PageView(QWidget *parent) : QWidget(parent)
    {
        setAutoFillBackground(true);
        QPalette pal = palette();
        pal.setColor(QPalette::Window, QColor(0x80, 0x80, 0x80));
        setPalette(pal);
    }
    void setImage(const QImage &img)
    {
        m_image = img;
        const QSizeF logical = img.deviceIndependentSize();
        setMinimumSize(int(std::ceil(logical.width())) + 2 * kGap, int(std::ceil(logical.height())) + 2 * kGap);
        update();
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        if (m_image.isNull())
            return;
        QPainter p(this);
        const QSizeF s = m_image.deviceIndependentSize();
        const QPointF topLeft(std::max<double>(kGap, (width() - s.width()) / 2), kGap);
        p.fillRect(QRectF(topLeft + QPointF(3, 3), s), QColor(0x50, 0x50, 0x50));
        p.drawImage(topLeft, m_image);
    }

private:
    QImage m_image;
};

PreviewDialog::PreviewDialog(std::unique_ptr<ReportRenderer> report, const QString &pdfFolder, QWidget *parent)
    : QDialog(parent), m_report(std::move(report)), m_pdfFolder(pdfFolder), m_cache(kCacheMegabytes)
{
    setWindowTitle(QStringLiteral("報表預覽"));
    setWindowFlag(Qt::WindowMaximizeButtonHint, true);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setModal(true);

    auto *bar = new QWidget(this);
    auto *row = new QHBoxLayout(bar);
    row->setContentsMargins(6, 4, 6, 4);
    row->setSpacing(2);

    m_first = toolButton(bar, QStringLiteral("第一頁"), QStyle::SP_MediaSkipBackward, QStringLiteral("第一頁（Home）"));
    m_prev = toolButton(bar, QStringLiteral("上一頁"), QStyle::SP_MediaSeekBackward, QStringLiteral("上一頁（PgUp）"));
    m_pageBox = new QSpinBox(bar);
    m_pageBox->setRange(1, std::max(1, m_report->pageCount()));
    m_pageBox->setPrefix(QStringLiteral("第 "));
    m_pageBox->setSuffix(QStringLiteral(" 頁"));
    m_pageBox->setKeyboardTracking(false);
    m_pageBox->setToolTip(QStringLiteral("輸入頁碼後按 Enter"));
    m_pageTotal = new QLabel(QStringLiteral("/ 共 %1 頁").arg(m_report->pageCount()), bar);
    m_next = toolButton(bar, QStringLiteral("下一頁"), QStyle::SP_MediaSeekForward, QStringLiteral("下一頁（PgDn）"));
    m_last = toolButton(bar, QStringLiteral("最後一頁"), QStyle::SP_MediaSkipForward, QStringLiteral("最後一頁（End）"));

    m_zoomOutButton = toolButton(bar, QStringLiteral("縮小"), QStyle::SP_CustomBase, QStringLiteral("縮小（Ctrl+-）"));
    m_zoomBox = new QComboBox(bar);
    m_zoomBox->addItem(QStringLiteral("適合寬度"));
    m_zoomBox->addItem(QStringLiteral("整頁"));
    for (double z : kZoomSteps)
        m_zoomBox->addItem(QStringLiteral("%1%").arg(int(std::lround(z * 100))), z);
    m_zoomBox->setToolTip(QStringLiteral("顯示比例"));
    m_zoomInButton = toolButton(bar, QStringLiteral("放大"), QStyle::SP_CustomBase, QStringLiteral("放大（Ctrl++）"));
    auto *widthButton = toolButton(bar, QStringLiteral("適合寬度"), QStyle::SP_CustomBase, QString());
    auto *pageButton = toolButton(bar, QStringLiteral("整頁"), QStyle::SP_CustomBase, QString());

    auto *printButton = toolButton(bar, QStringLiteral("列印…"), QStyle::SP_FileDialogDetailedView,
                                   QStringLiteral("列印（Ctrl+P）"));
    auto *pdfButton = toolButton(bar, QStringLiteral("匯出 PDF…"), QStyle::SP_DialogSaveButton,
                                 QStringLiteral("存成 PDF 檔（Ctrl+S）"));
    auto *closeButton = toolButton(bar, QStringLiteral("關閉"), QStyle::SP_DialogCloseButton, QStringLiteral("關閉（Esc）"));

    for (QWidget *w : std::initializer_list<QWidget *>{m_first, m_prev, m_pageBox, m_pageTotal, m_next, m_last})
        row->addWidget(w);
    row->addSpacing(16);
    for (QWidget *w : std::initializer_list<QWidget *>{m_zoomOutButton, m_zoomBox, m_zoomInButton, widthButton, pageButton})
        row->addWidget(w);
    row->addSpacing(16);
    row->addWidget(printButton);
    row->addWidget(pdfButton);
    row->addStretch(1);
    row->addWidget(closeButton);

    m_scroll = new QScrollArea(this);
    m_scroll->setWidgetResizable(true);
    m_scroll->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    m_view = new PageView(m_scroll);
    m_scroll->setWidget(m_view);

    m_status = new QLabel(this);
    m_status->setContentsMargins(8, 2, 8, 2);
    m_status->setText(QStringLiteral("共 %1 頁，%2 筆資料")
                          .arg(m_report->pageCount())
                          .arg(QLocale::c().toString(qlonglong(m_report->data().rows.size()))));

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(bar);
    layout->addWidget(m_scroll, 1);
    layout->addWidget(m_status);

    connect(m_first, &QToolButton::clicked, this, &PreviewDialog::firstPage);
    connect(m_prev, &QToolButton::clicked, this, &PreviewDialog::previousPage);
    connect(m_next, &QToolButton::clicked, this, &PreviewDialog::nextPage);
    connect(m_last, &QToolButton::clicked, this, &PreviewDialog::lastPage);
    connect(m_pageBox, &QSpinBox::valueChanged, this, [this](int v) { setPage(v - 1); });
    connect(m_zoomInButton, &QToolButton::clicked, this, &PreviewDialog::zoomIn);
    connect(m_zoomOutButton, &QToolButton::clicked, this, &PreviewDialog::zoomOut);
    connect(widthButton, &QToolButton::clicked, this, &PreviewDialog::fitWidth);
    connect(pageButton, &QToolButton::clicked, this, &PreviewDialog::fitPage);
    connect(m_zoomBox, &QComboBox::activated, this, [this](int i) {
        if (i == 0)
            fitWidth();
        else if (i == 1)
            fitPage();
        else
            setZoom(m_zoomBox->itemData(i).toDouble());
    });
    connect(printButton, &QToolButton::clicked, this, &PreviewDialog::printReport);
    connect(pdfButton, &QToolButton::clicked, this, &PreviewDialog::exportPdfInteractive);
    connect(closeButton, &QToolButton::clicked, this, &QDialog::accept);

    auto shortcut = [this](const QKeySequence &k, auto slot) {
        connect(new QShortcut(k, this), &QShortcut::activated, this, slot);
    };
    shortcut(QKeySequence(Qt::Key_PageDown), &PreviewDialog::nextPage);
    shortcut(QKeySequence(Qt::Key_PageUp), &PreviewDialog::previousPage);
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_Home), &PreviewDialog::firstPage);
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_End), &PreviewDialog::lastPage);
    shortcut(QKeySequence(Qt::Key_Home), &PreviewDialog::firstPage);
    shortcut(QKeySequence(Qt::Key_End), &PreviewDialog::lastPage);
    shortcut(QKeySequence::ZoomIn, &PreviewDialog::zoomIn);
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_Equal), &PreviewDialog::zoomIn);
    shortcut(QKeySequence::ZoomOut, &PreviewDialog::zoomOut);
    shortcut(QKeySequence::Print, &PreviewDialog::printReport);
    shortcut(QKeySequence::Save, &PreviewDialog::exportPdfInteractive);

    if (QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect avail = screen->availableGeometry();
        resize(std::max(640, avail.width() * 4 / 5), std::max(480, avail.height() * 9 / 10));
    } else {
        resize(1000, 800);
    }
    applyFit();
    refresh();
}

PreviewDialog::~PreviewDialog() = default;

double PreviewDialog::screenDpi() const
{
    const QScreen *s = screen() ? screen() : QGuiApplication::primaryScreen();
    const double dpi = s ? s->logicalDotsPerInch() : 96.0;
    return dpi > 0 ? dpi : 96.0;
}

QImage PreviewDialog::pageImage(int index)
{
    if (m_cacheZoom != m_zoom) {
        m_cache.clear();
        m_cacheZoom = m_zoom;
    }
    if (QImage *hit = m_cache.object(index))
        return *hit;
    // A large page at 400 % on a high-density screen would need hundreds of megabytes:
    // past a bound the image is drawn coarser rather than exhausting memory.
    constexpr double kMaxPixels = 40e6;
    double dpr = devicePixelRatioF();
    const QSizeF pageMm = m_report->pageSizeUnits() / kUnitsPerMm;
    const double dpi = screenDpi() * m_zoom;
    const double pixels = pageMm.width() * pageMm.height() * std::pow(dpi / 25.4 * dpr, 2);
    if (pixels > kMaxPixels)
        dpr *= std::sqrt(kMaxPixels / pixels);
    auto *img = new QImage(m_report->pageImage(index, dpi, dpr));
    const QImage copy = *img;
    m_cache.insert(index, img, std::max<qsizetype>(1, img->sizeInBytes() >> 20));
    return copy;
}

void PreviewDialog::setPage(int index)
{
    const int n = m_report->pageCount();
    index = std::clamp(index, 0, std::max(0, n - 1));
    if (index == m_page && !m_view->minimumSize().isEmpty() && m_cacheZoom == m_zoom) {
        updateControls();
        return;
    }
    m_page = index;
    refresh();
    m_scroll->verticalScrollBar()->setValue(0);
}

void PreviewDialog::setZoom(double zoom)
{
    m_mode = ZoomMode::Fixed;
    m_zoom = std::clamp(zoom, kZoomSteps[0], kZoomSteps[std::size(kZoomSteps) - 1]);
    refresh();
}

void PreviewDialog::zoomIn()
{
    for (double z : kZoomSteps)
        if (z > m_zoom + 1e-6) {
            setZoom(z);
            return;
        }
    setZoom(kZoomSteps[std::size(kZoomSteps) - 1]);
}

void PreviewDialog::zoomOut()
{
    for (auto it = std::rbegin(kZoomSteps); it != std::rend(kZoomSteps); ++it)
        if (*it < m_zoom - 1e-6) {
            setZoom(*it);
            return;
        }
    setZoom(kZoomSteps[0]);
}

void PreviewDialog::fitWidth()
{
    m_mode = ZoomMode::FitWidth;
    applyFit();
    refresh();
}

void PreviewDialog::fitPage()
{
    m_mode = ZoomMode::FitPage;
    applyFit();
    refresh();
}

void PreviewDialog::applyFit()
{
    if (m_mode == ZoomMode::Fixed)
        return;
    const QSizeF pageMm = m_report->pageSizeUnits() / kUnitsPerMm;
    const double pxPerMm = screenDpi() / 25.4;
    const QSize vp = m_scroll->viewport()->size();
    const double scrollBar = m_scroll->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    const double w = std::max(100.0, vp.width() - 2.0 * kGap - (m_mode == ZoomMode::FitWidth ? scrollBar : 0));
    const double h = std::max(100.0, vp.height() - 2.0 * kGap);
    double z = w / (pageMm.width() * pxPerMm);
    if (m_mode == ZoomMode::FitPage)
        z = std::min(z, h / (pageMm.height() * pxPerMm));
    m_zoom = std::clamp(z, 0.1, 4.0);
}

void PreviewDialog::refresh()
{
    if (m_report->pageCount() > 0)
        m_view->setImage(pageImage(m_page));
    updateControls();
}

void PreviewDialog::updateControls()
{
    const int n = m_report->pageCount();
    m_first->setEnabled(m_page > 0);
    m_prev->setEnabled(m_page > 0);
    m_next->setEnabled(m_page + 1 < n);
    m_last->setEnabled(m_page + 1 < n);
    {
        const QSignalBlocker block(m_pageBox);
        m_pageBox->setValue(m_page + 1);
    }
    const QSignalBlocker block(m_zoomBox);
    if (m_mode == ZoomMode::FitWidth) {
        m_zoomBox->setCurrentIndex(0);
    } else if (m_mode == ZoomMode::FitPage) {
        m_zoomBox->setCurrentIndex(1);
    } else {
        int best = 2;
        for (int i = 2; i < m_zoomBox->count(); ++i)
            if (std::abs(m_zoomBox->itemData(i).toDouble() - m_zoom) < 1e-6)
                best = i;
        m_zoomBox->setCurrentIndex(best);
    }
    m_zoomInButton->setEnabled(m_zoom < kZoomSteps[std::size(kZoomSteps) - 1] - 1e-6);
    m_zoomOutButton->setEnabled(m_zoom > kZoomSteps[0] + 1e-6);
}

void PreviewDialog::resizeEvent(QResizeEvent *event)
{
    QDialog::resizeEvent(event);
    if (m_mode != ZoomMode::Fixed) {
        const double before = m_zoom;
        applyFit();
        if (std::abs(before - m_zoom) > 1e-4)
            refresh();
    }
}

void PreviewDialog::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (m_mode != ZoomMode::Fixed) {
        applyFit();
        refresh();
    }
}

bool PreviewDialog::exportPdf(const QString &path, QString *error)
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const bool ok = m_report->writePdf(path, error);
    QApplication::restoreOverrideCursor();
    return ok;
}

void PreviewDialog::exportPdfInteractive()
{
    try {
        const QString folder = m_pdfFolder.isEmpty() ? QDir::homePath() : m_pdfFolder;
        QString path = QFileDialog::getSaveFileName(this, QStringLiteral("匯出 PDF"),
                                                    QDir(folder).absoluteFilePath(QStringLiteral("report.pdf")),
                                                    QStringLiteral("PDF 檔案 (*.pdf)"));
        if (path.isEmpty())
            return;
        if (QFileInfo(path).suffix().isEmpty())
            path += QStringLiteral(".pdf");
        QString error;
        if (!exportPdf(path, &error)) {
            QMessageBox::warning(this, QStringLiteral("匯出 PDF"), error);
            return;
        }
        m_pdfFolder = QFileInfo(path).absolutePath();
        m_status->setText(QStringLiteral("已匯出 %1 頁到 %2").arg(m_report->pageCount()).arg(QDir::toNativeSeparators(path)));
    } catch (const std::exception &e) {
        QApplication::restoreOverrideCursor();
        QMessageBox::critical(this, QStringLiteral("匯出 PDF"), QString::fromUtf8(e.what()));
    }
}

void PreviewDialog::printReport()
{
    try {
        QPrinter printer(QPrinter::HighResolution);
        printer.setPageLayout(m_report->pageLayout());
        printer.setFullPage(true);
        printer.setDocName(QStringLiteral("報表"));
        QPrintDialog dialog(&printer, this);
        dialog.setWindowTitle(QStringLiteral("列印"));
        dialog.setOption(QAbstractPrintDialog::PrintPageRange, true);
        dialog.setOption(QAbstractPrintDialog::PrintCurrentPage, true);
        dialog.setMinMax(1, m_report->pageCount());
        if (dialog.exec() != QDialog::Accepted)
            return;
        int from = 0, to = m_report->pageCount() - 1;
        if (printer.printRange() == QPrinter::PageRange && printer.fromPage() > 0) {
            from = printer.fromPage() - 1;
            to = std::max(from, printer.toPage() - 1);
        } else if (printer.printRange() == QPrinter::CurrentPage) {
            from = to = m_page;
        }
        QApplication::setOverrideCursor(Qt::WaitCursor);
        QString error;
        const bool ok = m_report->print(printer, &error, from, to);
        QApplication::restoreOverrideCursor();
        if (!ok)
            QMessageBox::warning(this, QStringLiteral("列印"), error);
        else
            m_status->setText(QStringLiteral("已送出列印：第 %1 到 %2 頁").arg(from + 1).arg(to + 1));
    } catch (const std::exception &e) {
        QApplication::restoreOverrideCursor();
        QMessageBox::critical(this, QStringLiteral("列印"), QString::fromUtf8(e.what()));
    }
}

} // namespace rpt::report
