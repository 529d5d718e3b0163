#include "platform/db/DbErrors.h"

namespace rpt {

QString prefixed(const QString &message, const QString &componentName)
{
    if (componentName.isEmpty())
        return message;
    return componentName + QStringLiteral(": ") + message;
}

void DatabaseError(const QString &message, const QString &componentName)
{
    throw EDatabaseError(prefixed(message, componentName));
}

} // namespace rpt
