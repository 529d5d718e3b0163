// Data-aware edit box, combo box, memo and text: the byte limit of Big5 typing, following
// the current record, typed text reaching the field, and refusals.

#include "platform/db/ClientDataSet.h"
#include "platform/forms/DBCtrls.h"
#include "platform/forms/ExtCtrls.h"
#include "platform/forms/Form.h"
#include "platform/text/CodePage.h"

#include <QClipboard>
#include <QDir>
#include <QTest>

using namespace rpt;

namespace {

struct DialogSpy {
    QList<TDialogRequest> seen;
    TDialogHook previous;
    DialogSpy()
    {
        previous = SetDialogHook([this](TDialogRequest &r) {
            seen << r;
            return mrOk;
        });
    }
    ~DialogSpy() { SetDialogHook(previous); }
};

// Types text the way a keyboard (or an input method) delivers it: one key event per
// character, carrying the character as its text.
void typeText(QWidget *w, const QString &text)
{
    for (const QChar c : text) {
        int key = c.unicode() < 128 ? c.toUpper().unicode() : 0;
        if (c == QLatin1Char('\b'))
            key = Qt::Key_Backspace;
        else if (c == QLatin1Char('\r'))
            key = Qt::Key_Return;
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, QString(c));
        QApplication::sendEvent(w, &press);
        QKeyEvent release(QEvent::KeyRelease, press.key(), Qt::NoModifier, QString(c));
        QApplication::sendEvent(w, &release);
    }
}

QString repeated(const char *utf8, int n) { return QString::fromUtf8(utf8).repeated(n); }

// A window with one control of each kind on a three-record definition list.
struct Fixture {
    TForm form;
    TClientDataSet cds{nullptr, QStringLiteral("ADODataSet1")};
    TDataSource src{nullptr, QStringLiteral("DataSource1")};
    TDBEdit *name, *path, *number;
    TDBComboBox *order;
    TDBMemo *script;
    TDBText *id;
    TEdit *other;

    Fixture()
    {
        cds.FieldDefs().Add(QStringLiteral("rpt_id"), ftWideString, 5);
        cds.FieldDefs().Add(QStringLiteral("rpt_name"), ftString, 50);
        cds.FieldDefs().Add(QStringLiteral("rpt_tempfile"), ftWideString, 100);
        cds.FieldDefs().Add(QStringLiteral("rpt_order"), ftWideString, 50);
        cds.FieldDefs().Add(QStringLiteral("rpt_SQLScript"), ftWideMemo, 0);
        cds.FieldDefs().Add(QStringLiteral("rpt_copies"), ftInteger, 0);
        cds.CreateDataSet();
        const char *rows[][5] = {
            {"10001", "日報表", "C:\\rpt\\daily.rtm", "1", "select 1\r\nfrom x"},
            {"10002", "月報表", "C:\\rpt\\monthly.rtm", "2", "select 2"},
            {"10003", "Year", "D:\\rpt\\year.rtm", "3", ""},
        };
        for (auto &r : rows) {
            cds.Append();
            for (int f = 0; f < 5; ++f)
                cds.Fields(f)->SetAsString(QString::fromUtf8(r[f]));
            cds.Fields(5)->SetAsInteger(1);
            cds.Post();
        }
        cds.First();
        src.SetDataSet(&cds);

        form.SetClientSize(500, 300);
        auto edit = [this](const char *field, int y) {
            auto *e = new TDBEdit(&form);
            e->SetBounds(10, y, 300, 21);
            e->SetDataSource(&src);
            e->SetDataField(QString::fromLatin1(field));
            return e;
        };
        name = edit("rpt_name", 10);
        path = edit("rpt_tempfile", 40);
        number = edit("rpt_copies", 70);
        order = new TDBComboBox(&form);
        order->SetBounds(320, 10, 57, 21);
        order->SetItems({"0", "1", "2", "3", "4", "5", "6", "7", "8", "9"});
        order->SetDataSource(&src);
        order->SetDataField(QStringLiteral("rpt_order"));
        script = new TDBMemo(&form);
        script->SetBounds(10, 100, 300, 80);
        script->SetDataSource(&src);
        script->SetDataField(QStringLiteral("rpt_SQLScript"));
        id = new TDBText(&form);
        id->SetBounds(320, 40, 65, 17);
        id->SetDataSource(&src);
        id->SetDataField(QStringLiteral("rpt_id"));
        other = new TEdit(&form);
        other->SetBounds(10, 200, 100, 21);
        form.show();
    }

    void focus(QWidget *w)
    {
        QApplication::setActiveWindow(&form);
        w->setFocus(Qt::MouseFocusReason);
    }
};

} // namespace

class TstDBControls : public QObject {
    Q_OBJECT

private slots:
    void byteLimitOfBig5Typing_data();
    void byteLimitOfBig5Typing();
    void insertionIsCutToFit_data();
    void insertionIsCutToFit();
    void pasteIsCutToFit();
    void controlsFollowTheCurrentRecord();
    void typedTextReachesTheField_data();
    void typedTextReachesTheField();
    void escPutsTheValueBack();
    void typingIsRefusedWhereEditingIsNot_data();
    void typingIsRefusedWhereEditingIsNot();
    void comboTakesTypedTextAndListItems();
    void memoWrapsAndKeepsLineBreaks();
    void rejectedTextKeepsTheFocus();
    void dataSourceGoneEmptiesControls();
    void sampleFormScreenshot();
};

void TstDBControls::byteLimitOfBig5Typing_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("preset");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("expected");

    for (const char *field : {"rpt_name", "rpt_tempfile"}) {
        const int limit = QByteArray(field) == "rpt_name" ? 50 : 100;
        const int half = limit / 2;
        const QByteArray tag(field);
        QTest::newRow(tag + ": 25 double-byte characters fill 50 bytes")
            << field << QString() << repeated("報", half) << repeated("報", half);
        QTest::newRow(tag + ": one more is refused")
            << field << QString() << repeated("報", half + 1) << repeated("報", half);
        QTest::newRow(tag + ": ASCII after 49 bytes fits")
            << field << QString(limit - 1, QLatin1Char('a')) << "bc" << QString(limit - 1, QLatin1Char('a')) + "b";
        QTest::newRow(tag + ": a double-byte character after 49 bytes does not")
            << field << QString(limit - 1, QLatin1Char('a')) << QString::fromUtf8("表") << QString(limit - 1, QLatin1Char('a'));
        QTest::newRow(tag + ": mixed text up to the limit")
            << field << repeated("印", half - 2) << QString::fromUtf8("ab表c")
            << repeated("印", half - 2) + QString::fromUtf8("ab表");
    }
}

void TstDBControls::byteLimitOfBig5Typing()
{
    QFETCH(QString, field);
    QFETCH(QString, preset);
    QFETCH(QString, typed);
    QFETCH(QString, expected);
    Fixture f;
    TDBEdit *edit = field == "rpt_name" ? f.name : f.path;
    if (!preset.isNull()) {
        f.cds.Edit();
        f.cds.FieldByName(field)->SetAsString(preset);
        f.cds.Post();
    }
    f.focus(edit);
    edit->selectAll();
    if (preset.isNull())
        typeText(edit, QStringLiteral("\b"));   // start from an empty box
    else
        edit->end(false);
    typeText(edit, typed);
    QCOMPARE(edit->Text(), expected);
    QVERIFY(cp950::byteLength(edit->Text()) <= f.cds.FieldByName(field)->Size());
    QCOMPARE(f.cds.State(), dsEdit);   // typing put the dataset into edit state
    f.cds.Post();
    QCOMPARE(f.cds.FieldByName(field)->AsString(), expected);
}

void TstDBControls::insertionIsCutToFit_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("after");
    QTest::addColumn<int>("cursor");
    QTest::addColumn<int>("limit");
    QTest::addColumn<bool>("fits");
    QTest::addColumn<QString>("result");
    QTest::addColumn<int>("resultCursor");
    const QString big = repeated("報", 23);   // 46 bytes
    QTest::newRow("paste cut to two characters") << big << big + QString::fromUtf8("表印製作") << 27 << 50
                                                 << true << big + QString::fromUtf8("表印") << 25;
    QTest::newRow("paste in the middle") << "abcd" << QString::fromUtf8("ab報表cd") << 4 << 6 << true
                                         << QString::fromUtf8("ab報cd") << 3;
    QTest::newRow("nothing fits") << QString(50, 'a') << QString(50, 'a') + "x" << 51 << 50 << false
                                  << QString(50, 'a') + "x" << 51;
    QTest::newRow("a double-byte character into one free byte") << QString(49, 'a') << QString(49, 'a') + QString::fromUtf8("報")
                                                               << 50 << 50 << false << QString(49, 'a') + QString::fromUtf8("報") << 50;
    QTest::newRow("replacing a selection") << QString::fromUtf8("報表ab") << QString::fromUtf8("報表印製作b") << 5 << 8
                                           << true << QString::fromUtf8("報表印b") << 3;
    QTest::newRow("deleting from an over-long text") << QString(60, 'a') << QString(59, 'a') << 59 << 50 << true
                                                     << QString(59, 'a') << 59;
    QTest::newRow("no limit") << "" << repeated("報", 100) << 100 << 0 << true << repeated("報", 100) << 100;
}

void TstDBControls::insertionIsCutToFit()
{
    QFETCH(QString, before);
    QFETCH(QString, after);
    QFETCH(int, cursor);
    QFETCH(int, limit);
    QFETCH(bool, fits);
    QFETCH(QString, result);
    QFETCH(int, resultCursor);
    QString text = after;
    int c = cursor;
    QCOMPARE(TAnsiLengthValidator::fitInsertion(before, text, c, limit), fits);
    if (fits) {
        QCOMPARE(text, result);
        QCOMPARE(c, resultCursor);
    }
}

void TstDBControls::pasteIsCutToFit()
{
    Fixture f;
    QClipboard *cb = QGuiApplication::clipboard();
    cb->setText(QString::fromUtf8("報表印製作業"));
    if (cb->text() != QString::fromUtf8("報表印製作業"))
        QSKIP("no clipboard on this platform");
    f.cds.Edit();
    f.cds.FieldByName(QStringLiteral("rpt_name"))->SetAsString(repeated("日", 22));   // 44 bytes
    f.cds.Post();
    f.focus(f.name);
    f.name->end(false);
    QTest::keyClick(f.name, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(f.name->Text(), repeated("日", 22) + QString::fromUtf8("報表印"));
    QCOMPARE(f.cds.State(), dsEdit);
}

void TstDBControls::controlsFollowTheCurrentRecord()
{
    Fixture f;
    auto snapshot = [&] {
        return QStringList{f.name->Text(), f.path->Text(), f.order->Text(), f.script->Text(), f.id->Text()};
    };
    QCOMPARE(snapshot(), (QStringList{QString::fromUtf8("日報表"), "C:\\rpt\\daily.rtm", "1", "select 1\nfrom x", "10001"}));
    f.cds.Next();
    QCOMPARE(snapshot(), (QStringList{QString::fromUtf8("月報表"), "C:\\rpt\\monthly.rtm", "2", "select 2", "10002"}));
    f.cds.Last();
    QCOMPARE(snapshot(), (QStringList{"Year", "D:\\rpt\\year.rtm", "3", "", "10003"}));
    QCOMPARE(f.order->currentIndex(), 3);

    // A value set from code shows at once.
    f.cds.Edit();
    f.cds.FieldByName(QStringLiteral("rpt_tempfile"))->SetAsString(QStringLiteral("E:\\new.rtm"));
    QCOMPARE(f.path->Text(), QStringLiteral("E:\\new.rtm"));
    f.cds.Cancel();
    QCOMPARE(f.path->Text(), QStringLiteral("D:\\rpt\\year.rtm"));

    QCOMPARE(f.name->EffectiveMaxLength(), 50);
    QCOMPARE(f.path->EffectiveMaxLength(), 100);
    QCOMPARE(f.number->EffectiveMaxLength(), 0);

    // Detached and attached again.
    f.src.SetDataSet(nullptr);
    QCOMPARE(snapshot(), (QStringList{"", "", "", "", ""}));
    f.src.SetDataSet(&f.cds);
    QCOMPARE(f.name->Text(), QStringLiteral("Year"));
    QVERIFY(!f.name->isReadOnly());

    f.cds.Close();
    QCOMPARE(snapshot(), (QStringList{"", "", "", "", ""}));
    QVERIFY(f.name->isReadOnly());
    QVERIFY(f.script->isReadOnly());
    QVERIFY(f.order->lineEdit()->isReadOnly());
}

void TstDBControls::typedTextReachesTheField_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("state");
    QTest::newRow("post") << "post" << int(dsBrowse);
    QTest::newRow("enter") << "enter" << int(dsEdit);
    QTest::newRow("focus leaves") << "exit" << int(dsEdit);
    QTest::newRow("moving to another record") << "move" << int(dsBrowse);
}

void TstDBControls::typedTextReachesTheField()
{
    QFETCH(QString, how);
    QFETCH(int, state);
    Fixture f;
    QVERIFY(QTest::qWaitForWindowExposed(&f.form));
    TField *nameField = f.cds.FieldByName(QStringLiteral("rpt_name"));
    TField *scriptField = f.cds.FieldByName(QStringLiteral("rpt_SQLScript"));
    f.focus(f.name);
    QTRY_VERIFY(f.name->hasFocus());
    typeText(f.name, QString::fromUtf8("二"));
    QCOMPARE(nameField->AsString(), QString::fromUtf8("日報表"));   // not yet
    if (how == "post") {
        f.cds.Post();
    } else if (how == "enter") {
        QTest::keyClick(f.name, Qt::Key_Return);
    } else if (how == "exit") {
        f.focus(f.other);
        QTRY_VERIFY(f.other->hasFocus());
    } else if (how == "move") {
        f.cds.Next();
        f.cds.First();
    }
    QCOMPARE(nameField->AsString(), QString::fromUtf8("日報表二"));
    QCOMPARE(int(f.cds.State()), state);

    // The memo writes its text with the platform's line breaks.
    if (how == "post") {
        f.focus(f.script);
        QTRY_VERIFY(f.script->hasFocus());
        f.script->moveCursor(QTextCursor::End);
        typeText(f.script, QStringLiteral("\rwhere 1=1"));
        f.cds.Post();
        QCOMPARE(scriptField->AsString(), QStringLiteral("select 1\r\nfrom x\r\nwhere 1=1"));
    }
}

void TstDBControls::escPutsTheValueBack()
{
    Fixture f;
    f.focus(f.path);
    f.path->end(false);
    typeText(f.path, QStringLiteral("x"));
    QCOMPARE(f.path->Text(), QStringLiteral("C:\\rpt\\daily.rtmx"));
    QTest::keyClick(f.path, Qt::Key_Escape);
    QCOMPARE(f.path->Text(), QStringLiteral("C:\\rpt\\daily.rtm"));
    f.cds.Post();
    QCOMPARE(f.cds.FieldByName(QStringLiteral("rpt_tempfile"))->AsString(), QStringLiteral("C:\\rpt\\daily.rtm"));
}

void TstDBControls::typingIsRefusedWhereEditingIsNot_data()
{
    QTest::addColumn<QString>("why");
    QTest::newRow("data source without AutoEdit") << "autoedit";
    QTest::newRow("read-only control") << "readonly";
    QTest::newRow("read-only field") << "field";
    QTest::newRow("closed dataset") << "closed";
    QTest::newRow("unknown field name") << "unknown";
}

void TstDBControls::typingIsRefusedWhereEditingIsNot()
{
    QFETCH(QString, why);
    Fixture f;
    if (why == "autoedit")
        f.src.SetAutoEdit(false);
    else if (why == "readonly")
        f.name->SetReadOnly(true);
    else if (why == "field")
        f.cds.FieldByName(QStringLiteral("rpt_name"))->SetReadOnly(true);
    else if (why == "closed")
        f.cds.Close();
    else if (why == "unknown")
        f.name->SetDataField(QStringLiteral("no_such_field"));
    f.name->DataLink().Reset();
    const QString before = f.name->Text();
    f.focus(f.name);
    f.name->end(false);
    typeText(f.name, QStringLiteral("zz"));
    QTest::keyClick(f.name, Qt::Key_Backspace);
    QCOMPARE(f.name->Text(), before);
    if (f.cds.Active())
        QCOMPARE(f.cds.State(), dsBrowse);
}

void TstDBControls::comboTakesTypedTextAndListItems()
{
    Fixture f;
    QVERIFY(QTest::qWaitForWindowExposed(&f.form));
    QCOMPARE(f.order->Items().size(), 10);
    f.focus(f.order);
    QTRY_VERIFY(f.order->hasFocus());
    f.order->lineEdit()->selectAll();
    typeText(f.order, QStringLiteral("12"));   // not in the list, still accepted
    QCOMPARE(f.cds.State(), dsEdit);
    f.cds.Post();
    QCOMPARE(f.cds.FieldByName(QStringLiteral("rpt_order"))->AsString(), QStringLiteral("12"));

    f.cds.Next();   // order "2": item index 2
    QCOMPARE(f.order->currentIndex(), 2);
    QTest::keyClick(f.order, Qt::Key_Down);   // the next item of the list
    QCOMPARE(f.order->Text(), QStringLiteral("3"));
    QCOMPARE(f.cds.State(), dsEdit);
    f.cds.Post();
    QCOMPARE(f.cds.FieldByName(QStringLiteral("rpt_order"))->AsString(), QStringLiteral("3"));

    // Without AutoEdit a choice from the list does not stick.
    f.src.SetAutoEdit(false);
    QTest::keyClick(f.order, Qt::Key_Down);
    QCOMPARE(f.order->Text(), QStringLiteral("3"));
    QCOMPARE(f.cds.State(), dsBrowse);
}

void TstDBControls::memoWrapsAndKeepsLineBreaks()
{
    Fixture f;
    QCOMPARE(f.script->lineWrapMode(), QPlainTextEdit::WidgetWidth);
    QCOMPARE(f.script->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    QCOMPARE(f.script->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    QVERIFY(f.script->tabChangesFocus());
    QCOMPARE(f.script->Lines(), (QStringList{"select 1", "from x"}));
}

void TstDBControls::rejectedTextKeepsTheFocus()
{
    DialogSpy spy;
    Fixture f;
    QVERIFY(QTest::qWaitForWindowExposed(&f.form));
    f.focus(f.number);
    QTRY_VERIFY(f.number->hasFocus());
    f.number->selectAll();
    typeText(f.number, QStringLiteral("abc"));
    f.focus(f.other);
    QCOMPARE(spy.seen.size(), 1);
    QCOMPARE(spy.seen[0].kind, TDialogRequest::ErrorBox);
    QVERIFY2(spy.seen[0].text.contains(QStringLiteral("'abc'")), qPrintable(spy.seen[0].text));
    QTRY_VERIFY(f.number->hasFocus());
    QCOMPARE(f.number->Text(), QStringLiteral("abc"));
    QCOMPARE(f.cds.State(), dsEdit);

    // Corrected, it goes through.
    f.number->selectAll();
    typeText(f.number, QStringLiteral("3"));
    f.focus(f.other);
    QTRY_VERIFY(f.other->hasFocus());
    QCOMPARE(f.cds.FieldByName(QStringLiteral("rpt_copies"))->AsInteger(), 3);
    QCOMPARE(spy.seen.size(), 1);
}

void TstDBControls::dataSourceGoneEmptiesControls()
{
    auto *src = new TDataSource;
    TClientDataSet cds;
    cds.FieldDefs().Add(QStringLiteral("a"), ftString, 10);
    cds.CreateDataSet();
    cds.Append();
    cds.Fields(0)->SetAsString(QStringLiteral("x"));
    cds.Post();
    src->SetDataSet(&cds);
    TDBEdit edit;
    TDBText text;
    edit.SetDataSource(src);
    edit.SetDataField(QStringLiteral("a"));
    text.SetDataSource(src);
    text.SetDataField(QStringLiteral("a"));
    QCOMPARE(edit.Text(), QStringLiteral("x"));
    QCOMPARE(text.Text(), QStringLiteral("x"));
    delete src;
    QCOMPARE(edit.DataSource(), nullptr);
    QCOMPARE(edit.Text(), QString());
    QCOMPARE(text.Text(), QString());
    QVERIFY(edit.isReadOnly());
    cds.Next();   // no control is told any more
}

void TstDBControls::sampleFormScreenshot()
{
    Fixture f;
    f.cds.Next();
    auto *panel = new TPanel(&f.form, QStringLiteral("Panel6"));
    panel->SetBounds(0, 230, 500, 70);
    panel->SetColor(16771304);
    panel->SetBevelInner(bvLowered);
    panel->SetFont(TFont::mingLiU());
    auto *label = new TLabel(panel, QStringLiteral("Label1"));
    label->SetBounds(12, 12, 62, 13);
    label->SetAutoSize(false);
    label->SetCaption(QString::fromUtf8("報表名稱"));
    auto *e = new TDBEdit(panel, QStringLiteral("DBEdit1"));
    e->SetBounds(84, 8, 169, 21);
    e->SetDataSource(&f.src);
    e->SetDataField(QStringLiteral("rpt_name"));
    QVERIFY(QTest::qWaitForWindowExposed(&f.form));
    QTRY_VERIFY(panel->isVisible());   // added to a window on screen: shows by itself
    const QImage shot = f.form.grab().toImage();
    QCOMPARE(shot.size(), QSize(500, 300));
    QCOMPARE(shot.pixelColor(400, 260), QColor(232, 232, 255));
    const QString dir = qEnvironmentVariable("RPT_SCREENSHOT_DIR", QDir::tempPath());
    QVERIFY(shot.save(dir + QStringLiteral("/rptdlg-sample-dbcontrols.png")));
}

int main(int argc, char **argv)
{
    TApplication app(argc, argv);
    TstDBControls tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_dbcontrols.moc"
