#include "platform/db/DbErrors.h"
#include "platform/db/SqlSession.h"
#include "platform/text/DataLink.h"

namespace rpt {

std::unique_ptr<ISqlSession> makeFirebirdSession(const ConnectionDescription &d)
{
    // Catalogue writes must be atomic per batch; until the Firebird layer offers
    // transactions spanning several statements, refuse rather than write half a batch.
    throw EDatabaseError(QStringLiteral("a Firebird catalogue (%1) is not yet supported").arg(d.database));
}

} // namespace rpt
