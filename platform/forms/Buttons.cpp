#include "platform/forms/Buttons.h"

#include <QEnterEvent>
#include <QMouseEvent>
#include <QPainter>

namespace rpt {

namespace {
TMouseButton mouseButtonOf(Qt::MouseButton b)
{
    switch (b) {
    case Qt::RightButton: return mbRight;
    case Qt::MiddleButton: return mbMiddle;
    default: return mbLeft;
    }
}

// The platform's look of a disabled picture: its dark shapes embossed in the highlight
// and shadow colours.
QPixmap embossed(const QPixmap &src)
{
    QImage img = src.toImage().convertToFormat(QImage::Format_ARGB32);
    QImage mask(img.size(), QImage::Format_ARGB32);
    mask.fill(Qt::transparent);
    for (int y = 0; y < img.height(); ++y) {
        const auto *in = reinterpret_cast<const QRgb *>(img.constScanLine(y));
        auto *out = reinterpret_cast<QRgb *>(mask.scanLine(y));
        for (int x = 0; x < img.width(); ++x)
            if (qAlpha(in[x]) > 127 && qGray(in[x]) < 192)
                out[x] = qRgba(0, 0, 0, 255);
    }
    auto tinted = [&](const QColor &c) {
        QImage t = mask;
        QPainter p(&t);
        p.setCompositionMode(QPainter::CompositionMode_SourceIn);
        p.fillRect(t.rect(), c);
        return t;
    };
    QPixmap out(img.size() + QSize(1, 1));
    out.fill(Qt::transparent);
    QPainter p(&out);
    p.drawImage(QPoint(1, 1), tinted(toQColor(clBtnHighlight)));
    p.drawImage(QPoint(0, 0), tinted(toQColor(clBtnShadow)));
    p.end();
    return out;
}
} // namespace

TSpeedButton::TSpeedButton(QWidget *parent, const QString &name) : TControlT<QWidget>(parent)
{
    setObjectName(name);
    m_parentColor = false;
    m_color = clBtnFace;
    resize(23, 22);
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_Hover);
    setMouseTracking(true);
}

TSpeedButton::~TSpeedButton() = default;

void TSpeedButton::SetCaption(const QString &c)
{
    m_caption = c;
    update();
}

void TSpeedButton::SetGlyph(const QPixmap &p)
{
    if (!p.isNull() && !p.hasAlphaChannel())
        m_glyph = transparentGlyph(p.toImage());
    else
        m_glyph = p;
    update();
}

void TSpeedButton::SetGlyph(const QImage &img)
{
    m_glyph = img.hasAlphaChannel() ? QPixmap::fromImage(img) : transparentGlyph(img);
    update();
}

void TSpeedButton::SetNumGlyphs(int n)
{
    m_numGlyphs = qBound(1, n, 4);
    update();
}

void TSpeedButton::SetGroupIndex(int g)
{
    if (g == m_groupIndex)
        return;
    m_groupIndex = g;
    updateExclusive();
}

void TSpeedButton::SetAllowAllUp(bool a)
{
    if (a == m_allowAllUp)
        return;
    m_allowAllUp = a;
    updateExclusive();
}

void TSpeedButton::SetDown(bool d)
{
    if (m_groupIndex == 0)
        d = false;   // an ungrouped button never stays down
    if (d == m_down)
        return;
    if (m_down && !m_allowAllUp)
        return;      // the last button of a group stays down
    m_down = d;
    m_state = d ? bsExclusive : bsUp;
    if (d)
        updateExclusive();
    update();
}

void TSpeedButton::updateExclusive()
{
    // Tell the other buttons of the group: one down at a time, one AllowAllUp for all.
    if (m_groupIndex == 0 || !parentWidget())
        return;
    for (QObject *o : parentWidget()->children()) {
        auto *b = qobject_cast<TSpeedButton *>(o);
        if (!b || b == this || b->m_groupIndex != m_groupIndex)
            continue;
        if (m_down && b->m_down) {
            b->m_down = false;
            b->m_state = bsUp;
            b->update();
        }
        b->m_allowAllUp = m_allowAllUp;
    }
}

void TSpeedButton::Click()
{
    if (OnClick)
        OnClick(this);
}

void TSpeedButton::MouseDown(TMouseButton button, TShiftState shift, int x, int y)
{
    if (OnMouseDown)
        OnMouseDown(this, button, shift, x, y);
    if (button == mbLeft && isEnabled()) {
        if (!m_down) {
            m_state = bsDown;
            update();
        }
        m_dragging = true;
    }
}

void TSpeedButton::MouseMove(TShiftState, int x, int y)
{
    if (!m_dragging)
        return;
    TButtonState newState = m_down ? bsExclusive : bsUp;
    if (x >= 0 && x < width() && y >= 0 && y <= height())
        newState = m_down ? bsExclusive : bsDown;
    if (newState != m_state) {
        m_state = newState;
        update();
    }
}

void TSpeedButton::MouseUp(TMouseButton button, TShiftState shift, int x, int y)
{
    if (OnMouseUp)
        OnMouseUp(this, button, shift, x, y);
    if (!m_dragging)
        return;
    m_dragging = false;
    const bool doClick = x >= 0 && x < width() && y >= 0 && y <= height();
    if (m_groupIndex == 0) {
        m_state = bsUp;
        m_mouseInControl = doClick && rect().contains(mapFromGlobal(QCursor::pos()));
        update();
    } else if (doClick) {
        SetDown(!m_down);
        if (m_down)
            update();
    } else {
        if (m_down)
            m_state = bsExclusive;
        update();
    }
    if (doClick)
        Click();
}

void TSpeedButton::mousePressEvent(QMouseEvent *e)
{
    const QPoint p = e->position().toPoint();
    guarded([&] { MouseDown(mouseButtonOf(e->button()), shiftStateOf(e->modifiers(), e->buttons()), p.x(), p.y()); }, this);
}

void TSpeedButton::mouseDoubleClickEvent(QMouseEvent *e)
{
    // A second click in quick succession is a press of its own.
    mousePressEvent(e);
}

void TSpeedButton::mouseMoveEvent(QMouseEvent *e)
{
    const QPoint p = e->position().toPoint();
    guarded([&] { MouseMove(shiftStateOf(e->modifiers(), e->buttons()), p.x(), p.y()); }, this);
}

void TSpeedButton::mouseReleaseEvent(QMouseEvent *e)
{
    const QPoint p = e->position().toPoint();
    guarded([&] { MouseUp(mouseButtonOf(e->button()), shiftStateOf(e->modifiers(), e->buttons()), p.x(), p.y()); }, this);
}

void TSpeedButton::enterEvent(QEnterEvent *e)
{
    TControlT<QWidget>::enterEvent(e);
    if (!m_mouseInControl && isEnabled()) {
        m_mouseInControl = true;
        update();
    }
}

void TSpeedButton::leaveEvent(QEvent *e)
{
    TControlT<QWidget>::leaveEvent(e);
    if (m_mouseInControl) {
        m_mouseInControl = false;
        update();
    }
}

void TSpeedButton::changeEvent(QEvent *e)
{
    TControlT<QWidget>::changeEvent(e);
    if (e->type() == QEvent::EnabledChange) {
        if (!isEnabled()) {
            m_dragging = false;
            m_mouseInControl = false;
        }
        update();
    }
}

void TSpeedButton::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    guarded([&] { Paint(p); }, this);
}

QPixmap TSpeedButton::glyphImage(TButtonState state) const
{
    if (m_glyph.isNull())
        return QPixmap();
    const int w = m_glyph.width() / m_numGlyphs;
    int index = int(state);
    if (index >= m_numGlyphs)
        index = 0;
    const QPixmap part = m_glyph.copy(index * w, 0, w, m_glyph.height());
    if (state == bsDisabled && m_numGlyphs < 2)
        return embossed(part);
    return part;
}

void TSpeedButton::drawGlyphAndText(QPainter &p, QRect client, QPoint offset)
{
    const QPixmap glyph = glyphImage(m_state);
    const QSize glyphSize = glyph.isNull() ? QSize(0, 0) : QSize(m_glyph.width() / m_numGlyphs, m_glyph.height());
    const int flags = Qt::TextShowMnemonic | Qt::TextSingleLine;
    const QFontMetrics fm(font());
    QSize textSize(0, 0);
    if (!m_caption.isEmpty()) {
        const QRect tr = fm.boundingRect(QRect(0, 0, client.width(), 0), flags, m_caption);
        textSize = tr.size();
    }
    const QSize clientSize = client.size();
    QPoint glyphPos, textPos;
    int margin = m_margin;
    int spacing = m_spacing;
    const bool horizontal = m_layout == blGlyphLeft || m_layout == blGlyphRight;
    if (horizontal) {
        glyphPos.setY((clientSize.height() - glyphSize.height() + 1) / 2);
        textPos.setY((clientSize.height() - textSize.height() + 1) / 2);
    } else {
        glyphPos.setX((clientSize.width() - glyphSize.width() + 1) / 2);
        textPos.setX((clientSize.width() - textSize.width() + 1) / 2);
    }
    // With only a picture or only a caption, spacing plays no part.
    if (textSize.width() == 0 || glyphSize.width() == 0)
        spacing = 0;
    if (margin == -1) {
        if (spacing == -1) {
            const QSize total(glyphSize.width() + textSize.width(), glyphSize.height() + textSize.height());
            margin = horizontal ? (clientSize.width() - total.width()) / 3 : (clientSize.height() - total.height()) / 3;
            spacing = margin;
        } else {
            const QSize total(glyphSize.width() + spacing + textSize.width(),
                              glyphSize.height() + spacing + textSize.height());
            margin = horizontal ? (clientSize.width() - total.width() + 1) / 2
                                : (clientSize.height() - total.height() + 1) / 2;
        }
    } else if (spacing == -1) {
        const QSize total(clientSize.width() - (margin + glyphSize.width()),
                          clientSize.height() - (margin + glyphSize.height()));
        spacing = horizontal ? (total.width() - textSize.width()) / 2 : (total.height() - textSize.height()) / 2;
    }
    switch (m_layout) {
    case blGlyphLeft:
        glyphPos.setX(margin);
        textPos.setX(glyphPos.x() + glyphSize.width() + spacing);
        break;
    case blGlyphRight:
        glyphPos.setX(clientSize.width() - margin - glyphSize.width());
        textPos.setX(glyphPos.x() - spacing - textSize.width());
        break;
    case blGlyphTop:
        glyphPos.setY(margin);
        textPos.setY(glyphPos.y() + glyphSize.height() + spacing);
        break;
    case blGlyphBottom:
        glyphPos.setY(clientSize.height() - margin - glyphSize.height());
        textPos.setY(glyphPos.y() - spacing - textSize.height());
        break;
    }
    glyphPos += client.topLeft() + offset;
    textPos += client.topLeft() + offset;

    if (!glyph.isNull())
        p.drawPixmap(glyphPos, glyph);
    if (!m_caption.isEmpty()) {
        const QRect tr(textPos, textSize);
        p.setFont(font());
        if (m_state == bsDisabled) {
            p.setPen(toQColor(clBtnHighlight));
            p.drawText(tr.translated(1, 1), flags | Qt::AlignCenter, m_caption);
            p.setPen(toQColor(clBtnShadow));
            p.drawText(tr, flags | Qt::AlignCenter, m_caption);
        } else {
            p.setPen(palette().color(QPalette::ButtonText));
            p.drawText(tr, flags | Qt::AlignCenter, m_caption);
        }
    }
}

void TSpeedButton::Paint(QPainter &p)
{
    if (!isEnabled()) {
        m_state = bsDisabled;
        m_dragging = false;
    } else if (m_state == bsDisabled) {
        m_state = (m_down && m_groupIndex != 0) ? bsExclusive : bsUp;
    }
    QRect r = rect();
    const bool pressed = m_state == bsDown || m_state == bsExclusive;
    const TColor color = EffectiveColor();
    if (!m_flat) {
        if (!m_transparent)
            p.fillRect(r, toQColor(color));
        if (pressed) {
            Frame3D(p, r, clBtnShadow, clBtnHighlight, 1);
            Frame3D(p, r, cl3DDkShadow, cl3DLight, 1);
        } else {
            Frame3D(p, r, clBtnHighlight, cl3DDkShadow, 1);
            Frame3D(p, r, cl3DLight, clBtnShadow, 1);
        }
    } else {
        if (!m_transparent)
            p.fillRect(r, toQColor(color));
        // Edges only while pressed, down, or under the mouse.
        if (pressed || (m_mouseInControl && m_state != bsDisabled)) {
            QRect e = r;
            if (pressed)
                Frame3D(p, e, clBtnShadow, clBtnHighlight, 1);
            else
                Frame3D(p, e, clBtnHighlight, clBtnShadow, 1);
        }
        r.adjust(1, 1, -1, -1);
    }
    QPoint offset(0, 0);
    if (pressed) {
        if (m_state == bsExclusive && (!m_flat || !m_mouseInControl) && !m_transparent)
            p.fillRect(r, QBrush(toQColor(clBtnHighlight), Qt::Dense4Pattern));
        offset = QPoint(1, 1);
    }
    drawGlyphAndText(p, r, offset);
}

} // namespace rpt
