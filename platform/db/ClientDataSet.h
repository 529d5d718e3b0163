#pragma once
// In-memory dataset: defined at run time (FieldDefs + CreateDataSet), filled from a
// client-dataset file, or fetched whole through a provider. Saved to and loaded from
// the client-dataset file formats.

#include "platform/db/DataSet.h"

namespace rpt {

class TDataSetProvider;

class TClientDataSet : public TDataSet {
    Q_OBJECT
public:
    explicit TClientDataSet(QObject *owner = nullptr, const QString &name = QString());

    TFieldDefs &FieldDefs() { return FieldDefsRef(); }
    // Builds an empty dataset from FieldDefs and opens it.
    void CreateDataSet();
    void EmptyDataSet();

    void LoadFromFile(const QString &fileName);
    void SaveToFile(const QString &fileName) const;

    // Provider side: Open fetches every row the provider's dataset returns.
    QString ProviderName() const { return m_providerName; }
    void SetProviderName(const QString &n) { m_providerName = n; }
    TDataSetProvider *Provider() const;
    QString CommandText() const { return m_commandText; }
    void SetCommandText(const QString &sql) { m_commandText = sql; }
    TParams &Params() { return m_params; }
    // Builds the parameter list from the current command text's markers (through the
    // provider), so a run of another script never sees the previous script's names.
    void FetchParams();

    // Fast bulk fill used by fetch paths: replaces definitions and rows while closed.
    void LoadRows(const TFieldDefs &defs, std::vector<QByteArray> rows);

protected:
    void InternalOpen() override;

private:
    enum class Source { None, Created, Provider, File } m_source = Source::None;
    QString m_providerName;
    QString m_commandText;
    TParams m_params;
    TFieldDefs m_pendingDefs;
    std::vector<QByteArray> m_pendingRows;
    bool m_havePending = false;
};

} // namespace rpt
