#pragma once
// Dataset provider: hands the rows of its source dataset to a client dataset. With
// AllowCommandText the client's command text replaces the source's own command.

#include "platform/db/DataSet.h"

namespace rpt {

// A dataset that can run a command with bound parameters and hand over all rows in
// bulk (the SQL datasets implement it).
// Every row of a result, in compact form; the rows may live in the arena.
struct FetchResult {
    TFieldDefs defs;
    std::vector<QByteArray> rows;
    std::shared_ptr<RowArena> arena;
};

class IFetchSource {
public:
    virtual ~IFetchSource() = default;
    virtual void FetchAll(const QString &commandText, TParams &params, FetchResult &result) = 0;
    virtual QString SourceCommandText() const = 0;
};

class TDataSetProvider : public TComponent {
    Q_OBJECT
public:
    explicit TDataSetProvider(QObject *owner = nullptr, const QString &name = QString())
        : TComponent(owner, name) {}

    TDataSet *DataSet() const { return m_dataSet; }
    void SetDataSet(TDataSet *ds) { m_dataSet = ds; }
    bool AllowCommandText() const { return m_allowCommandText; }
    void SetAllowCommandText(bool a) { m_allowCommandText = a; }

    // The command the provider will run for a client's command text.
    QString EffectiveCommand(const QString &clientCommandText) const;
    // Parameters of that command, one per distinct marker name, in order of appearance.
    void FetchParams(const QString &clientCommandText, TParams &params) const;
    void Fetch(const QString &clientCommandText, TParams &params, FetchResult &result) const;

private:
    IFetchSource *source() const;
    QPointer<TDataSet> m_dataSet;
    bool m_allowCommandText = false;
};

} // namespace rpt
