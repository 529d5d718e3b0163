#pragma once
// Fresh embedded Firebird databases for tests.

#include "platform/firebird/FbConnection.h"

#include <QList>
#include <QString>
#include <QVariant>

namespace rpt::test {

struct FbStatement {
    QString sql;
    QList<QVariant> params;
    FbStatement(const char *s) : sql(QString::fromUtf8(s)) {}
    FbStatement(QString s, QList<QVariant> p = {}) : sql(std::move(s)), params(std::move(p)) {}
};

// Creates <dir>/<fileName> with the given default character set ("" = NONE), runs the
// statements in order (each committed on its own) and returns the parameters that open
// it with `charset` as the connection character set. Throws rpt::fb::FbError on failure.
rpt::fb::ConnectParams createFbTestDb(const QString &dir, const QString &charset,
                                      const QList<FbStatement> &script = {},
                                      const QString &fileName = QStringLiteral("test.fdb"));

} // namespace rpt::test
