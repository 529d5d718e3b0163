#include "platform/db/Ado.h"

#include "platform/text/SqlParams.h"

#include <QRegularExpression>

namespace rpt {

// =======================================================================================
// TADOConnection

TADOConnection::TADOConnection(QObject *owner, const QString &name) : TComponent(owner, name) {}

TADOConnection::~TADOConnection()
{
    Close();
}

void TADOConnection::SetConnectionString(const QString &cs)
{
    m_connectionString = cs;
}

void TADOConnection::Open()
{
    if (m_session)
        return;
    if (m_connectionString.trimmed().isEmpty())
        DatabaseError(QStringLiteral("Missing Connection or ConnectionString"), Name());
    static int serial = 0;
    const QString sessionName = QStringLiteral("rpt-ado-%1-%2").arg(Name()).arg(++serial);
    m_session = openCatalogueSession(m_connectionString, sessionName);
}

void TADOConnection::OpenWithSession(std::unique_ptr<ISqlSession> session)
{
    Close();
    m_session = std::move(session);
}

void TADOConnection::Close()
{
    const auto sets = m_dataSets;
    for (const auto &ds : sets)
        if (ds)
            ds->Close();
    m_session.reset();
}

ISqlSession &TADOConnection::Session()
{
    if (!m_session)
        Open();
    return *m_session;
}

void TADOConnection::RegisterDataSet(TADODataSet *ds)
{
    if (!m_dataSets.contains(ds))
        m_dataSets.append(ds);
}

void TADOConnection::UnregisterDataSet(TADODataSet *ds)
{
    m_dataSets.removeAll(ds);
}

// =======================================================================================
// TADODataSet

TADODataSet::TADODataSet(QObject *owner, const QString &name) : TDataSet(owner, name), m_params(this) {}

TADODataSet::~TADODataSet()
{
    if (m_connection)
        m_connection->UnregisterDataSet(this);
}

void TADODataSet::SetConnection(TADOConnection *c)
{
    if (m_connection)
        m_connection->UnregisterDataSet(this);
    m_connection = c;
    if (c)
        c->RegisterDataSet(this);
}

void TADODataSet::SetCommandText(const QString &sql)
{
    if (Active())
        Close();
    m_commandText = sql;
    m_params.ParseSQL(sql);
    // Catalogue parameters are nullable wide strings, as the command's parser makes them.
    for (int i = 0; i < m_params.Count(); ++i) {
        TParam &p = m_params.Items(i);
        p.DataType = ftWideString;
        p.Size = 510;
        p.Nullable = true;
    }
}

void TADODataSet::SetLockType(TLockType t)
{
    if (Active())
        Error(QString::fromLatin1(msg::DataSetOpen));
    m_lockType = t;
}

bool TADODataSet::CanModify() const
{
    return TDataSet::CanModify() && m_lockType != ltReadOnly;
}

void TADODataSet::InternalOpen()
{
    if (!m_connection)
        Error(QStringLiteral("Missing Connection or ConnectionString"));
    if (m_commandText.trimmed().isEmpty())
        Error(QStringLiteral("CommandText does not return a result set"));
    ISqlSession &s = m_connection->Session();
    const ParsedSql cmd = ParseSQL(m_commandText);
    TFieldDefs defs;
    std::vector<QByteArray> rows;
    s.query(cmd.sql, m_params.valuesInOrder(cmd.names), defs, rows);

    const QList<TFieldDecl> &decls = DeclaredFields();
    if (!decls.isEmpty()) {
        // Declared fields decide the shape: each must be in the result; the rest is ignored.
        QVector<int> source;
        TFieldDefs declared;
        for (const TFieldDecl &d : decls) {
            const int i = defs.IndexOf(d.Name);
            if (i < 0)
                Error(QString::fromLatin1(msg::FieldNotFound).arg(d.Name));
            source.append(i);
            declared.Add(d.Name, d.DataType, d.Size);
        }
        RecordLayout from(defs), to(declared);
        RecordBuilder b(to);
        for (QByteArray &r : rows) {
            b.begin();
            for (int j = 0; j < source.size(); ++j) {
                if (from.isNull(r, source[j]))
                    b.setNull(j);
                else
                    b.setValue(j, from.get(r, source[j]));
            }
            r = b.finish();
        }
        defs = declared;
    }
    FieldDefsRef() = defs;
    SetRows(std::move(rows));
    SetTrackChanges(m_lockType == ltBatchOptimistic);
}

QString TADODataSet::TableName() const
{
    static const QRegularExpression re(QStringLiteral("\\bfrom\\s+(\"[^\"]+\"|\\[[^\\]]+\\]|[\\w$.]+)"),
                                       QRegularExpression::CaseInsensitiveOption);
    const auto m = re.match(m_commandText);
    if (!m.hasMatch())
        Error(QStringLiteral("Cannot find the table to update in the command text"));
    return m.captured(1);
}

void TADODataSet::AppendWhere(ISqlSession &s, const QByteArray &values, QString &sql, QList<QVariant> &params) const
{
    const RecordLayout &layout = Layout();
    QStringList terms;
    for (int i = 0; i < layout.fieldCount(); ++i) {
        const QString col = s.quoteIdentifier(layout.defs()[i].Name);
        if (layout.isNull(values, i)) {
            terms << col + QStringLiteral(" IS NULL");
        } else {
            terms << col + QStringLiteral(" = ?");
            params << layout.get(values, i);
        }
    }
    sql += QStringLiteral(" WHERE ") + terms.join(QStringLiteral(" AND "));
}

void TADODataSet::CheckOneRow(qint64 affected) const
{
    if (affected == 0)
        Error(QString::fromLatin1(msg::RowNotLocated));
    if (affected > 1)
        Error(QStringLiteral("Row cannot be located for updating: %1 rows have the same values").arg(affected));
}

void TADODataSet::WriteInsert(ISqlSession &s, const QByteArray &values)
{
    const RecordLayout &layout = Layout();
    QStringList cols, marks;
    QList<QVariant> params;
    for (int i = 0; i < layout.fieldCount(); ++i) {
        cols << s.quoteIdentifier(layout.defs()[i].Name);
        marks << QStringLiteral("?");
        params << layout.get(values, i);
    }
    s.exec(QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)").arg(TableName(), cols.join(u','), marks.join(u',')), params);
}

void TADODataSet::WriteUpdate(ISqlSession &s, const QByteArray &before, const QByteArray &after)
{
    const RecordLayout &layout = Layout();
    QStringList sets;
    QList<QVariant> params;
    for (int i = 0; i < layout.fieldCount(); ++i) {
        const QVariant a = layout.get(after, i), b = layout.get(before, i);
        if (a == b && a.isNull() == b.isNull())
            continue;
        sets << s.quoteIdentifier(layout.defs()[i].Name) + QStringLiteral(" = ?");
        params << a;
    }
    if (sets.isEmpty())
        return;
    QString sql = QStringLiteral("UPDATE %1 SET %2").arg(TableName(), sets.join(QStringLiteral(", ")));
    AppendWhere(s, before, sql, params);
    CheckOneRow(s.exec(sql, params));
}

void TADODataSet::WriteDelete(ISqlSession &s, const QByteArray &values)
{
    QString sql = QStringLiteral("DELETE FROM %1").arg(TableName());
    QList<QVariant> params;
    AppendWhere(s, values, sql, params);
    CheckOneRow(s.exec(sql, params));
}

void TADODataSet::InternalPost(int, bool inserted, const QByteArray &before, const QByteArray &after)
{
    if (m_lockType == ltBatchOptimistic)
        return; // stays local until UpdateBatch
    ISqlSession &s = m_connection->Session();
    s.beginTransaction();
    try {
        if (inserted)
            WriteInsert(s, after);
        else
            WriteUpdate(s, before, after);
        s.commit();
    } catch (...) {
        s.rollback();
        throw;
    }
}

void TADODataSet::InternalDelete(int, const QByteArray &values)
{
    if (m_lockType == ltBatchOptimistic)
        return;
    ISqlSession &s = m_connection->Session();
    s.beginTransaction();
    try {
        WriteDelete(s, values);
        s.commit();
    } catch (...) {
        s.rollback();
        throw;
    }
}

void TADODataSet::UpdateBatch(TAffectRecords)
{
    CheckActive();
    if (State() == dsEdit || State() == dsInsert) {
        UpdateRecord();
        if (Modified())
            Post();
        else
            Cancel();
    }
    if (!HasPendingChanges())
        return;
    ISqlSession &s = m_connection->Session();
    auto &meta = RowMeta();
    s.beginTransaction();
    try {
        for (const QByteArray &d : DeletedRows())
            WriteDelete(s, d);
        for (size_t i = 0; i < meta.size(); ++i) {
            if (meta[i].status == rsModified)
                WriteUpdate(s, meta[i].original, m_rows[i]);
            else if (meta[i].status == rsInserted)
                WriteInsert(s, m_rows[i]);
        }
        s.commit();
    } catch (...) {
        // One batch, one transaction: nothing of it is stored and every change stays
        // pending for a retry.
        s.rollback();
        throw;
    }
    ClearPendingChanges();
}

void TADODataSet::CancelBatch(TAffectRecords)
{
    if (!Active())
        return;
    if (State() == dsEdit || State() == dsInsert)
        Cancel();
    auto &meta = RowMeta();
    for (size_t i = meta.size(); i-- > 0;) {
        if (meta[i].status == rsModified)
            m_rows[i] = meta[i].original;
        else if (meta[i].status == rsInserted)
            m_rows.erase(m_rows.begin() + qsizetype(i));
    }
    for (const QByteArray &d : DeletedRows())
        m_rows.push_back(d);
    ClearPendingChanges();
    Resync();
    DataEvent(deDataSetChange);
}

} // namespace rpt
