#include "platform/db/ClientDataSet.h"

#include "platform/db/Provider.h"

namespace rpt {

TClientDataSet::TClientDataSet(QObject *owner, const QString &name)
    : TDataSet(owner, name), m_params(this) {}

void TClientDataSet::CreateDataSet()
{
    if (FieldDefsRef().isEmpty())
        Error(QStringLiteral("Missing data provider or data packet"));
    Close();
    m_source = Source::Created;
    Open();
}

void TClientDataSet::EmptyDataSet()
{
    CheckActive();
    if (State() == dsEdit || State() == dsInsert)
        Cancel();
    RowsRef().clear();
    Resync();
    DataEvent(deDataSetChange);
}

TDataSetProvider *TClientDataSet::Provider() const
{
    if (m_providerName.isEmpty())
        return nullptr;
    // Providers are siblings on the same owner, found by their designer name.
    QObject *owner = parent();
    if (!owner)
        return nullptr;
    return owner->findChild<TDataSetProvider *>(m_providerName, Qt::FindDirectChildrenOnly);
}

void TClientDataSet::FetchParams()
{
    TDataSetProvider *p = Provider();
    if (!p)
        Error(QStringLiteral("Missing data provider or data packet"));
    p->FetchParams(m_commandText, m_params);
}

void TClientDataSet::LoadRows(const TFieldDefs &defs, std::vector<QByteArray> rows)
{
    Close();
    m_pendingDefs = defs;
    m_pendingRows = std::move(rows);
    m_havePending = true;
    m_source = Source::File;
}

void TClientDataSet::InternalOpen()
{
    if (m_havePending) {
        FieldDefsRef() = m_pendingDefs;
        SetRows(std::move(m_pendingRows));
        m_pendingRows = {};
        m_havePending = false;
        return;
    }
    if (!m_providerName.isEmpty()) {
        TDataSetProvider *p = Provider();
        if (!p)
            Error(QStringLiteral("Missing data provider or data packet"));
        FetchResult r;
        p->Fetch(m_commandText, m_params, r);
        FieldDefsRef() = r.defs;
        SetRows(std::move(r.rows), std::move(r.arena));
        m_source = Source::Provider;
        return;
    }
    if (m_source == Source::Created || !FieldDefsRef().isEmpty()) {
        m_source = Source::Created;
        return; // empty, from FieldDefs
    }
    Error(QStringLiteral("Missing data provider or data packet"));
}

} // namespace rpt
