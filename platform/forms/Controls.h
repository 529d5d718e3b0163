#pragma once
// The control layer shared by every window: aligned layout, bounds, colours and fonts,
// hints, cursors, popup menus and the keyboard/focus events, on top of Qt widgets.
//
// - Align: children of a container are laid out the way the class library does it.
//   Visible children with alTop take the top edge one under the other, then alBottom,
//   alLeft, alRight, and alClient takes what is left. Within one alignment the order is
//   the children's current position along that edge (ties keep the platform's own rule:
//   creation order for top/left, the later control outermost for bottom/right). The
//   alignment of any QWidget can be set (setAlign), so foreign widgets such as the data
//   grid take part too; TWinControl containers realign on every resize.
// - Coordinates are pixels relative to the parent's top-left corner, as the designer
//   gives them.
// - Every event a control dispatches to a handler runs inside guarded(): an exception a
//   handler lets escape reaches the application's error box and the program goes on.

#include "platform/forms/Graphics.h"

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>
#include <type_traits>

class QMenu;

namespace rpt {

class TPopupMenu;

enum TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient };

using TCursor = int;
inline constexpr TCursor crDefault = 0;
inline constexpr TCursor crNone = -1;
inline constexpr TCursor crArrow = -2;
inline constexpr TCursor crCross = -3;
inline constexpr TCursor crIBeam = -4;
inline constexpr TCursor crSizeNESW = -6;
inline constexpr TCursor crSizeNS = -7;
inline constexpr TCursor crSizeNWSE = -8;
inline constexpr TCursor crSizeWE = -9;
inline constexpr TCursor crUpArrow = -10;
inline constexpr TCursor crHourGlass = -11;
inline constexpr TCursor crNoDrop = -13;
inline constexpr TCursor crHSplit = -14;
inline constexpr TCursor crVSplit = -15;
inline constexpr TCursor crNo = -18;
inline constexpr TCursor crAppStart = -19;
inline constexpr TCursor crHelp = -20;
inline constexpr TCursor crHandPoint = -21;
inline constexpr TCursor crSizeAll = -22;
Qt::CursorShape toQtCursor(TCursor c);

enum TBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow, bsSizeToolWin };
enum TMouseButton { mbLeft, mbRight, mbMiddle };
enum TShiftStateFlag : quint8 { ssShift = 1, ssAlt = 2, ssCtrl = 4, ssLeft = 8, ssRight = 16, ssMiddle = 32, ssDouble = 64 };
using TShiftState = quint8;
TShiftState shiftStateOf(Qt::KeyboardModifiers mods, Qt::MouseButtons buttons = Qt::NoButton);

using TNotifyEvent = std::function<void(QObject *Sender)>;
// Key: the platform's virtual-key code (VK_RETURN 13, VK_TAB 9, VK_ESCAPE 27, VK_DELETE
// 46, letters as capitals...); set it to 0 to swallow the key.
using TKeyEvent = std::function<void(QObject *Sender, int &Key, TShiftState Shift)>;
// Key: the typed character (#13 for Enter, #8 for Backspace, #27 for Esc); set it to
// QChar() to swallow it, or change it to type another character.
using TKeyPressEvent = std::function<void(QObject *Sender, QChar &Key)>;
using TMouseEvent = std::function<void(QObject *Sender, TMouseButton Button, TShiftState Shift, int X, int Y)>;

// Qt key <-> virtual-key code.
int virtualKeyOf(int qtKey);
int qtKeyOf(int virtualKey);
// The character a key press types, as the platform's KeyPress sees it (Enter #13, Tab #9,
// Esc #27, Backspace #8); QChar() when the key types nothing.
QChar keyCharOf(const QKeyEvent *e);

// ---- exceptions reaching the error box ---------------------------------------------------
// Runs f; an exception it lets escape goes to the application's exception handling (the
// standard error box, or Application->OnException), and guarded returns normally.
// Returns false when f ended by an exception.
bool guarded(const std::function<void()> &f, QObject *sender = nullptr);
// Inside a catch block: hands the exception being handled to the application.
void handleCurrentException(QObject *sender = nullptr);

// ---- layout on any widget ---------------------------------------------------------------
TAlign alignOf(const QWidget *w);
// Sets the alignment and realigns the parent.
void setAlign(QWidget *w, TAlign a);
// Moves/resizes w (designer coordinates) and realigns its parent when w is aligned.
void setBounds(QWidget *w, int left, int top, int width, int height);
// Lays out the aligned children of `container` inside `area` now.
void alignControls(QWidget *container, QRect area);
// Lays out the aligned children of `container` in its align rectangle (its client area
// less bevels and borders); does nothing while the container's alignment is disabled.
void realign(QWidget *container);

// The state every control adds to its Qt widget.
class TControlIntf {
public:
    virtual ~TControlIntf() = default;
    virtual QWidget *widget() = 0;
    // Called when the colour a ParentColor control takes from its parent changes.
    virtual void ParentColorChanged() = 0;
    virtual TColor EffectiveColor() const = 0;
};

// Helpers of the control mixin (non-template, so the template stays thin).
void controlApplyFontColor(QWidget *w, TColor c);
void controlNotifyChildrenColor(QWidget *w);
void controlPopupAt(TPopupMenu *m, QWidget *owner, const QPoint &globalPos);
QObject *controlPopupObject(TPopupMenu *m);
bool controlDispatchKeys(QWidget *w, QKeyEvent *e, const TKeyEvent &down, const TKeyPressEvent &press,
                         std::unique_ptr<QKeyEvent> *replacement);

// ---- the control mixin ----------------------------------------------------------------------
// Adds the class library's control properties and events to a Qt widget class W. The
// widget stays a W: a TControlT<QLineEdit> is a QLineEdit with Left/Top/Align/Color...
template <class W>
class TControlT : public W, public TControlIntf {
public:
    explicit TControlT(QWidget *parent = nullptr) : W(parent) {}
    TControlT(QWidget *parent, Qt::WindowFlags f)
        requires std::is_constructible_v<W, QWidget *, Qt::WindowFlags>
        : W(parent, f)
    {
    }

    QWidget *widget() override { return this; }

    QString Name() const { return this->objectName(); }
    void SetName(const QString &n) { this->setObjectName(n); }
    int Tag = 0;

    int Left() const { return this->x(); }
    int Top() const { return this->y(); }
    int Width() const { return this->width(); }
    int Height() const { return this->height(); }
    void SetLeft(int v) { SetBounds(v, Top(), Width(), Height()); }
    void SetTop(int v) { SetBounds(Left(), v, Width(), Height()); }
    void SetWidth(int v) { SetBounds(Left(), Top(), v, Height()); }
    void SetHeight(int v) { SetBounds(Left(), Top(), Width(), v); }
    virtual void SetBounds(int l, int t, int w, int h) { rpt::setBounds(this, l, t, w, h); }
    QRect BoundsRect() const { return this->geometry(); }
    int ClientWidth() const { return this->width(); }
    int ClientHeight() const { return this->height(); }

    TAlign Align() const { return alignOf(this); }
    void SetAlign(TAlign a) { setAlign(this, a); }

    bool Visible() const { return !this->isHidden(); }
    void SetVisible(bool v)
    {
        this->setVisible(v);
        if (this->parentWidget())
            realign(this->parentWidget());
    }
    bool Enabled() const { return this->isEnabled(); }
    void SetEnabled(bool e) { this->setEnabled(e); }

    // Colour: own, or the parent control's while ParentColor is set.
    TColor Color() const { return EffectiveColor(); }
    void SetColor(TColor c)
    {
        m_color = c;
        m_parentColor = false;
        ApplyColor();
    }
    bool ParentColor() const { return m_parentColor; }
    void SetParentColor(bool p)
    {
        m_parentColor = p;
        ApplyColor();
    }
    TColor EffectiveColor() const override
    {
        if (m_parentColor)
            if (auto *pc = dynamic_cast<const TControlIntf *>(this->parentWidget()))
                return pc->EffectiveColor();
        return m_color;
    }
    void ParentColorChanged() override
    {
        if (m_parentColor)
            ApplyColor();
    }

    // Font: a TFont set on the control (ParentFont off), or the parent's.
    TFont Font() const { return m_parentFont ? inheritedFont() : m_font; }
    void SetFont(const TFont &f)
    {
        m_font = f;
        m_parentFont = false;
        this->setFont(f.toQFont());
        controlApplyFontColor(this, f.Color);
    }
    bool ParentFont() const { return m_parentFont; }
    void SetParentFont(bool p)
    {
        m_parentFont = p;
        if (p) {
            this->setFont(QFont());
            this->setAttribute(Qt::WA_SetFont, false);
        }
    }

    QString Hint() const { return m_hint; }
    void SetHint(const QString &h)
    {
        m_hint = h;
        this->setToolTip(m_showHint ? h : QString());
    }
    bool ShowHint() const { return m_showHint; }
    void SetShowHint(bool s)
    {
        m_showHint = s;
        this->setToolTip(s ? m_hint : QString());
    }

    TCursor Cursor() const { return m_cursor; }
    void SetCursor(TCursor c)
    {
        m_cursor = c;
        if (c == crDefault)
            this->unsetCursor();
        else
            this->setCursor(toQtCursor(c));
    }

    TPopupMenu *PopupMenu() const { return m_popupAlive ? m_popup : nullptr; }
    void SetPopupMenu(TPopupMenu *m)
    {
        m_popup = m;
        m_popupAlive = controlPopupObject(m);
    }

    bool TabStop() const { return this->focusPolicy() & Qt::TabFocus; }
    void SetTabStop(bool t) { this->setFocusPolicy(t ? Qt::StrongFocus : Qt::ClickFocus); }
    bool Focused() const { return this->hasFocus(); }
    void SetFocus() { this->setFocus(Qt::OtherFocusReason); }

    TNotifyEvent OnClick, OnDblClick, OnEnter, OnExit;
    TKeyEvent OnKeyDown, OnKeyUp;
    TKeyPressEvent OnKeyPress;
    TMouseEvent OnMouseDown, OnMouseUp;

protected:
    // The palette role the control's Color paints (Window for containers, Base for
    // edit boxes) and whether the control fills its background at all.
    virtual QPalette::ColorRole ColorRole() const { return QPalette::Window; }
    virtual bool FillsBackground() const { return true; }

    void ApplyColor()
    {
        const TColor c = EffectiveColor();
        if (FillsBackground() && c != clNone) {
            QPalette p = this->palette();
            p.setColor(ColorRole(), toQColor(c));
            this->setPalette(p);
            this->setAutoFillBackground(ColorRole() == QPalette::Window);
        } else {
            this->setAutoFillBackground(false);
        }
        controlNotifyChildrenColor(this);
        this->update();
    }

    // Runs the class library's key handling: OnKeyDown, then OnKeyPress for a key that
    // types a character. Returns false when a handler swallowed the key; `forward` is
    // then unchanged. Otherwise `forward` is the event to hand to W (the original, or a
    // replacement when OnKeyPress changed the character).
    bool DispatchKeyDown(QKeyEvent *e, std::unique_ptr<QKeyEvent> *replacement)
    {
        return controlDispatchKeys(this, e, OnKeyDown, OnKeyPress, replacement);
    }

    void keyPressEvent(QKeyEvent *e) override
    {
        std::unique_ptr<QKeyEvent> repl;
        if (!DispatchKeyDown(e, &repl))
            return;
        W::keyPressEvent(repl ? repl.get() : e);
    }
    void keyReleaseEvent(QKeyEvent *e) override
    {
        if (OnKeyUp) {
            int key = virtualKeyOf(e->key());
            guarded([&] { OnKeyUp(this, key, shiftStateOf(e->modifiers())); }, this);
            if (key == 0)
                return;
        }
        W::keyReleaseEvent(e);
    }
    void focusInEvent(QFocusEvent *e) override
    {
        W::focusInEvent(e);
        if (OnEnter)
            guarded([&] { OnEnter(this); }, this);
    }
    void focusOutEvent(QFocusEvent *e) override
    {
        W::focusOutEvent(e);
        if (OnExit)
            guarded([&] { OnExit(this); }, this);
    }
    void contextMenuEvent(QContextMenuEvent *e) override
    {
        if (TPopupMenu *m = PopupMenu()) {
            controlPopupAt(m, this, e->globalPos());
            e->accept();
            return;
        }
        W::contextMenuEvent(e);
    }
    void changeEvent(QEvent *e) override
    {
        W::changeEvent(e);
        if (e->type() == QEvent::ParentChange && m_parentColor)
            ApplyColor();
    }

    TColor m_color = clBtnFace;
    bool m_parentColor = true;

private:
    TFont inheritedFont() const { return TFont::fromQFont(this->font()); }

    TFont m_font;
    bool m_parentFont = true;
    QString m_hint;
    bool m_showHint = true;
    TCursor m_cursor = crDefault;
    TPopupMenu *m_popup = nullptr;
    QPointer<QObject> m_popupAlive;   // clears when the menu is destroyed
};

// ---- containers -----------------------------------------------------------------------------
// A control that holds aligned children: panels and forms.
class TWinControl : public TControlT<QWidget> {
    Q_OBJECT
public:
    explicit TWinControl(QWidget *parent = nullptr, Qt::WindowFlags f = {});

    // The rectangle aligned children share: the client area less borders and bevels.
    virtual QRect AlignRect() const { return rect(); }
    void Realign() { realign(this); }
    // Between these, children keep the bounds they are given; EnableAlign then lays them
    // out in their designed order (as a window loading its controls does).
    void DisableAlign() { ++m_alignDisabled; }
    void EnableAlign();
    bool AlignDisabled() const { return m_alignDisabled > 0; }
    // Child controls in creation (z-) order, as the class library lists them.
    QList<QWidget *> Controls() const;

protected:
    bool event(QEvent *e) override;
    void resizeEvent(QResizeEvent *e) override;
    bool eventFilter(QObject *o, QEvent *e) override;

private:
    int m_alignDisabled = 0;
};

} // namespace rpt
