#pragma once
// The data grid: rows of a dataset in columns, with an indicator column, a title row, an
// in-place editor and the keyboard of the class library's data grid.
//
// The grid paints itself on a scroll area. It never copies rows: each paint reads the
// few rows on screen through the data link (fields read the row made active for the
// cell), so a result of a million rows opens and scrolls as fast as a short one.
//
// The grid's current row IS the dataset's current record. Every cursor movement the
// user makes goes through the dataset (MoveBy, First, Last, Insert, Append, Delete,
// Cancel) and the grid follows the dataset's notifications, so other controls on the
// same data source see the same record.
//
// Grid coordinates count the indicator column (dgIndicator) and the title row
// (dgTitles): with both, the first data cell is (1, 1). "Data column" is the index into
// Columns(), "data row" the row's position on screen (0 = first data row shown).
// Hidden columns keep their grid column but take no room and are never current.
//
// Everything the grid does in reply to a key, a click or a focus change runs guarded()
// (Controls.h): an exception from a handler or from the dataset goes to the
// application's error box and the grid stays usable.

#include "platform/db/DataSet.h"
#include "platform/forms/Controls.h"
#include "platform/forms/Graphics.h"
#include "platform/forms/Menus.h"

#include <QAbstractScrollArea>
#include <QFlags>
#include <QPointer>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QLineEdit;
class QPainter;

namespace rpt {

class TCustomDBGrid;
class TDBGridColumns;

enum TDBGridOption : quint32 {
    dgEditing = 0x0001,
    dgAlwaysShowEditor = 0x0002,
    dgTitles = 0x0004,
    dgIndicator = 0x0008,
    dgColumnResize = 0x0010,
    dgColLines = 0x0020,
    dgRowLines = 0x0040,
    dgTabs = 0x0080,
    dgRowSelect = 0x0100,
    dgAlwaysShowSelection = 0x0200,
    dgConfirmDelete = 0x0400,
    dgCancelOnExit = 0x0800,
    dgMultiSelect = 0x1000,
};
Q_DECLARE_FLAGS(TDBGridOptions, TDBGridOption)
Q_DECLARE_OPERATORS_FOR_FLAGS(TDBGridOptions)

inline constexpr TDBGridOptions DefaultDBGridOptions{dgEditing | dgTitles | dgIndicator | dgColumnResize
                                                     | dgColLines | dgRowLines | dgTabs | dgConfirmDelete
                                                     | dgCancelOnExit};

enum TGridDrawStateFlag : quint8 { gdSelected = 0x1, gdFocused = 0x2, gdFixed = 0x4 };
Q_DECLARE_FLAGS(TGridDrawState, TGridDrawStateFlag)
Q_DECLARE_OPERATORS_FOR_FLAGS(TGridDrawState)

enum TColumnsState { csDefault, csCustomized };

struct TGridCoord {
    int X = -1;
    int Y = -1;
    bool operator==(const TGridCoord &) const = default;
};

// Width of the indicator column, in pixels.
inline constexpr int IndicatorWidth = 11;

// ---------------------------------------------------------------------------------------
// What a cell is painted with: a painter plus the class library's brush colour and font
// (the font carries the text colour). Valid for drawing only inside a paint of the grid;
// outside one the drawing calls do nothing and the measuring calls still answer.
class TCanvas {
public:
    struct TBrush {
        TColor Color = clWindow;
    };
    TBrush Brush;
    TFont Font;

    QPainter *Painter() const { return m_painter; }
    bool IsDrawing() const { return m_painter != nullptr; }

    void FillRect(const QRect &r);
    // Fills r with the brush and writes text with its top-left corner at (x, y), clipped to r.
    void TextRect(const QRect &r, int x, int y, const QString &text);
    void TextOut(int x, int y, const QString &text);
    int TextWidth(const QString &text) const;
    int TextHeight(const QString &text) const;
    // The platform's dotted focus frame.
    void DrawFocusRect(const QRect &r);

    QColor toColor(TColor c) const { return toQColor(c, m_palette); }
    QFont qFont() const;

    // Used by the grid around a paint.
    void begin(QPainter *p, const QPalette *palette);
    void end();

private:
    QPainter *m_painter = nullptr;
    const QPalette *m_palette = nullptr;
    mutable TFont m_cachedFor;
    mutable QFont m_cached;
    mutable int m_cachedAscent = 0;
    mutable bool m_haveCache = false;
};

// ---------------------------------------------------------------------------------------
// A column of the grid. Properties not assigned follow the field (width, alignment,
// title caption) or the grid (colour, font, title colour and font).
class TColumnTitle {
public:
    explicit TColumnTitle(class TColumn *column) : m_column(column) {}
    QString Caption() const;
    void SetCaption(const QString &c);
    TAlignment Alignment() const { return m_alignment.value_or(taLeftJustify); }
    void SetAlignment(TAlignment a);
    TColor Color() const;
    void SetColor(TColor c);
    TFont Font() const;
    void SetFont(const TFont &f);

private:
    TColumn *m_column;
    std::optional<QString> m_caption;
    std::optional<TAlignment> m_alignment;
    std::optional<TColor> m_color;
    std::optional<TFont> m_font;
};

class TColumn {
public:
    explicit TColumn(TDBGridColumns *owner);
    TColumn(const TColumn &) = delete;
    TColumn &operator=(const TColumn &) = delete;

    TCustomDBGrid *Grid() const;
    int Index() const;

    QString FieldName() const { return m_fieldName; }
    void SetFieldName(const QString &name);
    // The dataset's field of that name while the dataset is open, else nullptr.
    TField *Field() const { return m_field.data(); }

    int Width() const;
    void SetWidth(int w);
    // Width that follows the field: display width in digits of the column font plus the
    // margins, at least as wide as the title; DefaultColWidth without a field.
    int DefaultWidth() const;
    TColumnTitle &Title() { return m_title; }
    const TColumnTitle &Title() const { return m_title; }
    bool ReadOnly() const { return m_readOnly; }
    void SetReadOnly(bool r) { m_readOnly = r; }
    bool Visible() const { return m_visible; }
    void SetVisible(bool v);
    bool Showing() const { return m_visible; }
    QStringList PickList() const { return m_pickList; }
    void SetPickList(const QStringList &l) { m_pickList = l; }
    TAlignment Alignment() const;
    void SetAlignment(TAlignment a);
    TColor Color() const;
    void SetColor(TColor c);
    TFont Font() const;
    void SetFont(const TFont &f);

    // Used by the grid.
    void bindField(TDataSet *ds);
    void changed();

private:
    friend class TDBGridColumns;
    TDBGridColumns *m_owner;
    QString m_fieldName;
    QPointer<TField> m_field;
    std::optional<int> m_width;
    TColumnTitle m_title;
    bool m_readOnly = false;
    bool m_visible = true;
    QStringList m_pickList;
    std::optional<TAlignment> m_alignment;
    std::optional<TColor> m_color;
    std::optional<TFont> m_font;
};

// The grid's columns. Declaring a column (Add) makes the set "customized"; without
// declared columns the grid shows one default column per visible field, rebuilt
// whenever the dataset's layout changes.
class TDBGridColumns {
public:
    explicit TDBGridColumns(TCustomDBGrid *grid) : m_grid(grid) {}
    TCustomDBGrid *Grid() const { return m_grid; }
    int Count() const { return int(m_items.size()); }
    TColumn *Items(int i) const;   // EListError when out of range
    TColumn *operator[](int i) const { return Items(i); }
    TColumn *Add();
    void Clear();
    TColumnsState State() const { return m_state; }
    // Back to default columns (csDefault) or keeping the present ones as declared.
    void SetState(TColumnsState s);
    void RebuildColumns();
    int IndexOf(const TColumn *c) const;

private:
    friend class TCustomDBGrid;
    void rebuildDefault(TDataSet *ds);
    TCustomDBGrid *m_grid;
    std::vector<std::unique_ptr<TColumn>> m_items;
    TColumnsState m_state = csDefault;
};

// ---------------------------------------------------------------------------------------
// The grid's connection to its data source.
class TGridDataLink : public TDataLink {
public:
    explicit TGridDataLink(TCustomDBGrid *grid) : m_grid(grid) {}
    TCustomDBGrid *Grid() const { return m_grid; }
    // The user typed into the current cell since the editor text was last loaded.
    bool IsModified() const { return m_modified; }
    void Modified() { m_modified = true; }
    // Esc: reverts typed text when there is any, otherwise cancels the record.
    void Reset();

    void ActiveChanged() override;
    void EditingChanged() override;
    void DataSetChanged() override;
    void DataSetScrolled(int distance) override;
    void LayoutChanged() override;
    void RecordChanged(TField *field) override;
    void UpdateData() override;
    void FocusControl(TField *field) override;

private:
    friend class TCustomDBGrid;
    TCustomDBGrid *m_grid;
    bool m_modified = false;
    bool m_inUpdateData = false;
};

// ---------------------------------------------------------------------------------------
class TCustomDBGrid : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit TCustomDBGrid(QWidget *parent = nullptr);
    ~TCustomDBGrid() override;

    // --- data
    TDataSource *DataSource() const;
    void SetDataSource(TDataSource *ds);
    TGridDataLink *DataLink() const { return m_link.get(); }
    TDBGridColumns &Columns() { return m_columns; }
    const TDBGridColumns &Columns() const { return m_columns; }
    TField *SelectedField() const;
    TColumn *SelectedColumn() const;
    // Data column of the current cell.
    int SelectedIndex() const { return m_selIndex; }
    void SetSelectedIndex(int dataCol);
    int FieldCount() const;
    TField *Fields(int i) const;

    // --- options and look
    TDBGridOptions Options() const { return m_options; }
    void SetOptions(TDBGridOptions o);
    bool ReadOnly() const { return m_readOnly; }
    void SetReadOnly(bool r);
    bool TabStop() const { return m_tabStop; }
    void SetTabStop(bool t);
    TColor Color() const { return m_color; }
    void SetColor(TColor c);
    TColor FixedColor() const { return m_fixedColor; }
    void SetFixedColor(TColor c);
    TColor GridLineColor() const { return m_lineColor; }
    void SetGridLineColor(TColor c);
    TFont Font() const { return m_font; }
    void SetFont(const TFont &f);
    TFont TitleFont() const { return m_titleFont; }
    void SetTitleFont(const TFont &f);
    TBorderStyle BorderStyle() const { return m_borderStyle; }
    void SetBorderStyle(TBorderStyle b);
    bool DefaultDrawing() const { return m_defaultDrawing; }
    void SetDefaultDrawing(bool d) { m_defaultDrawing = d; }
    // Data rows: the font's text height + 3, + 1 with row lines (17 for MS Sans Serif 8).
    int DefaultRowHeight() const { return m_rowHeight; }
    int TitleRowHeight() const { return m_titleHeight; }
    int DefaultColWidth() const { return m_defaultColWidth; }
    void SetDefaultColWidth(int w);

    // --- geometry (grid coordinates include the indicator column and the title row)
    int IndicatorOffset() const { return m_options.testFlag(dgIndicator) ? 1 : 0; }
    int TitleOffset() const { return m_options.testFlag(dgTitles) ? 1 : 0; }
    int ColCount() const { return IndicatorOffset() + m_columns.Count(); }
    int Col() const { return IndicatorOffset() + m_selIndex; }
    // Grid row of the current record.
    int Row() const;
    // Complete data rows the grid has room for.
    int VisibleRowCount() const;
    // Data rows painted now (at least one, also for an empty or closed dataset).
    int ShownRowCount() const;
    // Absolute (0-based) dataset row of the first data row on screen.
    int TopRecord() const { return m_top; }
    // Record painted on data row `dataRow`, or -1 when that row shows no record.
    int RecordOfRow(int dataRow) const;
    int LeftCol() const { return IndicatorOffset() + m_leftCol; }
    void SetLeftCol(int gridCol);
    QRect CellRect(int col, int row) const;
    TGridCoord MouseCoord(int x, int y) const;

    // --- editing
    QLineEdit *InplaceEditor() const { return m_editor; }
    bool EditorMode() const { return m_editorShown; }
    void SetEditorMode(bool on);
    void ShowEditor();
    void HideEditor();
    QString EditText() const { return m_editText; }

    // --- state
    int UpdateLock() const { return m_updateLock; }
    void BeginUpdate() { ++m_updateLock; }
    void EndUpdate();
    // The grid itself has the keyboard focus (not its editor).
    bool Focused() const;
    // The grid is the focused control of its window (what keys and the focus mark go to).
    bool IsActiveControl() const;
    bool Loading() const { return m_loading; }
    void SetLoading(bool l);
    bool Designing() const { return m_designing; }
    void SetDesigning(bool d) { m_designing = d; }

    void Invalidate();
    // Invalidates the whole control and paints it at once.
    void InvalidateAndRepaint();

    // --- events (handler types as every control has them, Controls.h)
    std::function<void(TCustomDBGrid *, const QRect &, TField *, TGridDrawState)> OnDrawDataCell;
    std::function<void(TCustomDBGrid *, const QRect &, int, TColumn *, TGridDrawState)> OnDrawColumnCell;
    // Every character key, also those typed into the in-place editor; the handler may
    // change the character or clear it (QChar()).
    TKeyPressEvent OnKeyPress;
    // Every key as a virtual-key code; setting it to 0 stops the grid's own handling.
    TKeyEvent OnKeyDown, OnKeyUp;
    TNotifyEvent OnColEnter, OnColExit, OnDblClick, OnEnter, OnExit;
    std::function<void(TColumn *)> OnCellClick, OnTitleClick;

    // Designer name, alignment in the parent and right-click menu, as other controls.
    QString Name() const { return objectName(); }
    void SetName(const QString &n) { setObjectName(n); }
    void SetBounds(int left, int top, int width, int height) { setBounds(this, left, top, width, height); }
    TAlign Align() const { return alignOf(this); }
    void SetAlign(TAlign a) { setAlign(this, a); }
    TPopupMenu *PopupMenu() const { return m_popup; }
    void SetPopupMenu(TPopupMenu *m) { m_popup = m; }

signals:
    // The first row or column shown, or the number of rows, changed (external scroll bars).
    void viewChanged();

protected:
    // Paints one cell. The base paints the indicator column and the titles itself and
    // data cells as the class library does; a subclass may call it for any cell.
    virtual void DrawCell(int col, int row, const QRect &rect, TGridDrawState state);
    // The dataset moved its cursor by `distance` records.
    virtual void Scroll(int distance);
    // Fill and text of a data cell with the column's alignment (2 pixels in, 2 down).
    void DefaultDrawColumnCell(const QRect &rect, int dataCol, TColumn *column, TGridDrawState state);
    void DefaultDrawDataCell(const QRect &rect, TField *field, TGridDrawState state);
    // Whether a data cell shows in the highlight colours.
    bool HighlightCell(int dataCol, int dataRow, const QString &value, TGridDrawState state) const;
    virtual void DrawDataCell(const QRect &rect, TField *field, TGridDrawState state);
    virtual void DrawColumnCell(const QRect &rect, int dataCol, TColumn *column, TGridDrawState state);
    void DrawFocusRect(const QRect &rect);
    TCanvas *Canvas() { return &m_canvas; }

    // Key handling as the class library splits it; both run guarded.
    virtual void KeyDown(int &key, Qt::KeyboardModifiers shift);
    virtual void KeyPress(QChar &key);

    // Notifications from the data link.
    virtual void LinkActive(bool active);
    virtual void DataChanged();
    virtual void EditingChanged();
    virtual void RecordChanged(TField *field);
    virtual void LayoutChanged();
    virtual void UpdateData();
    bool CanEditModify();
    bool CanEditShow() const;
    bool IsTabStop(int gridCol) const;
    void MoveCol(int gridCol, int direction);

    // Qt side.
    bool event(QEvent *e) override;
    bool eventFilter(QObject *watched, QEvent *e) override;
    void paintEvent(QPaintEvent *e) override;
    void resizeEvent(QResizeEvent *e) override;
    void keyPressEvent(QKeyEvent *e) override;
    void keyReleaseEvent(QKeyEvent *e) override;
    void mousePressEvent(QMouseEvent *e) override;
    void mouseMoveEvent(QMouseEvent *e) override;
    void mouseReleaseEvent(QMouseEvent *e) override;
    void mouseDoubleClickEvent(QMouseEvent *e) override;
    void wheelEvent(QWheelEvent *e) override;
    void focusInEvent(QFocusEvent *e) override;
    void focusOutEvent(QFocusEvent *e) override;
    void changeEvent(QEvent *e) override;
    void contextMenuEvent(QContextMenuEvent *e) override;

private:
    friend class TGridDataLink;
    friend class TColumn;
    friend class TColumnTitle;
    friend class TDBGridColumns;

    bool guard(const std::function<void()> &f) { return guarded(f, this); }
    TDataSet *activeDataSet() const;
    void columnsChanged();
    void computeMetrics();
    void layoutAndScroll();
    void ensureCurrentVisible();
    void updateScrollBars();
    void placeEditor();
    void loadEditorText();
    void setEditorColumn();
    bool columnEditable(int dataCol) const;
    int firstShowingColumn() const;
    int columnX(int dataCol) const;   // left edge in viewport pixels, -1 when not on screen
    int dataAreaLeft() const;
    int rowPitch() const;
    int titlePitch() const;
    int currentScreenRow() const;
    void handleKey(QKeyEvent *e);
    bool handleEditorKey(QKeyEvent *e);
    void editorChar(QChar ch, bool *passToEditor);
    void showEditorChar(QChar ch);
    QChar charOf(const QKeyEvent *e) const;
    void fireKeyDown(int &key, Qt::KeyboardModifiers shift);
    void nextRow();
    void priorRow();
    void tab(bool forward);
    void deleteRecord();
    void exitGrid();
    void drawIndicator(const QRect &rect, int dataRow);
    void drawTitleCell(int dataCol, const QRect &rect, TGridDrawState state);
    void writeText(const QRect &rect, int dx, int dy, const QString &text, TAlignment alignment);
    void reportPaintError(const QString &message);
    void vScrollAction(int action);
    void hScrollAction(int action);
    int resizeHandleAt(const QPoint &pos) const;

    std::unique_ptr<TGridDataLink> m_link;
    TDBGridColumns m_columns;
    TCanvas m_canvas;
    QLineEdit *m_editor = nullptr;

    TDBGridOptions m_options = DefaultDBGridOptions;
    bool m_readOnly = false;
    bool m_tabStop = true;
    TColor m_color = clWindow;
    TColor m_fixedColor = clBtnFace;
    TColor m_lineColor = clWindowText;
    TFont m_font;
    TFont m_titleFont;
    TBorderStyle m_borderStyle = bsSingle;
    bool m_defaultDrawing = true;
    int m_defaultColWidth = 64;
    int m_rowHeight = 17;
    int m_titleHeight = 17;

    int m_selIndex = 0;        // data column of the current cell
    int m_top = 0;             // first record on screen
    int m_leftCol = 0;         // first data column on screen
    int m_lastScreenRow = -1;  // where the current record was painted last
    bool m_editorShown = false;
    QString m_editText;
    bool m_settingEditorText = false;
    int m_updateLock = 0;
    bool m_loading = false;
    bool m_designing = false;
    bool m_inLayout = false;
    bool m_layoutAgain = false;
    bool m_inside = false;     // focus is in the grid or its editor
    std::vector<int> m_widths; // column widths as painted (0 for hidden columns)
    bool m_inColExit = false;
    int m_wheelRest = 0;
    int m_resizeCol = -1;      // data column being resized with the mouse
    int m_resizeStartX = 0;
    int m_resizeStartWidth = 0;
    QString m_lastPaintError;
    QPointer<TPopupMenu> m_popup;
    bool m_paintErrorPending = false;
};

// The data grid as forms place it.
class TDBGrid : public TCustomDBGrid {
    Q_OBJECT
public:
    explicit TDBGrid(QWidget *parent = nullptr) : TCustomDBGrid(parent) {}
};

} // namespace rpt
