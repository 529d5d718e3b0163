#pragma once
// Panels, the splitter, bevels and timers.

#include "platform/db/DataSet.h"
#include "platform/forms/Controls.h"

#include <QPointer>

class QTimer;

namespace rpt {

enum TBevelCut { bvNone, bvLowered, bvRaised, bvSpace };

// A container with an optional caption and up to two 3-D bevels (outer, then a gap of
// BorderWidth, then inner). Aligned children share the area inside the bevels.
class TPanel : public TWinControl {
    Q_OBJECT
public:
    explicit TPanel(QWidget *parent = nullptr, const QString &name = QString());

    QString Caption() const { return m_caption; }
    void SetCaption(const QString &c);
    TAlignment Alignment() const { return m_alignment; }
    void SetAlignment(TAlignment a);
    TBevelCut BevelOuter() const { return m_bevelOuter; }
    void SetBevelOuter(TBevelCut b);
    TBevelCut BevelInner() const { return m_bevelInner; }
    void SetBevelInner(TBevelCut b);
    int BevelWidth() const { return m_bevelWidth; }
    void SetBevelWidth(int w);
    int BorderWidth() const { return m_borderWidth; }
    void SetBorderWidth(int w);
    // bsSingle: a one-pixel frame in the window-frame colour around everything.
    TBorderStyle BorderStyle() const { return m_borderStyle; }
    void SetBorderStyle(TBorderStyle s);

    QRect AlignRect() const override;

protected:
    void paintEvent(QPaintEvent *e) override;

private:
    void changed();
    QString m_caption;
    TAlignment m_alignment = taCenter;
    TBevelCut m_bevelOuter = bvRaised;
    TBevelCut m_bevelInner = bvNone;
    int m_bevelWidth = 1;
    int m_borderWidth = 0;
    TBorderStyle m_borderStyle = bsNone;
};

// ---------------------------------------------------------------------------------------
enum TResizeStyle { rsNone, rsLine, rsUpdate, rsPattern };

// Resizes the aligned control it follows. While the mouse drags it, a patterned line
// shows the new edge (rsPattern) and the size changes on release. The neighbour keeps at
// least MinSize pixels on the far side; with AutoSnap, dragging the control to MinSize
// or less collapses it to 0.
class TSplitter : public TControlT<QWidget> {
    Q_OBJECT
public:
    explicit TSplitter(QWidget *parent = nullptr, const QString &name = QString());

    int MinSize() const { return m_minSize; }
    void SetMinSize(int v) { m_minSize = qMax(1, v); }
    bool AutoSnap() const { return m_autoSnap; }
    void SetAutoSnap(bool v) { m_autoSnap = v; }
    TResizeStyle ResizeStyle() const { return m_resizeStyle; }
    void SetResizeStyle(TResizeStyle s) { m_resizeStyle = s; }
    bool Beveled() const { return m_beveled; }
    void SetBeveled(bool b) { m_beveled = b; update(); }

    TNotifyEvent OnMoved;

    // The control this splitter resizes: the visible, enabled sibling whose edge touches
    // the splitter on its aligned side. Null when there is none.
    QWidget *FindControl() const;
    // True while a drag is under way.
    bool Dragging() const { return m_control != nullptr; }
    // The size the control would get if the mouse were released now.
    int PendingSize() const { return m_newSize; }

protected:
    bool FillsBackground() const override { return false; }
    void paintEvent(QPaintEvent *e) override;
    void mousePressEvent(QMouseEvent *e) override;
    void mouseMoveEvent(QMouseEvent *e) override;
    void mouseReleaseEvent(QMouseEvent *e) override;
    void keyPressEvent(QKeyEvent *e) override;

private:
    void calcSplitSize(int x, int y, int &newSize, int &split) const;
    void showLine();
    void stopSizing(bool apply);

    int m_minSize = 30;
    bool m_autoSnap = true;
    bool m_beveled = false;
    TResizeStyle m_resizeStyle = rsPattern;

    QPointer<QWidget> m_control;   // set while dragging
    QPoint m_downPos;
    int m_maxSize = 0;
    int m_oldSize = 0;
    int m_newSize = 0;
    int m_split = 0;
    QPointer<QWidget> m_line;
};

// ---------------------------------------------------------------------------------------
enum TBevelShape { bsBox, bsFrame, bsTopLine, bsBottomLine, bsLeftLine, bsRightLine, bsSpacer };
enum TBevelStyle { bsLowered, bsRaised };

class TBevel : public TControlT<QWidget> {
    Q_OBJECT
public:
    explicit TBevel(QWidget *parent = nullptr, const QString &name = QString());
    TBevelShape Shape() const { return m_shape; }
    void SetShape(TBevelShape s) { m_shape = s; update(); }
    TBevelStyle Style() const { return m_style; }
    void SetStyle(TBevelStyle s) { m_style = s; update(); }

protected:
    bool FillsBackground() const override { return false; }
    void paintEvent(QPaintEvent *e) override;

private:
    TBevelShape m_shape = bsBox;
    TBevelStyle m_style = bsLowered;
};

// ---------------------------------------------------------------------------------------
// Ticks on the user-interface thread while Enabled, Interval > 0 and OnTimer is set.
// OnTimer runs guarded. The timer may be deleted from inside its own OnTimer.
class TTimer : public TComponent {
    Q_OBJECT
public:
    explicit TTimer(QObject *owner = nullptr, const QString &name = QString());
    ~TTimer() override;

    int Interval() const { return m_interval; }
    void SetInterval(int ms);
    bool Enabled() const { return m_enabled; }
    void SetEnabled(bool e);
    TNotifyEvent OnTimer() const { return m_onTimer; }
    void SetOnTimer(TNotifyEvent h);

    // Runs one tick now (as the timer would).
    void Tick();

protected:
    void timerEvent(QTimerEvent *e) override;

private:
    void update();
    int m_interval = 1000;
    bool m_enabled = true;
    TNotifyEvent m_onTimer;
    int m_timerId = 0;
};

} // namespace rpt
