#pragma once
// The application object and the form (window) base class.
//
//   int main(int argc, char **argv) {
//       rpt::TApplication app(argc, argv);      // sets the global rpt::Application
//       Application->Initialize();
//       Application->CreateForm<TFormRptDlg>(); // the first form is the main form
//       return Application->Run();              // until the main form closes
//   }
//
// Failures: every event our controls dispatch runs under guarded() (Controls.h); as a
// safety net the QApplication that TApplication creates catches whatever still escapes
// an event handler. Both end in TApplication::HandleException: Application->OnException
// when assigned, otherwise the standard error box (ShowException). The program goes on.

#include "platform/db/Paths.h"
#include "platform/forms/Controls.h"
#include "platform/forms/Dialogs.h"

#include <QApplication>
#include <QPointer>

#include <exception>
#include <functional>
#include <memory>

namespace rpt {

class TForm;

// Directory of the running executable with a trailing "/" (not the working directory).
QString ExeDir();
// Full path of the running executable.
QString ExeName();

// Raised to leave a handler without a message (the error box ignores it).
class EAbort : public Exception {
public:
    EAbort() : Exception(QStringLiteral("Operation aborted")) {}
    const char *className() const override { return "EAbort"; }
};
[[noreturn]] void Abort();

// What escaped a handler, as the application reports it.
struct TExceptionInfo {
    QString className;   // "EDatabaseError", "std::exception", ...
    QString message;     // the exception's own message
};
using TExceptionEvent = std::function<void(QObject *Sender, const TExceptionInfo &E)>;

// ---------------------------------------------------------------------------------------
class TApplication : public QObject {
    Q_OBJECT
public:
    // Creates the QApplication (with the exception safety net) unless one exists already,
    // registers the project's font aliases first, and sets the global Application.
    TApplication(int &argc, char **argv);
    // Attaches to the QApplication that already exists (tests' QTEST_MAIN).
    TApplication();
    ~TApplication() override;

    void Initialize();
    // Creates a form of class T (owned by the application). The first form created this
    // way is the main form; it is the main form already while its constructor runs, so a
    // Close() from its creation handler ends the program as it would later.
    template <class T, class... Args>
    T *CreateForm(Args &&...args)
    {
        m_creatingForm = true;
        T *f = nullptr;
        try {
            f = new T(std::forward<Args>(args)...);
        } catch (...) {
            m_creatingForm = false;
            throw;
        }
        m_creatingForm = false;
        adoptForm(f);
        return f;
    }
    template <class T>
    void CreateForm(T *&ref)
    {
        ref = CreateForm<T>();
    }

    // Shows the main form and runs the message loop until the main form closes or
    // Terminate() is called. Returns at once when that happened already.
    int Run();
    void Terminate();
    bool Terminated() const { return m_terminated; }
    void ProcessMessages();

    TForm *MainForm() const { return m_mainForm; }
    QString Title() const;
    void SetTitle(const QString &t) { m_title = t; }
    QString ExeName() const { return rpt::ExeName(); }
    static QString ExeDir() { return rpt::ExeDir(); }

    // Reports the exception being handled (call inside a catch block): to OnException
    // when assigned, else the error box. EAbort is ignored.
    void HandleException(QObject *sender = nullptr);
    void HandleException(QObject *sender, const TExceptionInfo &e);
    // The standard error box: the message (with "." added as errorBoxText says), an OK
    // button, the application title as caption and a stop icon.
    void ShowException(const QString &message);
    void ShowException(const std::exception &e);

    TExceptionEvent OnException;

    // Forms alive, oldest first.
    QList<TForm *> Forms() const;

    // Used by TForm.
    bool creatingForm() const { return m_creatingForm; }
    void formCreated(TForm *f);
    void formDestroyed(TForm *f);

private:
    void adoptForm(TForm *f);

    std::unique_ptr<QApplication> m_ownedApp;
    QPointer<TForm> m_mainForm;
    QList<QPointer<TForm>> m_forms;
    QString m_title;
    bool m_terminated = false;
    bool m_creatingForm = false;
    bool m_running = false;
};

// The application object of the process (null before TApplication is constructed).
extern TApplication *Application;

// Finds a live form by its name (the form name a window is designed under).
TForm *FindForm(const QString &name);
// Finds a component by "FormName" or "FormName.ComponentName" across the live forms.
QObject *FindGlobalComponent(const QString &name);

// Translates a caught exception into what the error box reports.
TExceptionInfo describeCurrentException();

// ---------------------------------------------------------------------------------------
enum TCloseAction { caNone, caHide, caFree, caMinimize };
enum TWindowState { wsNormal, wsMinimized, wsMaximized };
enum TFormStyle { fsNormal, fsMDIChild, fsMDIForm, fsStayOnTop };
enum TPosition {
    poDesigned,
    poDefault,
    poDefaultPosOnly,
    poDefaultSizeOnly,
    poScreenCenter,
    poDesktopCenter,
    poMainFormCenter,
    poOwnerFormCenter,
};
using TFormBorderStyle = TBorderStyle;
enum TBorderIconFlag : quint8 { biSystemMenu = 1, biMinimize = 2, biMaximize = 4, biHelp = 8 };
using TBorderIcons = quint8;

using TCloseEvent = std::function<void(QObject *Sender, TCloseAction &Action)>;
using TCloseQueryEvent = std::function<void(QObject *Sender, bool &CanClose)>;

// A window. Its children are laid out by alignment like any container. Coordinates of
// the form itself: Left/Top are the frame's position on the screen; the size given by
// SetClientSize/ClientWidth/ClientHeight is the client area (the frame is the window
// manager's).
class TForm : public TWinControl {
    Q_OBJECT
public:
    // `owner`: the window this one belongs to (it then stays above it and is destroyed
    // with it), or none for a window the application owns.
    explicit TForm(QWidget *owner = nullptr);
    ~TForm() override;

    QString Caption() const { return windowTitle(); }
    void SetCaption(const QString &c) { setWindowTitle(c); }

    int ClientWidth() const { return width(); }
    int ClientHeight() const { return height(); }
    void SetClientWidth(int w) { SetClientSize(w, height()); }
    void SetClientHeight(int h) { SetClientSize(width(), h); }
    void SetClientSize(int w, int h);
    void SetBounds(int l, int t, int w, int h) override;

    // --- window settings
    TFormBorderStyle BorderStyle() const { return m_borderStyle; }
    void SetBorderStyle(TFormBorderStyle s);
    TBorderIcons BorderIcons() const { return m_borderIcons; }
    void SetBorderIcons(TBorderIcons icons);
    TFormStyle FormStyle() const { return m_formStyle; }
    void SetFormStyle(TFormStyle s);
    TPosition Position() const { return m_position; }
    void SetPosition(TPosition p) { m_position = p; }
    TWindowState WindowState() const;
    void SetWindowState(TWindowState s);

    // --- showing and closing
    void Show();
    void Hide() { hide(); }
    // Runs the window modally until ModalResult becomes non-zero (set by a button, by
    // Close(), or by code) and the close handlers agree. Returns the modal result.
    TModalResult ShowModal();
    TModalResult ModalResult() const { return m_modalResult; }
    void SetModalResult(TModalResult r);
    bool IsModal() const { return m_modal; }
    // Asks OnCloseQuery, runs OnClose, then hides/frees/minimises as the action says.
    // Closing the main form ends the program. In a modal run: sets ModalResult to
    // mrCancel instead.
    void Close();
    // Deletes the form once the current event is done.
    void Release();
    // The window's current focused control.
    QWidget *ActiveControl() const;
    void SetActiveControl(QWidget *w);

    // Component owned by the form by its designer name; null when none.
    QObject *FindComponent(const QString &name) const;

    // --- events (object-bound, as the windows assign them)
    TNotifyEvent OnCreate, OnDestroy, OnActivate, OnDeactivate, OnShow, OnHide;
    TCloseEvent OnClose;
    TCloseQueryEvent OnCloseQuery;

    // Runs OnCreate; a subclass calls it at the end of its constructor. An exception
    // from the handler goes to the error box and the form is still created.
    void DoCreate();

protected:
    virtual void DoClose(TCloseAction &action);
    virtual bool CloseQuery();
    bool event(QEvent *e) override;
    void closeEvent(QCloseEvent *e) override;
    void showEvent(QShowEvent *e) override;
    void hideEvent(QHideEvent *e) override;
    void keyPressEvent(QKeyEvent *e) override;

private:
    void applyWindowFlags();
    void placeOnShow();
    void fixSize(bool fixed);
    // OnCloseQuery and OnClose; returns the action (caNone: the form stays).
    TCloseAction closeProtocol();

    TFormBorderStyle m_borderStyle = bsSizeable;
    TBorderIcons m_borderIcons = biSystemMenu | biMinimize | biMaximize;
    TFormStyle m_formStyle = fsNormal;
    TPosition m_position = poDesigned;
    TModalResult m_modalResult = mrNone;
    bool m_modal = false;
    bool m_placed = false;
    bool m_inClose = false;
    std::exception_ptr m_closeError;
    class QEventLoop *m_loop = nullptr;
};

} // namespace rpt
