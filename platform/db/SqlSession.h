#pragma once
// One database session as the catalogue datasets need it: run a query into compact
// rows, run a write and learn how many rows it touched, and group writes in a
// transaction. Statements use '?' placeholders bound in order.

#include "platform/db/FieldType.h"

#include <QByteArray>
#include <QList>
#include <QVariant>

#include <functional>
#include <memory>
#include <vector>

class QSqlDatabase;

namespace rpt {

class ISqlSession {
public:
    virtual ~ISqlSession() = default;
    virtual void query(const QString &sql, const QList<QVariant> &params, TFieldDefs &defs,
                       std::vector<QByteArray> &rows) = 0;
    virtual qint64 exec(const QString &sql, const QList<QVariant> &params) = 0;
    virtual void beginTransaction() = 0;
    virtual void commit() = 0;
    virtual void rollback() = 0;
    virtual QString quoteIdentifier(const QString &name) const = 0;
    virtual QString describe() const = 0; // for messages: driver and database
};

// Over a Qt SQL connection (SQLite, ODBC, PostgreSQL). Owns the named connection.
std::unique_ptr<ISqlSession> makeQtSqlSession(const QString &driver, const QString &connectionName,
                                              const std::function<void(QSqlDatabase &)> &configure);

struct ConnectionDescription;
// Over our Firebird access code (local files through the embedded engine).
std::unique_ptr<ISqlSession> makeFirebirdSession(const ConnectionDescription &d);

} // namespace rpt
