#include "platform/forms/Dialogs.h"

#include "platform/forms/Form.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>

#include <cstdio>

namespace rpt {

namespace {
TDialogHook &hookSlot()
{
    static TDialogHook hook;
    return hook;
}

bool headless()
{
    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        return true;
    const QString p = QGuiApplication::platformName();
    return p == QLatin1String("offscreen") || p == QLatin1String("minimal");
}

const TMsgDlgBtn kAllButtons[] = {mbYes, mbNo, mbOK, mbCancel, mbAbort, mbRetry,
                                  mbIgnore, mbAll, mbNoToAll, mbYesToAll, mbHelp};

QString typeCaption(TMsgDlgType t)
{
    switch (t) {
    case mtWarning: return QStringLiteral("Warning");
    case mtError: return QStringLiteral("Error");
    case mtInformation: return QStringLiteral("Information");
    case mtConfirmation: return QStringLiteral("Confirm");
    case mtCustom: break;
    }
    return Application ? Application->Title() : QCoreApplication::applicationName();
}

QWidget *activeParent()
{
    if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
        return nullptr;
    return QApplication::activeWindow();
}

TModalResult showOnScreen(TDialogRequest &r)
{
    if (r.kind == TDialogRequest::OpenDialog) {
        QFileDialog dlg(activeParent(), r.title, r.initialDir, TOpenDialog::qtFilter(r.filter));
        dlg.setFileMode(QFileDialog::ExistingFile);
        dlg.setAcceptMode(QFileDialog::AcceptOpen);
        const QStringList filters = dlg.nameFilters();
        if (r.filterIndex >= 1 && r.filterIndex <= filters.size())
            dlg.selectNameFilter(filters.at(r.filterIndex - 1));
        if (!r.fileName.isEmpty())
            dlg.selectFile(r.fileName);
        if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty())
            return mrCancel;
        r.fileName = QDir::cleanPath(QFileInfo(dlg.selectedFiles().constFirst()).absoluteFilePath());
        return mrOk;
    }

    QMessageBox box(activeParent());
    box.setWindowTitle(r.caption);
    box.setText(r.text);
    box.setTextFormat(Qt::PlainText);
    switch (r.type) {
    case mtWarning: box.setIcon(QMessageBox::Warning); break;
    case mtError: box.setIcon(QMessageBox::Critical); break;
    case mtInformation: box.setIcon(QMessageBox::Information); break;
    case mtConfirmation: box.setIcon(QMessageBox::Question); break;
    case mtCustom: box.setIcon(QMessageBox::NoIcon); break;
    }
    TMsgDlgButtons buttons = r.buttons.isEmpty() ? TMsgDlgButtons{mbOK} : r.buttons;
    QHash<QAbstractButton *, TMsgDlgBtn> map;
    const TMsgDlgBtn def = defaultButton(buttons);
    const TMsgDlgBtn esc = escapeButton(buttons);
    QAbstractButton *escButton = nullptr;
    for (TMsgDlgBtn b : kAllButtons) {
        if (!buttons.contains(b))
            continue;
        QPushButton *pb = box.addButton(buttonCaption(b), QMessageBox::ActionRole);
        map.insert(pb, b);
        if (b == def)
            box.setDefaultButton(pb);
        if (b == esc)
            escButton = pb;
    }
    if (escButton)
        box.setEscapeButton(escButton);
    box.exec();
    QAbstractButton *clicked = box.clickedButton();
    if (clicked && map.contains(clicked))
        return modalResultOf(map.value(clicked));
    return modalResultOf(esc);
}

TModalResult answerHeadless(TDialogRequest &r)
{
    if (r.kind == TDialogRequest::OpenDialog) {
        std::fprintf(stderr, "rptdlg: file dialog not shown (no screen): %s\n", qPrintable(r.filter));
        return mrCancel;
    }
    std::fprintf(stderr, "rptdlg: box not shown (no screen): %s: %s\n", qPrintable(r.caption), qPrintable(r.text));
    return modalResultOf(escapeButton(r.buttons.isEmpty() ? TMsgDlgButtons{mbOK} : r.buttons));
}
} // namespace

TModalResult modalResultOf(TMsgDlgBtn b)
{
    switch (b) {
    case mbYes: return mrYes;
    case mbNo: return mrNo;
    case mbOK: return mrOk;
    case mbCancel: return mrCancel;
    case mbAbort: return mrAbort;
    case mbRetry: return mrRetry;
    case mbIgnore: return mrIgnore;
    case mbAll: return mrAll;
    case mbNoToAll: return mrNoToAll;
    case mbYesToAll: return mrYesToAll;
    case mbHelp: return mrNone;
    }
    return mrNone;
}

QString buttonCaption(TMsgDlgBtn b)
{
    switch (b) {
    case mbYes: return QStringLiteral("&Yes");
    case mbNo: return QStringLiteral("&No");
    case mbOK: return QStringLiteral("OK");
    case mbCancel: return QStringLiteral("Cancel");
    case mbAbort: return QStringLiteral("&Abort");
    case mbRetry: return QStringLiteral("&Retry");
    case mbIgnore: return QStringLiteral("&Ignore");
    case mbAll: return QStringLiteral("&All");
    case mbNoToAll: return QStringLiteral("N&o to All");
    case mbYesToAll: return QStringLiteral("Yes to &All");
    case mbHelp: return QStringLiteral("&Help");
    }
    return QString();
}

TMsgDlgBtn escapeButton(TMsgDlgButtons buttons)
{
    if (buttons.contains(mbCancel))
        return mbCancel;
    if (buttons.contains(mbNo))
        return mbNo;
    if (buttons.contains(mbOK))
        return mbOK;
    for (TMsgDlgBtn b : kAllButtons)
        if (buttons.contains(b))
            return b;
    return mbCancel;
}

TMsgDlgBtn defaultButton(TMsgDlgButtons buttons)
{
    if (buttons.contains(mbOK))
        return mbOK;
    if (buttons.contains(mbYes))
        return mbYes;
    if (buttons.contains(mbRetry))
        return mbRetry;
    for (TMsgDlgBtn b : kAllButtons)
        if (buttons.contains(b))
            return b;
    return mbOK;
}

TDialogHook SetDialogHook(TDialogHook hook)
{
    TDialogHook old = std::move(hookSlot());
    hookSlot() = std::move(hook);
    return old;
}

bool HasDialogHook() { return bool(hookSlot()); }

TModalResult ExecuteDialog(TDialogRequest &request)
{
    if (TDialogHook hook = hookSlot())   // a copy: the hook may replace itself
        return hook(request);
    if (headless())
        return answerHeadless(request);
    return showOnScreen(request);
}

TModalResult MessageDlg(const QString &msg, TMsgDlgType type, TMsgDlgButtons buttons, int helpCtx)
{
    TDialogRequest r;
    r.kind = TDialogRequest::MessageDlg;
    r.caption = typeCaption(type);
    r.text = msg;
    r.type = type;
    r.buttons = buttons;
    r.helpCtx = helpCtx;
    return ExecuteDialog(r);
}

void ShowErrorBox(const QString &text, const QString &caption)
{
    TDialogRequest r;
    r.kind = TDialogRequest::ErrorBox;
    r.caption = caption;
    r.text = text;
    r.type = mtError;
    r.buttons = {mbOK};
    ExecuteDialog(r);
}

QString errorBoxText(const QString &message)
{
    if (!message.isEmpty() && message.back() > QLatin1Char('.'))
        return message + QLatin1Char('.');
    return message;
}

// ---------------------------------------------------------------------------------------

QString TOpenDialog::qtFilter(const QString &filter)
{
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList out;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QString masks = parts.at(i + 1).trimmed();
        masks.replace(QLatin1Char(';'), QLatin1Char(' '));
        QString desc = parts.at(i).trimmed();
        // Qt reads the masks from the last "(...)" of an entry.
        desc.replace(QLatin1Char('('), QLatin1Char('[')).replace(QLatin1Char(')'), QLatin1Char(']'));
        out << QStringLiteral("%1 (%2)").arg(desc, masks.simplified());
    }
    return out.join(QStringLiteral(";;"));
}

bool TOpenDialog::Execute()
{
    TDialogRequest r;
    r.kind = TDialogRequest::OpenDialog;
    r.caption = Title;
    r.title = Title;
    r.filter = Filter;
    r.filterIndex = FilterIndex;
    r.initialDir = InitialDir;
    r.fileName = FileName;
    if (ExecuteDialog(r) != mrOk || r.fileName.isEmpty())
        return false;
    QString name = r.fileName;
    if (!DefaultExt.isEmpty() && QFileInfo(name).suffix().isEmpty())
        name += QLatin1Char('.') + DefaultExt;
    FileName = name;
    return true;
}

} // namespace rpt
