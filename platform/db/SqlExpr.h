#pragma once
// The business-database side of the data layer: a named connection whose parameters
// come from the connection definitions (dbxconnections.ini), SQL datasets and queries
// on it, and the bulk fetch that a provider hands to a client dataset.

#include "platform/db/DataSet.h"
#include "platform/db/Paths.h"
#include "platform/db/Provider.h"

#include <QStringList>

#include <memory>

namespace rpt {

class TSQLConnection : public TComponent {
    Q_OBJECT
public:
    explicit TSQLConnection(QObject *owner = nullptr, const QString &name = QString());
    ~TSQLConnection() override;

    QString ConnectionName() const { return m_connectionName; }
    void SetConnectionName(const QString &n) { m_connectionName = n; }
    QString DriverName() const { return m_driverName; }
    void SetDriverName(const QString &n) { m_driverName = n; }
    QString GetDriverFunc() const { return m_getDriverFunc; }
    void SetGetDriverFunc(const QString &s) { m_getDriverFunc = s; }
    QString LibraryName() const { return m_libraryName; }
    void SetLibraryName(const QString &s) { m_libraryName = s; }
    QString VendorLib() const { return m_vendorLib; }
    void SetVendorLib(const QString &s) { m_vendorLib = s; }
    bool LoadParamsOnConnect() const { return m_loadParamsOnConnect; }
    void SetLoadParamsOnConnect(bool b) { m_loadParamsOnConnect = b; }
    bool LoginPrompt() const { return m_loginPrompt; }
    void SetLoginPrompt(bool b) { m_loginPrompt = b; }
    // "Key=Value" lines, in order.
    QStringList &Params() { return m_params; }
    const QStringList &Params() const { return m_params; }
    QString ParamValue(const QString &key) const;
    // Where the connection definitions are looked for; defaults to the executable's
    // folder, the user's configuration folder and /etc/rptdlg.
    void SetSearchDirs(const QStringList &dirs) { m_searchDirs = dirs; }

    bool Connected() const;
    void SetConnected(bool c) { c ? Open() : Close(); }
    void Open();
    void Close();

    // Runs a statement ('?' placeholders) and hands every row over in compact form.
    void FetchAll(const QString &sql, const QList<QVariant> &params, FetchResult &result);

private:
    struct Backend;
    std::unique_ptr<Backend> m_backend;
    QString m_connectionName;
    QString m_driverName;
    QString m_getDriverFunc;
    QString m_libraryName;
    QString m_vendorLib;
    bool m_loadParamsOnConnect = false;
    bool m_loginPrompt = true;
    QStringList m_params;
    QStringList m_searchDirs;
};

class TSQLDataSet : public TDataSet, public IFetchSource {
    Q_OBJECT
public:
    explicit TSQLDataSet(QObject *owner = nullptr, const QString &name = QString());

    TSQLConnection *SQLConnection() const { return m_connection; }
    void SetSQLConnection(TSQLConnection *c) { m_connection = c; }
    QString CommandText() const { return m_commandText; }
    void SetCommandText(const QString &sql);
    TParams &Params() { return m_params; }
    int MaxBlobSize() const { return m_maxBlobSize; }
    void SetMaxBlobSize(int n) { m_maxBlobSize = n; }

    void FetchAll(const QString &commandText, TParams &params, FetchResult &result) override;
    QString SourceCommandText() const override { return m_commandText; }
    bool CanModify() const override { return false; }

protected:
    void InternalOpen() override;

private:
    QPointer<TSQLConnection> m_connection;
    QString m_commandText;
    TParams m_params;
    int m_maxBlobSize = -1;
};

class TSQLQuery : public TSQLDataSet {
    Q_OBJECT
public:
    explicit TSQLQuery(QObject *owner = nullptr, const QString &name = QString()) : TSQLDataSet(owner, name) {}
    void SetSQL(const QString &sql) { SetCommandText(sql); }
    QString SQL() const { return CommandText(); }
};


} // namespace rpt
