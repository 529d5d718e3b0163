#include "platform/db/Provider.h"

namespace rpt {

IFetchSource *TDataSetProvider::source() const
{
    auto *src = dynamic_cast<IFetchSource *>(m_dataSet.data());
    if (!src)
        DatabaseError(QStringLiteral("Missing DataSet property"), Name());
    return src;
}

QString TDataSetProvider::EffectiveCommand(const QString &clientCommandText) const
{
    if (m_allowCommandText && !clientCommandText.isEmpty())
        return clientCommandText;
    return source()->SourceCommandText();
}

void TDataSetProvider::FetchParams(const QString &clientCommandText, TParams &params) const
{
    params.ParseSQL(EffectiveCommand(clientCommandText));
}

void TDataSetProvider::Fetch(const QString &clientCommandText, TParams &params, FetchResult &result) const
{
    source()->FetchAll(EffectiveCommand(clientCommandText), params, result);
}

} // namespace rpt
