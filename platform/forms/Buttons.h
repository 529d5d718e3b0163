#pragma once
// The speed button: a tool button that never takes the keyboard focus, with an optional
// picture (glyph) beside or above its caption.
//
// Mouse handling follows the platform's button: a left press draws the button down, a
// release over the button clicks it. An ungrouped button (GroupIndex 0) never stays down;
// grouped buttons toggle Down, one per group, with AllowAllUp deciding whether the last
// one can be released. Subclasses override MouseDown/MouseUp/Click/Paint.

#include "platform/forms/Controls.h"

#include <QImage>
#include <QPixmap>

namespace rpt {

enum TButtonLayout { blGlyphLeft, blGlyphRight, blGlyphTop, blGlyphBottom };
enum TButtonState { bsUp, bsDisabled, bsDown, bsExclusive };

class TSpeedButton : public TControlT<QWidget> {
    Q_OBJECT
public:
    explicit TSpeedButton(QWidget *parent = nullptr, const QString &name = QString());
    ~TSpeedButton() override;

    QString Caption() const { return m_caption; }
    void SetCaption(const QString &c);

    // Picture. NumGlyphs images side by side: up, disabled, clicked, down. A picture
    // without an alpha channel is drawn with its white pixels left out.
    QPixmap Glyph() const { return m_glyph; }
    void SetGlyph(const QPixmap &p);
    void SetGlyph(const QImage &img);
    int NumGlyphs() const { return m_numGlyphs; }
    void SetNumGlyphs(int n);

    TButtonLayout Layout() const { return m_layout; }
    void SetLayout(TButtonLayout l) { m_layout = l; update(); }
    // Distance from the edge to the picture; -1 centres picture and caption together.
    int Margin() const { return m_margin; }
    void SetMargin(int m) { m_margin = m; update(); }
    // Distance between picture and caption; -1 spreads them evenly.
    int Spacing() const { return m_spacing; }
    void SetSpacing(int s) { m_spacing = s; update(); }

    bool Flat() const { return m_flat; }
    void SetFlat(bool f) { m_flat = f; update(); }
    bool Transparent() const { return m_transparent; }
    void SetTransparent(bool t) { m_transparent = t; update(); }

    int GroupIndex() const { return m_groupIndex; }
    void SetGroupIndex(int g);
    bool AllowAllUp() const { return m_allowAllUp; }
    void SetAllowAllUp(bool a);
    bool Down() const { return m_down; }
    void SetDown(bool d);

    // The drawn state (bsUp, bsDisabled, bsDown while pressed, bsExclusive when down).
    TButtonState State() const { return m_state; }
    bool MouseInControl() const { return m_mouseInControl; }
    bool IsDragging() const { return m_dragging; }

    // Fires OnClick. Public so that menus and timers can press the button; exceptions
    // reach the caller (the mouse path reports them in the error box).
    virtual void Click();

protected:
    // The platform's mouse handlers, called for mouse events in client coordinates.
    virtual void MouseDown(TMouseButton button, TShiftState shift, int x, int y);
    virtual void MouseMove(TShiftState shift, int x, int y);
    virtual void MouseUp(TMouseButton button, TShiftState shift, int x, int y);
    // Draws the button (called from paintEvent).
    virtual void Paint(QPainter &p);

    bool FillsBackground() const override { return false; }
    void paintEvent(QPaintEvent *e) override;
    void mousePressEvent(QMouseEvent *e) override;
    void mouseMoveEvent(QMouseEvent *e) override;
    void mouseReleaseEvent(QMouseEvent *e) override;
    void mouseDoubleClickEvent(QMouseEvent *e) override;
    void enterEvent(QEnterEvent *e) override;
    void leaveEvent(QEvent *e) override;
    void changeEvent(QEvent *e) override;

    TButtonState m_state = bsUp;
    bool m_dragging = false;
    bool m_mouseInControl = false;

private:
    void updateExclusive();
    void drawGlyphAndText(QPainter &p, QRect client, QPoint offset);
    QPixmap glyphImage(TButtonState state) const;

    QString m_caption;
    QPixmap m_glyph;
    int m_numGlyphs = 1;
    TButtonLayout m_layout = blGlyphLeft;
    int m_margin = -1;
    int m_spacing = 4;
    bool m_flat = false;
    bool m_transparent = true;
    int m_groupIndex = 0;
    bool m_allowAllUp = false;
    bool m_down = false;
};

} // namespace rpt
