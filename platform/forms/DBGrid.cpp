#include "platform/forms/DBGrid.h"

#include "platform/forms/Dialogs.h"
#include "platform/forms/Menus.h"
#include "platform/text/CodePage.h"

#include <QApplication>
#include <QFocusEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLineEdit>
#include <QContextMenuEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTimer>
#include <QValidator>
#include <QWheelEvent>

namespace rpt {

namespace {

// Rejects edits that would not fit the field: ANSI fields count code page 950 bytes, wide
// fields characters. Without it the store would silently cut what the user typed.
class FieldTextValidator : public QValidator {
public:
    explicit FieldTextValidator(QObject *parent) : QValidator(parent) {}
    TFieldType type = ftUnknown;
    int size = 0;
    State validate(QString &input, int &) const override
    {
        if (size <= 0)
            return Acceptable;
        if (isAnsiType(type) && !isMemoType(type))
            return cp950::byteLength(input) <= size ? Acceptable : Invalid;
        if (type == ftWideString)
            return input.size() <= size ? Acceptable : Invalid;
        return Acceptable;
    }
};

bool isNumericType(TFieldType t)
{
    return isIntegerType(t) || isDecimalType(t) || t == ftFloat || t == ftCurrency;
}

// Characters a field takes from the keyboard (numbers take digits and signs only).
bool isValidChar(const TField *f, QChar ch)
{
    if (!f || ch.unicode() < 32)
        return true;
    const TFieldType t = f->DataType();
    if (isIntegerType(t))
        return ch.isDigit() || ch == u'+' || ch == u'-';
    if (isNumericType(t))
        return ch.isDigit() || ch == u'+' || ch == u'-' || ch == u'.' || ch == u'e' || ch == u'E';
    return true;
}

QString exceptionText(std::exception_ptr ep)
{
    try {
        std::rethrow_exception(ep);
    } catch (const Exception &e) {
        return e.message();
    } catch (const std::exception &e) {
        return QString::fromLocal8Bit(e.what());
    } catch (...) {
        return QStringLiteral("Unknown error");
    }
}

// Puts a data link's active record back however the code between leaves.
class ActiveRecordGuard {
public:
    ActiveRecordGuard(TDataLink *link, int row) : m_link(link), m_old(link->ActiveRecord())
    {
        m_link->SetActiveRecord(row);
    }
    ~ActiveRecordGuard() { m_link->SetActiveRecord(m_old); }
    ActiveRecordGuard(const ActiveRecordGuard &) = delete;
    ActiveRecordGuard &operator=(const ActiveRecordGuard &) = delete;

private:
    TDataLink *m_link;
    int m_old;
};

} // namespace

// =======================================================================================
// TCanvas

void TCanvas::begin(QPainter *p, const QPalette *palette)
{
    m_painter = p;
    m_palette = palette;
}

void TCanvas::end()
{
    m_painter = nullptr;
    m_palette = nullptr;
}

QFont TCanvas::qFont() const
{
    if (!m_haveCache || !(m_cachedFor == Font)) {
        m_cachedFor = Font;
        m_cached = Font.toQFont();
        m_cachedAscent = QFontMetrics(m_cached).ascent();
        m_haveCache = true;
    }
    return m_cached;
}

void TCanvas::FillRect(const QRect &r)
{
    if (m_painter && Brush.Color != clNone)
        m_painter->fillRect(r, toColor(Brush.Color));
}

void TCanvas::TextRect(const QRect &r, int x, int y, const QString &text)
{
    if (!m_painter)
        return;
    FillRect(r);
    if (text.isEmpty())
        return;
    const bool clipped = m_painter->hasClipping();
    const QRegion oldClip = clipped ? m_painter->clipRegion() : QRegion();
    m_painter->setClipRect(r, clipped ? Qt::IntersectClip : Qt::ReplaceClip);
    m_painter->setFont(qFont());
    m_painter->setPen(toColor(Font.Color));
    m_painter->drawText(QPoint(x, y + m_cachedAscent), text);
    if (clipped)
        m_painter->setClipRegion(oldClip);
    else
        m_painter->setClipping(false);
}

void TCanvas::TextOut(int x, int y, const QString &text)
{
    if (!m_painter)
        return;
    m_painter->setFont(qFont());
    m_painter->setPen(toColor(Font.Color));
    m_painter->drawText(QPoint(x, y + m_cachedAscent), text);
}

int TCanvas::TextWidth(const QString &text) const
{
    return QFontMetrics(qFont()).horizontalAdvance(text);
}

int TCanvas::TextHeight(const QString &) const
{
    return QFontMetrics(qFont()).height();
}

void TCanvas::DrawFocusRect(const QRect &r)
{
    if (m_painter)
        rpt::DrawFocusRect(*m_painter, r);
}

// =======================================================================================
// Columns

QString TColumnTitle::Caption() const
{
    if (m_caption)
        return *m_caption;
    if (TField *f = m_column->Field())
        return f->DisplayLabel();
    return m_column->FieldName();
}

void TColumnTitle::SetCaption(const QString &c)
{
    m_caption = c;
    m_column->changed();
}

void TColumnTitle::SetAlignment(TAlignment a)
{
    m_alignment = a;
    m_column->changed();
}

TColor TColumnTitle::Color() const
{
    if (m_color)
        return *m_color;
    TCustomDBGrid *g = m_column->Grid();
    return g ? g->FixedColor() : clBtnFace;
}

void TColumnTitle::SetColor(TColor c)
{
    m_color = c;
    m_column->changed();
}

TFont TColumnTitle::Font() const
{
    if (m_font)
        return *m_font;
    TCustomDBGrid *g = m_column->Grid();
    return g ? g->TitleFont() : TFont();
}

void TColumnTitle::SetFont(const TFont &f)
{
    m_font = f;
    m_column->changed();
}

TColumn::TColumn(TDBGridColumns *owner) : m_owner(owner), m_title(this) {}

TCustomDBGrid *TColumn::Grid() const
{
    return m_owner ? m_owner->Grid() : nullptr;
}

int TColumn::Index() const
{
    return m_owner ? m_owner->IndexOf(this) : -1;
}

void TColumn::SetFieldName(const QString &name)
{
    m_fieldName = name;
    TCustomDBGrid *g = Grid();
    bindField(g ? g->activeDataSet() : nullptr);
    changed();
}

void TColumn::bindField(TDataSet *ds)
{
    m_field = (ds && ds->Active() && !m_fieldName.isEmpty()) ? ds->FindField(m_fieldName) : nullptr;
}

int TColumn::Width() const
{
    return m_width ? *m_width : DefaultWidth();
}

void TColumn::SetWidth(int w)
{
    m_width = qMax(0, w);
    changed();
}

int TColumn::DefaultWidth() const
{
    TCustomDBGrid *g = Grid();
    if (!g)
        return 64;
    TField *f = Field();
    if (!f)
        return g->DefaultColWidth();
    int w = f->DisplayWidth() * QFontMetrics(Font().toQFont()).horizontalAdvance(QLatin1Char('0')) + 4;
    if (g->Options().testFlag(dgTitles))
        w = qMax(w, QFontMetrics(m_title.Font().toQFont()).horizontalAdvance(m_title.Caption()) + 4);
    return w;
}

void TColumn::SetVisible(bool v)
{
    m_visible = v;
    changed();
}

TAlignment TColumn::Alignment() const
{
    if (m_alignment)
        return *m_alignment;
    return m_field ? m_field->Alignment() : taLeftJustify;
}

void TColumn::SetAlignment(TAlignment a)
{
    m_alignment = a;
    changed();
}

TColor TColumn::Color() const
{
    if (m_color)
        return *m_color;
    TCustomDBGrid *g = Grid();
    return g ? g->Color() : clWindow;
}

void TColumn::SetColor(TColor c)
{
    m_color = c;
    changed();
}

TFont TColumn::Font() const
{
    if (m_font)
        return *m_font;
    TCustomDBGrid *g = Grid();
    return g ? g->Font() : TFont();
}

void TColumn::SetFont(const TFont &f)
{
    m_font = f;
    changed();
}

void TColumn::changed()
{
    if (TCustomDBGrid *g = Grid())
        g->columnsChanged();
}

TColumn *TDBGridColumns::Items(int i) const
{
    if (i < 0 || i >= Count())
        throw EListError(QString::fromLatin1(msg::ListIndexError).arg(i));
    return m_items[size_t(i)].get();
}

int TDBGridColumns::IndexOf(const TColumn *c) const
{
    for (int i = 0; i < Count(); ++i)
        if (m_items[size_t(i)].get() == c)
            return i;
    return -1;
}

TColumn *TDBGridColumns::Add()
{
    if (m_state == csDefault) {
        m_items.clear();
        m_state = csCustomized;
    }
    m_items.push_back(std::make_unique<TColumn>(this));
    m_grid->columnsChanged();
    return m_items.back().get();
}

void TDBGridColumns::Clear()
{
    m_items.clear();
    m_state = csDefault;
    rebuildDefault(m_grid->activeDataSet());
    m_grid->columnsChanged();
}

void TDBGridColumns::SetState(TColumnsState s)
{
    if (s == m_state)
        return;
    if (s == csDefault) {
        Clear();
        return;
    }
    m_state = csCustomized; // the columns shown now become declared ones
    m_grid->columnsChanged();
}

void TDBGridColumns::RebuildColumns()
{
    TDataSet *ds = m_grid->activeDataSet();
    m_items.clear();
    if (ds)
        for (int i = 0; i < ds->FieldCount(); ++i) {
            auto c = std::make_unique<TColumn>(this);
            c->m_fieldName = ds->Fields(i)->FieldName();
            c->m_visible = ds->Fields(i)->Visible();
            c->bindField(ds);
            m_items.push_back(std::move(c));
        }
    m_state = csCustomized;
    m_grid->columnsChanged();
}

void TDBGridColumns::rebuildDefault(TDataSet *ds)
{
    m_items.clear();
    if (!ds)
        return;
    for (int i = 0; i < ds->FieldCount(); ++i) {
        TField *f = ds->Fields(i);
        if (!f->Visible())
            continue;
        auto c = std::make_unique<TColumn>(this);
        c->m_fieldName = f->FieldName();
        c->m_field = f;
        m_items.push_back(std::move(c));
    }
}

// =======================================================================================
// TGridDataLink

void TGridDataLink::Reset()
{
    if (m_modified)
        RecordChanged(nullptr);
    else if (TDataSet *ds = DataSet())
        ds->Cancel();
}

void TGridDataLink::ActiveChanged()
{
    m_modified = false;
    m_grid->LinkActive(Active());
}

void TGridDataLink::EditingChanged()
{
    m_grid->EditingChanged();
}

void TGridDataLink::DataSetChanged()
{
    m_grid->DataChanged();
    m_modified = false;
}

void TGridDataLink::DataSetScrolled(int distance)
{
    m_grid->Scroll(distance);
}

void TGridDataLink::LayoutChanged()
{
    m_grid->LayoutChanged();
    DataSetChanged();
}

void TGridDataLink::RecordChanged(TField *field)
{
    m_grid->RecordChanged(field);
    m_modified = false;
}

void TGridDataLink::UpdateData()
{
    if (!m_modified || m_inUpdateData)
        return;
    m_inUpdateData = true;
    try {
        m_grid->UpdateData();
    } catch (...) {
        // The typed text stays pending (and visible) so the user can correct it.
        m_inUpdateData = false;
        throw;
    }
    m_inUpdateData = false;
    if (!m_grid->Options().testFlag(dgAlwaysShowEditor))
        m_modified = false;
}

void TGridDataLink::FocusControl(TField *field)
{
    if (!field)
        return;
    TDBGridColumns &cols = m_grid->Columns();
    for (int i = 0; i < cols.Count(); ++i)
        if (cols[i]->Field() == field && cols[i]->Showing()) {
            m_grid->SetSelectedIndex(i);
            m_grid->setFocus();
            return;
        }
}

// =======================================================================================
// TCustomDBGrid

TCustomDBGrid::TCustomDBGrid(QWidget *parent)
    : QAbstractScrollArea(parent), m_link(std::make_unique<TGridDataLink>(this)), m_columns(this)
{
    m_titleFont = m_font;
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled, false);
    viewport()->setAutoFillBackground(false);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    viewport()->setMouseTracking(true);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    SetBorderStyle(bsSingle);
    QWidget::setFont(m_font.toQFont());

    m_editor = new QLineEdit(viewport());
    m_editor->setFrame(false);
    m_editor->hide();
    m_editor->setContextMenuPolicy(Qt::NoContextMenu); // edits come through the keys we see
    m_editor->setDragEnabled(false);
    m_editor->setAcceptDrops(false);
    m_editor->setValidator(new FieldTextValidator(m_editor));
    m_editor->installEventFilter(this);
    connect(m_editor, &QLineEdit::textChanged, this, [this](const QString &t) { m_editText = t; });
    connect(m_editor, &QLineEdit::textEdited, this, [this](const QString &) {
        if (m_settingEditorText || m_link->IsModified())
            return;
        // An edit that did not come through a key (input method): it needs the same
        // permission as a typed character, else the cell goes back to the field's text.
        guard([this] {
            if (!CanEditModify())
                loadEditorText();
        });
    });

    connect(verticalScrollBar(), &QScrollBar::actionTriggered, this, [this](int a) { vScrollAction(a); });
    connect(horizontalScrollBar(), &QScrollBar::actionTriggered, this, [this](int a) { hScrollAction(a); });
    computeMetrics();
}

TCustomDBGrid::~TCustomDBGrid()
{
    // No notifications into a grid that is going away.
    m_editor->removeEventFilter(this);
    m_link.reset();
}

TDataSet *TCustomDBGrid::activeDataSet() const
{
    if (!m_link || !m_link->Active())
        return nullptr;
    TDataSet *ds = m_link->DataSet();
    return (ds && ds->Active()) ? ds : nullptr;
}

TDataSource *TCustomDBGrid::DataSource() const
{
    return m_link->DataSource();
}

void TCustomDBGrid::SetDataSource(TDataSource *ds)
{
    m_link->SetDataSource(ds);
    if (!ds)
        LinkActive(false);
}

TColumn *TCustomDBGrid::SelectedColumn() const
{
    if (m_selIndex < 0 || m_selIndex >= m_columns.Count())
        return nullptr;
    return m_columns[m_selIndex];
}

TField *TCustomDBGrid::SelectedField() const
{
    TColumn *c = SelectedColumn();
    return c ? c->Field() : nullptr;
}

void TCustomDBGrid::SetSelectedIndex(int dataCol)
{
    MoveCol(IndicatorOffset() + dataCol, 0);
}

int TCustomDBGrid::FieldCount() const
{
    return m_columns.Count();
}

TField *TCustomDBGrid::Fields(int i) const
{
    return m_columns[i]->Field();
}

// --- options and look ------------------------------------------------------------------

void TCustomDBGrid::SetOptions(TDBGridOptions o)
{
    if (o.testFlag(dgRowSelect))
        o &= ~TDBGridOptions(dgAlwaysShowEditor);
    m_options = o;
    if (!o.testFlag(dgEditing) || o.testFlag(dgRowSelect))
        HideEditor();
    columnsChanged();
    if (o.testFlag(dgAlwaysShowEditor))
        ShowEditor();
}

void TCustomDBGrid::SetReadOnly(bool r)
{
    m_readOnly = r;
    if (m_editorShown)
        setEditorColumn();
}

void TCustomDBGrid::SetTabStop(bool t)
{
    m_tabStop = t;
    setFocusPolicy(t ? Qt::StrongFocus : Qt::ClickFocus);
}

void TCustomDBGrid::SetColor(TColor c)
{
    m_color = c;
    if (m_editorShown)
        setEditorColumn();
    Invalidate();
}

void TCustomDBGrid::SetFixedColor(TColor c)
{
    m_fixedColor = c;
    Invalidate();
}

void TCustomDBGrid::SetGridLineColor(TColor c)
{
    m_lineColor = c;
    Invalidate();
}

void TCustomDBGrid::SetFont(const TFont &f)
{
    m_font = f;
    QWidget::setFont(f.toQFont());
    columnsChanged();
}

void TCustomDBGrid::SetTitleFont(const TFont &f)
{
    m_titleFont = f;
    columnsChanged();
}

void TCustomDBGrid::SetBorderStyle(TBorderStyle b)
{
    m_borderStyle = b;
    setFrameStyle(b == bsSingle ? (QFrame::WinPanel | QFrame::Sunken) : QFrame::NoFrame);
}

void TCustomDBGrid::SetDefaultColWidth(int w)
{
    m_defaultColWidth = qMax(0, w);
    columnsChanged();
}

void TCustomDBGrid::SetLoading(bool l)
{
    m_loading = l;
    if (!l)
        columnsChanged();
    Invalidate();
}

// --- geometry ---------------------------------------------------------------------------

void TCustomDBGrid::computeMetrics()
{
    const int lines = m_options.testFlag(dgRowLines) ? 1 : 0;
    m_rowHeight = QFontMetrics(m_font.toQFont()).height() + 3 + lines;
    int title = 0;
    for (int i = 0; i < m_columns.Count(); ++i)
        title = qMax(title, QFontMetrics(m_columns[i]->Title().Font().toQFont()).height() + 4);
    if (title == 0)
        title = QFontMetrics(m_titleFont.toQFont()).height() + 4;
    m_titleHeight = title;
    m_widths.assign(size_t(m_columns.Count()), 0);
    for (int i = 0; i < m_columns.Count(); ++i)
        m_widths[size_t(i)] = m_columns[i]->Showing() ? m_columns[i]->Width() : 0;
}

int TCustomDBGrid::rowPitch() const
{
    return m_rowHeight + (m_options.testFlag(dgRowLines) ? 1 : 0);
}

int TCustomDBGrid::titlePitch() const
{
    return TitleOffset() ? m_titleHeight + (m_options.testFlag(dgRowLines) ? 1 : 0) : 0;
}

int TCustomDBGrid::dataAreaLeft() const
{
    return IndicatorOffset() ? IndicatorWidth + (m_options.testFlag(dgColLines) ? 1 : 0) : 0;
}

int TCustomDBGrid::VisibleRowCount() const
{
    const int lines = m_options.testFlag(dgRowLines) ? 1 : 0;
    const int h = viewport()->height() - titlePitch() + lines;
    return qMax(0, h / qMax(1, rowPitch()));
}

int TCustomDBGrid::ShownRowCount() const
{
    TDataSet *ds = activeDataSet();
    if (!ds)
        return 1;
    const int count = ds->RecordCount();
    return qMax(1, qMin(qMax(1, VisibleRowCount()), count - m_top));
}

int TCustomDBGrid::RecordOfRow(int dataRow) const
{
    TDataSet *ds = activeDataSet();
    if (!ds || dataRow < 0)
        return -1;
    const int rec = m_top + dataRow;
    return rec < ds->RecordCount() ? rec : -1;
}

int TCustomDBGrid::currentScreenRow() const
{
    TDataSet *ds = activeDataSet();
    if (!ds || ds->CurrentRow() < 0)
        return 0;
    return ds->CurrentRow() - m_top;
}

int TCustomDBGrid::Row() const
{
    return TitleOffset() + currentScreenRow();
}

int TCustomDBGrid::columnX(int dataCol) const
{
    if (dataCol < m_leftCol || dataCol >= int(m_widths.size()) || m_widths[size_t(dataCol)] <= 0)
        return -1;
    const int line = m_options.testFlag(dgColLines) ? 1 : 0;
    int x = dataAreaLeft();
    for (int i = m_leftCol; i < dataCol; ++i)
        if (m_widths[size_t(i)] > 0)
            x += m_widths[size_t(i)] + line;
    return x;
}

QRect TCustomDBGrid::CellRect(int col, int row) const
{
    int x, w;
    if (col < IndicatorOffset()) {
        if (col < 0)
            return {};
        x = 0;
        w = IndicatorWidth;
    } else {
        const int dc = col - IndicatorOffset();
        x = columnX(dc);
        if (x < 0)
            return {};
        w = m_widths[size_t(dc)];
    }
    int y, h;
    if (row < TitleOffset()) {
        if (row < 0)
            return {};
        y = 0;
        h = m_titleHeight;
    } else {
        y = titlePitch() + (row - TitleOffset()) * rowPitch();
        h = m_rowHeight;
    }
    return QRect(x, y, w, h);
}

TGridCoord TCustomDBGrid::MouseCoord(int x, int y) const
{
    TGridCoord c;
    if (x < 0 || y < 0)
        return c;
    const int colLine = m_options.testFlag(dgColLines) ? 1 : 0;
    if (IndicatorOffset() && x < IndicatorWidth + colLine) {
        c.X = 0;
    } else {
        int left = dataAreaLeft();
        for (int i = m_leftCol; i < int(m_widths.size()); ++i) {
            if (m_widths[size_t(i)] <= 0)
                continue;
            const int right = left + m_widths[size_t(i)] + colLine;
            if (x < right) {
                c.X = IndicatorOffset() + i;
                break;
            }
            left = right;
        }
        if (c.X < 0)
            return TGridCoord{};
    }
    if (TitleOffset() && y < titlePitch()) {
        c.Y = 0;
    } else {
        const int r = (y - titlePitch()) / qMax(1, rowPitch());
        if (r >= ShownRowCount())
            return TGridCoord{};
        c.Y = TitleOffset() + r;
    }
    return c;
}

void TCustomDBGrid::SetLeftCol(int gridCol)
{
    const int dc = qBound(0, gridCol - IndicatorOffset(), qMax(0, m_columns.Count() - 1));
    if (dc == m_leftCol)
        return;
    m_leftCol = dc;
    updateScrollBars();
    placeEditor();
    Invalidate();
    emit viewChanged();
}

void TCustomDBGrid::ensureCurrentVisible()
{
    TDataSet *ds = activeDataSet();
    if (!ds) {
        m_top = 0;
    } else {
        const int count = ds->RecordCount();
        const int cur = ds->CurrentRow();
        const int vis = qMax(1, VisibleRowCount());
        if (cur >= 0) {
            if (cur < m_top)
                m_top = cur;
            else if (cur >= m_top + vis)
                m_top = cur - vis + 1;
        }
        m_top = qBound(0, m_top, qMax(0, count - vis));
    }
    // Columns: the current one fully on screen when it fits.
    const int n = int(m_widths.size());
    if (m_leftCol >= n)
        m_leftCol = qMax(0, n - 1);
    if (m_selIndex >= 0 && m_selIndex < n) {
        if (m_selIndex < m_leftCol)
            m_leftCol = m_selIndex;
        const int avail = viewport()->width();
        while (m_leftCol < m_selIndex) {
            const int x = columnX(m_selIndex);
            if (x >= 0 && x + m_widths[size_t(m_selIndex)] <= avail)
                break;
            ++m_leftCol;
        }
    }
}

void TCustomDBGrid::updateScrollBars()
{
    QScrollBar *vb = verticalScrollBar();
    TDataSet *ds = activeDataSet();
    const int vis = qMax(1, VisibleRowCount());
    if (ds && ds->RecordCount() > vis) {
        vb->setRange(0, ds->RecordCount() - 1);
        vb->setPageStep(vis);
        vb->setSingleStep(1);
        vb->setValue(qMax(0, ds->CurrentRow()));
    } else {
        vb->setRange(0, 0);
    }

    // Horizontal: by columns, up to the first column from which the rest fits.
    QScrollBar *hb = horizontalScrollBar();
    const int line = m_options.testFlag(dgColLines) ? 1 : 0;
    const int avail = viewport()->width() - dataAreaLeft();
    int maxLeft = 0;
    int used = 0;
    for (int i = int(m_widths.size()) - 1; i >= 0; --i) {
        if (m_widths[size_t(i)] <= 0)
            continue;
        used += m_widths[size_t(i)] + line;
        if (used > avail + line) {
            maxLeft = i + 1;
            break;
        }
    }
    if (maxLeft >= int(m_widths.size()))
        maxLeft = int(m_widths.size()) - 1;
    hb->setRange(0, qMax(0, maxLeft));
    hb->setPageStep(1);
    hb->setSingleStep(1);
    hb->setValue(m_leftCol);
}

void TCustomDBGrid::layoutAndScroll()
{
    if (m_inLayout) {
        m_layoutAgain = true;
        return;
    }
    m_inLayout = true;
    // Showing or hiding a scroll bar changes the room for rows; settle in a few rounds.
    for (int round = 0; round < 3; ++round) {
        m_layoutAgain = false;
        ensureCurrentVisible();
        updateScrollBars();
        if (!m_layoutAgain)
            break;
    }
    m_inLayout = false;
    placeEditor();
    emit viewChanged();
}

int TCustomDBGrid::firstShowingColumn() const
{
    for (int i = 0; i < m_columns.Count(); ++i)
        if (m_columns[i]->Showing())
            return i;
    return 0;
}

void TCustomDBGrid::columnsChanged()
{
    TDataSet *ds = activeDataSet();
    for (int i = 0; i < m_columns.Count(); ++i)
        if (m_columns.State() == csCustomized)
            m_columns[i]->bindField(ds);
    computeMetrics();
    if (m_selIndex >= m_columns.Count() || m_selIndex < 0 || !m_columns[m_selIndex]->Showing())
        m_selIndex = firstShowingColumn();
    layoutAndScroll();
    if (m_editorShown) {
        if (CanEditShow())
            setEditorColumn();
        else
            HideEditor();
    }
    Invalidate();
}

// --- link notifications ------------------------------------------------------------------

void TCustomDBGrid::LinkActive(bool active)
{
    TDataSet *ds = active ? activeDataSet() : nullptr;
    if (m_columns.State() == csDefault)
        m_columns.rebuildDefault(ds);
    m_top = 0;
    m_leftCol = 0;
    m_lastScreenRow = -1;
    if (!ds)
        HideEditor();
    columnsChanged();
    m_lastScreenRow = currentScreenRow();
    if (ds && m_options.testFlag(dgAlwaysShowEditor))
        ShowEditor();
}

void TCustomDBGrid::LayoutChanged()
{
    TDataSet *ds = activeDataSet();
    if (m_columns.State() == csDefault)
        m_columns.rebuildDefault(ds);
    columnsChanged();
}

void TCustomDBGrid::DataChanged()
{
    if (!activeDataSet())
        return;
    const int before = m_lastScreenRow;
    layoutAndScroll();
    const int now = currentScreenRow();
    if (before >= 0 && now != before && !m_options.testFlag(dgAlwaysShowEditor))
        HideEditor();
    m_lastScreenRow = now;
    if (m_editorShown) {
        loadEditorText();
        placeEditor();
    } else if (m_options.testFlag(dgAlwaysShowEditor)) {
        ShowEditor();
    }
    Invalidate();
}

void TCustomDBGrid::Scroll(int distance)
{
    if (!activeDataSet())
        return;
    layoutAndScroll();
    m_lastScreenRow = currentScreenRow();
    if (distance != 0) {
        HideEditor();
        if (m_options.testFlag(dgAlwaysShowEditor))
            ShowEditor();
    }
    Invalidate();
}

void TCustomDBGrid::EditingChanged()
{
    Invalidate();
}

void TCustomDBGrid::RecordChanged(TField *field)
{
    TField *sel = SelectedField();
    if (m_editorShown && sel && (!field || field == sel) && sel->Text() != m_editText) {
        loadEditorText();
        m_editor->deselect();
    }
    Invalidate();
}

void TCustomDBGrid::UpdateData()
{
    TField *f = SelectedField();
    if (f && f->Text() != m_editText)
        f->SetText(m_editText);
    Invalidate();
}

// --- editing -----------------------------------------------------------------------------

bool TCustomDBGrid::columnEditable(int dataCol) const
{
    if (m_readOnly || !m_link->Active() || m_link->ReadOnly())
        return false;
    if (dataCol < 0 || dataCol >= m_columns.Count())
        return false;
    TColumn *c = m_columns[dataCol];
    return !c->ReadOnly() && c->Field() && c->Field()->CanModify();
}

bool TCustomDBGrid::CanEditModify()
{
    if (!columnEditable(m_selIndex))
        return false;
    m_link->Edit();
    if (!m_link->Editing())
        return false;
    m_link->Modified();
    return true;
}

bool TCustomDBGrid::CanEditShow() const
{
    if (!m_options.testFlag(dgEditing) || m_options.testFlag(dgRowSelect) || m_designing || m_loading)
        return false;
    if (!activeDataSet() || !SelectedColumn() || !SelectedColumn()->Showing())
        return false;
    return m_options.testFlag(dgAlwaysShowEditor) || IsActiveControl() || m_editor->hasFocus()
        || (window() && window()->focusWidget() == m_editor);
}

bool TCustomDBGrid::IsTabStop(int gridCol) const
{
    const int dc = gridCol - IndicatorOffset();
    if (dc < 0 || dc >= m_columns.Count() || !m_link->Active())
        return false;
    TColumn *c = m_columns[dc];
    return c->Showing() && !c->ReadOnly() && c->Field() && !c->Field()->ReadOnly();
}

void TCustomDBGrid::setEditorColumn()
{
    TColumn *c = SelectedColumn();
    if (!c)
        return;
    m_editor->setFont(c->Font().toQFont());
    QPalette pal = m_editor->palette();
    pal.setColor(QPalette::Base, toQColor(c->Color(), &palette()));
    pal.setColor(QPalette::Text, toQColor(c->Font().Color, &palette()));
    m_editor->setPalette(pal);
    m_editor->setReadOnly(!columnEditable(m_selIndex));
    auto *v = static_cast<FieldTextValidator *>(const_cast<QValidator *>(m_editor->validator()));
    TField *f = c->Field();
    v->type = f ? f->DataType() : ftUnknown;
    v->size = f ? f->Size() : 0;
}

void TCustomDBGrid::loadEditorText()
{
    TField *f = SelectedField();
    m_settingEditorText = true;
    m_editor->setText(f ? f->Text() : QString());
    m_settingEditorText = false;
    m_editText = m_editor->text();
}

void TCustomDBGrid::placeEditor()
{
    if (!m_editorShown)
        return;
    const QRect r = CellRect(Col(), Row());
    if (r.isEmpty()) {
        m_editor->setGeometry(QRect(-1000, -1000, 10, 10)); // scrolled out of sight
        return;
    }
    m_editor->setGeometry(r);
    m_editor->setTextMargins(0, 0, 0, 0);
}

void TCustomDBGrid::ShowEditor()
{
    if (!CanEditShow())
        return;
    const bool focusIt = IsActiveControl() || hasFocus();
    if (!m_editorShown) {
        m_editorShown = true;
        setEditorColumn();
        loadEditorText();
    }
    placeEditor();
    m_editor->show();
    m_editor->selectAll();
    if (focusIt)
        m_editor->setFocus(Qt::OtherFocusReason);
}

void TCustomDBGrid::HideEditor()
{
    if (!m_editorShown)
        return;
    m_editorShown = false;
    // Keep the keyboard in the grid rather than letting it wander to the next control.
    if (m_editor->hasFocus() || (window() && window()->focusWidget() == m_editor && window()->isActiveWindow()))
        setFocus(Qt::OtherFocusReason);
    m_editor->hide();
    Invalidate();
}

void TCustomDBGrid::SetEditorMode(bool on)
{
    if (on)
        ShowEditor();
    else
        HideEditor();
}

void TCustomDBGrid::MoveCol(int gridCol, int direction)
{
    if (activeDataSet())
        m_link->UpdateRecord();
    const int lo = IndicatorOffset();
    const int hi = ColCount() - 1;
    if (hi < lo)
        return;
    int raw = qBound(lo, gridCol, hi);
    if (direction != 0) {
        while (raw >= lo && raw <= hi && !m_columns[raw - lo]->Showing())
            raw += direction;
        if (raw < lo || raw > hi)
            return;
    } else if (!m_columns[raw - lo]->Showing()) {
        return;
    }
    const int old = Col();
    if (raw == old)
        return;
    if (!m_inColExit) {
        m_inColExit = true;
        try {
            if (OnColExit)
                OnColExit(this);
        } catch (...) {
            m_inColExit = false;
            throw;
        }
        m_inColExit = false;
        if (Col() != old)
            return;
    }
    if (!m_options.testFlag(dgAlwaysShowEditor))
        HideEditor();
    m_selIndex = raw - lo;
    layoutAndScroll();
    if (m_editorShown) {
        setEditorColumn();
        loadEditorText();
        placeEditor();
        m_editor->selectAll();
    }
    Invalidate();
    if (OnColEnter)
        OnColEnter(this);
}

// --- painting ----------------------------------------------------------------------------

void TCustomDBGrid::Invalidate()
{
    viewport()->update();
}

void TCustomDBGrid::InvalidateAndRepaint()
{
    viewport()->repaint();
}

void TCustomDBGrid::EndUpdate()
{
    if (m_updateLock > 0 && --m_updateLock == 0)
        Invalidate();
}

bool TCustomDBGrid::Focused() const
{
    return hasFocus();
}

bool TCustomDBGrid::IsActiveControl() const
{
    const QWidget *w = window();
    return w && w->focusWidget() == this;
}

void TCustomDBGrid::DrawFocusRect(const QRect &rect)
{
    m_canvas.DrawFocusRect(rect);
}

void TCustomDBGrid::paintEvent(QPaintEvent *)
{
    QPainter p(viewport());
    const QPalette pal = palette();
    m_canvas.begin(&p, &pal);
    const int vw = viewport()->width();
    const int vh = viewport()->height();
    p.fillRect(0, 0, vw, vh, toQColor(m_color, &pal));

    const bool colLines = m_options.testFlag(dgColLines);
    const bool rowLines = m_options.testFlag(dgRowLines);
    const int rows = TitleOffset() + ShownRowCount();

    // The grid columns on screen, left to right.
    std::vector<int> cols;
    if (IndicatorOffset())
        cols.push_back(0);
    int right = dataAreaLeft();
    for (int i = m_leftCol; i < int(m_widths.size()) && right < vw; ++i) {
        if (m_widths[size_t(i)] <= 0)
            continue;
        cols.push_back(IndicatorOffset() + i);
        right += m_widths[size_t(i)] + (colLines ? 1 : 0);
    }
    const int bottom = titlePitch() + ShownRowCount() * rowPitch();

    // Lines first: fixed cells draw their raised edges over them.
    if (colLines || rowLines) {
        p.setPen(toQColor(m_lineColor, &pal));
        if (colLines)
            for (int c : cols) {
                const QRect r = CellRect(c, 0);
                p.drawLine(r.x() + r.width(), 0, r.x() + r.width(), bottom - 1);
            }
        if (rowLines)
            for (int r = 0; r < rows; ++r) {
                const QRect cr = CellRect(IndicatorOffset() ? 0 : (cols.empty() ? 0 : cols.front()), r);
                p.drawLine(0, cr.y() + cr.height(), right - 1, cr.y() + cr.height());
            }
    }

    const int keepActive = m_link->ActiveRecord();
    try {
        for (int r = 0; r < rows; ++r) {
            for (int c : cols) {
                const QRect rect = CellRect(c, r);
                if (rect.isEmpty() || rect.top() >= vh)
                    continue;
                TGridDrawState state;
                const bool fixed = r < TitleOffset() || c < IndicatorOffset();
                if (fixed) {
                    state |= gdFixed;
                } else if (r == Row() && (c == Col() || m_options.testFlag(dgRowSelect))) {
                    state |= gdSelected;
                    if (Focused())
                        state |= gdFocused;
                }
                m_canvas.Font = m_font;
                m_canvas.Brush.Color = fixed ? m_fixedColor : m_color;
                DrawCell(c, r, rect, state);
            }
        }
        m_lastPaintError.clear();
    } catch (...) {
        reportPaintError(exceptionText(std::current_exception()));
    }
    if (m_link->Active())
        m_link->SetActiveRecord(keepActive);
    m_canvas.end();
}

void TCustomDBGrid::reportPaintError(const QString &message)
{
    // A paint that fails fails again on the next paint: report it once, after the paint.
    if (message == m_lastPaintError)
        return;
    m_lastPaintError = message;
    QTimer::singleShot(0, this, [this, message] {
        guard([&] { throw Exception(message); });
    });
}

void TCustomDBGrid::drawIndicator(const QRect &rect, int dataRow)
{
    TDataSet *ds = activeDataSet();
    if (!ds || dataRow != currentScreenRow() || !m_canvas.Painter())
        return;
    QPainter &p = *m_canvas.Painter();
    p.save();
    p.setRenderHint(QPainter::Antialiasing, false);
    const QColor ink = m_canvas.toColor(clBlack);
    p.setPen(ink);
    p.setBrush(ink);
    // A 9-pixel glyph, right-aligned and centred vertically like the platform's bitmaps.
    const int x = rect.x() + rect.width() - 9;
    const int y = rect.y() + (rect.height() - 9) / 2;
    switch (ds->State()) {
    case dsEdit: // I-beam
        p.drawLine(x + 2, y, x + 6, y);
        p.drawLine(x + 4, y, x + 4, y + 8);
        p.drawLine(x + 2, y + 8, x + 6, y + 8);
        break;
    case dsInsert: // asterisk
        p.drawLine(x + 4, y + 1, x + 4, y + 7);
        p.drawLine(x + 1, y + 4, x + 7, y + 4);
        p.drawLine(x + 2, y + 2, x + 6, y + 6);
        p.drawLine(x + 6, y + 2, x + 2, y + 6);
        break;
    default: { // arrow
        const QPoint tri[3] = {QPoint(x + 2, y), QPoint(x + 6, y + 4), QPoint(x + 2, y + 8)};
        p.drawPolygon(tri, 3);
        break;
    }
    }
    p.restore();
}

void TCustomDBGrid::writeText(const QRect &rect, int dx, int dy, const QString &text, TAlignment alignment)
{
    int x;
    switch (alignment) {
    case taRightJustify:
        x = rect.x() + rect.width() - m_canvas.TextWidth(text) - 3;
        break;
    case taCenter:
        x = rect.x() + rect.width() / 2 - m_canvas.TextWidth(text) / 2;
        break;
    default:
        x = rect.x() + dx;
        break;
    }
    m_canvas.TextRect(rect, x, rect.y() + dy, text);
}

void TCustomDBGrid::drawTitleCell(int dataCol, const QRect &rect, TGridDrawState)
{
    TColumn *column = m_columns[dataCol];
    m_canvas.Font = column->Title().Font();
    m_canvas.Brush.Color = column->Title().Color();
    const bool both = m_options.testFlag(dgRowLines) && m_options.testFlag(dgColLines);
    m_canvas.FillRect(rect);
    writeText(both ? rect.adjusted(1, 1, -1, -1) : rect, 2, both ? 1 : 2, column->Title().Caption(),
              column->Title().Alignment());
}

void TCustomDBGrid::DrawCell(int col, int row, const QRect &rect, TGridDrawState state)
{
    if (m_loading) {
        m_canvas.Brush.Color = m_color;
        m_canvas.FillRect(rect);
        return;
    }
    const int dataRow = row - TitleOffset();
    const int dataCol = col - IndicatorOffset();
    const bool fixed = state.testFlag(gdFixed);
    if (fixed && dataCol < 0) {
        m_canvas.Brush.Color = m_fixedColor;
        m_canvas.FillRect(rect);
        if (dataRow >= 0)
            drawIndicator(rect, dataRow);
    } else {
        if (dataCol < 0 || dataCol >= m_columns.Count())
            return;
        TColumn *column = m_columns[dataCol];
        if (!column->Showing())
            return;
        if (!fixed) {
            m_canvas.Font = column->Font();
            m_canvas.Brush.Color = column->Color();
        }
        if (dataRow < 0) {
            drawTitleCell(dataCol, rect, state);
        } else if (!activeDataSet()) {
            m_canvas.FillRect(rect);
        } else {
            {
                ActiveRecordGuard active(m_link.get(), RecordOfRow(dataRow));
                QString value;
                if (TField *f = column->Field())
                    value = f->DisplayText();
                if (HighlightCell(dataCol, dataRow, value, state) && m_defaultDrawing) {
                    m_canvas.Brush.Color = clHighlight;
                    m_canvas.Font.Color = clHighlightText;
                }
                if (!isEnabled())
                    m_canvas.Font.Color = clGrayText;
                if (m_defaultDrawing)
                    writeText(rect, 2, 2, value, column->Alignment());
                if (m_columns.State() == csDefault)
                    DrawDataCell(rect, column->Field(), state);
                DrawColumnCell(rect, dataCol, column, state);
            }
            if (m_defaultDrawing && state.testFlag(gdSelected)
                && (m_options.testFlag(dgAlwaysShowSelection) || Focused()) && !m_designing
                && !m_options.testFlag(dgRowSelect) && m_updateLock == 0 && IsActiveControl())
                DrawFocusRect(rect);
        }
    }
    if (fixed && m_options.testFlag(dgRowLines) && m_options.testFlag(dgColLines) && m_canvas.Painter()) {
        // Raised look of the fixed cells, drawn over the grid lines around them.
        QPainter &p = *m_canvas.Painter();
        const QRect r = rect.adjusted(-1, -1, 1, 1);
        p.setPen(m_canvas.toColor(clBtnHighlight));
        p.drawLine(r.left(), r.top(), r.right() - 1, r.top());
        p.drawLine(r.left(), r.top(), r.left(), r.bottom() - 1);
        p.setPen(m_canvas.toColor(clBtnShadow));
        p.drawLine(r.left(), r.bottom(), r.right(), r.bottom());
        p.drawLine(r.right(), r.top(), r.right(), r.bottom());
    }
}

bool TCustomDBGrid::HighlightCell(int, int, const QString &, TGridDrawState state) const
{
    return state.testFlag(gdSelected) && (m_options.testFlag(dgAlwaysShowSelection) || Focused())
        && (m_updateLock == 0 || m_options.testFlag(dgRowSelect));
}

void TCustomDBGrid::DefaultDrawColumnCell(const QRect &rect, int, TColumn *column, TGridDrawState)
{
    QString value;
    if (column && column->Field())
        value = column->Field()->DisplayText();
    writeText(rect, 2, 2, value, column ? column->Alignment() : taLeftJustify);
}

void TCustomDBGrid::DefaultDrawDataCell(const QRect &rect, TField *field, TGridDrawState)
{
    writeText(rect, 2, 2, field ? field->DisplayText() : QString(), field ? field->Alignment() : taLeftJustify);
}

void TCustomDBGrid::DrawDataCell(const QRect &rect, TField *field, TGridDrawState state)
{
    if (OnDrawDataCell)
        OnDrawDataCell(this, rect, field, state);
}

void TCustomDBGrid::DrawColumnCell(const QRect &rect, int dataCol, TColumn *column, TGridDrawState state)
{
    if (OnDrawColumnCell)
        OnDrawColumnCell(this, rect, dataCol, column, state);
}

// --- keyboard ----------------------------------------------------------------------------

QChar TCustomDBGrid::charOf(const QKeyEvent *e) const
{
    if (e->key() == Qt::Key_Delete)
        return QChar();
    const QChar ch = keyCharOf(e);
    // With Ctrl or Alt a printable text is a shortcut, not a character.
    if (!ch.isNull() && ch.unicode() >= 32
        && (e->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)))
        return QChar();
    return ch;
}

void TCustomDBGrid::fireKeyDown(int &key, Qt::KeyboardModifiers shift)
{
    if (!OnKeyDown)
        return;
    int vk = virtualKeyOf(key);
    const int original = vk;
    OnKeyDown(this, vk, shiftStateOf(shift));
    if (vk == 0)
        key = 0;
    else if (vk != original)
        key = qtKeyOf(vk);
}

void TCustomDBGrid::KeyPress(QChar &key)
{
    const bool toggles = !m_options.testFlag(dgAlwaysShowEditor) && key == u'\r';
    // Enter stores the typed text first, so a handler that moves on finds it in the field.
    if (toggles && activeDataSet())
        m_link->UpdateRecord();
    if (OnKeyPress)
        OnKeyPress(this, key);
    if (!m_options.testFlag(dgAlwaysShowEditor) && key == u'\r') {
        if (m_editorShown)
            HideEditor();
        else
            ShowEditor();
        key = QChar();
    }
}

void TCustomDBGrid::KeyDown(int &key, Qt::KeyboardModifiers shift)
{
    fireKeyDown(key, shift);
    if (key == 0)
        return;
    TDataSet *ds = activeDataSet();
    if (!ds)
        return;
    const bool rowSelect = m_options.testFlag(dgRowSelect);
    if (shift & Qt::ControlModifier) {
        switch (key) {
        case Qt::Key_Up:
        case Qt::Key_PageUp:
            ds->MoveBy(-currentScreenRow());
            break;
        case Qt::Key_Down:
        case Qt::Key_PageDown:
            ds->MoveBy(ShownRowCount() - currentScreenRow() - 1);
            break;
        case Qt::Key_Left:
            MoveCol(IndicatorOffset(), 1);
            break;
        case Qt::Key_Right:
            MoveCol(ColCount() - 1, -1);
            break;
        case Qt::Key_Home:
            ds->First();
            break;
        case Qt::Key_End:
            ds->Last();
            break;
        case Qt::Key_Delete:
            deleteRecord();
            break;
        default:
            break;
        }
        return;
    }
    const bool oneColumn = ColCount() == IndicatorOffset() + 1;
    switch (key) {
    case Qt::Key_Up:
        priorRow();
        break;
    case Qt::Key_Down:
        nextRow();
        break;
    case Qt::Key_Left:
        if (rowSelect)
            priorRow();
        else
            MoveCol(Col() - 1, -1);
        break;
    case Qt::Key_Right:
        if (rowSelect)
            nextRow();
        else
            MoveCol(Col() + 1, 1);
        break;
    case Qt::Key_Home:
        if (oneColumn || rowSelect)
            ds->First();
        else
            MoveCol(IndicatorOffset(), 1);
        break;
    case Qt::Key_End:
        if (oneColumn || rowSelect)
            ds->Last();
        else
            MoveCol(ColCount() - 1, -1);
        break;
    case Qt::Key_PageDown:
        ds->MoveBy(qMax(1, VisibleRowCount()));
        break;
    case Qt::Key_PageUp:
        ds->MoveBy(-qMax(1, VisibleRowCount()));
        break;
    case Qt::Key_Insert:
        if (ds->CanModify() && !m_readOnly && m_options.testFlag(dgEditing))
            ds->Insert();
        break;
    case Qt::Key_Tab:
        if (!(shift & Qt::AltModifier))
            tab(!(shift & Qt::ShiftModifier));
        break;
    case Qt::Key_Escape:
        m_link->Reset();
        if (!m_options.testFlag(dgAlwaysShowEditor))
            HideEditor();
        break;
    case Qt::Key_F2:
        SetEditorMode(true);
        break;
    default:
        break;
    }
}

void TCustomDBGrid::nextRow()
{
    TDataSet *ds = activeDataSet();
    if (!ds)
        return;
    if (ds->State() == dsInsert && !ds->Modified() && !m_link->IsModified()) {
        // A blank new row the user never typed into: at the end it stays, elsewhere it goes.
        if (m_link->Eof())
            return;
        ds->Cancel();
    } else {
        ds->MoveBy(1);
    }
    if (m_link->Eof() && ds->CanModify() && !m_readOnly && m_options.testFlag(dgEditing))
        ds->Append();
}

void TCustomDBGrid::priorRow()
{
    TDataSet *ds = activeDataSet();
    if (!ds)
        return;
    if (ds->State() == dsInsert && !ds->Modified() && ds->Eof() && !m_link->IsModified())
        ds->Cancel();
    else
        ds->MoveBy(-1);
}

void TCustomDBGrid::tab(bool forward)
{
    bool any = false;
    for (int c = IndicatorOffset(); c < ColCount() && !any; ++c)
        any = IsTabStop(c);
    if (!any)
        return; // nothing to tab to: the cursor stays where it is
    BeginUpdate();
    struct Unlock {
        TCustomDBGrid *g;
        ~Unlock() { g->EndUpdate(); }
    } unlock{this};
    int col = Col();
    const int original = col;
    // Each turn moves one cell; two full rounds are more than any layout needs.
    for (int turns = 0; turns < 2 * ColCount() + 2; ++turns) {
        col += forward ? 1 : -1;
        if (col >= ColCount()) {
            nextRow();
            col = IndicatorOffset();
        } else if (col < IndicatorOffset()) {
            priorRow();
            col = ColCount() - 1;
        }
        if (col == original)
            return;
        if (IsTabStop(col)) {
            MoveCol(col, 0);
            return;
        }
    }
}

void TCustomDBGrid::deleteRecord()
{
    TDataSet *ds = activeDataSet();
    if (!ds || m_readOnly || ds->IsEmpty() || !ds->CanModify())
        return;
    if (m_options.testFlag(dgConfirmDelete)) {
        // Any answer but Cancel deletes, as the platform's grid has it.
        if (MessageDlg(QString::fromLatin1(msg::DeleteRecordQuestion), mtConfirmation, mbOKCancel) == mrCancel)
            return;
    }
    // The question may have taken long enough for the record to go (or the dataset to close).
    ds = activeDataSet();
    if (ds && !ds->IsEmpty())
        ds->Delete();
}

void TCustomDBGrid::handleKey(QKeyEvent *e)
{
    int key = e->key();
    Qt::KeyboardModifiers mods = e->modifiers();
    if (key == Qt::Key_Backtab) {
        key = Qt::Key_Tab;
        mods |= Qt::ShiftModifier;
    }
    const QChar ch = charOf(e);
    guard([&] {
        KeyDown(key, mods);
        if (ch.isNull())
            return;
        // A character typed on a cell opens the editor and goes into it.
        if (m_options.testFlag(dgEditing) && !m_options.testFlag(dgRowSelect)
            && (ch == u'\b' || ch.unicode() >= 32))
            showEditorChar(ch);
        else {
            QChar c = ch;
            KeyPress(c);
        }
    });
}

void TCustomDBGrid::showEditorChar(QChar ch)
{
    ShowEditor();
    bool pass = false;
    editorChar(ch, &pass);
    if (!pass || !m_editorShown)
        return;
    if (ch == u'\b')
        m_editor->backspace();
    else
        m_editor->insert(QString(ch));
}

// The editor's side of a character: the grid (and its OnKeyPress) sees it first; then
// it goes into the text only where the column may be changed.
void TCustomDBGrid::editorChar(QChar ch, bool *passToEditor)
{
    *passToEditor = false;
    QChar key = ch;
    KeyPress(key);
    if (key.isNull())
        return;
    const ushort k = key.unicode();
    if (k >= 32 && !isValidChar(SelectedField(), key)) {
        QApplication::beep();
        return;
    }
    if (k == 9 || k == 27 || k == 13) {
        if (k == 13 && m_editorShown) {
            if (m_editor->selectedText() == m_editor->text())
                m_editor->deselect();
            else
                m_editor->selectAll();
        }
        return;
    }
    if (k == 8 || k == 0x16 || k == 0x18 || k >= 32) {
        if (!CanEditModify())
            return;
    }
    if (key != ch) {
        // The handler changed the character: type the new one ourselves.
        if (m_editorShown) {
            if (k == 8)
                m_editor->backspace();
            else if (k >= 32)
                m_editor->insert(QString(key));
        }
        return;
    }
    *passToEditor = true;
}

bool TCustomDBGrid::handleEditorKey(QKeyEvent *e)
{
    int key = e->key();
    Qt::KeyboardModifiers mods = e->modifiers();
    if (key == Qt::Key_Backtab) {
        key = Qt::Key_Tab;
        mods |= Qt::ShiftModifier;
    }
    const bool ctrl = mods & Qt::ControlModifier;
    const bool always = m_options.testFlag(dgAlwaysShowEditor);
    const int pos = m_editor->cursorPosition();
    const bool atLeft = pos == 0 && !m_editor->hasSelectedText();
    const bool atRight = pos == m_editor->text().size() && !m_editor->hasSelectedText();
    bool toGrid = false;
    switch (key) {
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Escape:
        toGrid = true;
        break;
    case Qt::Key_Insert:
        toGrid = mods == Qt::NoModifier;
        break;
    case Qt::Key_Tab:
        toGrid = !(mods & Qt::AltModifier);
        break;
    case Qt::Key_Left:
    case Qt::Key_Home:
        toGrid = always && (ctrl || atLeft);
        break;
    case Qt::Key_Right:
    case Qt::Key_End:
        toGrid = always && (ctrl || atRight);
        break;
    case Qt::Key_Delete:
        toGrid = ctrl;
        break;
    default:
        break;
    }
    const QChar ch = charOf(e);
    bool consumed = true;
    guard([&] {
        if (toGrid) {
            KeyDown(key, mods);
        } else {
            fireKeyDown(key, mods);
            if (key == 0)
                return;
            if (key == Qt::Key_Delete || (key == Qt::Key_Insert && mods == Qt::ShiftModifier)) {
                if (!CanEditModify())
                    return;
            }
            if (key == Qt::Key_F2) {
                m_editor->deselect();
                return;
            }
        }
        if (ch.isNull()) {
            consumed = toGrid;
            return;
        }
        bool pass = false;
        editorChar(ch, &pass);
        consumed = !pass || toGrid;
    });
    return consumed;
}

bool TCustomDBGrid::event(QEvent *e)
{
    if (e->type() == QEvent::KeyPress && m_options.testFlag(dgTabs)) {
        auto *k = static_cast<QKeyEvent *>(e);
        if ((k->key() == Qt::Key_Tab || k->key() == Qt::Key_Backtab)
            && !(k->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
            handleKey(k);
            k->accept();
            return true;
        }
    }
    return QAbstractScrollArea::event(e);
}

bool TCustomDBGrid::eventFilter(QObject *watched, QEvent *e)
{
    if (watched == m_editor) {
        switch (e->type()) {
        case QEvent::KeyPress: {
            auto *k = static_cast<QKeyEvent *>(e);
            if (handleEditorKey(k)) {
                k->accept();
                return true;
            }
            return false;
        }
        case QEvent::ShortcutOverride: {
            // Keys the grid handles must not be taken by window shortcuts.
            auto *k = static_cast<QKeyEvent *>(e);
            if (k->key() == Qt::Key_Escape || k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter
                || k->key() == Qt::Key_Tab || k->key() == Qt::Key_Backtab) {
                k->accept();
                return true;
            }
            return false;
        }
        case QEvent::FocusOut:
            focusOutEvent(static_cast<QFocusEvent *>(e));
            return false;
        default:
            break;
        }
    }
    return QAbstractScrollArea::eventFilter(watched, e);
}

void TCustomDBGrid::keyPressEvent(QKeyEvent *e)
{
    handleKey(e);
    e->accept();
}

void TCustomDBGrid::keyReleaseEvent(QKeyEvent *e)
{
    if (OnKeyUp) {
        int key = virtualKeyOf(e->key());
        guard([&] { OnKeyUp(this, key, shiftStateOf(e->modifiers())); });
    }
    e->accept();
}

// --- focus -------------------------------------------------------------------------------

void TCustomDBGrid::focusInEvent(QFocusEvent *e)
{
    QAbstractScrollArea::focusInEvent(e);
    if (!m_inside) {
        m_inside = true;
        if (OnEnter)
            guard([this] { OnEnter(this); });
    }
    if (m_options.testFlag(dgAlwaysShowEditor))
        ShowEditor();
    Invalidate();
}

void TCustomDBGrid::focusOutEvent(QFocusEvent *e)
{
    if (e->reason() == Qt::ActiveWindowFocusReason || e->reason() == Qt::PopupFocusReason) {
        Invalidate(); // another window (a message box, a menu) took the keyboard for a while
        return;
    }
    QWidget *now = QApplication::focusWidget();
    if (now && (now == this || isAncestorOf(now))) {
        Invalidate();
        return;
    }
    if (!m_inside)
        return;
    m_inside = false;
    const bool ok = guard([this] { exitGrid(); });
    if (!ok) {
        // The row could not be written: bring the user back to it.
        QTimer::singleShot(0, this, [this] { setFocus(Qt::OtherFocusReason); });
    } else if (!m_options.testFlag(dgAlwaysShowEditor) && m_editorShown) {
        m_editorShown = false;
        m_editor->hide();
    }
    if (OnExit)
        guard([this] { OnExit(this); });
    Invalidate();
}

void TCustomDBGrid::exitGrid()
{
    TDataSet *ds = activeDataSet();
    if (!ds)
        return;
    if (m_options.testFlag(dgCancelOnExit) && ds->State() == dsInsert && !ds->Modified()
        && !m_link->IsModified())
        ds->Cancel();
    else
        m_link->UpdateRecord();
}

void TCustomDBGrid::contextMenuEvent(QContextMenuEvent *e)
{
    if (m_popup) {
        controlPopupAt(m_popup, this, e->globalPos());
        e->accept();
        return;
    }
    QAbstractScrollArea::contextMenuEvent(e);
}

void TCustomDBGrid::changeEvent(QEvent *e)
{
    QAbstractScrollArea::changeEvent(e);
    if (e->type() == QEvent::EnabledChange || e->type() == QEvent::PaletteChange)
        Invalidate();
}

// --- mouse -------------------------------------------------------------------------------

int TCustomDBGrid::resizeHandleAt(const QPoint &pos) const
{
    if (!m_options.testFlag(dgColumnResize) || !TitleOffset() || pos.y() >= titlePitch())
        return -1;
    for (int i = m_leftCol; i < int(m_widths.size()); ++i) {
        const int x = columnX(i);
        if (x < 0)
            continue;
        const int edge = x + m_widths[size_t(i)];
        if (qAbs(pos.x() - edge) <= 2)
            return i;
    }
    return -1;
}

void TCustomDBGrid::mousePressEvent(QMouseEvent *e)
{
    const QPoint pos = e->position().toPoint();
    if (e->button() == Qt::LeftButton) {
        const int handle = resizeHandleAt(pos);
        if (handle >= 0) {
            m_resizeCol = handle;
            m_resizeStartX = pos.x();
            m_resizeStartWidth = m_widths[size_t(handle)];
            return;
        }
    }
    const TGridCoord cell = MouseCoord(pos.x(), pos.y());
    if (cell.X < 0 || cell.Y < 0)
        return;
    guard([&] {
        if (cell.Y < TitleOffset()) {
            if (cell.X >= IndicatorOffset() && OnTitleClick)
                OnTitleClick(m_columns[cell.X - IndicatorOffset()]);
            return;
        }
        TDataSet *ds = activeDataSet();
        if (!ds)
            return;
        m_link->UpdateRecord();
        const int oldCol = Col();
        const int oldRow = Row();
        const bool wasShown = m_editorShown;
        HideEditor();
        if (cell.Y != Row())
            ds->MoveBy(cell.Y - Row());
        if (cell.X >= IndicatorOffset())
            MoveCol(cell.X, 0);
        if (e->button() == Qt::LeftButton
            && ((cell.X == oldCol && cell.Y == oldRow && !wasShown) || m_options.testFlag(dgAlwaysShowEditor)))
            ShowEditor();
        if (cell.X >= IndicatorOffset() && OnCellClick)
            OnCellClick(m_columns[cell.X - IndicatorOffset()]);
    });
}

void TCustomDBGrid::mouseMoveEvent(QMouseEvent *e)
{
    const QPoint pos = e->position().toPoint();
    if (m_resizeCol >= 0) {
        const int w = qMax(1, m_resizeStartWidth + pos.x() - m_resizeStartX);
        if (m_resizeCol < m_columns.Count())
            m_columns[m_resizeCol]->SetWidth(w);
        return;
    }
    viewport()->setCursor(resizeHandleAt(pos) >= 0 ? Qt::SplitHCursor : Qt::ArrowCursor);
}

void TCustomDBGrid::mouseReleaseEvent(QMouseEvent *)
{
    m_resizeCol = -1;
}

void TCustomDBGrid::mouseDoubleClickEvent(QMouseEvent *e)
{
    if (OnDblClick)
        guard([this] { OnDblClick(this); });
    e->accept();
}

void TCustomDBGrid::wheelEvent(QWheelEvent *e)
{
    e->accept();
    TDataSet *ds = activeDataSet();
    if (!ds)
        return;
    m_wheelRest += e->angleDelta().y();
    guard([&] {
        // One record per notch, as the platform's grid moves.
        while (qAbs(m_wheelRest) >= 120) {
            const int step = m_wheelRest > 0 ? -1 : 1;
            m_wheelRest += step * 120;
            ds->MoveBy(step);
        }
    });
}

void TCustomDBGrid::vScrollAction(int)
{
    QScrollBar *vb = verticalScrollBar();
    TDataSet *ds = activeDataSet();
    if (!ds || ds->CurrentRow() < 0) {
        vb->setSliderPosition(0);
        return;
    }
    const int target = vb->sliderPosition();
    guard([&] {
        if (target != ds->CurrentRow())
            ds->MoveBy(target - ds->CurrentRow());
    });
    if (TDataSet *d = activeDataSet())
        vb->setSliderPosition(qMax(0, d->CurrentRow()));
}

void TCustomDBGrid::hScrollAction(int)
{
    QScrollBar *hb = horizontalScrollBar();
    const int target = hb->sliderPosition();
    if (target != m_leftCol) {
        m_leftCol = qBound(0, target, qMax(0, m_columns.Count() - 1));
        placeEditor();
        Invalidate();
        emit viewChanged();
    }
}

void TCustomDBGrid::resizeEvent(QResizeEvent *e)
{
    QAbstractScrollArea::resizeEvent(e);
    layoutAndScroll();
    m_lastScreenRow = currentScreenRow();
    Invalidate();
}

} // namespace rpt
