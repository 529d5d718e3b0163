#include "platform/forms/ExtCtrls.h"

#include <QMouseEvent>
#include <QPainter>
#include <QTimerEvent>

namespace rpt {

namespace {
void fillRect(QPainter &p, const QRect &r, TColor c)
{
    if (c != clNone && r.isValid())
        p.fillRect(r, toQColor(c));
}

int textAlignOf(TAlignment a)
{
    switch (a) {
    case taRightJustify: return Qt::AlignRight;
    case taCenter: return Qt::AlignHCenter;
    default: return Qt::AlignLeft;
    }
}

// The patterned line that shows where a dragged splitter would go.
class SplitLine : public QWidget {
public:
    explicit SplitLine(QWidget *parent) : QWidget(parent)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setObjectName(QStringLiteral("rptSplitLine"));
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.fillRect(rect(), QBrush(Qt::black, Qt::Dense4Pattern));
    }
};
} // namespace

// ---- TPanel -------------------------------------------------------------------------------

TPanel::TPanel(QWidget *parent, const QString &name) : TWinControl(parent)
{
    setObjectName(name);
    m_color = clBtnFace;
    m_parentColor = false;
    ApplyColor();
    resize(185, 41);
}

void TPanel::changed()
{
    Realign();
    update();
}

void TPanel::SetCaption(const QString &c)
{
    m_caption = c;
    update();
}

void TPanel::SetAlignment(TAlignment a)
{
    m_alignment = a;
    update();
}

void TPanel::SetBevelOuter(TBevelCut b)
{
    m_bevelOuter = b;
    changed();
}

void TPanel::SetBevelInner(TBevelCut b)
{
    m_bevelInner = b;
    changed();
}

void TPanel::SetBevelWidth(int w)
{
    m_bevelWidth = qMax(1, w);
    changed();
}

void TPanel::SetBorderWidth(int w)
{
    m_borderWidth = qMax(0, w);
    changed();
}

void TPanel::SetBorderStyle(TBorderStyle s)
{
    m_borderStyle = s == bsNone ? bsNone : bsSingle;
    changed();
}

QRect TPanel::AlignRect() const
{
    int inset = m_borderWidth;
    if (m_borderStyle == bsSingle)
        inset += 1;
    if (m_bevelOuter != bvNone)
        inset += m_bevelWidth;
    if (m_bevelInner != bvNone)
        inset += m_bevelWidth;
    return rect().adjusted(inset, inset, -inset, -inset);
}

void TPanel::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    QRect r = rect();
    const TColor color = EffectiveColor();
    if (m_borderStyle == bsSingle)
        Frame3D(p, r, clWindowFrame, clWindowFrame, 1);
    auto bevel = [&](TBevelCut cut) {
        if (cut == bvNone)
            return;
        if (cut == bvSpace) {
            Frame3D(p, r, color, color, m_bevelWidth);
            return;
        }
        const TColor tl = cut == bvRaised ? clBtnHighlight : clBtnShadow;
        const TColor br = cut == bvRaised ? clBtnShadow : clBtnHighlight;
        Frame3D(p, r, tl, br, m_bevelWidth);
    };
    bevel(m_bevelOuter);
    if (m_borderWidth > 0)
        Frame3D(p, r, color, color, m_borderWidth);
    bevel(m_bevelInner);
    fillRect(p, r, color);
    if (!m_caption.isEmpty()) {
        p.setPen(palette().color(QPalette::WindowText));
        p.drawText(r, textAlignOf(m_alignment) | Qt::AlignVCenter | Qt::TextSingleLine | Qt::TextShowMnemonic,
                   m_caption);
    }
}

// ---- TSplitter ----------------------------------------------------------------------------

TSplitter::TSplitter(QWidget *parent, const QString &name) : TControlT<QWidget>(parent)
{
    setObjectName(name);
    m_parentColor = true;
    resize(3, 100);
    SetCursor(crHSplit);
    setAlign(this, alLeft);
}

QWidget *TSplitter::FindControl() const
{
    QWidget *parent = parentWidget();
    const TAlign a = alignOf(this);
    if (!parent)
        return nullptr;
    QPoint p = pos();
    switch (a) {
    case alLeft: p.rx() -= 1; break;
    case alRight: p.rx() += width(); break;
    case alTop: p.ry() -= 1; break;
    case alBottom: p.ry() += height(); break;
    default: return nullptr;
    }
    for (QObject *o : parent->children()) {
        auto *w = qobject_cast<QWidget *>(o);
        if (!w || w == this || w->isWindow() || !w->isVisibleTo(parent) || !w->isEnabled()
            || w->objectName() == QLatin1String("rptSplitLine"))
            continue;
        QRect r = w->geometry();
        // A collapsed control still counts as touching the splitter.
        if (r.width() == 0) {
            if (a == alLeft || a == alTop)
                r.setLeft(r.left() - 1);
            else
                r.setRight(r.right() + 1);
        }
        if (r.height() == 0) {
            if (a == alLeft || a == alTop)
                r.setTop(r.top() - 1);
            else
                r.setBottom(r.bottom() + 1);
        }
        if (r.contains(p))
            return w;
    }
    return nullptr;
}

void TSplitter::calcSplitSize(int x, int y, int &newSize, int &split) const
{
    const TAlign a = alignOf(this);
    const bool horizontal = a == alLeft || a == alRight;
    split = horizontal ? x - m_downPos.x() : y - m_downPos.y();
    int s = 0;
    switch (a) {
    case alLeft: s = m_control->width() + split; break;
    case alRight: s = m_control->width() - split; break;
    case alTop: s = m_control->height() + split; break;
    case alBottom: s = m_control->height() - split; break;
    default: break;
    }
    newSize = s;
    if (s < m_minSize)
        newSize = m_minSize;
    else if (s > m_maxSize)
        newSize = m_maxSize;
    if (s != newSize) {
        if (a == alRight || a == alBottom)
            s = s - newSize;
        else
            s = newSize - s;
        split += s;
    }
}

void TSplitter::mousePressEvent(QMouseEvent *e)
{
    if (e->button() != Qt::LeftButton) {
        TControlT<QWidget>::mousePressEvent(e);
        return;
    }
    QWidget *control = FindControl();
    if (!control)
        return;
    m_control = control;
    m_downPos = e->position().toPoint();
    const TAlign a = alignOf(this);
    const bool horizontal = a == alLeft || a == alRight;
    QWidget *parent = parentWidget();
    auto *wc = qobject_cast<TWinControl *>(parent);
    const QRect area = wc ? wc->AlignRect() : parent->rect();
    // The far side keeps at least MinSize: the room left after every other control
    // aligned on this axis (the splitter included).
    m_maxSize = (horizontal ? area.width() : area.height()) - m_minSize;
    for (QObject *o : parent->children()) {
        auto *w = qobject_cast<QWidget *>(o);
        if (!w || w->isWindow() || !w->isVisibleTo(parent))
            continue;
        const TAlign wa = alignOf(w);
        if (horizontal && (wa == alLeft || wa == alRight))
            m_maxSize -= w->width();
        else if (!horizontal && (wa == alTop || wa == alBottom))
            m_maxSize -= w->height();
    }
    m_maxSize += horizontal ? control->width() : control->height();
    m_oldSize = horizontal ? control->width() : control->height();
    int newSize = 0, split = 0;
    calcSplitSize(m_downPos.x(), m_downPos.y(), newSize, split);
    if (newSize <= m_minSize && m_autoSnap)
        newSize = 0;
    m_newSize = newSize;
    m_split = split;
    showLine();
}

void TSplitter::mouseMoveEvent(QMouseEvent *e)
{
    if (!m_control) {
        TControlT<QWidget>::mouseMoveEvent(e);
        return;
    }
    int newSize = 0, split = 0;
    const QPoint p = e->position().toPoint();
    calcSplitSize(p.x(), p.y(), newSize, split);
    if (newSize <= m_minSize && m_autoSnap)
        newSize = 0;
    m_newSize = newSize;
    m_split = split;
    if (m_resizeStyle == rsUpdate) {
        stopSizing(true);
        // Keep dragging from the new place.
        m_control = FindControl();
    } else {
        showLine();
    }
}

void TSplitter::mouseReleaseEvent(QMouseEvent *e)
{
    if (m_control && e->button() == Qt::LeftButton) {
        stopSizing(true);
        return;
    }
    TControlT<QWidget>::mouseReleaseEvent(e);
}

void TSplitter::keyPressEvent(QKeyEvent *e)
{
    if (m_control && e->key() == Qt::Key_Escape) {
        stopSizing(false);
        return;
    }
    TControlT<QWidget>::keyPressEvent(e);
}

void TSplitter::showLine()
{
    if (m_resizeStyle != rsLine && m_resizeStyle != rsPattern)
        return;
    QWidget *parent = parentWidget();
    if (!parent || !m_control)
        return;
    if (!m_line)
        m_line = new SplitLine(parent);
    const QRect c = m_control->geometry();
    QRect r = geometry();
    switch (alignOf(this)) {
    case alLeft: r.moveLeft(c.left() + m_newSize); break;
    case alRight: r.moveLeft(c.left() + c.width() - m_newSize - width()); break;
    case alTop: r.moveTop(c.top() + m_newSize); break;
    case alBottom: r.moveTop(c.top() + c.height() - m_newSize - height()); break;
    default: break;
    }
    m_line->setGeometry(r);
    m_line->raise();
    m_line->show();
}

void TSplitter::stopSizing(bool apply)
{
    if (m_line)
        delete m_line.data();
    QPointer<QWidget> control = m_control;
    m_control = nullptr;
    if (!apply || !control || m_newSize == m_oldSize)
        return;
    const QRect c = control->geometry();
    switch (alignOf(this)) {
    case alLeft: setBounds(control, c.left(), c.top(), m_newSize, c.height()); break;
    case alTop: setBounds(control, c.left(), c.top(), c.width(), m_newSize); break;
    case alRight:
        setBounds(control, c.left() + c.width() - m_newSize, c.top(), m_newSize, c.height());
        break;
    case alBottom:
        setBounds(control, c.left(), c.top() + c.height() - m_newSize, c.width(), m_newSize);
        break;
    default: break;
    }
    m_oldSize = m_newSize;
    if (OnMoved)
        guarded([&] { OnMoved(this); }, this);
}

void TSplitter::paintEvent(QPaintEvent *)
{
    if (!m_beveled)
        return;
    QPainter p(this);
    QRect r = rect();
    if (alignOf(this) == alLeft || alignOf(this) == alRight)
        r.adjust(1, 0, -1, 0);
    else
        r.adjust(0, 1, 0, -1);
    Frame3D(p, r, clBtnHighlight, clBtnShadow, 1);
}

// ---- TBevel -------------------------------------------------------------------------------

TBevel::TBevel(QWidget *parent, const QString &name) : TControlT<QWidget>(parent)
{
    setObjectName(name);
    resize(50, 50);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void TBevel::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    const int w = width(), h = height();
    TColor c1 = m_style == bsLowered ? clBtnShadow : clBtnHighlight;
    TColor c2 = m_style == bsLowered ? clBtnHighlight : clBtnShadow;
    auto hline = [&](TColor c, int x, int y, int len) { p.fillRect(QRect(x, y, len, 1), toQColor(c)); };
    auto vline = [&](TColor c, int x, int y, int len) { p.fillRect(QRect(x, y, 1, len), toQColor(c)); };
    // Top/left edges in a, bottom/right in b, of the rectangle (l, t)-(r, b) inclusive.
    auto bevelRect = [&](TColor a, TColor b, int l, int t, int r, int bt) {
        hline(a, l, t, r - l);
        vline(a, l, t, bt - t);
        hline(b, l, bt, r - l + 1);
        vline(b, r, t, bt - t);
    };
    switch (m_shape) {
    case bsBox: bevelRect(c1, c2, 0, 0, w - 1, h - 1); break;
    case bsFrame:
        bevelRect(c2, c2, 1, 1, w - 1, h - 1);
        bevelRect(c1, c1, 0, 0, w - 2, h - 2);
        break;
    case bsTopLine: hline(c1, 0, 0, w); hline(c2, 0, 1, w); break;
    case bsBottomLine: hline(c1, 0, h - 2, w); hline(c2, 0, h - 1, w); break;
    case bsLeftLine: vline(c1, 0, 0, h); vline(c2, 1, 0, h); break;
    case bsRightLine: vline(c1, w - 2, 0, h); vline(c2, w - 1, 0, h); break;
    case bsSpacer: break;
    }
}

// ---- TTimer -------------------------------------------------------------------------------

TTimer::TTimer(QObject *owner, const QString &name) : TComponent(owner, name) {}

TTimer::~TTimer()
{
    if (m_timerId)
        killTimer(m_timerId);
}

void TTimer::SetInterval(int ms)
{
    if (ms == m_interval)
        return;
    m_interval = qMax(0, ms);
    update();
}

void TTimer::SetEnabled(bool e)
{
    if (e == m_enabled)
        return;
    m_enabled = e;
    update();
}

void TTimer::SetOnTimer(TNotifyEvent h)
{
    m_onTimer = std::move(h);
    update();
}

void TTimer::update()
{
    if (m_timerId) {
        killTimer(m_timerId);
        m_timerId = 0;
    }
    if (m_enabled && m_interval > 0 && m_onTimer)
        m_timerId = startTimer(m_interval, Qt::PreciseTimer);
}

void TTimer::Tick()
{
    if (!m_onTimer)
        return;
    // A copy: the handler may replace itself or delete the timer.
    TNotifyEvent handler = m_onTimer;
    handler(this);
}

void TTimer::timerEvent(QTimerEvent *e)
{
    if (e->timerId() != m_timerId) {
        TComponent::timerEvent(e);
        return;
    }
    QPointer<TTimer> self(this);
    try {
        Tick();
    } catch (...) {
        handleCurrentException(self.data());
    }
}

} // namespace rpt
