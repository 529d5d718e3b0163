#pragma once
// Labels, edit boxes, memos, combo boxes and push buttons.

#include "platform/db/DataSet.h"
#include "platform/forms/Controls.h"
#include "platform/forms/Dialogs.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStringList>
#include <QValidator>

class QMimeData;

namespace rpt {

class TWinControl;

enum TTextLayout { tlTop, tlCenter, tlBottom };

// Static text. A "&" marks the access key (drawn underlined) unless ShowAccelChar is
// off; "&&" shows one "&". AutoSize makes the label as large as its text.
class TLabel : public TControlT<QWidget> {
    Q_OBJECT
public:
    explicit TLabel(QWidget *parent = nullptr, const QString &name = QString());

    QString Caption() const { return m_caption; }
    void SetCaption(const QString &c);
    bool AutoSize() const { return m_autoSize; }
    void SetAutoSize(bool a);
    TAlignment Alignment() const { return m_alignment; }
    void SetAlignment(TAlignment a) { m_alignment = a; update(); }
    TTextLayout Layout() const { return m_layout; }
    void SetLayout(TTextLayout l) { m_layout = l; update(); }
    bool WordWrap() const { return m_wordWrap; }
    void SetWordWrap(bool w);
    bool Transparent() const { return m_transparent; }
    void SetTransparent(bool t);
    bool ShowAccelChar() const { return m_showAccel; }
    void SetShowAccelChar(bool s);
    // The control that the access key focuses.
    QWidget *FocusControl() const { return m_focusControl; }
    void SetFocusControl(QWidget *w) { m_focusControl = w; }

    QSize sizeHint() const override;

protected:
    bool FillsBackground() const override { return !m_transparent; }
    void paintEvent(QPaintEvent *e) override;
    void mouseReleaseEvent(QMouseEvent *e) override;
    void mouseDoubleClickEvent(QMouseEvent *e) override;
    virtual QString DisplayText() const { return m_caption; }
    void adjustBounds();
    int textFlags() const;

private:
    QString m_caption;
    bool m_autoSize = true;
    TAlignment m_alignment = taLeftJustify;
    TTextLayout m_layout = tlTop;
    bool m_wordWrap = false;
    bool m_transparent = false;
    bool m_showAccel = true;
    QPointer<QWidget> m_focusControl;
};

// ---------------------------------------------------------------------------------------
// Limits typed and pasted text to a number of bytes of code page 950 (the program's ANSI
// text), where a double-byte character takes two. An insertion that does not fit whole
// is cut to the characters that fit; one of which nothing fits is refused.
class TAnsiLengthValidator : public QValidator {
    Q_OBJECT
public:
    explicit TAnsiLengthValidator(QObject *parent = nullptr) : QValidator(parent) {}
    int MaxBytes = 0;        // 0: no limit
    QString previous;        // text before the edit, kept by the editor
    State validate(QString &input, int &pos) const override;
    // Fits `text` (the result of replacing part of `before`) into maxBytes by cutting the
    // inserted part. Returns false when not even one inserted character fits.
    static bool fitInsertion(const QString &before, QString &text, int &cursor, int maxBytes);
};

enum TEditCharCase { ecNormal, ecUpperCase, ecLowerCase };

// A single-line edit box. MaxLength counts bytes of code page 950 (0: no limit).
class TEdit : public TControlT<QLineEdit> {
    Q_OBJECT
public:
    explicit TEdit(QWidget *parent = nullptr, const QString &name = QString());

    QString Text() const { return text(); }
    void SetText(const QString &t);
    int MaxLength() const { return m_validator->MaxBytes; }
    void SetMaxLength(int bytes);
    bool ReadOnly() const { return isReadOnly(); }
    void SetReadOnly(bool r) { setReadOnly(r); }
    bool Modified() const { return isModified(); }
    void SetModified(bool m) { setModified(m); }
    TBorderStyle BorderStyle() const { return hasFrame() ? bsSingle : bsNone; }
    void SetBorderStyle(TBorderStyle s) { setFrame(s != bsNone); }
    void SelectAll() { selectAll(); }

    TNotifyEvent OnChange;

protected:
    QPalette::ColorRole ColorRole() const override { return QPalette::Base; }
    void keyPressEvent(QKeyEvent *e) override;
    // Hook for subclasses: the user is about to change the text. Returning false refuses
    // the change (the key is dropped).
    virtual bool BeforeUserEdit() { return true; }
    // False while a change by the user would first need BeforeUserEdit (a data-aware
    // box whose dataset is not yet editing).
    virtual bool UserEditStarted() const { return true; }
    // The user changed the text (typing, pasting, deleting).
    virtual void UserChanged() {}
    virtual void Change();
    // Sets the text without treating it as the user's.
    void setTextQuietly(const QString &t);

    TAnsiLengthValidator *m_validator;

private:
    void onTextEdited(const QString &);
    void onTextChanged(const QString &);
    QString m_lastText;
    bool m_inKey = false;
};

// ---------------------------------------------------------------------------------------
enum TScrollStyle { ssNone, ssHorizontal, ssVertical, ssBoth };

// A multi-line edit box. Enter starts a new line; Tab moves the focus.
class TMemo : public TControlT<QPlainTextEdit> {
    Q_OBJECT
public:
    explicit TMemo(QWidget *parent = nullptr, const QString &name = QString());

    QString Text() const { return toPlainText(); }
    void SetText(const QString &t);
    QStringList Lines() const { return toPlainText().split(QLatin1Char('\n')); }
    bool WordWrap() const { return m_wordWrap; }
    void SetWordWrap(bool w);
    TScrollStyle ScrollBars() const { return m_scrollBars; }
    void SetScrollBars(TScrollStyle s);
    bool ReadOnly() const { return isReadOnly(); }
    void SetReadOnly(bool r) { setReadOnly(r); }
    bool WantTabs() const { return !tabChangesFocus(); }
    void SetWantTabs(bool w) { setTabChangesFocus(!w); }
    TBorderStyle BorderStyle() const { return frameShape() == QFrame::NoFrame ? bsNone : bsSingle; }
    void SetBorderStyle(TBorderStyle s) { setFrameShape(s == bsNone ? QFrame::NoFrame : QFrame::StyledPanel); }

    TNotifyEvent OnChange;

protected:
    QPalette::ColorRole ColorRole() const override { return QPalette::Base; }
    void keyPressEvent(QKeyEvent *e) override;
    void insertFromMimeData(const QMimeData *source) override;
    virtual bool BeforeUserEdit() { return true; }
    virtual bool UserEditStarted() const { return true; }
    virtual void UserChanged() {}
    // Sets the text without treating it as the user's; keeps the cursor when unchanged.
    void setTextQuietly(const QString &t);

    bool m_settingText = false;

private:
    void onTextChanged();
    bool m_wordWrap = true;
    TScrollStyle m_scrollBars = ssNone;
};

// ---------------------------------------------------------------------------------------
enum TComboBoxStyle { csDropDown, csSimple, csDropDownList };

// A combo box. csDropDown (the default) lets the user type any text; the list offers
// Items.
class TComboBox : public TControlT<QComboBox> {
    Q_OBJECT
public:
    explicit TComboBox(QWidget *parent = nullptr, const QString &name = QString());

    QString Text() const { return currentText(); }
    void SetText(const QString &t);
    QStringList Items() const;
    void SetItems(const QStringList &items);
    int ItemIndex() const { return currentIndex(); }
    void SetItemIndex(int i) { setCurrentIndex(i); }
    TComboBoxStyle Style() const { return m_style; }
    void SetStyle(TComboBoxStyle s);
    int ItemHeight = 16;
    int DropDownCount = 8;

    TNotifyEvent OnChange;

protected:
    QPalette::ColorRole ColorRole() const override { return QPalette::Base; }
    void keyPressEvent(QKeyEvent *e) override;
    virtual bool BeforeUserEdit() { return true; }
    virtual bool UserEditStarted() const { return true; }
    virtual void UserChanged() {}
    void setTextQuietly(const QString &t);

    bool m_settingText = false;

private:
    void onActivated(int index);
    void onEditTextChanged(const QString &t);
    TComboBoxStyle m_style = csDropDown;
    QString m_lastText;
};

// ---------------------------------------------------------------------------------------
// A push button. Default: Enter in the form presses it; Cancel: Esc presses it. A
// ModalResult other than mrNone ends the form's modal run when the button is clicked.
class TButton : public TControlT<QPushButton> {
    Q_OBJECT
public:
    explicit TButton(QWidget *parent = nullptr, const QString &name = QString());

    QString Caption() const { return text(); }
    void SetCaption(const QString &c) { setText(c); }
    bool Default() const { return m_default; }
    void SetDefault(bool d) { m_default = d; setDefault(d); }
    bool Cancel() const { return m_cancel; }
    void SetCancel(bool c) { m_cancel = c; }
    TModalResult ModalResult() const { return m_modalResult; }
    void SetModalResult(TModalResult r) { m_modalResult = r; }

    // Sets the form's modal result, then fires OnClick. Exceptions reach the caller.
    virtual void Click();

private:
    bool m_default = false;
    bool m_cancel = false;
    TModalResult m_modalResult = mrNone;
};

} // namespace rpt
