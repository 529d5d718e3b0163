// The data grid: cursor kept in step with the dataset, keyboard and editing rules,
// appended and inserted rows, delete with its question, leaving rows and the grid,
// errors reaching the error box, and the cells it asks a subclass to paint.
#include "platform/db/ClientDataSet.h"
#include "platform/forms/Dialogs.h"
#include "platform/forms/DBGrid.h"

#include <QApplication>
#include <QLineEdit>
#include <QScrollBar>
#include <QVBoxLayout>
#include <QtTest>

using namespace rpt;

namespace {

// A grid that records what it is asked to paint and how far the dataset scrolled.
class RecordingGrid : public TDBGrid {
public:
    using TDBGrid::TDBGrid;
    struct Call {
        int col, row;
        QRect rect;
        TGridDrawState state;
    };
    QList<Call> calls;
    QList<int> scrolls;
    using TCustomDBGrid::CanEditShow;

protected:
    void DrawCell(int col, int row, const QRect &rect, TGridDrawState state) override
    {
        calls.append({col, row, rect, state});
        TDBGrid::DrawCell(col, row, rect, state);
    }
    void Scroll(int distance) override
    {
        scrolls.append(distance);
        TDBGrid::Scroll(distance);
    }
};

// Answers every box the grid shows and remembers what it showed.
struct DialogSpy {
    QList<TDialogRequest> seen;
    TModalResult answer = mrOk;
    TDialogHook previous;
    DialogSpy()
    {
        previous = SetDialogHook([this](TDialogRequest &r) {
            seen.append(r);
            return r.kind == TDialogRequest::ErrorBox ? mrOk : answer;
        });
    }
    ~DialogSpy() { SetDialogHook(previous); }
    int errors() const
    {
        int n = 0;
        for (const auto &r : seen)
            n += r.kind == TDialogRequest::ErrorBox;
        return n;
    }
};

// A window with the grid and a second control to move the focus to; the dataset holds
// parameter-like rows: a read-only label and a value the user types.
struct Fixture {
    QWidget window;
    RecordingGrid *grid;
    QLineEdit *other;
    TClientDataSet cds{nullptr, "CDS1"};
    TDataSource src{nullptr, "DataSource1"};

    explicit Fixture(int rows = 3, bool persistentColumns = true, int height = 200)
    {
        cds.FieldDefs().Add("params_label", ftWideString, 20);
        cds.FieldDefs().Add("default_value", ftWideString, 20);
        cds.FieldDefs().Add("n", ftInteger);
        cds.CreateDataSet();
        for (int i = 1; i <= rows; ++i) {
            cds.Append();
            cds.FieldByName("params_label")->SetAsString(QStringLiteral("label%1").arg(i));
            cds.FieldByName("default_value")->SetAsString(QStringLiteral("v%1").arg(i));
            cds.FieldByName("n")->SetAsInteger(i);
            cds.Post();
        }
        cds.First();
        src.SetDataSet(&cds);

        auto *lay = new QVBoxLayout(&window);
        grid = new RecordingGrid(&window);
        other = new QLineEdit(&window);
        lay->addWidget(grid);
        lay->addWidget(other);
        if (persistentColumns) {
            TColumn *c = grid->Columns().Add();
            c->SetFieldName("params_label");
            c->SetReadOnly(true);
            c->SetWidth(89);
            c = grid->Columns().Add();
            c->SetFieldName("default_value");
            c->SetWidth(121);
        }
        grid->SetDataSource(&src);
        window.resize(400, height);
        window.show();
        window.activateWindow();
        if (!QTest::qWaitForWindowActive(&window))
            qWarning("window not active; focus-dependent checks may fail");
        grid->setFocus();
        QCoreApplication::processEvents();
    }

    QWidget *focus() const { return QApplication::focusWidget(); }
    void key(int k, Qt::KeyboardModifiers mods = Qt::NoModifier)
    {
        QTest::keyClick(focus(), Qt::Key(k), mods);
        QCoreApplication::processEvents();
    }
    // Types text one character at a time into whatever has the focus (grid, then editor).
    void type(const QString &text)
    {
        for (QChar ch : text)
            QTest::keyClick(focus(), ch.toLatin1());
        QCoreApplication::processEvents();
    }
    QString value(int recNo, const char *field = "default_value")
    {
        return cds.RowValue(recNo - 1, cds.FieldByName(field)->Index()).toString();
    }
    void clickCell(int col, int row)
    {
        const QRect r = grid->CellRect(col, row);
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, Qt::NoModifier, r.center());
        QCoreApplication::processEvents();
    }
};

} // namespace

class TestDBGrid : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { installFontAliases(); }

    // --- cursor ---------------------------------------------------------------------

    void gridFollowsDataSet()
    {
        Fixture f(50);
        QCOMPARE(f.grid->Row(), 1);
        f.cds.Next();
        f.cds.Next();
        QCOMPARE(f.grid->Row(), 3);
        QCOMPARE(f.grid->TopRecord(), 0);
        f.cds.Last();
        const int vis = f.grid->VisibleRowCount();
        QVERIFY(vis > 2 && vis < 50);
        // The last record sits on the last full row, the view filled above it.
        QCOMPARE(f.grid->TopRecord(), 50 - vis);
        QCOMPARE(f.grid->Row(), vis);
        QCOMPARE(f.grid->verticalScrollBar()->value(), 49);
        f.cds.First();
        QCOMPARE(f.grid->TopRecord(), 0);
        QCOMPARE(f.grid->Row(), 1);
    }

    void clickMovesDataSet()
    {
        Fixture f(20);
        f.clickCell(2, 4); // value column, 4th data row
        QCOMPARE(f.cds.RecNo(), 4);
        QCOMPARE(f.grid->SelectedIndex(), 1);
        f.clickCell(0, 2); // indicator: row only
        QCOMPARE(f.cds.RecNo(), 2);
        QCOMPARE(f.grid->SelectedIndex(), 1);
        // A click on the current cell opens the editor on it.
        QVERIFY(!f.grid->EditorMode());
        f.clickCell(2, 2);
        QVERIFY(f.grid->EditorMode());
        QCOMPARE(f.grid->InplaceEditor()->text(), QStringLiteral("v2"));
    }

    void clickLeavingModifiedRowPostsIt()
    {
        Fixture f(5);
        f.clickCell(2, 1);
        f.type("new");
        QCOMPARE(f.cds.State(), dsEdit);
        f.clickCell(2, 3);
        QCOMPARE(f.cds.State(), dsBrowse);
        QCOMPARE(f.value(1), QStringLiteral("new"));
        QCOMPARE(f.cds.RecNo(), 3);
    }

    void wheelMovesOneRecordPerNotch()
    {
        Fixture f(30);
        const QPoint at = f.grid->CellRect(1, 2).center();
        QWheelEvent down(at, f.grid->viewport()->mapToGlobal(at), QPoint(), QPoint(0, -240), Qt::NoButton,
                         Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(f.grid->viewport(), &down);
        QCOMPARE(f.cds.RecNo(), 3);
    }

    void pageKeysAndScrollDistance()
    {
        Fixture f(1000, false);
        const int vis = f.grid->VisibleRowCount();
        f.key(Qt::Key_PageDown);
        QCOMPARE(f.cds.RecNo(), 1 + vis);
        QCOMPARE(f.grid->scrolls.last(), vis);
        f.key(Qt::Key_End, Qt::ControlModifier);
        QCOMPARE(f.cds.RecNo(), 1000);
        QCOMPARE(f.grid->TopRecord(), 1000 - vis);
        f.key(Qt::Key_Up, Qt::ControlModifier); // top of the view
        QCOMPARE(f.cds.RecNo(), 1000 - vis + 1);
        f.key(Qt::Key_Home, Qt::ControlModifier);
        QCOMPARE(f.cds.RecNo(), 1);
        QCOMPARE(f.grid->TopRecord(), 0);
    }

    // --- Tab, Enter and the injected Tab ---------------------------------------------

    void tabMoves_data()
    {
        QTest::addColumn<int>("startRec");
        QTest::addColumn<int>("startCol"); // data column
        QTest::addColumn<bool>("backwards");
        QTest::addColumn<int>("rec");
        QTest::addColumn<int>("col");
        QTest::addColumn<int>("count");
        // The label column is read-only, so Tab goes from value to value.
        QTest::newRow("value to next value") << 1 << 1 << false << 2 << 1 << 3;
        QTest::newRow("label to its value") << 2 << 0 << false << 2 << 1 << 3;
        QTest::newRow("shift+tab to prior value") << 3 << 1 << true << 2 << 1 << 3;
        QTest::newRow("shift+tab at the top stays") << 1 << 1 << true << 1 << 1 << 3;
        QTest::newRow("past the last cell appends") << 3 << 1 << false << 4 << 1 << 4;
    }
    void tabMoves()
    {
        QFETCH(int, startRec);
        QFETCH(int, startCol);
        QFETCH(bool, backwards);
        Fixture f(3);
        f.cds.SetRecNo(startRec);
        f.grid->SetSelectedIndex(startCol);
        f.key(Qt::Key_Tab, backwards ? Qt::ShiftModifier : Qt::NoModifier);
        QTEST(f.cds.RecNo() < 0 ? f.cds.CurrentRow() + 1 : f.cds.RecNo(), "rec");
        QTEST(f.grid->SelectedIndex(), "col");
        QTEST(f.cds.RecordCount(), "count");
    }

    void enterStoresTextWithoutPosting()
    {
        Fixture f(3);
        f.grid->SetSelectedIndex(1);
        f.type("abc");
        QVERIFY(f.grid->EditorMode());
        f.key(Qt::Key_Return);
        QVERIFY(!f.grid->EditorMode());
        QCOMPARE(f.cds.State(), dsEdit); // stored, not posted
        QCOMPARE(f.cds.FieldByName("default_value")->AsString(), QStringLiteral("abc"));
        f.key(Qt::Key_Return); // toggles the editor back
        QVERIFY(f.grid->EditorMode());
        QCOMPARE(f.grid->InplaceEditor()->text(), QStringLiteral("abc"));
        f.cds.Cancel(); // nothing was posted
        QCOMPARE(f.value(1), QStringLiteral("v1"));
    }

    // The parameter grid's handler: Enter injects a Tab through the event queue.
    void enterWithInjectedTab_data()
    {
        QTest::addColumn<int>("startRec");
        QTest::addColumn<int>("startCol");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("rec");
        QTest::addColumn<int>("count");
        QTest::newRow("value cell, typed") << 1 << 1 << "x" << 2 << 3;
        QTest::newRow("label cell") << 2 << 0 << "" << 2 << 3;
        QTest::newRow("last value appends") << 3 << 1 << "" << 4 << 4;
    }
    void enterWithInjectedTab()
    {
        QFETCH(int, startRec);
        QFETCH(int, startCol);
        QFETCH(QString, typed);
        Fixture f(3);
        QList<QChar> seen;
        QString fieldAtEnter;
        f.grid->OnKeyPress = [&](QObject *, QChar &k) {
            seen << k;
            if (k == QChar(13))
                fieldAtEnter = f.cds.FieldByName("default_value")->AsString();
            if (k == QChar(13))
                QCoreApplication::postEvent(QApplication::focusWidget(),
                                            new QKeyEvent(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier));
        };
        f.cds.SetRecNo(startRec);
        f.grid->SetSelectedIndex(startCol);
        f.type(typed);
        f.key(Qt::Key_Return);
        QCoreApplication::processEvents();
        QTEST(f.cds.CurrentRow() + 1, "rec");
        QCOMPARE(f.grid->SelectedIndex(), 1);
        QTEST(f.cds.RecordCount(), "count");
        QVERIFY(seen.contains(QChar(13)));
        if (!typed.isEmpty()) {
            QCOMPARE(fieldAtEnter, typed); // stored before the handler ran
            QCOMPARE(f.value(startRec), typed); // the typed value was posted on leaving
            QCOMPARE(f.cds.State(), dsBrowse);
        }
    }

    void postedTabMovesLikeTypedTab()
    {
        Fixture f(3);
        f.grid->SetSelectedIndex(1);
        QCoreApplication::postEvent(f.grid, new QKeyEvent(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier));
        QCoreApplication::processEvents();
        QCOMPARE(f.cds.RecNo(), 2);
        // Also when the editor holds the focus.
        f.type("q");
        QCOMPARE(f.focus(), f.grid->InplaceEditor());
        QCoreApplication::postEvent(f.focus(), new QKeyEvent(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier));
        QCoreApplication::processEvents();
        QCOMPARE(f.cds.RecNo(), 3);
        QCOMPARE(f.value(2), QStringLiteral("q"));
        QVERIFY(f.grid->isAncestorOf(f.focus()) || f.focus() == f.grid);
    }

    // --- appended and inserted rows ----------------------------------------------------

    void appendedRowDroppedWhenLeftUntouched_data()
    {
        QTest::addColumn<int>("appendKey");
        QTest::addColumn<int>("leaveKey");
        QTest::newRow("down, then up") << int(Qt::Key_Down) << int(Qt::Key_Up);
        QTest::newRow("tab, then up") << int(Qt::Key_Tab) << int(Qt::Key_Up);
        QTest::newRow("down, then ctrl+home") << int(Qt::Key_Down) << (Qt::Key_Home | Qt::ControlModifier).toCombined();
        QTest::newRow("down, then pgup") << int(Qt::Key_Down) << int(Qt::Key_PageUp);
    }
    void appendedRowDroppedWhenLeftUntouched()
    {
        QFETCH(int, appendKey);
        QFETCH(int, leaveKey);
        Fixture f(3);
        f.cds.Last();
        f.grid->SetSelectedIndex(1);
        f.key(appendKey);
        QCOMPARE(f.cds.State(), dsInsert);
        QCOMPARE(f.cds.RecordCount(), 4);
        QCOMPARE(f.grid->Row(), 4);
        // Down on the blank row adds nothing more.
        f.key(Qt::Key_Down);
        QCOMPARE(f.cds.RecordCount(), 4);
        f.key(leaveKey & ~Qt::KeyboardModifierMask, Qt::KeyboardModifiers(leaveKey & Qt::KeyboardModifierMask));
        QCOMPARE(f.cds.State(), dsBrowse);
        QCOMPARE(f.cds.RecordCount(), 3);
    }

    void appendedRowKeptWhenTyped()
    {
        Fixture f(3);
        f.cds.Last();
        f.grid->SetSelectedIndex(1);
        f.key(Qt::Key_Down);
        f.type("v4");
        f.key(Qt::Key_Up);
        QCOMPARE(f.cds.RecordCount(), 4);
        QCOMPARE(f.value(4), QStringLiteral("v4"));
    }

    void insertKeyInsertsAboveAndDownDropsIt()
    {
        Fixture f(3);
        f.cds.SetRecNo(2);
        f.key(Qt::Key_Insert);
        QCOMPARE(f.cds.State(), dsInsert);
        QCOMPARE(f.cds.RecordCount(), 4);
        QCOMPARE(f.cds.CurrentRow(), 1);
        QCOMPARE(f.grid->Row(), 2);
        f.key(Qt::Key_Down); // untouched and not at the end: cancelled, not moved past
        QCOMPARE(f.cds.State(), dsBrowse);
        QCOMPARE(f.cds.RecordCount(), 3);
        QCOMPARE(f.cds.RecNo(), 2);
        QCOMPARE(f.value(2, "params_label"), QStringLiteral("label2"));
    }

    void noAppendOnReadOnlyGrid()
    {
        Fixture f(3);
        f.grid->SetReadOnly(true);
        f.cds.Last();
        f.key(Qt::Key_Down);
        f.key(Qt::Key_Insert);
        QCOMPARE(f.cds.RecordCount(), 3);
        QCOMPARE(f.cds.State(), dsBrowse);
        f.grid->SetSelectedIndex(1);
        f.type("z");
        QCOMPARE(f.cds.State(), dsBrowse);
    }

    // --- delete, Esc, typing -----------------------------------------------------------

    void ctrlDeleteAsksFirst_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<int>("count");
        QTest::newRow("OK deletes") << int(mrOk) << 2;
        QTest::newRow("Cancel keeps") << int(mrCancel) << 3;
    }
    void ctrlDeleteAsksFirst()
    {
        QFETCH(int, answer);
        Fixture f(3);
        DialogSpy spy;
        spy.answer = answer;
        f.cds.SetRecNo(2);
        f.key(Qt::Key_Delete, Qt::ControlModifier);
        QCOMPARE(spy.seen.size(), 1);
        QCOMPARE(spy.seen[0].text, QStringLiteral("Delete record?"));
        QCOMPARE(spy.seen[0].type, mtConfirmation);
        QCOMPARE(spy.seen[0].buttons, mbOKCancel);
        QTEST(f.cds.RecordCount(), "count");
        QCOMPARE(f.value(2, "params_label"), answer == mrOk ? QStringLiteral("label3") : QStringLiteral("label2"));
    }

    void ctrlDeleteWithoutConfirmOption()
    {
        Fixture f(3);
        DialogSpy spy;
        f.grid->SetOptions(f.grid->Options() & ~TDBGridOptions(dgConfirmDelete));
        f.key(Qt::Key_Delete, Qt::ControlModifier);
        QCOMPARE(spy.seen.size(), 0);
        QCOMPARE(f.cds.RecordCount(), 2);
    }

    void escRevertsTextThenCancels()
    {
        Fixture f(3);
        f.grid->SetSelectedIndex(1);
        f.type("xyz");
        QCOMPARE(f.cds.State(), dsEdit);
        QCOMPARE(f.grid->InplaceEditor()->text(), QStringLiteral("xyz"));
        f.key(Qt::Key_Escape);
        QCOMPARE(f.grid->InplaceEditor()->text(), QStringLiteral("v1"));
        QCOMPARE(f.cds.State(), dsEdit); // first Esc: only the text
        QVERIFY(!f.grid->EditorMode());
        f.key(Qt::Key_Escape);
        QCOMPARE(f.cds.State(), dsBrowse);
        QCOMPARE(f.value(1), QStringLiteral("v1"));
    }

    void typingRespectsColumnAndField_data()
    {
        QTest::addColumn<bool>("defaultColumns");
        QTest::addColumn<int>("col");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("editorText");
        QTest::newRow("read-only column") << false << 0 << "abc" << int(dsBrowse) << "label1";
        QTest::newRow("editable column") << false << 1 << "abc" << int(dsEdit) << "abc";
        QTest::newRow("integer takes digits only") << true << 2 << "4x2" << int(dsEdit) << "42";
    }
    void typingRespectsColumnAndField()
    {
        QFETCH(bool, defaultColumns);
        QFETCH(int, col);
        QFETCH(QString, typed);
        Fixture f(3, !defaultColumns);
        f.grid->SetSelectedIndex(col);
        f.type(typed);
        QTEST(int(f.cds.State()), "state");
        QTEST(f.grid->InplaceEditor()->text(), "editorText");
    }

    void textLongerThanFieldIsRefused()
    {
        Fixture f(1);
        f.grid->SetSelectedIndex(1);
        f.type(QString(25, u'a'));
        QCOMPARE(f.grid->InplaceEditor()->text(), QString(20, u'a'));
    }

    void badNumberStaysInEditorWithError()
    {
        Fixture f(2, false);
        DialogSpy spy;
        f.grid->SetSelectedIndex(2);
        f.type("12");
        QVERIFY(f.grid->EditorMode());
        // Text put there some other way than typing (the keys refuse letters).
        f.grid->InplaceEditor()->setText("12x");
        f.key(Qt::Key_Down);
        QCOMPARE(spy.errors(), 1);
        QVERIFY(spy.seen[0].text.contains("12x"));
        QCOMPARE(f.cds.RecNo(), 1); // did not move on with a value it could not store
        QCOMPARE(f.cds.State(), dsEdit);
        QCOMPARE(f.grid->InplaceEditor()->text(), QStringLiteral("12x"));
    }

    // --- leaving the grid --------------------------------------------------------------

    void focusLeavingTheGrid_data()
    {
        QTest::addColumn<bool>("typeSomething");
        QTest::addColumn<int>("state");
        QTest::addColumn<int>("count");
        QTest::newRow("untouched append cancelled") << false << int(dsBrowse) << 3;
        QTest::newRow("typed text written, not posted") << true << int(dsInsert) << 4;
    }
    void focusLeavingTheGrid()
    {
        QFETCH(bool, typeSomething);
        Fixture f(3);
        f.cds.Last();
        f.grid->SetSelectedIndex(1);
        f.key(Qt::Key_Down);
        if (typeSomething)
            f.type("w");
        f.other->setFocus();
        QCoreApplication::processEvents();
        QTEST(int(f.cds.State()), "state");
        QTEST(f.cds.RecordCount(), "count");
        if (typeSomething)
            QCOMPARE(f.cds.FieldByName("default_value")->AsString(), QStringLiteral("w"));
    }

    // --- errors ------------------------------------------------------------------------

    void exceptionInKeyPressReachesErrorBox()
    {
        Fixture f(3);
        DialogSpy spy;
        f.grid->OnKeyPress = [](QObject *, QChar &k) {
            if (k == u'!')
                throw EDatabaseError("CDS1: handler failed");
        };
        f.grid->SetSelectedIndex(1);
        f.type("!");
        QCOMPARE(spy.errors(), 1);
        QCOMPARE(spy.seen[0].text, QStringLiteral("CDS1: handler failed."));
        // The grid goes on working.
        f.key(Qt::Key_Down);
        QCOMPARE(f.cds.RecNo(), 2);
    }

    void exceptionWhilePaintingRestoresActiveRecord()
    {
        Fixture f(5, false);
        DialogSpy spy;
        f.cds.SetRecNo(3);
        f.grid->OnDrawColumnCell = [](TCustomDBGrid *, const QRect &, int, TColumn *, TGridDrawState) {
            throw EDatabaseError("draw failed");
        };
        f.grid->grab();
        f.grid->grab();
        QCOMPARE(f.cds.ActiveRowOverride(), -1);
        QCOMPARE(f.cds.FieldByName("n")->AsInteger(), 3);
        QTRY_COMPARE(spy.errors(), 1); // reported once, not on every paint
    }

    // --- painting ----------------------------------------------------------------------

    void drawCellForEachVisibleCell_data()
    {
        QTest::addColumn<int>("options");
        QTest::newRow("titles and indicator") << int(DefaultDBGridOptions);
        QTest::newRow("bare") << int(dgColumnResize | dgTabs);
    }
    void drawCellForEachVisibleCell()
    {
        QFETCH(int, options);
        Fixture f(3, false);
        f.grid->SetOptions(TDBGridOptions(options));
        f.cds.SetRecNo(2);
        f.grid->calls.clear();
        f.grid->grab();
        const int cols = f.grid->ColCount();
        const int rows = f.grid->TitleOffset() + 3;
        QCOMPARE(cols, f.grid->IndicatorOffset() + 3);
        QCOMPARE(f.grid->calls.size(), cols * rows);
        for (const auto &c : std::as_const(f.grid->calls)) {
            QCOMPARE(c.rect, f.grid->CellRect(c.col, c.row));
            const bool fixed = c.col < f.grid->IndicatorOffset() || c.row < f.grid->TitleOffset();
            QCOMPARE(c.state.testFlag(gdFixed), fixed);
            const bool current = c.col == f.grid->Col() && c.row == f.grid->Row();
            QCOMPARE(c.state.testFlag(gdSelected), current);
        }
        QCOMPARE(f.grid->Row(), f.grid->TitleOffset() + 1);
    }

    void ownerDrawEventsByColumnsState_data()
    {
        QTest::addColumn<bool>("persistent");
        QTest::addColumn<int>("dataCells");
        QTest::newRow("default columns") << false << 3 * 3;
        QTest::newRow("declared columns") << true << 0;
    }
    void ownerDrawEventsByColumnsState()
    {
        QFETCH(bool, persistent);
        Fixture f(3, persistent);
        int dataCells = 0, columnCells = 0;
        QList<int> seenRecords;
        f.grid->OnDrawDataCell = [&](TCustomDBGrid *, const QRect &, TField *, TGridDrawState) { ++dataCells; };
        f.grid->OnDrawColumnCell = [&](TCustomDBGrid *, const QRect &, int col, TColumn *c, TGridDrawState) {
            ++columnCells;
            if (col == 1) // fields read the row being painted
                seenRecords << c->Field()->AsString().mid(1).toInt();
        };
        f.grid->grab();
        QTEST(dataCells, "dataCells");
        QCOMPARE(columnCells, 3 * f.grid->Columns().Count());
        QCOMPARE(seenRecords, (QList<int>{1, 2, 3}));
        QCOMPARE(f.cds.ActiveRowOverride(), -1);
    }

    void defaultColumnsFollowFields()
    {
        Fixture f(2, false);
        QCOMPARE(f.grid->Columns().State(), csDefault);
        QCOMPARE(f.grid->Columns().Count(), 3);
        TField *label = f.cds.FieldByName("params_label");
        label->SetDisplayLabel(QStringLiteral("欄位說明"));
        QCOMPARE(f.grid->Columns()[0]->Title().Caption(), QStringLiteral("欄位說明"));
        f.cds.FieldByName("n")->SetVisible(false);
        QCOMPARE(f.grid->Columns().Count(), 2);
        // Width: display width in digits + 4, at least the title.
        const QFontMetrics fm(f.grid->Font().toQFont());
        QCOMPARE(f.grid->Columns()[1]->Width(), 20 * fm.horizontalAdvance('0') + 4);
        // Closing drops the default columns; opening brings them back.
        f.cds.Close();
        QCOMPARE(f.grid->Columns().Count(), 0);
        f.grid->grab();
        f.cds.Open();
        QCOMPARE(f.grid->Columns().Count(), 3);
    }

    void rowHeightFromFont()
    {
        Fixture f(1);
        QFont qf = f.grid->Font().toQFont();
        QCOMPARE(f.grid->DefaultRowHeight(), QFontMetrics(qf).height() + 3 + 1);
        TDBGridOptions o = f.grid->Options();
        f.grid->SetOptions(o & ~TDBGridOptions(dgRowLines));
        QCOMPARE(f.grid->DefaultRowHeight(), QFontMetrics(qf).height() + 3);
        QCOMPARE(f.grid->DefaultColWidth(), 64);
        // The default font is MS Sans Serif 8 (through its installed stand-in): 17-pixel rows.
        f.grid->SetOptions(o);
        QCOMPARE(f.grid->DefaultRowHeight(), 17);
    }

    void closedDataSetPaintsAndIgnoresKeys()
    {
        Fixture f(3);
        f.cds.Close();
        f.grid->calls.clear();
        f.grid->grab();
        QCOMPARE(f.grid->calls.size(), 3 * 2); // titles + one blank row
        f.key(Qt::Key_Down);
        f.type("a");
        f.key(Qt::Key_Delete, Qt::ControlModifier);
        QVERIFY(!f.grid->EditorMode());
    }
};

QTEST_MAIN(TestDBGrid)
#include "tst_dbgrid.moc"
