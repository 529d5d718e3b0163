#include "platform/db/DbErrors.h"
#include "platform/db/RecordStore.h"
#include "platform/db/SqlSession.h"

#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlField>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QRegularExpression>

namespace rpt {

namespace {

TFieldType typeOf(const QSqlField &f)
{
    switch (f.metaType().id()) {
    case QMetaType::Int:
    case QMetaType::Short:
    case QMetaType::UShort:
        return ftInteger;
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        return ftLargeint;
    case QMetaType::Double:
    case QMetaType::Float:
        return ftFloat;
    case QMetaType::Bool:
        return ftBoolean;
    case QMetaType::QDate:
        return ftDate;
    case QMetaType::QTime:
        return ftTime;
    case QMetaType::QDateTime:
        return ftDateTime;
    case QMetaType::QByteArray:
        return ftBlob;
    default:
        return ftWideString;
    }
}

QString errorText(const QSqlError &e)
{
    const QString db = e.databaseText().trimmed();
    const QString drv = e.driverText().trimmed();
    if (db.isEmpty())
        return drv.isEmpty() ? QStringLiteral("Unknown database error") : drv;
    if (drv.isEmpty() || db.contains(drv))
        return db;
    return db + QStringLiteral(" (") + drv + u')';
}

class QtSqlSession : public ISqlSession {
public:
    QtSqlSession(const QString &driver, const QString &name) : m_name(name)
    {
        if (!QSqlDatabase::isDriverAvailable(driver))
            throw EDatabaseError(QStringLiteral("The database driver %1 is not installed").arg(driver));
        QSqlDatabase::addDatabase(driver, m_name);
    }
    ~QtSqlSession() override
    {
        {
            QSqlDatabase d = QSqlDatabase::database(m_name, false);
            if (d.isOpen())
                d.close();
        }
        QSqlDatabase::removeDatabase(m_name);
    }

    QSqlDatabase db() const { return QSqlDatabase::database(m_name, false); }

    void open()
    {
        QSqlDatabase d = db();
        if (!d.open())
            throw EDatabaseError(errorText(d.lastError()));
    }

    QSqlQuery run(const QString &sql, const QList<QVariant> &params)
    {
        QSqlQuery q(db());
        q.setForwardOnly(true);
        if (!q.prepare(sql))
            throw EDatabaseError(errorText(q.lastError()));
        for (int i = 0; i < params.size(); ++i) {
            const QVariant &p = params[i];
            if (!p.isValid())
                q.bindValue(i, QVariant(QMetaType(QMetaType::QString)));
            else if (p.userType() == qMetaTypeId<Decimal>())
                q.bindValue(i, p.value<Decimal>().toString()); // exact, as text
            else
                q.bindValue(i, p);
        }
        if (!q.exec())
            throw EDatabaseError(errorText(q.lastError()));
        return q;
    }

    void query(const QString &sql, const QList<QVariant> &params, TFieldDefs &defs,
               std::vector<QByteArray> &rows) override
    {
        QSqlQuery q = run(sql, params);
        const QSqlRecord rec = q.record();
        defs.clear();
        for (int i = 0; i < rec.count(); ++i) {
            const QSqlField f = rec.field(i);
            const TFieldType t = typeOf(f);
            defs.Add(f.name(), t, t == ftWideString && f.length() > 0 ? f.length() : 0);
        }
        RecordLayout layout(defs);
        RecordBuilder b(layout);
        while (q.next()) {
            b.begin();
            for (int i = 0; i < defs.size(); ++i) {
                const QVariant v = q.value(i);
                if (v.isNull())
                    b.setNull(i);
                else
                    b.setValue(i, v);
            }
            rows.push_back(b.finish());
        }
        if (q.lastError().isValid())
            throw EDatabaseError(errorText(q.lastError()));
    }

    qint64 exec(const QString &sql, const QList<QVariant> &params) override
    {
        return run(sql, params).numRowsAffected();
    }

    void beginTransaction() override
    {
        QSqlDatabase d = db();
        if (!d.transaction())
            throw EDatabaseError(errorText(d.lastError()));
    }
    void commit() override
    {
        QSqlDatabase d = db();
        if (!d.commit())
            throw EDatabaseError(errorText(d.lastError()));
    }
    void rollback() override
    {
        QSqlDatabase d = db();
        d.rollback();
    }

    QString quoteIdentifier(const QString &name) const override
    {
        // Plain names stay bare: quoting would make them case-sensitive on some servers.
        static const QRegularExpression plain(QStringLiteral("^[A-Za-z_][A-Za-z0-9_$]*$"));
        if (plain.match(name).hasMatch())
            return name;
        return db().driver()->escapeIdentifier(name, QSqlDriver::FieldName);
    }

    QString describe() const override
    {
        const QSqlDatabase d = db();
        return d.driverName() + u' ' + d.databaseName();
    }

private:
    QString m_name;
};

} // namespace

std::unique_ptr<ISqlSession> makeQtSqlSession(const QString &driver, const QString &connectionName,
                                              const std::function<void(QSqlDatabase &)> &configure)
{
    auto s = std::make_unique<QtSqlSession>(driver, connectionName);
    {
        QSqlDatabase d = s->db();
        if (configure)
            configure(d);
    }
    s->open();
    return s;
}

} // namespace rpt
