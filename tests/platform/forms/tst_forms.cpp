// Application object, forms and the basic controls: aligned layout, the splitter, the
// error box for escaped exceptions, the dialog hook, speed buttons, colours and fonts.

#include "platform/forms/Buttons.h"
#include "platform/forms/ExtCtrls.h"
#include "platform/forms/Form.h"
#include "platform/forms/Menus.h"
#include "platform/forms/StdCtrls.h"

#include <QDir>
#include <QFontInfo>
#include <QMenu>
#include <QPainter>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <unistd.h>

using namespace rpt;

namespace {

// Answers every box for the user and remembers what it showed.
struct DialogRecorder {
    QList<TDialogRequest> seen;
    TModalResult answer = mrOk;
    QString fileToPick;
    TDialogHook previous;
    DialogRecorder()
    {
        previous = SetDialogHook([this](TDialogRequest &r) {
            seen << r;
            if (r.kind == TDialogRequest::OpenDialog && answer == mrOk)
                r.fileName = fileToPick;
            return answer;
        });
    }
    ~DialogRecorder() { SetDialogHook(previous); }
    QStringList errorTexts() const
    {
        QStringList out;
        for (const auto &r : seen)
            if (r.kind == TDialogRequest::ErrorBox)
                out << r.text;
        return out;
    }
};

// Parses "top:100x6@0,0" into an alignment and designer bounds.
struct ChildLayout {
    TAlign align;
    QRect bounds;
};

ChildLayout parseChild(const QString &s)
{
    static const QHash<QString, TAlign> names{{"none", alNone}, {"top", alTop},     {"bottom", alBottom},
                                              {"left", alLeft}, {"right", alRight}, {"client", alClient}};
    const QStringList a = s.split(QLatin1Char(':'));
    const QStringList sizePos = a[1].split(QLatin1Char('@'));
    const QStringList wh = sizePos[0].split(QLatin1Char('x'));
    const QStringList lt = sizePos.size() > 1 ? sizePos[1].split(QLatin1Char(',')) : QStringList{"0", "0"};
    return {names.value(a[0]), QRect(lt[0].toInt(), lt[1].toInt(), wh[0].toInt(), wh[1].toInt())};
}

QString geometryText(const QWidget *w)
{
    const QRect g = w->geometry();
    return QStringLiteral("%1,%2 %3x%4").arg(g.x()).arg(g.y()).arg(g.width()).arg(g.height());
}

// The main window's frame of panels, as the launcher lays it out.
struct MainLayout {
    TForm form;
    TPanel *p1, *p2, *p3, *p4, *p5, *list, *p6, *p7, *bar;
    TSplitter *splitter;
    QWidget *paramGrid, *resultGrid, *reportGrid;
    TSpeedButton *buttons[3];

    MainLayout()
    {
        form.SetClientSize(673, 309);
        auto panel = [this](QWidget *parent, const char *name, TAlign a, QRect r) {
            auto *p = new TPanel(parent, QString::fromLatin1(name));
            p->SetBevelOuter(bvNone);
            p->SetBounds(r.x(), r.y(), r.width(), r.height());
            p->SetAlign(a);
            return p;
        };
        p1 = panel(&form, "Panel1", alTop, {0, 0, 673, 6});
        p2 = panel(&form, "Panel2", alBottom, {0, 303, 673, 6});
        p3 = panel(&form, "Panel3", alLeft, {0, 6, 6, 297});
        p4 = panel(&form, "Panel4", alRight, {667, 6, 6, 297});
        p5 = panel(&form, "Panel5", alClient, {6, 6, 661, 297});
        p5->SetBevelOuter(bvRaised);
        p5->SetColor(clWhite);
        list = panel(p5, "bsSkinPanel1", alLeft, {1, 1, 328, 295});
        splitter = new TSplitter(p5, QStringLiteral("Splitter1"));
        splitter->SetBounds(329, 1, 3, 295);
        p6 = panel(p5, "Panel6", alClient, {332, 1, 328, 295});
        p6->SetBevelOuter(bvRaised);
        reportGrid = new QWidget(list);
        setAlign(reportGrid, alClient);
        paramGrid = new QWidget(p6);
        setBounds(paramGrid, 1, 1, 326, 104);
        setAlign(paramGrid, alTop);
        p7 = panel(p6, "Panel7", alClient, {1, 105, 326, 189});
        p7->SetBevelOuter(bvRaised);
        bar = panel(p7, "Panel8", alTop, {1, 1, 324, 34});
        bar->SetBevelOuter(bvRaised);
        resultGrid = new QWidget(p7);
        setBounds(resultGrid, 1, 35, 324, 153);
        setAlign(resultGrid, alClient);
        const QRect b[3] = {{3, 2, 70, 31}, {73, 2, 70, 31}, {285, 1, 36, 16}};
        for (int i = 0; i < 3; ++i) {
            buttons[i] = new TSpeedButton(bar);
            buttons[i]->SetBounds(b[i].x(), b[i].y(), b[i].width(), b[i].height());
        }
    }
};

} // namespace

class TstForms : public QObject {
    Q_OBJECT

private slots:
    void alignLayout_data();
    void alignLayout();
    void mainWindowResizes();
    void splitterLimits_data();
    void splitterLimits();
    void splitterDragShowsLineAndResizesOnRelease();
    void collapsedPanelCanBeDraggedOpen();

    void escapedExceptionReachesErrorBox_data();
    void escapedExceptionReachesErrorBox();
    void errorBoxText_data();
    void errorBoxText();
    void onExceptionReplacesBoxAndAbortIsSilent();

    void messageDlgHook();
    void messageDlgWithoutHookAnswersAsClosed();
    void openDialog();

    void speedButtonNeverTakesFocusNorStaysDown();
    void speedButtonGroupAndRelease();
    void speedButtonGlyphLayout_data();
    void speedButtonGlyphLayout();
    void rightClickOpensPopupWithoutClick();

    void modalRunEndsOnButtonModalResult();
    void closeActions_data();
    void closeActions();
    void exeDirIsExecutableFolder();
    void findComponentByName();
    void timerMayDeleteItself();
    void keyPressHandlerCanSwallowOrReplace();

    void colourTable_data();
    void colourTable();
    void colourNames();
    void fontsMapToInstalledFaces();
    void sampleFormScreenshot();
    // Last: it ends the application's run.
    void closingMainFormEndsRun();
};

// ---- layout -----------------------------------------------------------------------------------

void TstForms::alignLayout_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("bevels");   // 0 none, 1 raised outer, 2 outer+inner
    QTest::addColumn<QStringList>("children");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("window frame strips") << QSize(673, 309) << 0
        << QStringList{"top:673x6@0,0", "bottom:673x6@0,303", "left:6x297@0,6", "right:6x297@667,6", "client:661x297@6,6"}
        << QStringList{"0,0 673x6", "0,303 673x6", "0,6 6x297", "667,6 6x297", "6,6 661x297"};
    QTest::newRow("client panel inside a 1-pixel bevel") << QSize(661, 297) << 1
        << QStringList{"left:328x295@1,1", "left:3x295@329,1", "client:328x295@332,1"}
        << QStringList{"1,1 328x295", "329,1 3x295", "332,1 328x295"};
    QTest::newRow("grid on top, rest below") << QSize(328, 295) << 1
        << QStringList{"top:326x104@1,1", "client:326x189@1,105"}
        << QStringList{"1,1 326x104", "1,105 326x189"};
    // Editor: the parameter panel lies left of the right margin because it was placed there.
    QTest::newRow("two right panels keep their designed order") << QSize(777, 498) << 0
        << QStringList{"top:777x41@0,0", "bottom:777x109@0,389", "left:10x348@0,41", "right:10x348@767,41",
                       "right:327x348@440,41", "client:430x348@10,41"}
        << QStringList{"0,0 777x41", "0,389 777x109", "0,41 10x348", "767,41 10x348", "440,41 327x348", "10,41 430x348"};
    QTest::newRow("designed order wins over creation order") << QSize(100, 100) << 0
        << QStringList{"top:100x10@0,50", "top:100x20@0,0"}
        << QStringList{"0,20 100x10", "0,0 100x20"};
    QTest::newRow("equal tops stay in creation order") << QSize(100, 100) << 0
        << QStringList{"top:100x10@0,0", "top:100x20@0,0"}
        << QStringList{"0,0 100x10", "0,10 100x20"};
    QTest::newRow("two bevels take two pixels") << QSize(100, 50) << 2
        << QStringList{"client:1x1@0,0"}
        << QStringList{"2,2 96x46"};
    QTest::newRow("too small: sizes clamp at zero") << QSize(20, 20) << 0
        << QStringList{"left:15x20@0,0", "left:15x20@15,0", "client:5x5@0,0"}
        << QStringList{"0,0 15x20", "15,0 15x20", "30,0 0x20"};
    QTest::newRow("unaligned child keeps its place") << QSize(200, 100) << 0
        << QStringList{"top:200x30@0,0", "none:40x20@50,60", "client:1x1@0,0"}
        << QStringList{"0,0 200x30", "50,60 40x20", "0,30 200x70"};
}

void TstForms::alignLayout()
{
    QFETCH(QSize, size);
    QFETCH(int, bevels);
    QFETCH(QStringList, children);
    QFETCH(QStringList, expected);

    TPanel panel;
    panel.resize(size);
    panel.SetBevelOuter(bevels >= 1 ? bvRaised : bvNone);
    panel.SetBevelInner(bevels >= 2 ? bvLowered : bvNone);
    // Built the way a window loads its controls: alignment waits until all are there.
    panel.DisableAlign();
    QList<QWidget *> made;
    for (const QString &c : children) {
        const ChildLayout s = parseChild(c);
        auto *w = new TPanel(&panel);
        w->SetBounds(s.bounds.x(), s.bounds.y(), s.bounds.width(), s.bounds.height());
        w->SetAlign(s.align);
        made << w;
    }
    panel.EnableAlign();
    QStringList got;
    for (QWidget *w : made)
        got << geometryText(w);
    QCOMPARE(got, expected);
    // Aligning again changes nothing.
    panel.Realign();
    QStringList again;
    for (QWidget *w : made)
        again << geometryText(w);
    QCOMPARE(again, expected);
}

void TstForms::mainWindowResizes()
{
    MainLayout m;
    m.form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&m.form));
    QCOMPARE(geometryText(m.p5), QStringLiteral("6,6 661x297"));
    QCOMPARE(geometryText(m.list), QStringLiteral("1,1 328x295"));
    QCOMPARE(geometryText(m.paramGrid), QStringLiteral("1,1 326x104"));
    QCOMPARE(geometryText(m.resultGrid), QStringLiteral("1,35 324x153"));

    m.form.SetClientSize(800, 400);   // 127 wider, 91 taller
    QTRY_COMPARE(m.form.width(), 800);
    QCOMPARE(m.p3->width(), 6);
    QCOMPARE(m.p4->geometry(), QRect(794, 6, 6, 388));
    QCOMPARE(m.p2->geometry(), QRect(0, 394, 800, 6));
    QCOMPARE(geometryText(m.list), QStringLiteral("1,1 328x386"));         // height only
    QCOMPARE(geometryText(m.paramGrid), QStringLiteral("1,1 453x104"));    // width only
    QCOMPARE(geometryText(m.bar), QStringLiteral("1,1 451x34"));           // width only
    QCOMPARE(geometryText(m.resultGrid), QStringLiteral("1,35 451x244"));  // both
    QCOMPARE(geometryText(m.buttons[0]), QStringLiteral("3,2 70x31"));     // buttons stay
    QCOMPARE(geometryText(m.buttons[2]), QStringLiteral("285,1 36x16"));

    // Hiding an aligned control gives its room to the others.
    m.paramGrid->hide();
    QCOMPARE(geometryText(m.p7), QStringLiteral("1,1 453x384"));
    m.paramGrid->show();
    QCOMPARE(geometryText(m.p7), QStringLiteral("1,105 453x280"));
}

void TstForms::splitterLimits_data()
{
    QTest::addColumn<int>("dx");
    QTest::addColumn<int>("listWidth");
    QTest::newRow("narrower") << -100 << 228;
    QTest::newRow("wider") << 100 << 428;
    QTest::newRow("just above the minimum") << -297 << 31;
    QTest::newRow("at the minimum collapses") << -298 << 0;
    QTest::newRow("far left collapses") << -1000 << 0;
    // The right side keeps 30: 659 between the bevels - 3 splitter - 30 = 626.
    QTest::newRow("right side keeps 30 pixels") << 1000 << 626;
    QTest::newRow("no move") << 0 << 328;
}

void TstForms::splitterLimits()
{
    QFETCH(int, dx);
    QFETCH(int, listWidth);
    MainLayout m;
    m.form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&m.form));
    QCOMPARE(m.splitter->FindControl(), m.list);

    const QPoint down(1, 100);
    QTest::mousePress(m.splitter, Qt::LeftButton, {}, down);
    QTest::mouseMove(m.splitter, down + QPoint(dx, 0));
    QTest::mouseRelease(m.splitter, Qt::LeftButton, {}, down + QPoint(dx, 0));

    QCOMPARE(m.list->width(), listWidth);
    QCOMPARE(m.splitter->x(), 1 + listWidth);
    QCOMPARE(m.p6->x(), 1 + listWidth + 3);
    QCOMPARE(m.p6->width(), 659 - listWidth - 3);
    QVERIFY(m.p6->width() >= 30);
}

void TstForms::splitterDragShowsLineAndResizesOnRelease()
{
    MainLayout m;
    m.form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&m.form));
    int moved = 0;
    m.splitter->OnMoved = [&](QObject *) { ++moved; };

    QTest::mousePress(m.splitter, Qt::LeftButton, {}, QPoint(1, 50));
    QTest::mouseMove(m.splitter, QPoint(-99, 50));
    QVERIFY(m.splitter->Dragging());
    QCOMPARE(m.splitter->PendingSize(), 228);
    QCOMPARE(m.list->width(), 328);   // nothing moves before the release
    auto *line = m.p5->findChild<QWidget *>(QStringLiteral("rptSplitLine"));
    QVERIFY(line && line->isVisible());
    QCOMPARE(line->x(), 1 + 228);

    QTest::mouseRelease(m.splitter, Qt::LeftButton, {}, QPoint(-99, 50));
    QCOMPARE(m.list->width(), 228);
    QCOMPARE(moved, 1);
    QVERIFY(!m.p5->findChild<QWidget *>(QStringLiteral("rptSplitLine")));
}

void TstForms::collapsedPanelCanBeDraggedOpen()
{
    MainLayout m;
    m.form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&m.form));
    QTest::mousePress(m.splitter, Qt::LeftButton, {}, QPoint(1, 50));
    QTest::mouseMove(m.splitter, QPoint(-500, 50));
    QTest::mouseRelease(m.splitter, Qt::LeftButton, {}, QPoint(-500, 50));
    QCOMPARE(m.list->width(), 0);
    QCOMPARE(m.splitter->x(), 1);
    QCOMPARE(m.splitter->FindControl(), m.list);   // still found at width 0

    QTest::mousePress(m.splitter, Qt::LeftButton, {}, QPoint(1, 50));
    QTest::mouseMove(m.splitter, QPoint(101, 50));
    QTest::mouseRelease(m.splitter, Qt::LeftButton, {}, QPoint(101, 50));
    QCOMPARE(m.list->width(), 100);
}

// ---- exceptions ---------------------------------------------------------------------------

namespace {
// A widget of no control class of ours: only the application's safety net stands
// between its failing handler and the event loop.
class RawThrower : public QWidget {
protected:
    void mousePressEvent(QMouseEvent *) override { throw EDatabaseError(QStringLiteral("raw: failed")); }
};
} // namespace

void TstForms::escapedExceptionReachesErrorBox_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected");
    QTest::newRow("speed button click") << "speedbutton" << "ADODataSet1: Cannot perform this operation on a closed dataset.";
    QTest::newRow("push button click") << "button" << "Field 'x' not found.";
    QTest::newRow("menu item") << "menu" << QString::fromUtf8("報表刪除失敗.");
    QTest::newRow("timer tick") << "timer" << "std failure.";
    QTest::newRow("key handler") << "key" << "Unknown exception.";
    QTest::newRow("close handler") << "close" << "close refused.";
    QTest::newRow("event of a plain widget") << "raw" << "raw: failed.";
}

void TstForms::escapedExceptionReachesErrorBox()
{
    QFETCH(QString, path);
    QFETCH(QString, expected);
    DialogRecorder rec;
    Application->SetTitle(QString::fromUtf8("報表印製"));

    TForm form;
    form.SetClientSize(300, 200);
    auto *sb = new TSpeedButton(&form);
    sb->SetBounds(10, 10, 60, 25);
    auto *btn = new TButton(&form);
    btn->SetBounds(80, 10, 75, 25);
    auto *edit = new TEdit(&form);
    edit->SetBounds(10, 50, 100, 21);
    auto *raw = new RawThrower;
    raw->setParent(&form);
    raw->setGeometry(10, 100, 50, 50);
    TPopupMenu menu(&form);
    TMenuItem *item = menu.AddItem(QStringLiteral("N3"), QStringLiteral("刪除"));
    TTimer timer(&form);
    int runs = 0;
    sb->OnClick = [&](QObject *) {
        ++runs;
        throw EDatabaseError(QStringLiteral("ADODataSet1: Cannot perform this operation on a closed dataset"));
    };
    btn->OnClick = [&](QObject *) {
        ++runs;
        throw EDatabaseError(QStringLiteral("Field 'x' not found"));
    };
    item->OnClick = [&](QObject *) {
        ++runs;
        throw Exception(QString::fromUtf8("報表刪除失敗"));
    };
    edit->OnKeyPress = [&](QObject *, QChar &) {
        ++runs;
        throw 42;
    };
    form.OnClose = [&](QObject *, TCloseAction &) {
        ++runs;
        throw Exception(QStringLiteral("close refused"));
    };
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));

    auto fire = [&] {
        if (path == "speedbutton")
            QTest::mouseClick(sb, Qt::LeftButton);
        else if (path == "button")
            QTest::mouseClick(btn, Qt::LeftButton);
        else if (path == "menu")
            item->action()->trigger();
        else if (path == "timer") {
            timer.SetInterval(5);
            timer.SetOnTimer([&](QObject *) {
                ++runs;
                timer.SetEnabled(false);
                throw std::runtime_error("std failure");
            });
            timer.SetEnabled(true);
            QTRY_VERIFY(!timer.Enabled());
        } else if (path == "key") {
            edit->setFocus();
            QTest::keyClick(edit, Qt::Key_A);
        } else if (path == "close")
            form.close();
        else if (path == "raw")
            QTest::mouseClick(raw, Qt::LeftButton);
    };
    fire();
    QCOMPARE(rec.errorTexts(), QStringList{expected});
    const TDialogRequest &box = rec.seen.constLast();
    QCOMPARE(box.caption, QString::fromUtf8("報表印製"));
    QCOMPARE(box.buttons, TMsgDlgButtons{mbOK});
    QCOMPARE(box.type, mtError);

    // The program goes on: the same path fails and is reported once more.
    if (path == "timer")
        timer.SetEnabled(true);
    fire();
    QCOMPARE(rec.errorTexts().size(), 2);
    if (path != "raw")
        QCOMPARE(runs, 2);
    if (path == "close")
        QVERIFY(form.isVisible());   // a failing close handler keeps the window
    form.OnClose = nullptr;
}

void TstForms::errorBoxText_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("shown");
    QTest::newRow("plain") << "Unable to Load DLL" << "Unable to Load DLL.";
    QTest::newRow("ends with a dot") << "Done." << "Done.";
    QTest::newRow("ends below the dot") << "Really?!" << "Really?!";
    QTest::newRow("ends with a digit") << "List index out of bounds (3)" << "List index out of bounds (3)";
    QTest::newRow("ends with a letter after a paren") << "x (y" << "x (y.";
    QTest::newRow("Chinese") << QString::fromUtf8("找不到檔案") << QString::fromUtf8("找不到檔案.");
    QTest::newRow("empty") << "" << "";
}

void TstForms::errorBoxText()
{
    QFETCH(QString, message);
    QFETCH(QString, shown);
    DialogRecorder rec;
    Application->ShowException(message);
    QCOMPARE(rec.errorTexts(), QStringList{shown});
}

void TstForms::onExceptionReplacesBoxAndAbortIsSilent()
{
    DialogRecorder rec;
    QList<TExceptionInfo> handled;
    QObject *sender = nullptr;
    Application->OnException = [&](QObject *s, const TExceptionInfo &e) {
        sender = s;
        handled << e;
    };
    TSpeedButton sb;
    sb.resize(40, 20);
    sb.show();
    QVERIFY(QTest::qWaitForWindowExposed(&sb));
    sb.OnClick = [](QObject *) { throw EConvertError(QStringLiteral("'x' is not a valid integer value")); };
    QTest::mouseClick(&sb, Qt::LeftButton);
    Application->OnException = nullptr;
    QCOMPARE(handled.size(), 1);
    QCOMPARE(handled[0].className, QStringLiteral("EConvertError"));
    QCOMPARE(handled[0].message, QStringLiteral("'x' is not a valid integer value"));
    QCOMPARE(sender, &sb);
    QVERIFY(rec.seen.isEmpty());

    sb.OnClick = [](QObject *) { Abort(); };
    QTest::mouseClick(&sb, Qt::LeftButton);
    QVERIFY(rec.seen.isEmpty());
}

// ---- dialogs ------------------------------------------------------------------------------

void TstForms::messageDlgHook()
{
    DialogRecorder rec;
    rec.answer = mrYes;
    QCOMPARE(MessageDlg(QString::fromUtf8("確定刪除該張報表. now?"), mtConfirmation, {mbYes, mbNo}), mrYes);
    rec.answer = mrNo;
    QCOMPARE(MessageDlg(QStringLiteral("Delete record?"), mtConfirmation, {mbOK, mbCancel}), mrNo);
    QCOMPARE(rec.seen.size(), 2);
    QCOMPARE(rec.seen[0].kind, TDialogRequest::MessageDlg);
    QCOMPARE(rec.seen[0].caption, QStringLiteral("Confirm"));
    QCOMPARE(rec.seen[0].text, QString::fromUtf8("確定刪除該張報表. now?"));   // no "." added
    QCOMPARE(rec.seen[0].buttons, (TMsgDlgButtons{mbYes, mbNo}));
    QCOMPARE(rec.seen[1].buttons, mbOKCancel);
    QCOMPARE(MessageDlg(QStringLiteral("x"), mtWarning, {mbOK}), mrNo);
    QCOMPARE(rec.seen[2].caption, QStringLiteral("Warning"));
}

void TstForms::messageDlgWithoutHookAnswersAsClosed()
{
    // Offscreen nobody can answer: the box answers as if closed, and never blocks.
    const TDialogHook old = SetDialogHook({});
    QCOMPARE(MessageDlg(QStringLiteral("q"), mtConfirmation, {mbYes, mbNo}), mrNo);
    QCOMPARE(MessageDlg(QStringLiteral("q"), mtConfirmation, {mbOK, mbCancel}), mrCancel);
    QCOMPARE(MessageDlg(QStringLiteral("q"), mtInformation, {mbOK}), mrOk);
    SetDialogHook(old);
    QCOMPARE(escapeButton({mbYes, mbNo, mbCancel}), mbCancel);
    QCOMPARE(defaultButton({mbYes, mbNo}), mbYes);
}

void TstForms::openDialog()
{
    QCOMPARE(TOpenDialog::qtFilter(QStringLiteral("*.rtm|*.rtm")), QStringLiteral("*.rtm (*.rtm)"));
    QCOMPARE(TOpenDialog::qtFilter(QStringLiteral("Reports (rtm)|*.rtm;*.RTM|All|*.*")),
             QStringLiteral("Reports [rtm] (*.rtm *.RTM);;All (*.*)"));

    DialogRecorder rec;
    TOpenDialog dlg;
    dlg.Filter = QStringLiteral("*.rtm|*.rtm");
    dlg.FileName = QStringLiteral("/old/a.rtm");
    rec.fileToPick = QStringLiteral("/srv/reports/daily.rtm");
    QVERIFY(dlg.Execute());
    QCOMPARE(dlg.FileName, QStringLiteral("/srv/reports/daily.rtm"));
    QCOMPARE(rec.seen[0].filter, QStringLiteral("*.rtm|*.rtm"));
    QCOMPARE(rec.seen[0].fileName, QStringLiteral("/old/a.rtm"));

    rec.answer = mrCancel;
    QVERIFY(!dlg.Execute());
    QCOMPARE(dlg.FileName, QStringLiteral("/srv/reports/daily.rtm"));
}

// ---- speed buttons ------------------------------------------------------------------------------

void TstForms::speedButtonNeverTakesFocusNorStaysDown()
{
    TForm form;
    form.SetClientSize(300, 100);
    auto *edit = new TEdit(&form);
    edit->SetBounds(10, 10, 100, 21);
    auto *sb = new TSpeedButton(&form);
    sb->SetBounds(120, 10, 70, 31);
    sb->SetFlat(true);
    sb->SetCaption(QString::fromUtf8("查詢"));
    int clicks = 0;
    sb->OnClick = [&](QObject *) { ++clicks; };
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    edit->setFocus();
    QTRY_VERIFY(edit->hasFocus());

    QTest::mousePress(sb, Qt::LeftButton);
    QCOMPARE(sb->State(), bsDown);
    QTest::mouseRelease(sb, Qt::LeftButton);
    QCOMPARE(clicks, 1);
    QCOMPARE(sb->State(), bsUp);
    QVERIFY(!sb->Down());
    QVERIFY(edit->hasFocus());
    QCOMPARE(sb->focusPolicy(), Qt::NoFocus);

    sb->SetDown(true);   // an ungrouped button refuses to stay down
    QVERIFY(!sb->Down());

    // Released outside: no click.
    QTest::mousePress(sb, Qt::LeftButton);
    QTest::mouseMove(sb, QPoint(-20, -20));
    QTest::mouseRelease(sb, Qt::LeftButton, {}, QPoint(-20, -20));
    QCOMPARE(clicks, 1);

    // A disabled button ignores the mouse.
    sb->SetEnabled(false);
    QTest::mouseClick(sb, Qt::LeftButton);
    QCOMPARE(clicks, 1);
}

void TstForms::speedButtonGroupAndRelease()
{
    QWidget parent;
    parent.resize(100, 30);
    auto *a = new TSpeedButton(&parent);
    auto *b = new TSpeedButton(&parent);
    a->SetGroupIndex(1);
    b->SetGroupIndex(1);
    a->resize(30, 20);
    b->setGeometry(40, 0, 30, 20);
    parent.show();
    QVERIFY(QTest::qWaitForWindowExposed(&parent));
    QTest::mouseClick(a, Qt::LeftButton);
    QVERIFY(a->Down());
    QTest::mouseClick(b, Qt::LeftButton);
    QVERIFY(b->Down());
    QVERIFY(!a->Down());
    QTest::mouseClick(b, Qt::LeftButton);   // without AllowAllUp the last one stays down
    QVERIFY(b->Down());
    b->SetAllowAllUp(true);
    QVERIFY(a->AllowAllUp());
    QTest::mouseClick(b, Qt::LeftButton);
    QVERIFY(!b->Down());
}

void TstForms::speedButtonGlyphLayout_data()
{
    QTest::addColumn<int>("layout");
    QTest::addColumn<QString>("caption");
    QTest::newRow("picture left of the caption") << int(blGlyphLeft) << QString::fromUtf8("查詢");
    QTest::newRow("picture above the caption") << int(blGlyphTop) << QString::fromUtf8("首筆");
    QTest::newRow("picture alone") << int(blGlyphLeft) << QString();
}

void TstForms::speedButtonGlyphLayout()
{
    QFETCH(int, layout);
    QFETCH(QString, caption);
    // A 24-bit picture: white background with a red block; on a blue panel.
    QImage glyph(25, 22, QImage::Format_RGB32);
    glyph.fill(Qt::white);
    QPainter(&glyph).fillRect(5, 4, 15, 14, Qt::red);
    TPanel panel;
    panel.SetBevelOuter(bvNone);
    panel.SetColor(clBlue);
    panel.resize(80, 60);
    auto *sb = new TSpeedButton(&panel);
    sb->SetBounds(0, 0, 70, layout == blGlyphTop ? 45 : 31);
    sb->SetFlat(true);
    sb->SetLayout(TButtonLayout(layout));
    sb->SetCaption(caption);
    sb->SetGlyph(glyph);
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));
    const QImage img = sb->grab().toImage();

    QRect red;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            if (img.pixelColor(x, y) == QColor(Qt::red))
                red |= QRect(x, y, 1, 1);
    QCOMPARE(red.size(), QSize(15, 14));
    // Around the block, where the picture is white, the blue panel shows through.
    const QRect picture(red.topLeft() - QPoint(5, 4), QSize(25, 22));
    for (const QPoint &p : {picture.topLeft(), picture.bottomRight(), picture.topLeft() + QPoint(2, 12)})
        QCOMPARE(img.pixelColor(p), QColor(Qt::blue));
    QCOMPARE(img.pixelColor(2, 2), QColor(Qt::blue));   // the button itself is transparent

    // Picture and caption are centred together, 4 pixels apart (inside the 1-pixel edge).
    const QFontMetrics fm(sb->font());
    const QSize text = caption.isEmpty() ? QSize(0, 0)
                                         : fm.boundingRect(QRect(0, 0, 68, 0), Qt::TextSingleLine, caption).size();
    const int spacing = caption.isEmpty() ? 0 : 4;
    QPoint glyphPos;
    if (layout == blGlyphLeft)
        glyphPos = QPoint(1 + (68 - (25 + spacing + text.width()) + 1) / 2, 1 + (sb->height() - 2 - 22 + 1) / 2);
    else
        glyphPos = QPoint(1 + (68 - 25 + 1) / 2, 1 + (sb->height() - 2 - (22 + spacing + text.height()) + 1) / 2);
    QCOMPARE(red.topLeft(), glyphPos + QPoint(5, 4));
}

void TstForms::rightClickOpensPopupWithoutClick()
{
    TForm form;
    form.SetClientSize(200, 100);
    auto *sb = new TSpeedButton(&form);
    sb->SetBounds(10, 10, 36, 16);
    sb->SetCaption(QStringLiteral("C"));
    int clicks = 0, replaced = 0;
    sb->OnClick = [&](QObject *) { ++clicks; };
    auto *menu = new TPopupMenu(&form, QStringLiteral("PopupMenu2"));
    TMenuItem *item = menu->AddItem(QStringLiteral("Replace1"), QStringLiteral("ReplaceFilePath"),
                                    [&](QObject *) { ++replaced; });
    sb->SetPopupMenu(menu);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));

    QTest::mousePress(sb, Qt::RightButton);
    QTest::mouseRelease(sb, Qt::RightButton);
    QContextMenuEvent ctx(QContextMenuEvent::Mouse, QPoint(5, 5), sb->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(sb, &ctx);
    QCOMPARE(clicks, 0);
    QTRY_VERIFY(menu->menu()->isVisible());
    QCOMPARE(menu->PopupComponent(), sb);
    QCOMPARE(menu->menu()->actions().size(), 1);
    QCOMPARE(menu->menu()->actions()[0]->text(), QStringLiteral("ReplaceFilePath"));
    item->action()->trigger();
    QCOMPARE(replaced, 1);
    QCOMPARE(form.FindComponent(QStringLiteral("Replace1")), item);

    item->SetEnabled(false);   // a disabled item does nothing, also when clicked from code
    item->Click();
    QCOMPARE(replaced, 1);
    menu->menu()->hide();
}

// ---- forms --------------------------------------------------------------------------------

void TstForms::modalRunEndsOnButtonModalResult()
{
    auto *form = new TForm;
    form->SetCaption(QString::fromUtf8("報表編輯"));
    auto *ok = new TButton(form);
    ok->SetModalResult(mrOk);
    int closes = 0;
    form->OnClose = [&](QObject *, TCloseAction &a) {
        ++closes;
        a = closes == 1 ? caNone : caFree;   // the first attempt is refused
    };
    QPointer<TForm> guard(form);
    QTimer::singleShot(0, ok, [ok] { ok->click(); });
    QTimer::singleShot(50, ok, [ok] { ok->click(); });
    QCOMPARE(form->ShowModal(), mrOk);
    QCOMPARE(closes, 2);
    QVERIFY(!form->isVisible());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(guard.isNull());   // caFree: gone once the event is done

    // Close() in a modal run answers mrCancel.
    TForm f2;
    QTimer::singleShot(0, &f2, [&f2] { f2.Close(); });
    QCOMPARE(f2.ShowModal(), mrCancel);
}

void TstForms::closeActions_data()
{
    QTest::addColumn<int>("action");
    QTest::addColumn<bool>("visible");
    QTest::addColumn<bool>("alive");
    QTest::addColumn<bool>("minimized");
    QTest::newRow("caNone keeps it") << int(caNone) << true << true << false;
    QTest::newRow("caHide hides it") << int(caHide) << false << true << false;
    QTest::newRow("caFree frees it") << int(caFree) << false << false << false;
    QTest::newRow("caMinimize minimises it") << int(caMinimize) << true << true << true;
}

void TstForms::closeActions()
{
    QFETCH(int, action);
    QFETCH(bool, visible);
    QFETCH(bool, alive);
    QFETCH(bool, minimized);
    auto *form = new TForm;
    QPointer<TForm> guard(form);
    form->OnClose = [action](QObject *, TCloseAction &a) { a = TCloseAction(action); };
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form));
    form->Close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCOMPARE(!guard.isNull(), alive);
    if (guard) {
        QCOMPARE(guard->isVisible(), visible);
        QCOMPARE(guard->WindowState() == wsMinimized, minimized);
        guard->SetWindowState(wsNormal);   // what the main window's activation does
        QCOMPARE(guard->WindowState(), wsNormal);
        delete guard.data();
    }
}

void TstForms::closingMainFormEndsRun()
{
    // A main form that closes while it is being created: Run() returns at once.
    TApplication *app = Application;
    struct AutoClosing : TForm {
        AutoClosing()
        {
            OnClose = [](QObject *, TCloseAction &a) { a = caFree; };
            Close();
        }
    };
    QVERIFY(!app->Terminated());
    AutoClosing *f = app->CreateForm<AutoClosing>();
    QCOMPARE(app->MainForm(), f);
    QVERIFY(app->Terminated());
    QCOMPARE(app->Run(), 0);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!app->MainForm());
}

void TstForms::exeDirIsExecutableFolder()
{
    const QString cwd = QDir::currentPath();
    QTemporaryDir tmp;
    QVERIFY(QDir::setCurrent(tmp.path()));
    const QString dir = ExeDir();
    QDir::setCurrent(cwd);
    QVERIFY(dir.endsWith(QLatin1Char('/')));
    QCOMPARE(dir, QCoreApplication::applicationDirPath() + QLatin1Char('/'));
    QVERIFY(QFileInfo::exists(dir + QFileInfo(QCoreApplication::applicationFilePath()).fileName()));
    QCOMPARE(executableDir(), dir);
}

void TstForms::findComponentByName()
{
    TForm form;
    form.setObjectName(QStringLiteral("FormRptDlg"));
    auto *p = new TPanel(&form, QStringLiteral("Panel5"));
    auto *inner = new TPanel(p, QStringLiteral("Panel6"));
    auto *ds = new TDataSource(&form, QStringLiteral("DataSource1"));
    TForm child(&form);
    child.setObjectName(QStringLiteral("FormRptEdit"));
    new TPanel(&child, QStringLiteral("OnlyInChild"));
    QCOMPARE(form.FindComponent(QStringLiteral("Panel6")), inner);
    QCOMPARE(form.FindComponent(QStringLiteral("datasource1")), ds);
    QCOMPARE(form.FindComponent(QStringLiteral("OnlyInChild")), nullptr);
    QCOMPARE(form.FindComponent(QStringLiteral("Nothing")), nullptr);
    QCOMPARE(FindForm(QStringLiteral("FormRptDlg")), &form);
    QCOMPARE(FindGlobalComponent(QStringLiteral("FormRptDlg.DataSource1")), ds);
}

void TstForms::timerMayDeleteItself()
{
    auto *t = new TTimer;
    QPointer<TTimer> guard(t);
    int ticks = 0;
    t->SetInterval(1);
    t->SetOnTimer([&](QObject *) {
        ++ticks;
        delete t;
    });
    QTRY_VERIFY(guard.isNull());
    QTest::qWait(20);
    QCOMPARE(ticks, 1);

    TTimer idle;
    idle.SetInterval(1);   // no handler: never ticks
    QTest::qWait(10);
}

void TstForms::keyPressHandlerCanSwallowOrReplace()
{
    TEdit edit;
    edit.show();
    QVERIFY(QTest::qWaitForWindowExposed(&edit));
    edit.OnKeyPress = [](QObject *, QChar &k) {
        if (k == QLatin1Char('x'))
            k = QChar();
        else if (k == QLatin1Char('a'))
            k = QLatin1Char('b');
    };
    int downs = 0;
    edit.OnKeyDown = [&](QObject *, int &key, TShiftState) {
        ++downs;
        if (key == 'Q')
            key = 0;
    };
    QTest::keyClicks(&edit, QStringLiteral("axcq"));
    QCOMPARE(edit.Text(), QStringLiteral("bc"));
    QCOMPARE(downs, 4);
}

// ---- colours and fonts --------------------------------------------------------------------------

void TstForms::colourTable_data()
{
    QTest::addColumn<uint>("color");
    QTest::addColumn<int>("role");   // -1: plain colour
    QTest::addColumn<QColor>("rgb");
    QTest::newRow("light yellow") << uint(8454143) << -1 << QColor(255, 255, 128);
    QTest::newRow("pale blue") << uint(16771304) << -1 << QColor(232, 232, 255);
    QTest::newRow("clAqua") << uint(clAqua) << -1 << QColor(0, 255, 255);
    QTest::newRow("clRed") << uint(clRed) << -1 << QColor(255, 0, 0);
    QTest::newRow("clNavy") << uint(clNavy) << -1 << QColor(0, 0, 128);
    QTest::newRow("clWindowText") << uint(clWindowText) << int(QPalette::Text) << QColor();
    QTest::newRow("clWindow") << uint(clWindow) << int(QPalette::Base) << QColor();
    QTest::newRow("clBtnFace") << uint(clBtnFace) << int(QPalette::Button) << QColor();
    QTest::newRow("clHighlight") << uint(clHighlight) << int(QPalette::Highlight) << QColor();
    QTest::newRow("clHighlightText") << uint(clHighlightText) << int(QPalette::HighlightedText) << QColor();
    QTest::newRow("clBtnShadow") << uint(clBtnShadow) << int(QPalette::Dark) << QColor();
    QTest::newRow("clBtnHighlight") << uint(clBtnHighlight) << int(QPalette::Light) << QColor();
    QTest::newRow("clInfoBk") << uint(clInfoBk) << int(QPalette::ToolTipBase) << QColor();
    QTest::newRow("clActiveCaption: no role, classic value") << uint(clActiveCaption) << -1 << QColor(0x99, 0xB4, 0xD1);
    QTest::newRow("clAppWorkSpace: no role, classic value") << uint(clAppWorkSpace) << -1 << QColor(0xAB, 0xAB, 0xAB);
}

void TstForms::colourTable()
{
    QFETCH(uint, color);
    QFETCH(int, role);
    QFETCH(QColor, rgb);
    QPalette custom;
    for (int r = 0; r < QPalette::NColorRoles; ++r)
        custom.setColor(QPalette::Active, QPalette::ColorRole(r), QColor::fromHsv((r * 23) % 360, 200, 200));
    if (role >= 0) {
        QCOMPARE(toQColor(color, &custom), custom.color(QPalette::Active, QPalette::ColorRole(role)));
        QCOMPARE(toQColor(color), QGuiApplication::palette().color(QPalette::Active, QPalette::ColorRole(role)));
    } else {
        QCOMPARE(toQColor(color, &custom), rgb);
        if (!isSystemColor(color))
            QCOMPARE(fromQColor(rgb), TColor(color));
    }
}

void TstForms::colourNames()
{
    QCOMPARE(colorToString(clAqua), QStringLiteral("clAqua"));
    QCOMPARE(colorToString(clWindowText), QStringLiteral("clWindowText"));
    QCOMPARE(colorToString(8454143), QStringLiteral("$0080FFFF"));
    TColor c = 0;
    QVERIFY(stringToColor(QStringLiteral("clwindowtext"), &c));
    QCOMPARE(c, clWindowText);
    QVERIFY(stringToColor(QStringLiteral("$00FFE8E8"), &c));
    QCOMPARE(c, TColor(16771304));
    QVERIFY(stringToColor(QStringLiteral("-16777201"), &c));   // clBtnFace as a signed number
    QCOMPARE(c, clBtnFace);
    QVERIFY(!stringToColor(QStringLiteral("clNoSuch"), &c));
    QVERIFY(!stringToColor(QStringLiteral("$123456789"), &c));
    QCOMPARE(toQColor(clNone).alpha(), 0);
}

void TstForms::fontsMapToInstalledFaces()
{
    QVERIFY2(installFontAliases(), "fontconfig did not take the alias file");
    QCOMPARE(TFont().Size(), 8);
    TFont f;
    f.SetSize(8);
    QCOMPARE(f.Height, -11);
    QCOMPARE(TFont::mingLiU().Size(), 10);

    const QFont sans = TFont::msSansSerif().toQFont();
    QCOMPARE(sans.pixelSize(), 11);
    QCOMPARE(QFontInfo(sans).family(), QStringLiteral("DejaVu Sans"));
    const QFont ming = TFont::mingLiU().toQFont();
    QCOMPARE(ming.pixelSize(), 13);
    QCOMPARE(QFontInfo(ming).family(), QStringLiteral("AR PL UMing TW"));
    TFont bold = TFont::mingLiU();
    bold.Style = fsBold | fsUnderline;
    QVERIFY(bold.toQFont().bold() && bold.toQFont().underline());
    QVERIFY(QFont::substitutes(QString::fromUtf8("細明體")).contains(QStringLiteral("AR PL UMing TW"), Qt::CaseInsensitive));

    // Chinese in the dialog face is drawn with real glyphs, not boxes: two different
    // characters give different pictures (every missing glyph would look the same).
    auto render = [](const QFont &font, const QString &text) {
        QImage img(40, 20, QImage::Format_RGB32);
        img.fill(Qt::white);
        QPainter p(&img);
        p.setFont(font);
        p.setPen(Qt::black);
        p.drawText(img.rect(), Qt::AlignCenter, text);
        return img;
    };
    for (const QFont &font : {sans, ming}) {
        const QImage a = render(font, QString::fromUtf8("報"));
        const QImage b = render(font, QString::fromUtf8("表"));
        QVERIFY(a != b);
        QVERIFY(a != render(font, QString()));
    }
}

void TstForms::sampleFormScreenshot()
{
    // A window with every control kind; the picture is for a look by eye.
    TForm form;
    form.SetCaption(QString::fromUtf8("報表印製"));
    form.SetClientSize(480, 260);
    auto *top = new TPanel(&form, QStringLiteral("Panel1"));
    top->SetBounds(0, 0, 480, 34);
    top->SetAlign(alTop);
    top->SetColor(8454143);
    auto *client = new TPanel(&form, QStringLiteral("Panel2"));
    client->SetAlign(alClient);
    client->SetColor(16771304);
    client->SetBevelInner(bvLowered);
    auto *left = new TPanel(client, QStringLiteral("Panel3"));
    left->SetBounds(2, 2, 140, 100);
    left->SetAlign(alLeft);
    left->SetCaption(QString::fromUtf8("報表清單"));
    left->SetColor(clWhite);
    auto *split = new TSplitter(client, QStringLiteral("Splitter1"));
    split->SetBounds(142, 2, 3, 100);
    split->SetBeveled(true);
    QImage glyph(25, 22, QImage::Format_RGB32);
    glyph.fill(Qt::white);
    {
        QPainter p(&glyph);
        p.fillRect(3, 3, 19, 16, QColor(200, 40, 40));
        p.fillRect(7, 7, 11, 8, QColor(250, 220, 60));
    }
    const char *caps[] = {"查詢", "預覽", "離開"};
    for (int i = 0; i < 3; ++i) {
        auto *b = new TSpeedButton(top);
        b->SetBounds(3 + 70 * i, 2, 70, 31);
        b->SetFlat(true);
        b->SetCaption(QString::fromUtf8(caps[i]));
        b->SetGlyph(glyph);
        b->SetCursor(crHandPoint);
        if (i == 2)
            b->SetEnabled(false);
    }
    auto *mingFont = new TFont(TFont::mingLiU());
    auto *label = new TLabel(client, QStringLiteral("Label1"));
    label->SetBounds(160, 12, 62, 13);
    label->SetFont(*mingFont);
    label->SetCaption(QString::fromUtf8("報表名稱"));
    auto *edit = new TEdit(client, QStringLiteral("Edit1"));
    edit->SetBounds(230, 8, 169, 21);
    edit->SetText(QString::fromUtf8("月營業日報表 Daily"));
    auto *combo = new TComboBox(client, QStringLiteral("ComboBox1"));
    combo->SetBounds(405, 8, 57, 21);
    combo->SetItems({"0", "1", "2"});
    combo->SetText(QStringLiteral("1"));
    auto *bevel = new TBevel(client);
    bevel->SetBounds(160, 36, 300, 2);
    bevel->SetShape(bsTopLine);
    auto *memo = new TMemo(client, QStringLiteral("Memo1"));
    memo->SetBounds(160, 44, 300, 70);
    memo->SetText(QString::fromUtf8("select 店名, 日期, 金額 from sales where 日期 between :d1 and :d2 order by 日期"));
    auto *ok = new TButton(client, QStringLiteral("OKBtn"));
    ok->SetBounds(160, 124, 75, 25);
    ok->SetCaption(QString::fromUtf8("確定"));
    delete mingFont;

    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const QImage shot = form.grab().toImage();
    QCOMPARE(shot.size(), QSize(480, 260));
    QCOMPARE(shot.pixelColor(240, 1), QColor(255, 255, 128));   // the light yellow strip
    QCOMPARE(left->width(), 140);
    QCOMPARE(split->x(), 142);
    const QString dir = qEnvironmentVariable("RPT_SCREENSHOT_DIR", QDir::tempPath());
    QVERIFY(shot.save(dir + QStringLiteral("/rptdlg-sample-form.png")));
}

int main(int argc, char **argv)
{
    // The real application object, with its exception safety net.
    TApplication app(argc, argv);
    TstForms tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_forms.moc"
