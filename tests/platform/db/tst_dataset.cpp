// The dataset state machine: event order, settle-on-move, end flags, error texts,
// field storage, and what data links are told.
#include "platform/db/DataSet.h"

#include <QtTest>

using namespace rpt;

namespace {

// The smallest concrete dataset: rows given up front, writes only in memory.
class MemDataSet : public TDataSet {
public:
    MemDataSet(const TFieldDefs &defs, QList<QVariantList> rows, const QString &name = "Mem1")
        : TDataSet(nullptr, name), m_defs(defs), m_initial(std::move(rows)) {}
    QStringList log;
    void record()
    {
        const auto hook = [this](const char *n) { return [this, n](TDataSet *) { log << QString::fromLatin1(n); }; };
        BeforeOpen = hook("BeforeOpen");
        AfterOpen = hook("AfterOpen");
        BeforeClose = hook("BeforeClose");
        AfterClose = hook("AfterClose");
        BeforeInsert = hook("BeforeInsert");
        AfterInsert = hook("AfterInsert");
        BeforeEdit = hook("BeforeEdit");
        AfterEdit = hook("AfterEdit");
        BeforePost = hook("BeforePost");
        AfterPost = hook("AfterPost");
        BeforeCancel = hook("BeforeCancel");
        AfterCancel = hook("AfterCancel");
        BeforeDelete = hook("BeforeDelete");
        AfterDelete = hook("AfterDelete");
        BeforeScroll = hook("BeforeScroll");
        AfterScroll = hook("AfterScroll");
        OnNewRecord = hook("OnNewRecord");
    }

protected:
    void InternalOpen() override
    {
        FieldDefsRef() = m_defs;
        RecordLayout layout(m_defs);
        RecordBuilder b(layout);
        for (const QVariantList &r : m_initial) {
            b.begin();
            for (int i = 0; i < r.size(); ++i)
                b.setValue(i, r[i]);
            AppendRow(b.finish());
        }
    }

private:
    TFieldDefs m_defs;
    QList<QVariantList> m_initial;
};

TFieldDefs twoFields()
{
    TFieldDefs d;
    d.Add("id", ftInteger);
    d.Add("name", ftString, 10);
    return d;
}

QList<QVariantList> threeRows()
{
    return {{1, "a"}, {2, "b"}, {3, "c"}};
}

QStringList names(TDataSet &ds)
{
    QStringList out;
    ds.First();
    while (!ds.Eof()) {
        out << ds.FieldByName("name")->AsString();
        ds.Next();
    }
    return out;
}

class RecordingLink : public TDataLink {
public:
    QStringList log;
    void ActiveChanged() override { log << QStringLiteral("active:%1").arg(Active()); }
    void EditingChanged() override { log << QStringLiteral("editing:%1").arg(Editing()); }
    void RecordChanged(TField *f) override { log << (f ? "field:" + f->FieldName() : QStringLiteral("record")); }
    void DataSetChanged() override { log << QStringLiteral("changed"); }
};

} // namespace

class TestDataSet : public QObject {
    Q_OBJECT
private slots:
    void eventOrder_data();
    void eventOrder();
    void settleOnMove();
    void endFlags();
    void errorTexts_data();
    void errorTexts();
    void ansiFieldCutOnCharacterBoundary_data();
    void ansiFieldCutOnCharacterBoundary();
    void exactValuesStored();
    void linksAreTold();
    void newRecordValuesAreNotModifications();
};

void TestDataSet::eventOrder_data()
{
    QTest::addColumn<QString>("op");
    QTest::addColumn<bool>("empty");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("open") << "open" << false << QStringList{"BeforeOpen", "AfterOpen", "AfterScroll"};
    QTest::newRow("open empty") << "open" << true << QStringList{"BeforeOpen", "AfterOpen"};
    QTest::newRow("insert") << "insert" << false
                            << QStringList{"BeforeInsert", "BeforeScroll", "OnNewRecord", "AfterInsert", "AfterScroll"};
    QTest::newRow("edit+post") << "editpost" << false
                               << QStringList{"BeforeEdit", "AfterEdit", "BeforePost", "AfterPost"};
    QTest::newRow("cancel insert") << "cancelinsert" << false
                                   << QStringList{"BeforeCancel", "BeforeScroll", "AfterCancel", "AfterScroll"};
    QTest::newRow("cancel edit") << "canceledit" << false << QStringList{"BeforeCancel", "AfterCancel"};
    QTest::newRow("delete") << "delete" << false
                            << QStringList{"BeforeDelete", "BeforeScroll", "AfterDelete", "AfterScroll"};
    QTest::newRow("next") << "next" << false << QStringList{"BeforeScroll", "AfterScroll"};
    QTest::newRow("next at eof") << "nextateof" << false << QStringList{"BeforeScroll"};
    QTest::newRow("close") << "close" << false << QStringList{"BeforeClose", "AfterClose"};
    QTest::newRow("edit on empty inserts") << "edit" << true
                                           << QStringList{"BeforeInsert", "BeforeScroll", "OnNewRecord", "AfterInsert", "AfterScroll"};
}

void TestDataSet::eventOrder()
{
    QFETCH(QString, op);
    QFETCH(bool, empty);
    QFETCH(QStringList, expected);
    MemDataSet ds(twoFields(), empty ? QList<QVariantList>{} : threeRows());
    ds.record();
    if (op != "open")
        ds.Open();
    if (op == "nextateof")
        ds.Last();
    if (op == "cancelinsert")
        ds.Insert();
    if (op == "canceledit")
        ds.Edit();
    ds.log.clear();
    if (op == "open")
        ds.Open();
    else if (op == "insert")
        ds.Insert();
    else if (op == "editpost") {
        ds.Edit();
        ds.FieldByName("name")->SetAsString("x");
        ds.Post();
    } else if (op == "cancelinsert" || op == "canceledit")
        ds.Cancel();
    else if (op == "delete")
        ds.Delete();
    else if (op == "next" || op == "nextateof")
        ds.Next();
    else if (op == "close")
        ds.Close();
    else if (op == "edit")
        ds.Edit();
    QCOMPARE(ds.log, expected);
}

void TestDataSet::settleOnMove()
{
    MemDataSet ds(twoFields(), threeRows());
    ds.Open();

    // A changed record is posted by a move...
    ds.Edit();
    ds.FieldByName("name")->SetAsString("A");
    ds.Next();
    QCOMPARE(ds.State(), dsBrowse);
    QCOMPARE(names(ds), (QStringList{"A", "b", "c"}));

    // ...an untouched one is cancelled.
    ds.First();
    ds.Edit();
    ds.Next();
    QCOMPARE(ds.State(), dsBrowse);
    QCOMPARE(ds.RecordCount(), 3);

    // An appended row nobody typed into disappears when the cursor leaves it.
    ds.Append();
    QCOMPARE(ds.RecordCount(), 4);
    ds.First();
    QCOMPARE(ds.RecordCount(), 3);

    // Insert goes in front of the current record; Post keeps it there.
    ds.First();
    ds.Next();
    ds.Insert();
    ds.FieldByName("name")->SetAsString("new");
    ds.Post();
    QCOMPARE(ds.RecNo(), 2);
    QCOMPARE(names(ds), (QStringList{"A", "new", "b", "c"}));

    // Delete lands on the next record, or the previous one at the end.
    ds.SetRecNo(2);
    ds.Delete();
    QCOMPARE(ds.FieldByName("name")->AsString(), QString("b"));
    ds.Last();
    ds.Delete();
    QCOMPARE(ds.FieldByName("name")->AsString(), QString("b"));
}

void TestDataSet::endFlags()
{
    MemDataSet ds(twoFields(), threeRows());
    ds.Open();
    QVERIFY(ds.BOF() && !ds.Eof());
    ds.Next();
    ds.Next();
    QVERIFY(!ds.BOF() && !ds.Eof()); // on the last row, but EOF only after a failed Next
    QCOMPARE(ds.MoveBy(1), 0);
    QVERIFY(ds.Eof());
    QCOMPARE(ds.RecNo(), 3);
    QCOMPARE(ds.MoveBy(-5), -2);
    QVERIFY(ds.BOF() && !ds.Eof());

    MemDataSet empty(twoFields(), {});
    empty.Open();
    QVERIFY(empty.BOF() && empty.Eof() && empty.IsEmpty());
    empty.Insert();
    QVERIFY(!empty.IsEmpty());
    empty.Cancel();
    QVERIFY(empty.BOF() && empty.Eof() && empty.IsEmpty());
}

void TestDataSet::errorTexts_data()
{
    QTest::addColumn<QString>("op");
    QTest::addColumn<QString>("message");
    QTest::newRow("delete empty") << "delete" << "Mem1: Cannot perform this operation on an empty dataset";
    QTest::newRow("missing field") << "field" << "Mem1: Field 'nope' not found";
    QTest::newRow("write in browse") << "write" << "Mem1: Dataset not in edit or insert mode";
    QTest::newRow("post in browse") << "post" << "Mem1: Dataset not in edit or insert mode";
    QTest::newRow("closed") << "closed" << "Mem1: Cannot perform this operation on a closed dataset";
    QTest::newRow("field index") << "index" << "List index out of bounds (7)";
    QTest::newRow("bad integer") << "int" << "'x1' is not a valid integer value for field 'id'";
}

void TestDataSet::errorTexts()
{
    QFETCH(QString, op);
    QFETCH(QString, message);
    MemDataSet ds(twoFields(), op == "delete" ? QList<QVariantList>{} : threeRows());
    if (op != "closed")
        ds.Open();
    try {
        if (op == "delete")
            ds.Delete();
        else if (op == "field")
            ds.FieldByName("nope");
        else if (op == "write")
            ds.Fields(1)->SetAsString("z");
        else if (op == "post")
            ds.Post();
        else if (op == "closed")
            ds.Next();
        else if (op == "index")
            ds.Fields(7);
        else if (op == "int") {
            ds.Edit();
            ds.Fields(0)->SetAsString("x1");
        }
        QFAIL("no exception");
    } catch (const Exception &e) {
        QCOMPARE(e.message(), message);
    }
}

void TestDataSet::ansiFieldCutOnCharacterBoundary_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("stored");
    QTest::newRow("fits") << QString::fromUtf8("中文") << QString::fromUtf8("中文");
    QTest::newRow("cut before a double-byte char") << QString::fromUtf8("中文字") << QString::fromUtf8("中文");
    QTest::newRow("odd width") << QString::fromUtf8("a中文字") << QString::fromUtf8("a中文");
    QTest::newRow("ascii") << "abcdefg" << "abcde";
}

void TestDataSet::ansiFieldCutOnCharacterBoundary()
{
    QFETCH(QString, input);
    QFETCH(QString, stored);
    TFieldDefs d;
    d.Add("s", ftString, 5);
    d.Add("w", ftWideString, 5);
    MemDataSet ds(d, {});
    ds.Open();
    ds.Insert();
    ds.Fields(0)->SetAsString(input);
    ds.Fields(1)->SetAsString(input + input);
    ds.Post();
    QCOMPARE(ds.Fields(0)->AsString(), stored);
    QCOMPARE(ds.Fields(1)->AsString(), (input + input).left(5));
}

void TestDataSet::exactValuesStored()
{
    TFieldDefs d;
    d.Add("amount", ftFMTBcd, 4);
    d.Add("day", ftDate);
    d.Add("at", ftDateTime);
    d.Add("memo", ftMemo);
    d.Add("n", ftLargeint);
    const auto dec = *Decimal::fromString(u"-12345678901234.5678");
    const QString memo = QString(100000, QChar(0x4E2D)); // 200 kB of Big5
    MemDataSet ds(d, {{QVariant::fromValue(dec), QDate(1899, 12, 30), QDateTime(QDate(1850, 1, 2), QTime(3, 4, 5, 678), Qt::UTC),
                       memo, Q_INT64_C(-9007199254740993)}});
    ds.Open();
    QCOMPARE(ds.Fields(0)->Value().value<Decimal>(), dec);
    QCOMPARE(ds.Fields(0)->AsString(), QString("-12345678901234.5678"));
    QCOMPARE(ds.Fields(1)->Value().toDate(), QDate(1899, 12, 30));
    QCOMPARE(ds.Fields(2)->Value().toDateTime(), QDateTime(QDate(1850, 1, 2), QTime(3, 4, 5, 678), Qt::UTC));
    QCOMPARE(ds.Fields(3)->AsString(), memo);
    QCOMPARE(ds.Fields(4)->Value().toLongLong(), Q_INT64_C(-9007199254740993));
    ds.Edit();
    ds.Fields(1)->Clear();
    ds.Post();
    QVERIFY(ds.Fields(1)->IsNull());
    QCOMPARE(ds.Fields(0)->Value().value<Decimal>(), dec); // other values survive a rewrite
}

void TestDataSet::linksAreTold()
{
    MemDataSet ds(twoFields(), threeRows());
    TDataSource src;
    src.SetDataSet(&ds);
    RecordingLink link;
    link.SetDataSource(&src);
    ds.Open();
    QCOMPARE(link.log, QStringList{"active:1"});
    link.log.clear();
    ds.Next(); // a scroll is reported as a data-set change
    QCOMPARE(link.log, QStringList{"changed"});
    link.log.clear();
    ds.Edit();
    ds.Fields(1)->SetAsString("q");
    QCOMPARE(link.log, (QStringList{"editing:1", "record", "field:name"}));
    link.log.clear();
    ds.Post();
    QCOMPARE(link.log, (QStringList{"editing:0", "changed"}));

    // A link painting another row reads that row; putting it back follows the cursor again.
    link.SetActiveRecord(0);
    QCOMPARE(ds.Fields(1)->AsString(), QString("a"));
    link.SetActiveRecord(1);
    ds.Next();
    QCOMPARE(ds.Fields(1)->AsString(), QString("c"));

    link.log.clear();
    ds.Close();
    QCOMPARE(link.log, QStringList{"active:0"});
}

void TestDataSet::newRecordValuesAreNotModifications()
{
    MemDataSet ds(twoFields(), threeRows());
    ds.OnNewRecord = [](TDataSet *d) { d->FieldByName("id")->SetAsInteger(99); };
    ds.Open();
    ds.Append();
    QCOMPARE(ds.FieldByName("id")->AsInteger(), 99);
    QVERIFY(!ds.Modified());
    ds.First(); // untouched: dropped although OnNewRecord filled it
    QCOMPARE(ds.RecordCount(), 3);
}

QTEST_GUILESS_MAIN(TestDataSet)
#include "tst_dataset.moc"
