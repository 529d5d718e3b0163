#include "platform/forms/Form.h"

#include "platform/forms/StdCtrls.h"

#include <QCloseEvent>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>

namespace rpt {

TApplication *Application = nullptr;

namespace {

// The safety net: whatever escapes an event handler is reported instead of unwinding
// through Qt's event dispatch.
class RptQApplication : public QApplication {
public:
    RptQApplication(int &argc, char **argv) : QApplication(argc, argv) {}
    bool notify(QObject *receiver, QEvent *e) override
    {
        try {
            return QApplication::notify(receiver, e);
        } catch (...) {
            try {
                handleCurrentException(receiver);
            } catch (...) {
            }
            return false;
        }
    }
};

QString procSelfExe()
{
    const QFileInfo fi(QStringLiteral("/proc/self/exe"));
    const QString target = fi.symLinkTarget();
    return target.isEmpty() ? QString() : QDir::cleanPath(target);
}

} // namespace

QString ExeName()
{
    if (QCoreApplication::instance()) {
        const QString p = QCoreApplication::applicationFilePath();
        if (!p.isEmpty())
            return p;
    }
    return procSelfExe();
}

QString ExeDir()
{
    return executableDir();
}

void Abort() { throw EAbort(); }

// ---- TApplication -------------------------------------------------------------------------

TApplication::TApplication(int &argc, char **argv)
{
    // Fonts first: fontconfig must know the Windows face names before Qt asks it.
    installFontAliases();
    if (!QCoreApplication::instance())
        m_ownedApp = std::make_unique<RptQApplication>(argc, argv);
    installFontAliases();
    QGuiApplication::setQuitOnLastWindowClosed(false);
    Application = this;
}

TApplication::TApplication()
{
    installFontAliases();
    Application = this;
}

TApplication::~TApplication()
{
    // Forms the application owns go before the QApplication does, newest first.
    for (int i = m_forms.size() - 1; i >= 0; --i)
        if (TForm *f = m_forms.at(i); f && !f->parentWidget())
            delete f;
    m_forms.clear();
    if (Application == this)
        Application = nullptr;
    m_ownedApp.reset();
}

void TApplication::Initialize() { installFontAliases(); }

QString TApplication::Title() const
{
    if (!m_title.isEmpty())
        return m_title;
    return QFileInfo(rpt::ExeName()).completeBaseName();
}

void TApplication::adoptForm(TForm *f)
{
    if (!m_mainForm && f)
        m_mainForm = f;
}

void TApplication::formCreated(TForm *f)
{
    m_forms.removeAll(nullptr);
    m_forms << f;
    if (m_creatingForm && !m_mainForm)
        m_mainForm = f;
}

void TApplication::formDestroyed(TForm *f)
{
    m_forms.removeAll(f);
    m_forms.removeAll(nullptr);
    if (m_mainForm == f) {
        m_mainForm = nullptr;
        Terminate();
    }
}

QList<TForm *> TApplication::Forms() const
{
    QList<TForm *> out;
    for (const auto &f : m_forms)
        if (f)
            out << f;
    return out;
}

int TApplication::Run()
{
    if (m_terminated || !m_mainForm)
        return 0;
    if (!m_mainForm->isVisible())
        m_mainForm->Show();
    if (m_terminated)
        return 0;
    m_running = true;
    const int rc = QCoreApplication::exec();
    m_running = false;
    return rc;
}

void TApplication::Terminate()
{
    m_terminated = true;
    QCoreApplication::exit(0);
}

void TApplication::ProcessMessages() { QCoreApplication::processEvents(); }

void TApplication::HandleException(QObject *sender)
{
    HandleException(sender, describeCurrentException());
}

void TApplication::HandleException(QObject *sender, const TExceptionInfo &e)
{
    if (e.className == QLatin1String("EAbort"))
        return;
    if (OnException) {
        try {
            OnException(sender, e);
        } catch (...) {
            ShowException(describeCurrentException().message);
        }
        return;
    }
    ShowException(e.message);
}

void TApplication::ShowException(const QString &message)
{
    ShowErrorBox(errorBoxText(message), Title());
}

void TApplication::ShowException(const std::exception &e)
{
    if (auto *re = dynamic_cast<const Exception *>(&e))
        ShowException(re->message());
    else
        ShowException(QString::fromUtf8(e.what()));
}

TForm *FindForm(const QString &name)
{
    if (Application)
        for (TForm *f : Application->Forms())
            if (f->objectName().compare(name, Qt::CaseInsensitive) == 0)
                return f;
    if (qobject_cast<QApplication *>(QCoreApplication::instance()))
        for (QWidget *w : QApplication::topLevelWidgets())
            if (auto *f = qobject_cast<TForm *>(w); f && f->objectName().compare(name, Qt::CaseInsensitive) == 0)
                return f;
    return nullptr;
}

QObject *FindGlobalComponent(const QString &name)
{
    const int dot = name.indexOf(QLatin1Char('.'));
    if (dot < 0)
        return FindForm(name);
    TForm *f = FindForm(name.left(dot));
    return f ? f->FindComponent(name.mid(dot + 1)) : nullptr;
}

// ---- TForm --------------------------------------------------------------------------------

TForm::TForm(QWidget *owner) : TWinControl(owner, Qt::Window)
{
    m_color = clBtnFace;
    m_parentColor = false;
    ApplyColor();
    SetFont(TFont());
    applyWindowFlags();
    if (Application)
        Application->formCreated(this);
}

TForm::~TForm()
{
    if (OnDestroy)
        guarded([&] { OnDestroy(this); }, this);
    if (Application)
        Application->formDestroyed(this);
}

void TForm::DoCreate()
{
    if (OnCreate)
        guarded([&] { OnCreate(this); }, this);
}

void TForm::SetBounds(int l, int t, int w, int h)
{
    move(l, t);
    SetClientSize(w, h);
}

void TForm::SetClientSize(int w, int h)
{
    const bool fixed = minimumSize() == maximumSize() && isVisible();
    if (fixed)
        fixSize(false);
    resize(qMax(0, w), qMax(0, h));
    if (fixed)
        fixSize(true);
}

void TForm::fixSize(bool fixed)
{
    if (fixed)
        setFixedSize(size());
    else {
        setMinimumSize(0, 0);
        setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    }
}

void TForm::SetBorderStyle(TFormBorderStyle s)
{
    m_borderStyle = s;
    applyWindowFlags();
}

void TForm::SetBorderIcons(TBorderIcons icons)
{
    m_borderIcons = icons;
    applyWindowFlags();
}

void TForm::SetFormStyle(TFormStyle s)
{
    m_formStyle = s;
    applyWindowFlags();
}

void TForm::applyWindowFlags()
{
    Qt::WindowFlags f;
    switch (m_borderStyle) {
    case bsNone: f = Qt::Window | Qt::FramelessWindowHint; break;
    case bsDialog: f = Qt::Dialog; break;
    case bsToolWindow:
    case bsSizeToolWin: f = Qt::Tool; break;
    default: f = Qt::Window; break;
    }
    if (m_borderStyle != bsNone) {
        f |= Qt::CustomizeWindowHint | Qt::WindowTitleHint;
        if (m_borderIcons & biSystemMenu)
            f |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
        const bool framedMain = m_borderStyle == bsSizeable || m_borderStyle == bsSingle;
        if (framedMain && (m_borderIcons & biSystemMenu) && (m_borderIcons & biMinimize))
            f |= Qt::WindowMinimizeButtonHint;
        if (framedMain && (m_borderIcons & biSystemMenu) && (m_borderIcons & biMaximize))
            f |= Qt::WindowMaximizeButtonHint;
        if (m_borderIcons & biHelp)
            f |= Qt::WindowContextHelpButtonHint;
    }
    if (m_formStyle == fsStayOnTop)
        f |= Qt::WindowStaysOnTopHint;
    const bool wasVisible = isVisible();
    setWindowFlags(f);
    if (wasVisible)
        show();
}

TWindowState TForm::WindowState() const
{
    const Qt::WindowStates s = windowState();
    if (s & Qt::WindowMinimized)
        return wsMinimized;
    if (s & (Qt::WindowMaximized | Qt::WindowFullScreen))
        return wsMaximized;
    return wsNormal;
}

void TForm::SetWindowState(TWindowState s)
{
    Qt::WindowStates st = windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen);
    if (s == wsMinimized)
        st |= Qt::WindowMinimized;
    else if (s == wsMaximized)
        st |= Qt::WindowMaximized;
    setWindowState(st);
}

void TForm::placeOnShow()
{
    if (m_placed)
        return;
    m_placed = true;
    QWidget *ref = nullptr;
    switch (m_position) {
    case poMainFormCenter:
        ref = Application ? Application->MainForm() : nullptr;
        break;
    case poOwnerFormCenter:
        ref = parentWidget() ? parentWidget()->window() : nullptr;
        break;
    case poScreenCenter:
    case poDesktopCenter:
        break;
    default:
        return;
    }
    QRect area;
    if (ref && ref != this && ref->isVisible())
        area = ref->frameGeometry();
    else if (QScreen *scr = QGuiApplication::primaryScreen())
        area = scr->geometry();
    if (area.isEmpty())
        return;
    const QSize outer = frameGeometry().size().expandedTo(size());
    move(area.left() + (area.width() - outer.width()) / 2, area.top() + (area.height() - outer.height()) / 2);
}

void TForm::Show()
{
    show();
    raise();
    activateWindow();
}

TModalResult TForm::ShowModal()
{
    if (m_modal || isVisible())
        throw Exception(QStringLiteral("Cannot make a visible window modal"));
    QPointer<TForm> self(this);
    m_modal = true;
    m_modalResult = mrNone;
    setWindowModality(Qt::ApplicationModal);
    Show();
    QEventLoop loop;
    m_loop = &loop;
    TCloseAction action = caHide;
    for (;;) {
        if (self && m_modalResult == mrNone && !(Application && Application->Terminated()))
            loop.exec(QEventLoop::DialogExec);
        if (!self)
            return mrCancel;
        if (Application && Application->Terminated() && m_modalResult == mrNone)
            m_modalResult = mrCancel;
        if (m_modalResult == mrNone)
            continue;
        // The close handlers may keep the window open.
        action = caNone;
        if (!guarded([&] { action = closeProtocol(); }, this) || action == caNone) {
            if (Application && Application->Terminated())
                break;
            m_modalResult = mrNone;
            continue;
        }
        break;
    }
    m_loop = nullptr;
    const TModalResult result = m_modalResult;
    hide();
    setWindowModality(Qt::NonModal);
    m_modal = false;
    if (action == caFree)
        Release();
    return result;
}

void TForm::SetModalResult(TModalResult r)
{
    m_modalResult = r;
    if (m_modal && r != mrNone && m_loop)
        m_loop->quit();
}

TCloseAction TForm::closeProtocol()
{
    if (!CloseQuery())
        return caNone;
    TCloseAction action = caHide;
    DoClose(action);
    return action;
}

bool TForm::CloseQuery()
{
    bool can = true;
    if (OnCloseQuery)
        OnCloseQuery(this, can);
    return can;
}

void TForm::DoClose(TCloseAction &action)
{
    if (OnClose)
        OnClose(this, action);
}

void TForm::Close()
{
    if (m_modal) {
        SetModalResult(mrCancel);
        return;
    }
    // Through the window system's close, so that a subclass's closeEvent sees it too.
    m_inClose = true;
    m_closeError = nullptr;
    if (isVisible()) {
        close();
    } else {
        // A window that was never shown (closed during its own creation, as an
        // unattended run does) may have a window handle without a platform window, and
        // QWindow::close() then returns without any close event: run the protocol here.
        QCloseEvent ev;
        QCoreApplication::sendEvent(this, &ev);
    }
    m_inClose = false;
    if (std::exception_ptr err = std::exchange(m_closeError, nullptr))
        std::rethrow_exception(err);
}

void TForm::closeEvent(QCloseEvent *e)
{
    if (m_modal) {
        e->ignore();
        SetModalResult(mrCancel);
        return;
    }
    TCloseAction action = caNone;
    if (m_inClose) {
        // A Close() from code: a failing handler's exception goes back to that caller.
        try {
            action = closeProtocol();
        } catch (...) {
            m_closeError = std::current_exception();
            action = caNone;
        }
    } else if (!guarded([&] { action = closeProtocol(); }, this)) {
        action = caNone;
    }
    if (action == caNone) {
        e->ignore();
        return;
    }
    const bool isMain = Application && Application->MainForm() == this;
    if (isMain)
        Application->Terminate();
    switch (action) {
    case caMinimize:
        if (!isMain) {
            e->ignore();
            SetWindowState(wsMinimized);
            return;
        }
        e->accept();
        break;
    case caFree:
        e->accept();
        Release();
        break;
    default:
        e->accept();
        break;
    }
}

void TForm::Release() { deleteLater(); }

QWidget *TForm::ActiveControl() const
{
    QWidget *f = focusWidget();
    return (f && isAncestorOf(f)) ? f : nullptr;
}

void TForm::SetActiveControl(QWidget *w)
{
    if (w)
        w->setFocus(Qt::OtherFocusReason);
}

QObject *TForm::FindComponent(const QString &name) const
{
    if (name.isEmpty())
        return nullptr;
    QList<QObject *> queue{const_cast<TForm *>(this)};
    while (!queue.isEmpty()) {
        QObject *o = queue.takeFirst();
        for (QObject *c : o->children()) {
            if (qobject_cast<TForm *>(c))
                continue;   // another window's components are its own
            if (c->objectName().compare(name, Qt::CaseInsensitive) == 0)
                return c;
            queue << c;
        }
    }
    return nullptr;
}

bool TForm::event(QEvent *e)
{
    switch (e->type()) {
    case QEvent::WindowActivate:
        if (OnActivate)
            guarded([&] { OnActivate(this); }, this);
        break;
    case QEvent::WindowDeactivate:
        if (OnDeactivate)
            guarded([&] { OnDeactivate(this); }, this);
        break;
    default:
        break;
    }
    return TWinControl::event(e);
}

void TForm::showEvent(QShowEvent *e)
{
    placeOnShow();
    if (m_borderStyle == bsSingle || m_borderStyle == bsDialog || m_borderStyle == bsToolWindow)
        fixSize(true);
    TWinControl::showEvent(e);
    if (OnShow)
        guarded([&] { OnShow(this); }, this);
}

void TForm::hideEvent(QHideEvent *e)
{
    TWinControl::hideEvent(e);
    if (OnHide)
        guarded([&] { OnHide(this); }, this);
}

void TForm::keyPressEvent(QKeyEvent *e)
{
    // Keys no control took: Enter presses the focused or the default button, Esc the
    // cancel button.
    const bool enter = (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) && !(e->modifiers() & ~Qt::KeypadModifier);
    const bool esc = e->key() == Qt::Key_Escape && e->modifiers() == Qt::NoModifier;
    if (enter || esc) {
        TButton *target = nullptr;
        if (enter)
            target = qobject_cast<TButton *>(focusWidget());
        if (!target) {
            for (TButton *b : findChildren<TButton *>()) {
                if (b->window() != this || !b->isVisible() || !b->isEnabled())
                    continue;
                if ((enter && b->Default()) || (esc && b->Cancel())) {
                    target = b;
                    break;
                }
            }
        }
        if (target) {
            e->accept();
            guarded([&] { target->Click(); }, target);
            return;
        }
    }
    TWinControl::keyPressEvent(e);
}

} // namespace rpt
