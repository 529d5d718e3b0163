#pragma once
// Modal results, the confirmation box (MessageDlg), the standard error box and the
// file-open dialog.
//
// Every one of these boxes goes through one replaceable hook (SetDialogHook). With a hook
// installed the box is not shown: the hook sees what the box would show and answers for
// the user. Tests use it; so does anything that runs without a screen. Without a hook on
// a headless platform (offscreen/minimal) nobody could answer, so the box is not shown
// either: its text goes to standard error and it answers as if closed (Cancel/No, or OK
// for a box that only has OK) — a run never hangs on an invisible box.

#include "platform/db/DataSet.h"

#include <QString>

#include <functional>
#include <initializer_list>

class QWidget;

namespace rpt {

using TModalResult = int;
inline constexpr TModalResult mrNone = 0;
inline constexpr TModalResult mrOk = 1;
inline constexpr TModalResult mrCancel = 2;
inline constexpr TModalResult mrAbort = 3;
inline constexpr TModalResult mrRetry = 4;
inline constexpr TModalResult mrIgnore = 5;
inline constexpr TModalResult mrYes = 6;
inline constexpr TModalResult mrNo = 7;
inline constexpr TModalResult mrAll = 8;
inline constexpr TModalResult mrNoToAll = 9;
inline constexpr TModalResult mrYesToAll = 10;

enum TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };
enum TMsgDlgBtn { mbYes, mbNo, mbOK, mbCancel, mbAbort, mbRetry, mbIgnore, mbAll, mbNoToAll, mbYesToAll, mbHelp };

// A set of message-box buttons; bit n stands for the button of ordinal n.
class TMsgDlgButtons {
public:
    constexpr TMsgDlgButtons() = default;
    constexpr TMsgDlgButtons(std::initializer_list<TMsgDlgBtn> l)
    {
        for (TMsgDlgBtn b : l)
            m_bits |= quint16(1u << b);
    }
    constexpr bool contains(TMsgDlgBtn b) const { return m_bits & (1u << b); }
    constexpr bool isEmpty() const { return m_bits == 0; }
    constexpr TMsgDlgButtons &operator<<(TMsgDlgBtn b) { m_bits |= quint16(1u << b); return *this; }
    constexpr TMsgDlgButtons &remove(TMsgDlgBtn b) { m_bits &= quint16(~(1u << b)); return *this; }
    constexpr bool operator==(const TMsgDlgButtons &o) const = default;
    constexpr quint16 bits() const { return m_bits; }

private:
    quint16 m_bits = 0;
};

inline const TMsgDlgButtons mbYesNoCancel{mbYes, mbNo, mbCancel};
inline const TMsgDlgButtons mbOKCancel{mbOK, mbCancel};

// The result a button gives (mbOK -> mrOk, mbYes -> mrYes ...).
TModalResult modalResultOf(TMsgDlgBtn b);
// The button's caption as the box shows it ("&Yes", "OK", "Cancel" ...).
QString buttonCaption(TMsgDlgBtn b);
// The button the box answers with when it is closed without a choice: Cancel if present,
// else No, else OK (as the platform's box picks its cancel button).
TMsgDlgBtn escapeButton(TMsgDlgButtons buttons);
// The button Enter presses: OK if present, else Yes, else Retry, else the first.
TMsgDlgBtn defaultButton(TMsgDlgButtons buttons);

// What a box would show, handed to the hook.
struct TDialogRequest {
    enum Kind { ErrorBox, MessageDlg, OpenDialog };
    Kind kind = MessageDlg;
    QString caption;
    QString text;              // the message (error box: already with its final ".")
    TMsgDlgType type = mtInformation;
    TMsgDlgButtons buttons;
    int helpCtx = 0;
    // File dialogs: in: filter (as the form gives it), initial folder, file name, title;
    // out: fileName, the chosen full path when the hook answers mrOk.
    QString filter;
    QString initialDir;
    QString fileName;
    QString title;
    int filterIndex = 1;
};
// Returns the modal result of the user's answer (mrOk/mrCancel for file dialogs).
using TDialogHook = std::function<TModalResult(TDialogRequest &)>;
// Installs the hook (an empty function removes it) and returns the previous one.
TDialogHook SetDialogHook(TDialogHook hook);
bool HasDialogHook();

// Shows a request: through the hook, or on screen. The result as above.
TModalResult ExecuteDialog(TDialogRequest &request);

// The confirmation/message box: icon by type, caption by type ("Warning", "Error",
// "Information", "Confirm"; the application title for mtCustom). Returns the result of
// the pressed button.
TModalResult MessageDlg(const QString &msg, TMsgDlgType type, TMsgDlgButtons buttons, int helpCtx = 0);

// The standard error box: `text` (as given), OK only, stop icon, `caption`.
void ShowErrorBox(const QString &text, const QString &caption);

// A message as the error box shows it: "." appended when the last character sorts after
// "." (a message ending in "." or in a lower-coded character is left alone).
QString errorBoxText(const QString &message);

// ---------------------------------------------------------------------------------------
// The file-open dialog.
enum TOpenOption : quint32 {
    ofReadOnly = 1u << 0,
    ofOverwritePrompt = 1u << 1,
    ofHideReadOnly = 1u << 2,
    ofNoChangeDir = 1u << 3,
    ofAllowMultiSelect = 1u << 9,
    ofPathMustExist = 1u << 11,
    ofFileMustExist = 1u << 12,
    ofEnableSizing = 1u << 23,
};
using TOpenOptions = quint32;

class TOpenDialog : public TComponent {
    Q_OBJECT
public:
    explicit TOpenDialog(QObject *owner = nullptr, const QString &name = QString())
        : TComponent(owner, name) {}

    // "description|mask|description|mask...", masks separated by ";".
    QString Filter;
    int FilterIndex = 1;
    QString InitialDir;
    QString FileName;
    QString DefaultExt;
    QString Title;
    TOpenOptions Options = ofHideReadOnly | ofEnableSizing;

    // Shows the dialog; true when the user confirmed a file, whose full path is then in
    // FileName. Cancelling leaves FileName unchanged.
    bool Execute();

    // The Qt form of a filter: "desc (mask mask);;desc (mask)".
    static QString qtFilter(const QString &filter);
};

} // namespace rpt
