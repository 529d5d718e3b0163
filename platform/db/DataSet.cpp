#include "platform/db/DataSet.h"

#include "platform/text/SqlParams.h"

#include <QDateTime>

namespace rpt {

TComponent::TComponent(QObject *owner, const QString &name) : QObject(owner)
{
    setObjectName(name);
}

// =======================================================================================
// TField

TField::TField(TDataSet *dataSet, const TFieldDef &def, int index)
    : QObject(dataSet), m_dataSet(dataSet), m_def(def), m_index(index)
{
    setObjectName(def.Name);
    m_readOnly = def.ReadOnly;
}

void TField::SetDisplayLabel(const QString &s)
{
    m_displayLabel = s;
    if (m_dataSet && m_dataSet->Active())
        m_dataSet->DataEvent(deLayoutChange);
}

int TField::DisplayWidth() const
{
    if (m_displayWidth >= 0)
        return m_displayWidth;
    switch (m_def.DataType) {
    case ftString:
    case ftFixedChar:
    case ftWideString:
        return m_def.Size > 0 ? m_def.Size : 20;
    case ftSmallint: return 6;
    case ftInteger:
    case ftAutoInc:
    case ftWord: return 11;
    case ftLargeint: return 15;
    case ftBoolean: return 5;
    case ftFloat:
    case ftCurrency: return 10;
    case ftBCD:
    case ftFMTBcd: return m_def.Precision > 0 ? m_def.Precision + 2 : 15;
    case ftDate: return 10;
    case ftTime: return 8;
    case ftDateTime:
    case ftTimeStamp: return 19;
    default: return 10;
    }
}

void TField::SetDisplayWidth(int w)
{
    m_displayWidth = w;
    if (m_dataSet && m_dataSet->Active())
        m_dataSet->DataEvent(deLayoutChange);
}

void TField::SetVisible(bool v)
{
    m_visible = v;
    if (m_dataSet && m_dataSet->Active())
        m_dataSet->DataEvent(deLayoutChange);
}

TAlignment TField::Alignment() const
{
    const TFieldType t = m_def.DataType;
    if (isIntegerType(t) || isDecimalType(t) || t == ftFloat || t == ftCurrency)
        return taRightJustify;
    return taLeftJustify;
}

bool TField::CanModify() const
{
    return !m_readOnly && m_dataSet && m_dataSet->CanModify();
}

QVariant TField::Value() const
{
    return m_dataSet->FieldValue(m_index);
}

void TField::SetValue(const QVariant &v)
{
    m_dataSet->SetFieldValue(this, v);
}

bool TField::IsNull() const
{
    const QVariant v = Value();
    return !v.isValid() || v.isNull();
}

QString TField::AsString() const
{
    return valueToText(Value(), m_def.DataType);
}

void TField::SetAsString(const QString &s)
{
    if (isStringType(m_def.DataType) || isMemoType(m_def.DataType)) {
        SetValue(s);
        return;
    }
    if (s.isEmpty()) {
        SetValue(QVariant());
        return;
    }
    bool ok = true;
    const QVariant v = coerceValue(s, m_def.DataType, &ok);
    if (!ok) {
        QString kind = QStringLiteral("value");
        if (isIntegerType(m_def.DataType))
            throw EConvertError(QStringLiteral("'%1' is not a valid integer value for field '%2'").arg(s, m_def.Name));
        if (m_def.DataType == ftFloat || m_def.DataType == ftCurrency || isDecimalType(m_def.DataType))
            throw EConvertError(QStringLiteral("'%1' is not a valid floating point value for field '%2'").arg(s, m_def.Name));
        throw EConvertError(QStringLiteral("'%1' is not a valid %2 for field '%3'").arg(s, kind, m_def.Name));
    }
    SetValue(v);
}

int TField::AsInteger() const
{
    const QVariant v = Value();
    if (!v.isValid() || v.isNull())
        return 0;
    bool ok = false;
    const QVariant c = coerceValue(v, ftInteger, &ok);
    if (!ok)
        throw EConvertError(QString::fromLatin1(msg::InvalidInteger).arg(valueToText(v, m_def.DataType)));
    return c.toInt();
}

double TField::AsFloat() const
{
    const QVariant v = Value();
    if (!v.isValid() || v.isNull())
        return 0;
    bool ok = false;
    const QVariant c = coerceValue(v, ftFloat, &ok);
    if (!ok)
        throw EConvertError(QStringLiteral("'%1' is not a valid floating point value").arg(valueToText(v, m_def.DataType)));
    return c.toDouble();
}

bool TField::AsBoolean() const
{
    const QVariant v = Value();
    if (!v.isValid() || v.isNull())
        return false;
    bool ok = false;
    const QVariant c = coerceValue(v, ftBoolean, &ok);
    if (!ok)
        throw EConvertError(QStringLiteral("'%1' is not a valid boolean value").arg(valueToText(v, m_def.DataType)));
    return c.toBool();
}

QDateTime TField::AsDateTime() const
{
    const QVariant v = Value();
    if (!v.isValid() || v.isNull())
        return QDateTime();
    bool ok = false;
    const QVariant c = coerceValue(v, ftDateTime, &ok);
    if (!ok)
        throw EConvertError(QStringLiteral("'%1' is not a valid date and time").arg(valueToText(v, m_def.DataType)));
    return c.toDateTime();
}

QString TField::DisplayText() const
{
    return AsString();
}

// =======================================================================================
// TParams

TParam *TParams::FindParam(const QString &name)
{
    for (TParam &p : m_items)
        if (p.Name.compare(name, Qt::CaseInsensitive) == 0)
            return &p;
    return nullptr;
}

TParam &TParams::ParamByName(const QString &name)
{
    if (TParam *p = FindParam(name))
        return *p;
    DatabaseError(QString::fromLatin1(msg::ParameterNotFound).arg(name), m_owner ? m_owner->objectName() : QString());
}

TParam &TParams::CreateParam(const QString &name, TFieldType type, int size)
{
    m_items.emplace_back(name, type, size);
    return m_items.back();
}

QList<QVariant> TParams::valuesInOrder(const QStringList &names) const
{
    QList<QVariant> out;
    out.reserve(names.size());
    for (const QString &n : names) {
        QVariant v;
        for (const TParam &p : m_items)
            if (p.Name.compare(n, Qt::CaseInsensitive) == 0) {
                v = p.Value;
                break;
            }
        out.append(v);
    }
    return out;
}

// =======================================================================================
// TDataSet

TDataSet::TDataSet(QObject *owner, const QString &name) : TComponent(owner, name) {}

TDataSet::~TDataSet()
{
    // Links must not call back into a half-destroyed dataset.
    for (const auto &ds : m_sources)
        if (ds && ds->DataSet() == this)
            ds->SetDataSet(nullptr);
}

void TDataSet::SetActive(bool a)
{
    if (a)
        Open();
    else
        Close();
}

int TDataSet::RecNo() const
{
    if (!Active() || m_cur < 0)
        return -1;
    return m_cur + 1;
}

void TDataSet::SetRecNo(int recNo)
{
    CheckBrowseMode();
    const int target = recNo - 1;
    if (target < 0 || target >= int(m_rows.size()) || target == m_cur)
        return;
    // A direct jump clears both end flags before moving.
    m_bof = m_eof = false;
    MoveBy(target - m_cur);
}

int TDataSet::RecordCount() const
{
    return Active() ? int(m_rows.size()) : -1;
}

bool TDataSet::IsEmpty() const
{
    return !Active() || (m_rows.empty() && m_state != dsInsert);
}

bool TDataSet::CanModify() const
{
    return Active() && !m_readOnly;
}

void TDataSet::CheckActive() const
{
    if (!Active())
        Error(QString::fromLatin1(msg::DataSetClosed));
}

void TDataSet::CheckEditing() const
{
    if (m_state != dsEdit && m_state != dsInsert)
        Error(QString::fromLatin1(msg::NotEditing));
}

void TDataSet::SetState(TDataSetState s)
{
    if (m_state == s)
        return;
    m_state = s;
    if (s == dsBrowse || s == dsInactive)
        m_modified = false;
    DataEvent(deUpdateState);
}

void TDataSet::Resync()
{
    m_bof = m_rows.empty();
    m_eof = m_rows.empty();
    if (m_cur >= int(m_rows.size()))
        m_cur = int(m_rows.size()) - 1;
    if (m_cur < 0 && !m_rows.empty())
        m_cur = 0;
}

void TDataSet::Open()
{
    if (Active())
        return;
    fire(BeforeOpen);
    m_rows.clear();
    try {
        InternalOpen();
        BindFields();
    } catch (...) {
        m_rows.clear();
        ClearFields();
        throw;
    }
    m_cur = m_rows.empty() ? -1 : 0;
    m_bof = true;
    m_eof = m_rows.empty();
    m_modified = false;
    m_activeOverride = -1;
    ClearPendingChanges();
    SetState(dsBrowse);
    fire(AfterOpen);
    if (!m_rows.empty())
        fire(AfterScroll);
}

void TDataSet::Close()
{
    if (!Active())
        return;
    fire(BeforeClose);
    // Unposted edits are dropped without Cancel events, as the platform does.
    m_editBuffer.clear();
    m_insertedAt = -1;
    SetState(dsInactive);
    InternalClose();
    m_rows.clear();
    m_rows.shrink_to_fit();
    m_arena.reset();
    ClearPendingChanges(); // closing drops what was not written
    m_cur = -1;
    m_bof = m_eof = true;
    m_activeOverride = -1;
    ClearFields();
    m_modified = false;
    fire(AfterClose);
}

void TDataSet::ClearFields()
{
    for (TField *f : m_fields)
        delete f;
    m_fields.clear();
}

void TDataSet::BindFields()
{
    ClearFields();
    m_layout.build(m_fieldDefs);
    for (int i = 0; i < m_fieldDefs.size(); ++i) {
        auto *f = new TField(this, m_fieldDefs[i], i);
        for (const TFieldDecl &d : m_declared) {
            if (d.Name.compare(m_fieldDefs[i].Name, Qt::CaseInsensitive) != 0)
                continue;
            if (!d.DisplayLabel.isEmpty())
                f->SetDisplayLabel(d.DisplayLabel);
            if (d.DisplayWidth >= 0)
                f->SetDisplayWidth(d.DisplayWidth);
            f->SetVisible(d.Visible);
        }
        m_fields.push_back(f);
    }
}

void TDataSet::DeclareFields(const QList<TFieldDecl> &decls)
{
    if (Active())
        Error(QString::fromLatin1(msg::DataSetOpen));
    m_declared = decls;
}

TField *TDataSet::Fields(int i) const
{
    if (i < 0 || i >= int(m_fields.size()))
        throw EListError(QString::fromLatin1(msg::ListIndexError).arg(i));
    return m_fields[size_t(i)];
}

TField *TDataSet::FindField(const QString &name) const
{
    for (TField *f : m_fields)
        if (f->FieldName().compare(name, Qt::CaseInsensitive) == 0)
            return f;
    return nullptr;
}

TField *TDataSet::FieldByName(const QString &name) const
{
    if (TField *f = FindField(name))
        return f;
    Error(QString::fromLatin1(msg::FieldNotFound).arg(name));
}

const QByteArray &TDataSet::ActiveBuffer() const
{
    static const QByteArray empty;
    const bool editing = m_state == dsEdit || m_state == dsInsert;
    int row = m_activeOverride >= 0 ? m_activeOverride : m_cur;
    if (editing && row == m_cur)
        return m_editBuffer;
    if (row < 0 || row >= int(m_rows.size()))
        return empty;
    return m_rows[size_t(row)];
}

QVariant TDataSet::FieldValue(int field) const
{
    const QByteArray &rec = ActiveBuffer();
    if (rec.isEmpty())
        return QVariant();
    return m_layout.get(rec, field);
}

QVariant TDataSet::RowValue(int row, int field) const
{
    if ((m_state == dsEdit || m_state == dsInsert) && row == m_cur)
        return m_layout.get(m_editBuffer, field);
    if (row < 0 || row >= int(m_rows.size()))
        return QVariant();
    return m_layout.get(m_rows[size_t(row)], field);
}

bool TDataSet::RowIsNull(int row, int field) const
{
    if ((m_state == dsEdit || m_state == dsInsert) && row == m_cur)
        return m_layout.isNull(m_editBuffer, field);
    if (row < 0 || row >= int(m_rows.size()))
        return true;
    return m_layout.isNull(m_rows[size_t(row)], field);
}

void TDataSet::SetFieldValue(TField *field, const QVariant &v)
{
    CheckEditing();
    if (field->ReadOnly())
        Error(QString::fromLatin1(msg::FieldReadOnly).arg(field->FieldName()));
    QByteArray rec = m_editBuffer;
    if (!m_layout.set(rec, field->Index(), v)) {
        const QString text = valueToText(v, ftUnknown);
        if (isIntegerType(field->DataType()))
            throw EConvertError(QStringLiteral("'%1' is not a valid integer value for field '%2'").arg(text, field->FieldName()));
        throw EConvertError(QStringLiteral("'%1' is not a valid value for field '%2'").arg(text, field->FieldName()));
    }
    m_editBuffer = rec;
    m_modified = true;
    DataEvent(deFieldChange, field);
    if (field->OnChange)
        field->OnChange(field);
}

void TDataSet::CheckBrowseMode()
{
    CheckActive();
    DataEvent(deCheckBrowseMode);
    if (m_state == dsEdit || m_state == dsInsert) {
        UpdateRecord();
        if (m_modified)
            Post();
        else
            Cancel();
    }
}

void TDataSet::UpdateRecord()
{
    CheckEditing();
    DataEvent(deUpdateRecord);
}

void TDataSet::First()
{
    CheckBrowseMode();
    fire(BeforeScroll);
    m_cur = m_rows.empty() ? -1 : 0;
    m_bof = true;
    m_eof = m_rows.empty();
    DataEvent(deDataSetChange);
    fire(AfterScroll);
}

void TDataSet::Last()
{
    CheckBrowseMode();
    fire(BeforeScroll);
    m_cur = int(m_rows.size()) - 1;
    m_eof = true;
    m_bof = m_rows.empty();
    DataEvent(deDataSetChange);
    fire(AfterScroll);
}

int TDataSet::MoveBy(int distance)
{
    CheckBrowseMode();
    if (distance == 0)
        return 0;
    fire(BeforeScroll);
    if ((distance > 0 && m_eof) || (distance < 0 && m_bof))
        return 0;
    const int last = int(m_rows.size()) - 1;
    int target = m_cur + distance;
    int moved;
    if (distance > 0) {
        if (target > last) {
            target = last;
            m_eof = true;
        }
        moved = target - m_cur;
        if (moved > 0)
            m_bof = false;
    } else {
        if (target < 0) {
            target = 0;
            m_bof = true;
        }
        moved = target - m_cur;
        if (moved < 0)
            m_eof = false;
    }
    m_cur = target;
    DataEvent(deDataSetScroll, nullptr, moved);
    fire(AfterScroll);
    return moved;
}

void TDataSet::DoInsertAppend(bool append)
{
    CheckBrowseMode();
    if (!CanModify())
        Error(QString::fromLatin1(msg::DataSetReadOnly));
    fire(BeforeInsert);
    fire(BeforeScroll);
    const int pos = (append || m_rows.empty()) ? int(m_rows.size()) : std::max(m_cur, 0);
    m_rowBeforeInsert = m_cur;
    const QByteArray blank = m_layout.blank();
    m_rows.insert(m_rows.begin() + pos, blank);
    if (m_trackChanges)
        m_meta.insert(m_meta.begin() + pos, TRowMeta{rsInserted, QByteArray()});
    m_cur = pos;
    m_insertedAt = pos;
    m_editBuffer = blank;
    m_beforeEdit = blank;
    SetState(dsInsert);
    try {
        fire(OnNewRecord);
    } catch (...) {
        m_rows.erase(m_rows.begin() + pos);
        if (m_trackChanges)
            m_meta.erase(m_meta.begin() + pos);
        m_insertedAt = -1;
        m_cur = std::min(m_rowBeforeInsert, int(m_rows.size()) - 1);
        m_editBuffer.clear();
        SetState(dsBrowse);
        Resync();
        DataEvent(deDataSetChange);
        throw;
    }
    m_modified = false;
    if (append) {
        m_bof = false;
        m_eof = true;
    } else {
        m_bof = m_eof = false;
    }
    DataEvent(deDataSetChange);
    fire(AfterInsert);
    fire(AfterScroll);
}

void TDataSet::Insert()
{
    DoInsertAppend(false);
}

void TDataSet::Append()
{
    DoInsertAppend(true);
}

void TDataSet::Edit()
{
    if (m_state == dsEdit || m_state == dsInsert)
        return;
    CheckActive();
    if (m_rows.empty()) {
        Insert();
        return;
    }
    CheckBrowseMode();
    if (!CanModify())
        Error(QString::fromLatin1(msg::DataSetReadOnly));
    fire(BeforeEdit);
    m_editBuffer = m_rows[size_t(m_cur)];
    m_beforeEdit = m_editBuffer;
    SetState(dsEdit);
    DataEvent(deRecordChange);
    fire(AfterEdit);
}

void TDataSet::Post()
{
    CheckActive();
    UpdateRecord();
    DataEvent(deCheckBrowseMode);
    fire(BeforePost);
    CheckEditing(); // a BeforePost handler may have cancelled
    for (int i = 0; i < int(m_fields.size()); ++i)
        if (m_fields[size_t(i)]->Required() && m_layout.isNull(m_editBuffer, i))
            Error(QString::fromLatin1(msg::FieldRequired).arg(m_fields[size_t(i)]->FieldName()));
    const bool inserted = m_state == dsInsert;
    InternalPost(m_cur, inserted, m_beforeEdit, m_editBuffer);
    if (m_trackChanges && !inserted) {
        TRowMeta &meta = m_meta[size_t(m_cur)];
        if (meta.status == rsUnchanged) {
            meta.status = rsModified;
            meta.original = m_beforeEdit;
        }
    }
    m_rows[size_t(m_cur)] = m_editBuffer;
    m_editBuffer.clear();
    m_beforeEdit.clear();
    m_insertedAt = -1;
    SetState(dsBrowse);
    m_bof = m_eof = false;
    DataEvent(deDataSetChange);
    fire(AfterPost);
}

void TDataSet::Cancel()
{
    if (m_state != dsEdit && m_state != dsInsert)
        return;
    DataEvent(deCheckBrowseMode);
    fire(BeforeCancel);
    const bool wasInsert = m_state == dsInsert;
    if (wasInsert)
        fire(BeforeScroll);
    if (wasInsert && m_insertedAt >= 0 && m_insertedAt < int(m_rows.size())) {
        m_rows.erase(m_rows.begin() + m_insertedAt);
        if (m_trackChanges)
            m_meta.erase(m_meta.begin() + m_insertedAt);
        m_cur = std::min(m_insertedAt, int(m_rows.size()) - 1);
    }
    m_insertedAt = -1;
    m_editBuffer.clear();
    m_beforeEdit.clear();
    SetState(dsBrowse);
    Resync();
    if (!m_rows.empty())
        m_bof = m_eof = false;
    DataEvent(deDataSetChange);
    fire(AfterCancel);
    if (wasInsert)
        fire(AfterScroll);
}

void TDataSet::Delete()
{
    CheckActive();
    if (m_state == dsInsert) {
        Cancel();
        return;
    }
    if (m_rows.empty())
        Error(QString::fromLatin1(msg::DataSetEmpty));
    DataEvent(deCheckBrowseMode);
    fire(BeforeDelete);
    fire(BeforeScroll);
    if (m_rows.empty()) // a BeforeDelete handler may have emptied it
        Error(QString::fromLatin1(msg::DataSetEmpty));
    InternalDelete(m_cur, m_rows[size_t(m_cur)]);
    if (m_trackChanges) {
        TRowMeta &meta = m_meta[size_t(m_cur)];
        if (meta.status == rsModified)
            m_deleted.push_back(meta.original);
        else if (meta.status == rsUnchanged)
            m_deleted.push_back(m_rows[size_t(m_cur)]);
        m_meta.erase(m_meta.begin() + m_cur);
    }
    m_rows.erase(m_rows.begin() + m_cur);
    m_editBuffer.clear();
    m_insertedAt = -1;
    if (m_cur >= int(m_rows.size()))
        m_cur = int(m_rows.size()) - 1;
    SetState(dsBrowse);
    m_bof = m_eof = m_rows.empty();
    DataEvent(deDataSetChange);
    fire(AfterDelete);
    fire(AfterScroll);
}

void TDataSet::Refresh()
{
    CheckBrowseMode();
    fire(BeforeRefresh);
    InternalRefresh();
    Resync();
    DataEvent(deDataSetChange);
    fire(AfterRefresh);
}

void TDataSet::InternalPost(int, bool, const QByteArray &, const QByteArray &) {}
void TDataSet::InternalDelete(int, const QByteArray &) {}

void TDataSet::InternalRefresh()
{
    const int keep = m_cur;
    m_rows.clear();
    InternalOpen();
    m_layout.build(m_fieldDefs);
    ClearPendingChanges();
    m_cur = std::min(keep, int(m_rows.size()) - 1);
}

void TDataSet::SetRows(std::vector<QByteArray> rows, std::shared_ptr<RowArena> arena)
{
    m_rows = std::move(rows);
    m_arena = std::move(arena);
}

bool TDataSet::HasPendingChanges() const
{
    if (!m_deleted.empty())
        return true;
    for (const TRowMeta &m : m_meta)
        if (m.status != rsUnchanged)
            return true;
    return false;
}

void TDataSet::ClearPendingChanges()
{
    m_deleted.clear();
    m_meta.clear();
    if (m_trackChanges)
        m_meta.resize(m_rows.size());
}

void TDataSet::DisableControls()
{
    if (m_disableCount++ == 0) {
        m_stateAtDisable = m_state;
        m_pendingStateNotify = false;
    }
}

void TDataSet::EnableControls()
{
    if (m_disableCount == 0)
        return;
    if (--m_disableCount == 0) {
        if (m_state != m_stateAtDisable)
            NotifyLinks(deUpdateState, nullptr, 0);
        if (m_state != dsInactive)
            NotifyLinks(deDataSetChange, nullptr, 0);
    }
}

void TDataSet::DataEvent(TDataEvent event, TField *field, int info)
{
    if (m_disableCount > 0 && event != deUpdateRecord && event != deCheckBrowseMode)
        return;
    NotifyLinks(event, field, info);
}

void TDataSet::NotifyLinks(TDataEvent event, TField *field, int info)
{
    const auto sources = m_sources; // a handler may detach a source
    for (const auto &ds : sources)
        if (ds)
            ds->ProcessEvent(event, field, info);
}

void TDataSet::RegisterDataSource(TDataSource *ds)
{
    if (!m_sources.contains(ds))
        m_sources.append(ds);
}

void TDataSet::UnregisterDataSource(TDataSource *ds)
{
    m_sources.removeAll(ds);
}

// =======================================================================================
// TDataSource

TDataSource::TDataSource(QObject *owner, const QString &name) : TComponent(owner, name) {}

TDataSource::~TDataSource()
{
    if (m_dataSet)
        m_dataSet->UnregisterDataSource(this);
    const auto links = m_links;
    for (TDataLink *l : links)
        l->DataSourceGone();
}

void TDataSource::SetDataSet(TDataSet *ds)
{
    if (m_dataSet == ds)
        return;
    if (m_dataSet)
        m_dataSet->UnregisterDataSource(this);
    m_dataSet = ds;
    if (ds)
        ds->RegisterDataSource(this);
    ProcessEvent(deUpdateState, nullptr, 0);
    if (ds && ds->Active())
        ProcessEvent(deLayoutChange, nullptr, 0);
}

TDataSetState TDataSource::State() const
{
    return (m_dataSet && m_enabled) ? m_dataSet->State() : dsInactive;
}

void TDataSource::SetEnabled(bool e)
{
    m_enabled = e;
    ProcessEvent(deUpdateState, nullptr, 0);
}

void TDataSource::Edit()
{
    if (m_autoEdit && State() == dsBrowse)
        m_dataSet->Edit();
}

void TDataSource::ProcessEvent(TDataEvent event, TField *field, int info)
{
    if (event == deUpdateState) {
        const TDataSetState s = State();
        const bool leftInactive = m_lastState == dsInactive && s != dsInactive;
        const bool changed = s != m_lastState;
        m_lastState = s;
        const auto links = m_links;
        for (TDataLink *l : links)
            l->DataEvent(event, field, info);
        if (changed && OnStateChange)
            OnStateChange(this);
        if (leftInactive && OnDataChange)
            OnDataChange(this, nullptr);
        return;
    }
    if (!m_enabled && event != deUpdateRecord)
        return;
    const auto links = m_links;
    for (TDataLink *l : links)
        l->DataEvent(event, field, info);
    switch (event) {
    case deFieldChange:
        if (OnDataChange)
            OnDataChange(this, field);
        break;
    case deRecordChange:
    case deDataSetChange:
    case deDataSetScroll:
    case deLayoutChange:
        if (OnDataChange)
            OnDataChange(this, nullptr);
        break;
    case deUpdateRecord:
        if (OnUpdateData)
            OnUpdateData(this);
        break;
    default:
        break;
    }
}

void TDataSource::AddLink(TDataLink *l)
{
    if (!m_links.contains(l))
        m_links.append(l);
}

void TDataSource::RemoveLink(TDataLink *l)
{
    m_links.removeAll(l);
}

// =======================================================================================
// TDataLink

TDataLink::TDataLink() = default;

TDataLink::~TDataLink()
{
    if (m_dataSource)
        m_dataSource->RemoveLink(this);
}

void TDataLink::SetDataSource(TDataSource *ds)
{
    if (m_dataSource == ds)
        return;
    if (m_dataSource)
        m_dataSource->RemoveLink(this);
    m_dataSource = ds;
    if (ds)
        ds->AddLink(this);
    UpdateState();
    if (m_active)
        LayoutChanged();
}

TDataSet *TDataLink::DataSet() const
{
    return m_dataSource ? m_dataSource->DataSet() : nullptr;
}

void TDataLink::DataSourceGone()
{
    m_dataSource = nullptr;
    UpdateState();
}

void TDataLink::SetReadOnly(bool r)
{
    m_readOnly = r;
    UpdateState();
}

void TDataLink::UpdateState()
{
    const bool active = m_dataSource && m_dataSource->State() != dsInactive;
    if (active != m_active) {
        m_active = active;
        ActiveChanged();
    }
    const TDataSetState s = m_dataSource ? m_dataSource->State() : dsInactive;
    const bool editing = active && (s == dsEdit || s == dsInsert) && !m_readOnly;
    if (editing != m_editing) {
        m_editing = editing;
        EditingChanged();
    }
}

int TDataLink::ActiveRecord() const
{
    TDataSet *ds = DataSet();
    if (!ds || !ds->Active())
        return -1;
    return ds->ActiveRowOverride() >= 0 ? ds->ActiveRowOverride() : ds->CurrentRow();
}

void TDataLink::SetActiveRecord(int row)
{
    TDataSet *ds = DataSet();
    if (!ds)
        return;
    ds->SetActiveRowOverride(row == ds->CurrentRow() ? -1 : row);
}

int TDataLink::RecordCount() const
{
    TDataSet *ds = DataSet();
    return (ds && ds->Active()) ? ds->RecordCount() : 0;
}

bool TDataLink::BOF() const
{
    TDataSet *ds = DataSet();
    return !ds || ds->BOF();
}

bool TDataLink::Eof() const
{
    TDataSet *ds = DataSet();
    return !ds || ds->Eof();
}

bool TDataLink::Edit()
{
    if (!m_readOnly && m_dataSource)
        m_dataSource->Edit();
    return m_editing;
}

void TDataLink::UpdateRecord()
{
    m_updating = true;
    try {
        UpdateData();
    } catch (...) {
        m_updating = false;
        throw;
    }
    m_updating = false;
}

void TDataLink::DataEvent(TDataEvent event, TField *field, int info)
{
    if (event == deUpdateState) {
        UpdateState();
        return;
    }
    if (!m_active)
        return;
    switch (event) {
    case deFieldChange:
    case deRecordChange:
        if (!m_updating)
            RecordChanged(field);
        break;
    case deDataSetChange:
        DataSetChanged();
        break;
    case deDataSetScroll:
        DataSetScrolled(info);
        break;
    case deLayoutChange:
        LayoutChanged();
        break;
    case deUpdateRecord:
        UpdateRecord();
        break;
    case deCheckBrowseMode:
        CheckBrowseMode();
        break;
    default:
        break;
    }
}

} // namespace rpt

namespace rpt {
void TParams::ParseSQL(const QString &sql)
{
    // One parameter per distinct marker name; a name that stays keeps its value.
    std::vector<TParam> next;
    for (const QString &name : UniqueParamNames(rpt::ParseSQL(sql).names)) {
        if (TParam *old = FindParam(name))
            next.push_back(*old);
        else
            next.emplace_back(name, ftUnknown, 0);
        next.back().Name = name;
    }
    m_items = std::move(next);
}
} // namespace rpt
