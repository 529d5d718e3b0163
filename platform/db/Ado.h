#pragma once
// The catalogue side of the data layer: a connection opened from an OLE DB data-link
// file and datasets with a static cursor that hold every row locally.
//
// Writes never rely on a key (the catalogue has none): a row is found by all its
// original values, and a write that finds no row, or more than one, fails and changes
// nothing. With batch optimistic locking, changes stay local until UpdateBatch, which
// writes them in one transaction: if any row fails, nothing of the batch is stored and
// every change stays pending, so a retry can succeed.

#include "platform/db/DataSet.h"
#include "platform/db/SqlSession.h"

namespace rpt {

enum TLockType { ltUnspecified, ltReadOnly, ltPessimistic, ltOptimistic, ltBatchOptimistic };
enum TCursorType { ctUnspecified, ctOpenForwardOnly, ctKeyset, ctDynamic, ctStatic };
enum TAffectRecords { arCurrent, arFiltered, arAll, arAllChapters };
enum TIsolationLevel { ilUnspecified, ilChaos, ilReadUncommitted, ilBrowse, ilCursorStability,
                       ilReadCommitted, ilRepeatableRead, ilSerializable, ilIsolated };
enum TConnectMode { cmUnknown, cmRead, cmWrite, cmReadWrite, cmShareDenyRead, cmShareDenyWrite,
                    cmShareExclusive, cmShareDenyNone };

class TADODataSet;

class TADOConnection : public TComponent {
    Q_OBJECT
public:
    explicit TADOConnection(QObject *owner = nullptr, const QString &name = QString());
    ~TADOConnection() override;

    QString ConnectionString() const { return m_connectionString; }
    void SetConnectionString(const QString &cs);
    bool LoginPrompt() const { return m_loginPrompt; }
    void SetLoginPrompt(bool v) { m_loginPrompt = v; }
    TIsolationLevel IsolationLevel() const { return m_isolation; }
    void SetIsolationLevel(TIsolationLevel l) { m_isolation = l; }
    TConnectMode Mode() const { return m_mode; }
    void SetMode(TConnectMode m) { m_mode = m; }
    QString Provider() const { return m_provider; }
    void SetProvider(const QString &p) { m_provider = p; }

    bool Connected() const { return bool(m_session); }
    void SetConnected(bool c) { c ? Open() : Close(); }
    void Open();
    void Close();   // closes the datasets that use the connection

    // The open session; "<name>: Connection is not open" otherwise. Opens on demand.
    ISqlSession &Session();
    // Opens with a ready session instead of the connection string (tools, tests).
    void OpenWithSession(std::unique_ptr<ISqlSession> session);

    void RegisterDataSet(TADODataSet *ds);
    void UnregisterDataSet(TADODataSet *ds);

private:
    QString m_connectionString;
    QString m_provider;
    bool m_loginPrompt = true;
    TIsolationLevel m_isolation = ilCursorStability;
    TConnectMode m_mode = cmUnknown;
    std::unique_ptr<ISqlSession> m_session;
    QList<QPointer<TADODataSet>> m_dataSets;
};

// Opens a session from an ADO connection string ("FILE NAME=<file>.udl" or an OLE DB
// string of its own). Errors name the file and what is wrong.
std::unique_ptr<ISqlSession> openCatalogueSession(const QString &connectionString, const QString &sessionName);

class TADODataSet : public TDataSet {
    Q_OBJECT
public:
    explicit TADODataSet(QObject *owner = nullptr, const QString &name = QString());
    ~TADODataSet() override;

    TADOConnection *Connection() const { return m_connection; }
    void SetConnection(TADOConnection *c);
    QString CommandText() const { return m_commandText; }
    // Rebuilds Parameters from the text's :name markers, keeping values of names that stay.
    void SetCommandText(const QString &sql);
    TParams &Parameters() { return m_params; }
    TCursorType CursorType() const { return m_cursorType; }
    void SetCursorType(TCursorType t) { m_cursorType = t; }
    TLockType LockType() const { return m_lockType; }
    void SetLockType(TLockType t);

    // Writes every pending change in one transaction; an open edit is settled first
    // (posted if changed, cancelled otherwise).
    void UpdateBatch(TAffectRecords affect = arAll);
    void CancelBatch(TAffectRecords affect = arAll);
    bool HasPendingUpdates() const { return HasPendingChanges(); }

    bool CanModify() const override;

protected:
    void InternalOpen() override;
    void InternalPost(int row, bool inserted, const QByteArray &before, const QByteArray &after) override;
    void InternalDelete(int row, const QByteArray &values) override;

private:
    QString TableName() const;
    void WriteInsert(ISqlSession &s, const QByteArray &values);
    void WriteUpdate(ISqlSession &s, const QByteArray &before, const QByteArray &after);
    void WriteDelete(ISqlSession &s, const QByteArray &values);
    void AppendWhere(ISqlSession &s, const QByteArray &values, QString &sql, QList<QVariant> &params) const;
    void CheckOneRow(qint64 affected) const;

    QPointer<TADOConnection> m_connection;
    QString m_commandText;
    TParams m_params;
    TCursorType m_cursorType = ctStatic;
    TLockType m_lockType = ltOptimistic;
};

// An ad-hoc read on a connection.
class TADOQuery : public TADODataSet {
    Q_OBJECT
public:
    explicit TADOQuery(QObject *owner = nullptr, const QString &name = QString()) : TADODataSet(owner, name) {}
    void SetSQL(const QString &sql) { SetCommandText(sql); }
    QString SQL() const { return CommandText(); }
};

} // namespace rpt
