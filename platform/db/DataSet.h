#pragma once
// Datasets, fields, data sources and data links: the data-access layer every window and
// control stands on. Names and behaviour follow the class library the program was
// designed on: states, the order of before/after events, settle-on-move, error texts.
//
// Events are object-bound callbacks (std::function); a handler passes results back
// through reference parameters where an event has any.

#include "platform/db/DbErrors.h"
#include "platform/db/FieldType.h"
#include "platform/db/RecordStore.h"

#include <QObject>
#include <QPointer>
#include <QVariant>

#include <functional>
#include <memory>
#include <vector>

namespace rpt {

class TDataSet;
class TDataSource;
class TDataLink;
class TField;

// A named component owned by a form (or nothing). The designer name is the QObject's
// objectName; free notification is QObject::destroyed / QPointer.
class TComponent : public QObject {
    Q_OBJECT
public:
    explicit TComponent(QObject *owner = nullptr, const QString &name = QString());
    QString Name() const { return objectName(); }
    void SetName(const QString &n) { setObjectName(n); }
    QObject *Owner() const { return parent(); }
};

enum TDataSetState { dsInactive, dsBrowse, dsEdit, dsInsert };

enum TDataEvent {
    deFieldChange,
    deRecordChange,
    deDataSetChange,
    deDataSetScroll,
    deLayoutChange,
    deUpdateRecord,
    deUpdateState,
    deCheckBrowseMode,
};

enum TAlignment { taLeftJustify, taRightJustify, taCenter };

using TDataSetNotifyEvent = std::function<void(TDataSet *)>;
using TFieldNotifyEvent = std::function<void(TField *)>;

// ---------------------------------------------------------------------------------------
class TField : public QObject {
    Q_OBJECT
public:
    TField(TDataSet *dataSet, const TFieldDef &def, int index);

    TDataSet *DataSet() const { return m_dataSet; }
    QString FieldName() const { return m_def.Name; }
    TFieldType DataType() const { return m_def.DataType; }
    int Size() const { return m_def.Size; }
    int Precision() const { return m_def.Precision; }
    int Index() const { return m_index; }
    const TFieldDef &Def() const { return m_def; }

    QString DisplayLabel() const { return m_displayLabel.isEmpty() ? m_def.Name : m_displayLabel; }
    void SetDisplayLabel(const QString &s);
    // Characters a grid column shows by default (the field's size for strings).
    int DisplayWidth() const;
    void SetDisplayWidth(int w);
    bool Visible() const { return m_visible; }
    void SetVisible(bool v);
    bool ReadOnly() const { return m_readOnly; }
    void SetReadOnly(bool v) { m_readOnly = v; }
    bool Required() const { return m_def.Required; }
    TAlignment Alignment() const;
    bool CanModify() const;

    // Value of the dataset's active record (the current one, or the one a data link
    // points at while it paints).
    QVariant Value() const;
    void SetValue(const QVariant &v);
    bool IsNull() const;
    void Clear() { SetValue(QVariant()); }

    QString AsString() const;
    void SetAsString(const QString &s);
    int AsInteger() const;            // EConvertError "'x' is not a valid integer value"
    void SetAsInteger(int v) { SetValue(v); }
    double AsFloat() const;
    void SetAsFloat(double v) { SetValue(v); }
    bool AsBoolean() const;
    QDateTime AsDateTime() const;
    // What a grid shows; what an editor starts from.
    QString DisplayText() const;
    QString Text() const { return AsString(); }
    void SetText(const QString &s) { SetAsString(s); }

    TFieldNotifyEvent OnChange;

private:
    TDataSet *m_dataSet;
    TFieldDef m_def;
    int m_index;
    QString m_displayLabel;
    int m_displayWidth = -1;
    bool m_visible = true;
    bool m_readOnly = false;
};

// Persistent ("declared") field: what a form declares for a dataset before it opens.
struct TFieldDecl {
    QString Name;
    TFieldType DataType = ftWideString;
    int Size = 0;
    QString DisplayLabel;
    int DisplayWidth = -1;
    bool Visible = true;
};

// ---------------------------------------------------------------------------------------
class TParam {
public:
    TParam() = default;
    TParam(const QString &name, TFieldType type = ftWideString, int size = 0)
        : Name(name), DataType(type), Size(size) {}
    QString Name;
    TFieldType DataType = ftWideString;
    int Size = 0;
    bool Nullable = true;
    QVariant Value;

    QString AsString() const { return valueToText(Value, DataType); }
    void SetAsString(const QString &s) { DataType = isStringType(DataType) ? DataType : ftString; Value = s; }
    bool IsNull() const { return !Value.isValid() || Value.isNull(); }
    void Clear() { Value = QVariant(); }
};

class TParams {
public:
    explicit TParams(QObject *owner = nullptr) : m_owner(owner) {}
    int Count() const { return int(m_items.size()); }
    TParam &Items(int i) { return m_items[size_t(i)]; }
    const TParam &Items(int i) const { return m_items[size_t(i)]; }
    TParam *FindParam(const QString &name);          // case-insensitive
    TParam &ParamByName(const QString &name);        // "<owner>: Parameter 'x' not found"
    TParam &CreateParam(const QString &name, TFieldType type = ftWideString, int size = 0);
    void Clear() { m_items.clear(); }
    // Rebuilds the list from the markers of a command text, keeping values of names that stay.
    void ParseSQL(const QString &sql);
    QList<QVariant> valuesInOrder(const QStringList &names) const;
    QObject *owner() const { return m_owner; }
    void setOwner(QObject *o) { m_owner = o; }

private:
    QObject *m_owner;
    std::vector<TParam> m_items;
};

// ---------------------------------------------------------------------------------------
class TDataSet : public TComponent {
    Q_OBJECT
public:
    explicit TDataSet(QObject *owner = nullptr, const QString &name = QString());
    ~TDataSet() override;

    // --- state
    bool Active() const { return m_state != dsInactive; }
    void SetActive(bool a);
    TDataSetState State() const { return m_state; }
    bool BOF() const { return m_bof; }
    bool Eof() const { return m_eof; }
    bool EOF_() const { return m_eof; }
    int RecNo() const;           // 1-based; -1 when closed or empty
    void SetRecNo(int recNo);    // moves (with scroll events) to that record
    int RecordCount() const;     // rows held (an inserted, unposted row included)
    bool IsEmpty() const;
    virtual bool CanModify() const;
    bool Modified() const { return m_modified; }
    bool ReadOnly() const { return m_readOnly; }
    void SetReadOnly(bool r) { m_readOnly = r; }

    // --- operations
    void Open();
    void Close();
    void First();
    void Last();
    void Next() { MoveBy(1); }
    void Prior() { MoveBy(-1); }
    int MoveBy(int distance);
    void Insert();
    void Append();
    void Edit();
    void Post();
    void Cancel();
    void Delete();
    void Refresh();
    void CheckBrowseMode();
    void UpdateRecord();   // links push pending control text into fields
    void DisableControls();
    void EnableControls();
    bool ControlsDisabled() const { return m_disableCount > 0; }

    // --- fields
    int FieldCount() const { return int(m_fields.size()); }
    TField *Fields(int i) const;   // EListError "List index out of bounds (i)"
    TField *FindField(const QString &name) const;
    TField *FieldByName(const QString &name) const; // "<name>: Field 'x' not found"
    const TFieldDefs &FieldDefs() const { return m_fieldDefs; }
    TFieldDefs &FieldDefsRef() { return m_fieldDefs; }
    // Declared fields: opening fails when a declared column is missing; other columns
    // of the result are then ignored.
    void DeclareFields(const QList<TFieldDecl> &decls);
    const QList<TFieldDecl> &DeclaredFields() const { return m_declared; }
    const RecordLayout &Layout() const { return m_layout; }

    // --- row access for views (grids, writers); row is 0-based.
    QVariant RowValue(int row, int field) const;
    bool RowIsNull(int row, int field) const;
    int CurrentRow() const { return m_cur; }   // 0-based, -1 when empty
    // While >= 0, fields read this row instead of the current one (a grid painting rows).
    int ActiveRowOverride() const { return m_activeOverride; }
    void SetActiveRowOverride(int row) { m_activeOverride = row; }

    // --- events
    TDataSetNotifyEvent BeforeOpen, AfterOpen, BeforeClose, AfterClose;
    TDataSetNotifyEvent BeforeInsert, AfterInsert, BeforeEdit, AfterEdit;
    TDataSetNotifyEvent BeforePost, AfterPost, BeforeCancel, AfterCancel;
    TDataSetNotifyEvent BeforeDelete, AfterDelete, BeforeScroll, AfterScroll;
    TDataSetNotifyEvent BeforeRefresh, AfterRefresh, OnNewRecord;

    // --- used by fields and links
    QVariant FieldValue(int field) const;
    void SetFieldValue(TField *field, const QVariant &v);
    void DataEvent(TDataEvent event, TField *field = nullptr, int info = 0);
    void RegisterDataSource(TDataSource *ds);
    void UnregisterDataSource(TDataSource *ds);

    QString ErrorPrefixName() const { return Name(); }
    [[noreturn]] void Error(const QString &message) const { DatabaseError(message, Name()); }

    // Rows held, for subclasses that fill or inspect them.
    const std::vector<QByteArray> &Rows() const { return m_rows; }

protected:
    // Subclass hooks. InternalOpen fills field defs (FieldDefsRef) and rows (SetRows /
    // AppendRow) after the base cleared them.
    virtual void InternalOpen() = 0;
    virtual void InternalClose() {}
    // Called before the base stores a posted record into its rows. `row` is the 0-based
    // position; `inserted` tells an insert from an edit; `before` holds the values before
    // the edit (blank for inserts). Throwing keeps the dataset in its edit state.
    virtual void InternalPost(int row, bool inserted, const QByteArray &before, const QByteArray &after);
    // Called before the base removes a row. Throwing keeps the row.
    virtual void InternalDelete(int row, const QByteArray &values);
    virtual void InternalRefresh();

    // Change tracking for datasets that write in batches: a status and the original
    // values per row, kept in step with the rows, and the originals of deleted rows.
    enum TRowStatus : quint8 { rsUnchanged, rsModified, rsInserted };
    struct TRowMeta {
        TRowStatus status = rsUnchanged;
        QByteArray original;
    };
    void SetTrackChanges(bool on) { m_trackChanges = on; }
    bool TrackChanges() const { return m_trackChanges; }
    std::vector<TRowMeta> &RowMeta() { return m_meta; }
    std::vector<QByteArray> &DeletedRows() { return m_deleted; }
    bool HasPendingChanges() const;
    void ClearPendingChanges();

    // Rows may be views into an arena, which the dataset then keeps until it closes.
    void SetRows(std::vector<QByteArray> rows, std::shared_ptr<RowArena> arena = {});
    void AppendRow(QByteArray row) { m_rows.push_back(std::move(row)); }
    std::vector<QByteArray> &RowsRef() { return m_rows; }
    void BindFields(); // builds TField objects (declared or from defs) and the layout
    void ClearFields();
    void CheckActive() const;
    void CheckEditing() const;
    const QByteArray &ActiveBuffer() const;
    void SetState(TDataSetState s);
    void Resync();
    void fire(const TDataSetNotifyEvent &e) { if (e) e(this); }

    std::vector<QByteArray> m_rows;

private:
    bool m_trackChanges = false;
    std::shared_ptr<RowArena> m_arena;
    std::vector<TRowMeta> m_meta;
    std::vector<QByteArray> m_deleted;

    void DoInsertAppend(bool append);
    void NotifyLinks(TDataEvent event, TField *field, int info);
    int MapField(int field) const;

    TDataSetState m_state = dsInactive;
    bool m_bof = true;
    bool m_eof = true;
    bool m_modified = false;
    bool m_readOnly = false;
    int m_cur = -1;             // current row (0-based), -1 when empty
    int m_activeOverride = -1;
    QByteArray m_editBuffer;    // the record being edited or inserted
    QByteArray m_beforeEdit;    // its values when the edit started
    int m_insertedAt = -1;      // row of an unposted insert
    int m_rowBeforeInsert = -1; // where Cancel returns to
    int m_disableCount = 0;
    bool m_pendingStateNotify = false;
    TDataSetState m_stateAtDisable = dsInactive;

    TFieldDefs m_fieldDefs;
    RecordLayout m_layout;
    QList<TFieldDecl> m_declared;
    std::vector<TField *> m_fields;
    QList<QPointer<TDataSource>> m_sources;
};

// ---------------------------------------------------------------------------------------
class TDataSource : public TComponent {
    Q_OBJECT
public:
    explicit TDataSource(QObject *owner = nullptr, const QString &name = QString());
    ~TDataSource() override;

    TDataSet *DataSet() const { return m_dataSet; }
    void SetDataSet(TDataSet *ds);
    TDataSetState State() const;
    bool AutoEdit() const { return m_autoEdit; }
    void SetAutoEdit(bool a) { m_autoEdit = a; }
    bool Enabled() const { return m_enabled; }
    void SetEnabled(bool e);
    void Edit();   // asks the dataset to edit when AutoEdit and browsing

    std::function<void(TDataSource *)> OnStateChange;
    std::function<void(TDataSource *, TField *)> OnDataChange;
    std::function<void(TDataSource *)> OnUpdateData;

    // Called by the dataset.
    void ProcessEvent(TDataEvent event, TField *field, int info);
    void AddLink(TDataLink *l);
    void RemoveLink(TDataLink *l);
    const QList<TDataLink *> &Links() const { return m_links; }

private:
    QPointer<TDataSet> m_dataSet;
    QList<TDataLink *> m_links;
    bool m_autoEdit = true;
    bool m_enabled = true;
    TDataSetState m_lastState = dsInactive;
};

// ---------------------------------------------------------------------------------------
// A control's connection to a data source. Subclasses override the notifications.
// ActiveRecord is the row (0-based, absolute) whose values fields read; a control may
// set it temporarily to read another row (painting) and must put it back.
class TDataLink {
public:
    TDataLink();
    virtual ~TDataLink();

    TDataSource *DataSource() const { return m_dataSource; }
    void SetDataSource(TDataSource *ds);
    TDataSet *DataSet() const;
    bool Active() const { return m_active; }
    bool Editing() const { return m_editing; }
    bool ReadOnly() const { return m_readOnly; }
    void SetReadOnly(bool r);
    int ActiveRecord() const;
    void SetActiveRecord(int row);
    int RecordCount() const;
    bool BOF() const;
    bool Eof() const;
    bool Edit();          // asks the data source to edit; returns Editing
    void UpdateRecord();  // pushes the control's pending text (UpdateData)

    // Notifications (defaults as the class library has them).
    virtual void ActiveChanged() {}
    virtual void EditingChanged() {}
    virtual void DataSetChanged() { RecordChanged(nullptr); }
    virtual void DataSetScrolled(int distance) { DataSetChanged(); }
    virtual void LayoutChanged() { DataSetChanged(); }
    virtual void RecordChanged(TField *field) {}
    virtual void UpdateData() {}
    virtual void CheckBrowseMode() {}
    virtual void FocusControl(TField *field) {}

    // Called by the data source.
    void DataEvent(TDataEvent event, TField *field, int info);
    void DataSourceGone();

private:
    void UpdateState();
    QPointer<TDataSource> m_dataSource;
    bool m_active = false;
    bool m_editing = false;
    bool m_readOnly = false;
    bool m_updating = false;
};

} // namespace rpt
