#include "FbTestDb.h"

#include <QDir>

namespace rpt::test {

rpt::fb::ConnectParams createFbTestDb(const QString &dir, const QString &charset,
                                      const QList<FbStatement> &script, const QString &fileName)
{
    rpt::fb::ConnectParams p;
    p.database = QDir(dir).absoluteFilePath(fileName);
    p.user = QStringLiteral("SYSDBA");
    p.password = QStringLiteral("masterkey");
    p.charset = charset;
    rpt::fb::Connection::createDatabase(p);
    if (!script.isEmpty()) {
        rpt::fb::Connection c;
        c.open(p);
        for (const FbStatement &s : script)
            c.execute(s.sql, s.params);
        c.close();
    }
    return p;
}

} // namespace rpt::test
