#pragma once
// The preview window of RptPreview.so: one page at a time, page navigation, zoom,
// printing through the print dialog and export to PDF.

#include "modules/report/ReportRenderer.h"

#include <QCache>
#include <QDialog>
#include <QImage>

#include <memory>

class QComboBox;
class QLabel;
class QScrollArea;
class QSpinBox;
class QToolButton;

namespace rpt::report {

class PageView;

class PreviewDialog : public QDialog {
    Q_OBJECT
public:
    enum class ZoomMode { Fixed, FitWidth, FitPage };

    // pdfFolder: where the export dialog starts.
    explicit PreviewDialog(std::unique_ptr<ReportRenderer> report, const QString &pdfFolder = QString(),
                           QWidget *parent = nullptr);
    ~PreviewDialog() override;

    const ReportRenderer &report() const { return *m_report; }
    int currentPage() const { return m_page; }   // 0-based
    double zoom() const { return m_zoom; }       // 1.0 = actual size
    ZoomMode zoomMode() const { return m_mode; }

    // The image shown for a page at the current zoom (rendered on first use).
    QImage pageImage(int index);
    // Writes the whole report as a PDF; false with *error on failure.
    bool exportPdf(const QString &path, QString *error);

public slots:
    void setPage(int index);
    void firstPage() { setPage(0); }
    void previousPage() { setPage(m_page - 1); }
    void nextPage() { setPage(m_page + 1); }
    void lastPage() { setPage(m_report->pageCount() - 1); }
    void setZoom(double zoom);
    void zoomIn();
    void zoomOut();
    void fitWidth();
    void fitPage();
    void printReport();
    void exportPdfInteractive();

protected:
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    double screenDpi() const;
    void applyFit();
    void refresh();
    void updateControls();

    std::unique_ptr<ReportRenderer> m_report;
    QString m_pdfFolder;
    int m_page = 0;
    double m_zoom = 1.0;
    ZoomMode m_mode = ZoomMode::FitWidth;
    QCache<int, QImage> m_cache;
    double m_cacheZoom = 0;

    QScrollArea *m_scroll = nullptr;
    PageView *m_view = nullptr;
    QSpinBox *m_pageBox = nullptr;
    QLabel *m_pageTotal = nullptr;
    QComboBox *m_zoomBox = nullptr;
    QLabel *m_status = nullptr;
    QToolButton *m_first = nullptr, *m_prev = nullptr, *m_next = nullptr, *m_last = nullptr;
    QToolButton *m_zoomInButton = nullptr, *m_zoomOutButton = nullptr;
};

} // namespace rpt::report
