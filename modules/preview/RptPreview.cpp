// RptPreview.so: shows the handed-off report in a modal preview window and returns
// when the user closes it. Runs inside the launcher's own QApplication.

#include "modules/preview/PreviewDialog.h"
#include "modules/report/HandOff.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdio>
#include <exception>

extern "C" __attribute__((visibility("default"))) void ShowForm(void);

namespace {

using namespace rpt::report;

const QString kTitle = QStringLiteral("報表預覽");

void showError(const QString &message)
{
    if (qobject_cast<QApplication *>(QCoreApplication::instance())) {
        QMessageBox::critical(QApplication::activeWindow(), kTitle, message);
    } else {
        const QByteArray bytes = (QStringLiteral("RptPreview: ") + message + u'\n').toUtf8();
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    }
}

void run()
{
    if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
        throw HandOffError(QStringLiteral("程式沒有啟動視窗介面，無法顯示預覽"));
    const HandOff handOff = readHandOff(
        {moduleDirectory(reinterpret_cast<const void *>(&ShowForm)), QCoreApplication::applicationDirPath()});
    auto report = prepareReport(handOff);
    // No parent: the launcher minimises its window before the preview, and a child of a
    // minimised window may not show at all.
    PreviewDialog dialog(std::move(report), handOff.outputDirectory());
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.exec();
}

} // namespace

extern "C" void ShowForm(void)
{
    // Nothing may unwind into the caller: it is a plain C entry.
    try {
        run();
    } catch (const HandOffError &e) {
        showError(QStringLiteral("無法預覽報表：%1").arg(e.message()));
    } catch (const std::exception &e) {
        showError(QStringLiteral("無法預覽報表：%1").arg(QString::fromUtf8(e.what())));
    } catch (...) {
        showError(QStringLiteral("無法預覽報表：發生未預期的錯誤"));
    }
}
