#include "platform/forms/Controls.h"

#include "platform/forms/Form.h"
#include "platform/forms/Menus.h"

#include <QApplication>
#include <QChildEvent>
#include <QSet>

#include <algorithm>

namespace rpt {

// ---- cursors and keys -----------------------------------------------------------------------

Qt::CursorShape toQtCursor(TCursor c)
{
    switch (c) {
    case crNone: return Qt::BlankCursor;
    case crCross: return Qt::CrossCursor;
    case crIBeam: return Qt::IBeamCursor;
    case crSizeNESW: return Qt::SizeBDiagCursor;
    case crSizeNS: return Qt::SizeVerCursor;
    case crSizeNWSE: return Qt::SizeFDiagCursor;
    case crSizeWE: return Qt::SizeHorCursor;
    case crUpArrow: return Qt::UpArrowCursor;
    case crHourGlass: return Qt::WaitCursor;
    case crNoDrop:
    case crNo: return Qt::ForbiddenCursor;
    case crHSplit: return Qt::SplitHCursor;
    case crVSplit: return Qt::SplitVCursor;
    case crAppStart: return Qt::BusyCursor;
    case crHelp: return Qt::WhatsThisCursor;
    case crHandPoint: return Qt::PointingHandCursor;
    case crSizeAll: return Qt::SizeAllCursor;
    default: return Qt::ArrowCursor;
    }
}

TShiftState shiftStateOf(Qt::KeyboardModifiers mods, Qt::MouseButtons buttons)
{
    TShiftState s = 0;
    if (mods & Qt::ShiftModifier) s |= ssShift;
    if (mods & Qt::AltModifier) s |= ssAlt;
    if (mods & Qt::ControlModifier) s |= ssCtrl;
    if (buttons & Qt::LeftButton) s |= ssLeft;
    if (buttons & Qt::RightButton) s |= ssRight;
    if (buttons & Qt::MiddleButton) s |= ssMiddle;
    return s;
}

namespace {
struct KeyPair {
    int qt;
    int vk;
};
const KeyPair kKeys[] = {
    {Qt::Key_Backspace, 8}, {Qt::Key_Tab, 9},        {Qt::Key_Backtab, 9},    {Qt::Key_Return, 13},
    {Qt::Key_Enter, 13},    {Qt::Key_Shift, 16},     {Qt::Key_Control, 17},   {Qt::Key_Alt, 18},
    {Qt::Key_Pause, 19},    {Qt::Key_CapsLock, 20},  {Qt::Key_Escape, 27},    {Qt::Key_Space, 32},
    {Qt::Key_PageUp, 33},   {Qt::Key_PageDown, 34},  {Qt::Key_End, 35},       {Qt::Key_Home, 36},
    {Qt::Key_Left, 37},     {Qt::Key_Up, 38},        {Qt::Key_Right, 39},     {Qt::Key_Down, 40},
    {Qt::Key_Print, 44},    {Qt::Key_Insert, 45},    {Qt::Key_Delete, 46},    {Qt::Key_Menu, 93},
};
} // namespace

int virtualKeyOf(int qtKey)
{
    for (const KeyPair &k : kKeys)
        if (k.qt == qtKey)
            return k.vk;
    if ((qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9) || (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z))
        return qtKey;   // same codes
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F24)
        return 112 + (qtKey - Qt::Key_F1);
    return qtKey;
}

int qtKeyOf(int vk)
{
    for (const KeyPair &k : kKeys)
        if (k.vk == vk)
            return k.qt;
    if ((vk >= '0' && vk <= '9') || (vk >= 'A' && vk <= 'Z'))
        return vk;
    if (vk >= 112 && vk < 112 + 24)
        return Qt::Key_F1 + (vk - 112);
    return vk;
}

QChar keyCharOf(const QKeyEvent *e)
{
    switch (e->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter: return QChar(13);
    case Qt::Key_Tab:
    case Qt::Key_Backtab: return QChar(9);
    case Qt::Key_Escape: return QChar(27);
    case Qt::Key_Backspace: return QChar(8);
    default: break;
    }
    const QString t = e->text();
    if (t.isEmpty())
        return QChar();
    const QChar c = t.at(0);
    if (c == QChar(127))   // Delete types nothing
        return QChar();
    return c;
}

// ---- exceptions ---------------------------------------------------------------------------

TExceptionInfo describeCurrentException()
{
    try {
        throw;
    } catch (const Exception &e) {
        return {QString::fromLatin1(e.className()), e.message()};
    } catch (const std::bad_alloc &) {
        return {QStringLiteral("EOutOfMemory"), QStringLiteral("Out of memory")};
    } catch (const std::exception &e) {
        return {QStringLiteral("std::exception"), QString::fromUtf8(e.what())};
    } catch (...) {
        return {QStringLiteral("Exception"), QStringLiteral("Unknown exception")};
    }
}

void handleCurrentException(QObject *sender)
{
    const TExceptionInfo info = describeCurrentException();
    if (Application) {
        Application->HandleException(sender, info);
        return;
    }
    if (info.className == QLatin1String("EAbort"))
        return;
    // No application object (a tool, a test without one): the box with the program name.
    QString title = QCoreApplication::applicationName();
    ShowErrorBox(errorBoxText(info.message), title);
}

bool guarded(const std::function<void()> &f, QObject *sender)
{
    try {
        f();
        return true;
    } catch (...) {
        try {
            handleCurrentException(sender);
        } catch (...) {
            // Reporting must never take the program down.
        }
        return false;
    }
}

// ---- layout -------------------------------------------------------------------------------

namespace {
const char *const kAlignProperty = "rptAlign";
QSet<const QWidget *> g_aligning;

bool insertBefore(const QRect &c1, const QRect &c2, TAlign a)
{
    switch (a) {
    case alTop: return c1.top() < c2.top();
    case alBottom: return c1.top() + c1.height() >= c2.top() + c2.height();
    case alLeft: return c1.left() < c2.left();
    case alRight: return c1.left() + c1.width() >= c2.left() + c2.width();
    default: return false;
    }
}
} // namespace

TAlign alignOf(const QWidget *w)
{
    const QVariant v = w->property(kAlignProperty);
    return v.isValid() ? TAlign(v.toInt()) : alNone;
}

void setAlign(QWidget *w, TAlign a)
{
    if (alignOf(w) == a && w->property(kAlignProperty).isValid())
        return;
    w->setProperty(kAlignProperty, int(a));
    if (QWidget *p = w->parentWidget())
        realign(p);
}

void setBounds(QWidget *w, int left, int top, int width, int height)
{
    w->setGeometry(left, top, qMax(0, width), qMax(0, height));
    if (alignOf(w) != alNone)
        if (QWidget *p = w->parentWidget())
            realign(p);
}

void alignControls(QWidget *container, QRect area)
{
    if (g_aligning.contains(container))
        return;
    g_aligning.insert(container);
    struct Guard {
        QWidget *c;
        ~Guard() { g_aligning.remove(c); }
    } guard{container};

    QList<QWidget *> children;
    for (QObject *o : container->children()) {
        auto *w = qobject_cast<QWidget *>(o);
        if (w && !w->isWindow() && alignOf(w) != alNone && w->isVisibleTo(container))
            children << w;
    }
    if (children.isEmpty())
        return;

    QRect r = area;
    for (TAlign a : {alTop, alBottom, alLeft, alRight, alClient}) {
        QList<QWidget *> list;
        for (QWidget *w : children) {
            if (alignOf(w) != a)
                continue;
            int j = 0;
            while (j < list.size() && !insertBefore(w->geometry(), list[j]->geometry(), a))
                ++j;
            list.insert(j, w);
        }
        for (QWidget *w : list) {
            const int rw = qMax(0, r.width());
            const int rh = qMax(0, r.height());
            switch (a) {
            case alTop:
                w->setGeometry(r.left(), r.top(), rw, w->height());
                r.setTop(r.top() + w->height());
                break;
            case alBottom:
                w->setGeometry(r.left(), r.top() + rh - w->height(), rw, w->height());
                r.setHeight(qMax(0, rh - w->height()));
                break;
            case alLeft:
                w->setGeometry(r.left(), r.top(), w->width(), rh);
                r.setLeft(r.left() + w->width());
                break;
            case alRight:
                w->setGeometry(r.left() + rw - w->width(), r.top(), w->width(), rh);
                r.setWidth(qMax(0, rw - w->width()));
                break;
            case alClient:
                w->setGeometry(r.left(), r.top(), rw, rh);
                break;
            default:
                break;
            }
        }
    }
}

void realign(QWidget *container)
{
    if (!container)
        return;
    if (auto *wc = qobject_cast<TWinControl *>(container)) {
        if (wc->AlignDisabled())
            return;
        alignControls(container, wc->AlignRect());
    } else {
        alignControls(container, container->rect());
    }
}

// ---- mixin helpers ----------------------------------------------------------------------------

void controlApplyFontColor(QWidget *w, TColor c)
{
    QPalette p = w->palette();
    const QColor qc = toQColor(c);
    for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive}) {
        p.setColor(g, QPalette::WindowText, qc);
        p.setColor(g, QPalette::Text, qc);
        p.setColor(g, QPalette::ButtonText, qc);
    }
    w->setPalette(p);
}

void controlNotifyChildrenColor(QWidget *w)
{
    for (QObject *o : w->children())
        if (auto *c = dynamic_cast<TControlIntf *>(o))
            c->ParentColorChanged();
}

void controlPopupAt(TPopupMenu *m, QWidget *owner, const QPoint &globalPos)
{
    if (!m || !m->AutoPopup)
        return;
    m->SetPopupComponent(owner);
    guarded([&] { m->Popup(globalPos.x(), globalPos.y()); }, owner);
}

QObject *controlPopupObject(TPopupMenu *m) { return m; }

bool controlDispatchKeys(QWidget *w, QKeyEvent *e, const TKeyEvent &down, const TKeyPressEvent &press,
                         std::unique_ptr<QKeyEvent> *replacement)
{
    QPointer<QWidget> self(w);
    if (down) {
        int key = virtualKeyOf(e->key());
        const int original = key;
        if (!guarded([&] { down(w, key, shiftStateOf(e->modifiers())); }, w) || !self) {
            e->accept();
            return false;
        }
        if (key == 0 && original != 0) {
            e->accept();
            return false;
        }
    }
    if (press) {
        QChar ch = keyCharOf(e);
        if (!ch.isNull()) {
            const QChar original = ch;
            if (!guarded([&] { press(w, ch); }, w) || !self) {
                e->accept();
                return false;
            }
            if (ch.isNull()) {
                e->accept();
                return false;
            }
            if (ch != original && replacement) {
                int key = 0;
                switch (ch.unicode()) {
                case 13: key = Qt::Key_Return; break;
                case 9: key = Qt::Key_Tab; break;
                case 27: key = Qt::Key_Escape; break;
                case 8: key = Qt::Key_Backspace; break;
                default: key = ch.toUpper().unicode() < 128 ? int(ch.toUpper().unicode()) : int(Qt::Key_unknown); break;
                }
                *replacement = std::make_unique<QKeyEvent>(e->type(), key, e->modifiers(), QString(ch));
            }
        }
    }
    return true;
}

// ---- TWinControl ------------------------------------------------------------------------------

TWinControl::TWinControl(QWidget *parent, Qt::WindowFlags f) : TControlT<QWidget>(parent, f) {}

void TWinControl::EnableAlign()
{
    if (m_alignDisabled > 0 && --m_alignDisabled == 0)
        Realign();
}

QList<QWidget *> TWinControl::Controls() const
{
    QList<QWidget *> out;
    for (QObject *o : children())
        if (auto *w = qobject_cast<QWidget *>(o); w && !w->isWindow())
            out << w;
    return out;
}

bool TWinControl::event(QEvent *e)
{
    switch (e->type()) {
    case QEvent::ChildAdded:
        if (auto *w = qobject_cast<QWidget *>(static_cast<QChildEvent *>(e)->child())) {
            w->installEventFilter(this);
            // Controls are visible unless hidden: one added to a window already on screen
            // shows once it is fully built (Qt would leave it hidden).
            if (isVisible() && !w->isWindow() && !w->testAttribute(Qt::WA_WState_ExplicitShowHide)) {
                QPointer<QWidget> child(w);
                QMetaObject::invokeMethod(this, [child] {
                    if (child && !child->isWindow() && !child->testAttribute(Qt::WA_WState_ExplicitShowHide))
                        child->show();
                }, Qt::QueuedConnection);
            }
        }
        break;
    case QEvent::ChildRemoved:
        if (auto *w = qobject_cast<QWidget *>(static_cast<QChildEvent *>(e)->child())) {
            w->removeEventFilter(this);
            if (alignOf(w) != alNone)
                Realign();
        }
        break;
    case QEvent::Show:
        Realign();
        break;
    default:
        break;
    }
    return TControlT<QWidget>::event(e);
}

void TWinControl::resizeEvent(QResizeEvent *e)
{
    TControlT<QWidget>::resizeEvent(e);
    Realign();
}

bool TWinControl::eventFilter(QObject *o, QEvent *e)
{
    auto *w = qobject_cast<QWidget *>(o);
    if (w && w->parentWidget() == this && alignOf(w) != alNone && !g_aligning.contains(this)) {
        switch (e->type()) {
        case QEvent::ShowToParent:
        case QEvent::HideToParent:
        case QEvent::Resize:
        case QEvent::Move:
            Realign();
            break;
        default:
            break;
        }
    }
    return TControlT<QWidget>::eventFilter(o, e);
}

} // namespace rpt
