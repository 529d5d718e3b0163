#include "platform/firebird/FbConnection.h"

#include "platform/firebird/FbCharsets.h"
#include "platform/firebird/FbEmbedded.h"

#include <QFile>
#include <QHash>

#include <firebird/Interface.h>
#include <ibase.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

using namespace Firebird;

namespace rpt::fb {

// ---------------------------------------------------------------------------------------
// ConnectParams

ConnectParams ConnectParams::fromDbxParams(const QList<QPair<QString, QString>> &params)
{
    ConnectParams p;
    for (const auto &kv : params) {
        const QString key = kv.first.trimmed().toLower();
        const QString value = kv.second.trimmed();
        if (key == u"database") {
            p.database = value;
        } else if (key == u"user_name") {
            p.user = value;
        } else if (key == u"password") {
            p.password = kv.second; // a password may well end in a blank
        } else if (key == u"rolename") {
            p.role = value;
        } else if (key == u"servercharset") {
            p.charset = value;
        } else if (key == u"sqldialect") {
            if (value.isEmpty())
                continue;
            bool ok = false;
            const int dialect = value.toInt(&ok);
            if (!ok)
                throw FbError(QStringLiteral("'%1' is not a valid integer value for SQLDialect").arg(value));
            p.dialect = dialect;
        } else if (key == u"waitonlocks") {
            p.waitOnLocks = value.compare(u"false", Qt::CaseInsensitive) != 0;
        } else if (key == u"interbase transisolation") {
            // The old driver constant is spelled "ReadCommited"; anything it does not
            // know means read committed.
            const QString v = value.toLower();
            if (v == u"repeatableread")
                p.isolation = Isolation::RepeatableRead;
            else if (v == u"dirtyread")
                p.isolation = Isolation::DirtyRead;
            else
                p.isolation = Isolation::ReadCommitted;
        } else if (key == u"trim char") {
            p.trimChar = value.compare(u"true", Qt::CaseInsensitive) == 0;
        }
    }
    return p;
}

// ---------------------------------------------------------------------------------------
// FbError

FbError::FbError(const QString &message, int sqlCode, long gdsCode)
    : std::runtime_error(message.toStdString()), m_message(message), m_sqlCode(sqlCode), m_gdsCode(gdsCode)
{
}

namespace {

IMaster *master()
{
    static IMaster *m = fb_get_master_interface();
    return m;
}

FbError errorFromStatus(IStatus *status)
{
    char buf[8192];
    const unsigned n = master()->getUtilInterface()->formatStatus(buf, sizeof buf - 1, status);
    buf[std::min<unsigned>(n, sizeof buf - 1)] = 0;
    QStringList lines;
    for (const QString &line : decodeUnknown(buf, qsizetype(std::strlen(buf))).split(u'\n')) {
        const QString t = line.trimmed();
        if (!t.isEmpty())
            lines << t;
    }
    const intptr_t *errors = status->getErrors();
    long gds = (errors && errors[0] == isc_arg_gds) ? long(errors[1]) : 0;
    int sqlCode = errors ? int(isc_sqlcode(errors)) : 0;
    if (lines.isEmpty())
        lines << QStringLiteral("Unknown database error");
    return FbError(lines.join(u'\n'), sqlCode, gds);
}

// One status object with the wrapper the templated interface methods expect.
class Status {
public:
    Status() : m_raw(master()->getStatus()), m_wrap(m_raw) {}
    ~Status() { m_raw->dispose(); }
    Status(const Status &) = delete;
    Status &operator=(const Status &) = delete;

    CheckStatusWrapper *operator()() { return &m_wrap; }
    bool failed() const { return m_wrap.getState() & IStatus::STATE_ERRORS; }
    void check()
    {
        if (failed()) {
            FbError e = errorFromStatus(m_raw);
            m_wrap.init();
            throw e;
        }
    }
    void clear() { m_wrap.init(); }

private:
    IStatus *m_raw;
    CheckStatusWrapper m_wrap;
};

// Reference to an interface that is released unless a closing call (which releases it
// itself on success) took it over.
template <class T>
class Ref {
public:
    Ref() = default;
    explicit Ref(T *p) : m_p(p) {}
    ~Ref() { reset(); }
    Ref(const Ref &) = delete;
    Ref &operator=(const Ref &) = delete;
    void reset(T *p = nullptr)
    {
        if (m_p)
            m_p->release();
        m_p = p;
    }
    T *get() const { return m_p; }
    T *operator->() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }
    T *take()
    {
        T *p = m_p;
        m_p = nullptr;
        return p;
    }

private:
    T *m_p = nullptr;
};

// Firebird dates count days from 1858-11-17; times count 1/10000 s from midnight.
constexpr qint64 kIscEpochJulianDay = 2400001;

inline QDate decodeDate(ISC_DATE d) { return QDate::fromJulianDay(qint64(d) + kIscEpochJulianDay); }
inline QTime decodeTime(ISC_TIME t) { return QTime::fromMSecsSinceStartOfDay(int(t / 10)); }
inline ISC_DATE encodeDate(const QDate &d) { return ISC_DATE(d.toJulianDay() - kIscEpochJulianDay); }
inline ISC_TIME encodeTime(const QTime &t) { return ISC_TIME(t.msecsSinceStartOfDay()) * 10; }

template <class T>
inline T readAt(const unsigned char *buf, unsigned offset)
{
    T v;
    std::memcpy(&v, buf + offset, sizeof v);
    return v;
}

template <class T>
inline void writeAt(unsigned char *buf, unsigned offset, T v)
{
    std::memcpy(buf + offset, &v, sizeof v);
}

constexpr unsigned kMaxVarying = 32765;
constexpr unsigned kBlobChunk = 65535;

// How one output column is read out of the message buffer.
enum class OutKind {
    Null, Int, Scaled, ScaledDouble, Double, Float, Bool, Date, Time, Timestamp,
    AnsiVar, AnsiFixed, WideVar, WideFixed, BytesVar, BytesFixed,
    BlobBinary, BlobAnsi, BlobWide,
};

struct OutColumn {
    OutKind kind = OutKind::Null;
    unsigned offset = 0;
    unsigned nullOffset = 0;
    unsigned length = 0;
    int scale = 0;           // places, positive
    int charLength = 0;      // characters of a wide CHAR
    TextCodec *codec = nullptr;
};

} // namespace

// ---------------------------------------------------------------------------------------
// Connection

struct Connection::Impl {
    ConnectParams params;
    IProvider *provider = nullptr;
    IAttachment *att = nullptr;
    ITransaction *tra = nullptr;               // the caller's open transaction, if any
    CharsetInfo connCs;
    std::unique_ptr<TextCodec> codec;          // connection character set
    std::vector<std::unique_ptr<TextCodec>> columnCodecs; // by charset id, made on demand
    QHash<QString, int> precisionCache;        // "RELATION.FIELD" -> declared precision
    QByteArray blobBuf;                        // reused for every blob read

    ~Impl() { detach(); }

    void detach()
    {
        try {
            endTransaction();
        } catch (const FbError &) {
            // Closing goes on: the server rolls back what the attachment leaves behind.
        }
        if (att) {
            Status st;
            att->detach(st());
            if (st.failed())
                att->release();
            att = nullptr;
        }
        if (provider) {
            provider->release();
            provider = nullptr;
        }
        precisionCache.clear();
        columnCodecs.clear();
        codec.reset();
    }

    // Rolls the open transaction back; a refused rollback still forgets it here, and
    // the server drops it with the attachment.
    void endTransaction()
    {
        if (!tra)
            return;
        ITransaction *t = tra;
        tra = nullptr;
        Status st;
        t->rollback(st());
        if (st.failed()) {
            t->release();
            st.check();
        }
    }

    void requireOpen() const
    {
        if (!att)
            throw FbError(QStringLiteral("The database connection is not open"));
    }

    TextCodec *codecFor(int charsetId)
    {
        if (charsetId == connCs.id)
            return codec.get();
        for (const auto &c : columnCodecs)
            if (c->charset().id == charsetId)
                return c.get();
        columnCodecs.push_back(std::make_unique<TextCodec>(charsetById(charsetId)));
        return columnCodecs.back().get();
    }

    std::vector<unsigned char> tpb(bool readOnly) const
    {
        std::vector<unsigned char> t{isc_tpb_version3, static_cast<unsigned char>(readOnly ? isc_tpb_read : isc_tpb_write)};
        switch (params.isolation) {
        case ConnectParams::Isolation::RepeatableRead:
            t.push_back(isc_tpb_concurrency);
            break;
        case ConnectParams::Isolation::ReadCommitted:
        case ConnectParams::Isolation::DirtyRead:
            // The engine never shows uncommitted rows; reading the newest committed
            // version is the closest it offers to a dirty read.
            t.push_back(isc_tpb_read_committed);
            t.push_back(isc_tpb_rec_version);
            break;
        }
        t.push_back(params.waitOnLocks ? isc_tpb_wait : isc_tpb_nowait);
        return t;
    }

    ITransaction *startTransaction(Status &st, bool readOnly)
    {
        const std::vector<unsigned char> t = tpb(readOnly);
        ITransaction *tra = att->startTransaction(st(), unsigned(t.size()), t.data());
        st.check();
        return tra;
    }

    IStatement *prepare(Status &st, ITransaction *tra, const QString &sql)
    {
        const QByteArray text = codec->encode(sql);
        IStatement *stmt = att->prepare(st(), tra, unsigned(text.size()), text.constData(), unsigned(params.dialect),
                                        IStatement::PREPARE_PREFETCH_METADATA);
        st.check();
        return stmt;
    }

    qint64 run(ITransaction *tra, const QString &sql, const QList<QVariant> &values, RowSink *sink);
    IMessageMetadata *bindInput(Status &st, ITransaction *tra, IStatement *stmt, const QList<QVariant> &values,
                                std::vector<unsigned char> &buf);
    void writeBlob(Status &st, ITransaction *tra, const QByteArray &data, ISC_QUAD *id);
    QList<Column> planColumns(Status &st, ITransaction *tra, IMessageMetadata *meta, std::vector<OutColumn> *plan);
    int declaredPrecision(ITransaction *tra, const char *relation, const char *field, int fallback);
    void deliverRow(Status &st, ITransaction *tra, const std::vector<OutColumn> &plan, const unsigned char *buf,
                    RowSink *sink);
    const QByteArray &readBlob(Status &st, ITransaction *tra, const ISC_QUAD &id);
};

Connection::Connection() : d(std::make_unique<Impl>()) {}

Connection::~Connection() = default;

namespace {

IXpbBuilder *makeDpb(Status &st, const ConnectParams &p)
{
    IXpbBuilder *dpb = master()->getUtilInterface()->getXpbBuilder(st(), IXpbBuilder::DPB, nullptr, 0);
    st.check();
    if (!p.user.isEmpty())
        dpb->insertString(st(), isc_dpb_user_name, p.user.toUtf8().constData());
    if (!p.password.isEmpty())
        dpb->insertString(st(), isc_dpb_password, p.password.toUtf8().constData());
    if (!p.role.isEmpty())
        dpb->insertString(st(), isc_dpb_sql_role_name, p.role.toUtf8().constData());
    const QString cs = p.charset.trimmed().isEmpty() ? QStringLiteral("NONE") : p.charset.trimmed();
    dpb->insertString(st(), isc_dpb_lc_ctype, cs.toUtf8().constData());
    dpb->insertInt(st(), isc_dpb_sql_dialect, p.dialect);
    if (st.failed()) {
        dpb->dispose();
        st.check();
    }
    return dpb;
}

void checkParams(const ConnectParams &p)
{
    if (p.database.trimmed().isEmpty())
        throw FbError(QStringLiteral("No database name given"));
    // c:\data\x.gdb from a Windows definition would be read here as host "c" and
    // sent to the network; say what is wrong instead.
    const QString db = p.database.trimmed();
    if (db.size() > 2 && db[0].isLetter() && db[0].unicode() < 0x80 && db[1] == u':'
        && (db[2] == u'\\' || db[2] == u'/'))
        throw FbError(QStringLiteral("'%1' is a Windows drive path; give the database's path on this "
                                     "machine, or host:path for a server").arg(db));
    if (p.dialect < 1 || p.dialect > 3)
        throw FbError(QStringLiteral("Invalid SQL dialect %1 (1, 2 or 3 expected)").arg(p.dialect));
}

} // namespace

void Connection::open(const ConnectParams &params)
{
    close();
    checkParams(params);
    prepareClientEnvironment();

    Status st;
    d->provider = master()->getDispatcher();
    IXpbBuilder *dpb = makeDpb(st, params);
    const QByteArray path = QFile::encodeName(params.database.trimmed());
    d->att = d->provider->attachDatabase(st(), path.constData(), dpb->getBufferLength(st()), dpb->getBuffer(st()));
    dpb->dispose();
    if (st.failed()) {
        d->att = nullptr;
        d->provider->release();
        d->provider = nullptr;
        st.check();
    }
    d->params = params;

    // The connection character set decides how SQL text and parameters are encoded.
    // Names we do not know locally are looked up from the server once.
    CharsetInfo cs;
    if (!charsetByName(params.charset, &cs)) {
        cs = charsetById(0);
        d->codec = std::make_unique<TextCodec>(cs);
        struct IdSink : RowSink {
            int id = -1;
            void setColumns(const QList<Column> &) override {}
            void beginRow() override {}
            void setNull(int) override {}
            void setInt(int, qint64 v) override { id = int(v); }
            void setDouble(int, double) override {}
            void setDecimal(int, const Decimal &) override {}
            void setBool(int, bool) override {}
            void setDate(int, const QDate &) override {}
            void setTime(int, const QTime &) override {}
            void setDateTime(int, const QDateTime &) override {}
            void setText(int, const QString &) override {}
            void setAnsi(int, const char *, qsizetype) override {}
            void setBlob(int, const char *, qsizetype) override {}
            void endRow() override {}
        } sink;
        try {
            execute(QStringLiteral("select mon$character_set_id from mon$attachments "
                                   "where mon$attachment_id = current_connection"),
                    {}, &sink);
        } catch (...) {
            close();
            throw;
        }
        if (sink.id >= 0)
            cs = charsetById(sink.id);
    }
    d->connCs = cs;
    d->codec = std::make_unique<TextCodec>(cs);
}

void Connection::close()
{
    d->detach();
}

bool Connection::isOpen() const
{
    return d->att != nullptr;
}

const ConnectParams &Connection::params() const
{
    return d->params;
}

void Connection::createDatabase(const ConnectParams &params, int pageSize)
{
    checkParams(params);
    prepareClientEnvironment();
    const QString charset = params.charset.trimmed().isEmpty() ? QStringLiteral("NONE") : params.charset.trimmed();

    Status st;
    Ref<IProvider> provider(master()->getDispatcher());
    IXpbBuilder *dpb = makeDpb(st, params);
    dpb->insertInt(st(), isc_dpb_page_size, pageSize);
    dpb->insertString(st(), isc_dpb_set_db_charset, charset.toUtf8().constData());
    const QByteArray path = QFile::encodeName(params.database.trimmed());
    IAttachment *att = nullptr;
    if (!st.failed())
        att = provider->createDatabase(st(), path.constData(), dpb->getBufferLength(st()), dpb->getBuffer(st()));
    dpb->dispose();
    st.check();
    att->detach(st());
    if (st.failed()) {
        att->release();
        st.check();
    }
}

namespace {

// Rolls the transaction back unless it was committed; frees what a statement left open.
struct TransactionGuard {
    ITransaction *tra;
    explicit TransactionGuard(ITransaction *t) : tra(t) {}
    ~TransactionGuard()
    {
        if (!tra)
            return;
        Status st;
        tra->rollback(st());
        if (st.failed())
            tra->release();
    }
    void commit(Status &st)
    {
        tra->commit(st());
        st.check();
        tra = nullptr;
    }
};

} // namespace

qint64 Connection::execute(const QString &sql, const QList<QVariant> &params, RowSink *sink)
{
    d->requireOpen();
    // Inside the caller's transaction a failed statement is undone by the engine on its
    // own (statement savepoint); the transaction stays for the caller to end.
    if (d->tra)
        return d->run(d->tra, sql, params, sink);
    Status st;
    TransactionGuard guard(d->startTransaction(st, false));
    const qint64 affected = d->run(guard.tra, sql, params, sink);
    guard.commit(st);
    return affected;
}

QList<Column> Connection::describe(const QString &sql)
{
    d->requireOpen();
    Status st;
    // In the caller's transaction when one is open, so it sees what that one did.
    TransactionGuard guard(d->tra ? nullptr : d->startTransaction(st, true));
    ITransaction *tra = d->tra ? d->tra : guard.tra;
    Ref<IStatement> stmt(d->prepare(st, tra, sql));
    Ref<IMessageMetadata> meta(stmt->getOutputMetadata(st()));
    st.check();
    std::vector<OutColumn> plan;
    QList<Column> cols = d->planColumns(st, tra, meta.get(), &plan);
    if (guard.tra)
        guard.commit(st);
    return cols;
}

int Connection::parameterCount(const QString &sql)
{
    d->requireOpen();
    Status st;
    TransactionGuard guard(d->tra ? nullptr : d->startTransaction(st, true));
    Ref<IStatement> stmt(d->prepare(st, d->tra ? d->tra : guard.tra, sql));
    Ref<IMessageMetadata> meta(stmt->getInputMetadata(st()));
    st.check();
    const int n = int(meta->getCount(st()));
    st.check();
    if (guard.tra)
        guard.commit(st);
    return n;
}

void Connection::beginTransaction()
{
    d->requireOpen();
    if (d->tra)
        throw FbError(QStringLiteral("A transaction is already open on this connection"));
    Status st;
    d->tra = d->startTransaction(st, false);
}

void Connection::commit()
{
    if (!d->tra)
        throw FbError(QStringLiteral("No transaction is open to commit"));
    Status st;
    d->tra->commit(st());
    // A refused commit leaves the transaction open: the caller rolls it back.
    st.check();
    d->tra = nullptr;
}

void Connection::rollback()
{
    d->endTransaction();
}

bool Connection::inTransaction() const
{
    return d->tra != nullptr;
}

qint64 Connection::Impl::run(ITransaction *tra, const QString &sql, const QList<QVariant> &values, RowSink *sink)
{
    Status st;
    Ref<IStatement> stmt(prepare(st, tra, sql));
    const unsigned type = stmt->getType(st());
    st.check();
    switch (type) {
    case isc_info_sql_stmt_start_trans:
    case isc_info_sql_stmt_commit:
    case isc_info_sql_stmt_rollback:
        // Transactions are the connection's to begin and end; a COMMIT inside a
        // script would end one behind its back.
        throw FbError(QStringLiteral("Transaction statements are not accepted here: "
                                     "the connection begins and ends its transactions itself"));
    default:
        break;
    }

    std::vector<unsigned char> inBuf;
    Ref<IMessageMetadata> inMeta(bindInput(st, tra, stmt.get(), values, inBuf));
    unsigned char *inData = inBuf.empty() ? nullptr : inBuf.data();

    if (type == isc_info_sql_stmt_select || type == isc_info_sql_stmt_select_for_upd
        || type == isc_info_sql_stmt_exec_procedure) {
        Ref<IMessageMetadata> outMeta(stmt->getOutputMetadata(st()));
        st.check();
        std::vector<OutColumn> plan;
        const QList<Column> cols = planColumns(st, tra, outMeta.get(), &plan);
        const unsigned outLen = outMeta->getMessageLength(st());
        st.check();
        // One buffer for every row; 8-byte alignment suits every field type.
        std::vector<quint64> outBuf(outLen / 8 + 1);
        auto *out = reinterpret_cast<unsigned char *>(outBuf.data());
        if (sink)
            sink->setColumns(cols);

        if (type == isc_info_sql_stmt_exec_procedure) {
            stmt->execute(st(), tra, inMeta.get(), inData, plan.empty() ? nullptr : outMeta.get(),
                          plan.empty() ? nullptr : out);
            st.check();
            if (sink && !plan.empty())
                deliverRow(st, tra, plan, out, sink);
            stmt->free(st());
            st.check();
            stmt.take();
            return -1;
        }

        Ref<IResultSet> rs(stmt->openCursor(st(), tra, inMeta.get(), inData, outMeta.get(), 0));
        st.check();
        for (;;) {
            const int r = rs->fetchNext(st(), out);
            if (r == IStatus::RESULT_NO_DATA)
                break;
            if (r != IStatus::RESULT_OK) {
                st.check();
                break;
            }
            if (sink)
                deliverRow(st, tra, plan, out, sink);
        }
        rs->close(st());
        st.check();
        rs.take();
        stmt->free(st());
        st.check();
        stmt.take();
        return -1;
    }

    stmt->execute(st(), tra, inMeta.get(), inData, nullptr, nullptr);
    st.check();
    qint64 affected = -1;
    if (type == isc_info_sql_stmt_insert || type == isc_info_sql_stmt_update || type == isc_info_sql_stmt_delete) {
        affected = qint64(stmt->getAffectedRecords(st()));
        st.check();
    }
    stmt->free(st());
    st.check();
    stmt.take();
    return affected;
}

// Builds the input message: every value is sent in a form of its own kind (text in the
// connection character set, exact scaled integers, dates...) and the engine converts it
// to the parameter's declared type, as it would convert a literal.
IMessageMetadata *Connection::Impl::bindInput(Status &st, ITransaction *tra, IStatement *stmt,
                                              const QList<QVariant> &values, std::vector<unsigned char> &buf)
{
    Ref<IMessageMetadata> declared(stmt->getInputMetadata(st()));
    st.check();
    const unsigned count = declared->getCount(st());
    st.check();
    if (count != unsigned(values.size()))
        throw FbError(QStringLiteral("The statement takes %1 parameter(s) but %2 value(s) were given")
                          .arg(count)
                          .arg(values.size()));
    if (count == 0)
        return nullptr;

    enum class In { Null, Text, Int64, Double, Date, Time, Timestamp, Bool, Blob };
    struct Bound {
        In kind = In::Null;
        QByteArray bytes;
        qint64 i = 0;
        double d = 0;
        QDate date;
        QTime time;
    };
    std::vector<Bound> bound(count);

    Ref<IMetadataBuilder> builder(declared->getBuilder(st()));
    st.check();
    for (unsigned i = 0; i < count; ++i) {
        const QVariant &v = values[int(i)];
        Bound &b = bound[i];
        const unsigned declType = declared->getType(st(), i) & ~1u;
        st.check();
        const bool declBlob = declType == SQL_BLOB;
        const int tid = v.metaType().id();
        auto asText = [&](const QByteArray &bytes, unsigned charset) {
            if (declBlob) {
                b.kind = In::Blob;
                b.bytes = bytes;
                return;
            }
            if (unsigned(bytes.size()) > kMaxVarying)
                throw FbError(QStringLiteral("Parameter %1: a value of %2 bytes is too long (at most %3 bytes "
                                             "outside blob columns)")
                                  .arg(i + 1)
                                  .arg(bytes.size())
                                  .arg(kMaxVarying));
            b.kind = In::Text;
            b.bytes = bytes;
            builder->setType(st(), i, SQL_VARYING);
            builder->setSubType(st(), i, 0);
            builder->setScale(st(), i, 0);
            builder->setLength(st(), i, std::max(1u, unsigned(bytes.size())));
            builder->setCharSet(st(), i, charset);
        };
        auto setFixed = [&](In kind, unsigned sqlType, unsigned length, int scale = 0) {
            b.kind = kind;
            builder->setType(st(), i, sqlType);
            builder->setSubType(st(), i, 0);
            builder->setLength(st(), i, length);
            builder->setScale(st(), i, scale);
        };

        if (!v.isValid() || v.isNull()) {
            b.kind = In::Null;
        } else if (tid == QMetaType::QString) {
            asText(codec->encode(v.toString()), unsigned(connCs.id));
        } else if (tid == QMetaType::QByteArray) {
            asText(v.toByteArray(), 1 /* OCTETS */);
        } else if (tid == QMetaType::Bool) {
            if (declType == SQL_BOOLEAN) {
                setFixed(In::Bool, SQL_BOOLEAN, 1);
                b.i = v.toBool();
            } else if (declType == SQL_TEXT || declType == SQL_VARYING || declBlob) {
                asText(v.toBool() ? "True" : "False", unsigned(connCs.id));
            } else {
                setFixed(In::Int64, SQL_INT64, 8);
                b.i = v.toBool() ? 1 : 0;
            }
        } else if (tid == QMetaType::Int || tid == QMetaType::UInt || tid == QMetaType::LongLong
                   || tid == QMetaType::Short || tid == QMetaType::UShort || tid == QMetaType::Long
                   || tid == QMetaType::ULong || tid == QMetaType::Char || tid == QMetaType::SChar
                   || tid == QMetaType::UChar) {
            setFixed(In::Int64, SQL_INT64, 8);
            b.i = v.toLongLong();
        } else if (tid == QMetaType::ULongLong) {
            const qulonglong u = v.toULongLong();
            if (u <= qulonglong(std::numeric_limits<qint64>::max())) {
                setFixed(In::Int64, SQL_INT64, 8);
                b.i = qint64(u);
            } else {
                asText(QByteArray::number(u), unsigned(connCs.id));
            }
        } else if (tid == QMetaType::Double || tid == QMetaType::Float) {
            const double x = v.toDouble();
            if (!std::isfinite(x))
                throw FbError(QStringLiteral("Parameter %1: %2 is not a number the database can store")
                                  .arg(i + 1)
                                  .arg(x));
            setFixed(In::Double, SQL_DOUBLE, 8);
            b.d = x;
        } else if (tid == qMetaTypeId<Decimal>()) {
            const Decimal dec = v.value<Decimal>();
            // Exact as a scaled BIGINT when it fits, else as its decimal text.
            const Decimal::Int lim = std::numeric_limits<qint64>::max();
            if (dec.scale() <= 18 && dec.unscaled() <= lim && dec.unscaled() >= -lim) {
                setFixed(In::Int64, SQL_INT64, 8, -dec.scale());
                b.i = qint64(dec.unscaled());
            } else {
                asText(dec.toString().toLatin1(), unsigned(connCs.id));
            }
        } else if (tid == QMetaType::QDate) {
            b.date = v.toDate();
            if (!b.date.isValid())
                throw FbError(QStringLiteral("Parameter %1: invalid date").arg(i + 1));
            setFixed(In::Date, SQL_TYPE_DATE, 4);
        } else if (tid == QMetaType::QTime) {
            b.time = v.toTime();
            if (!b.time.isValid())
                throw FbError(QStringLiteral("Parameter %1: invalid time").arg(i + 1));
            setFixed(In::Time, SQL_TYPE_TIME, 4);
        } else if (tid == QMetaType::QDateTime) {
            const QDateTime dt = v.toDateTime();
            if (!dt.isValid())
                throw FbError(QStringLiteral("Parameter %1: invalid date and time").arg(i + 1));
            // The wall-clock reading is what is stored; no zone is applied.
            b.date = dt.date();
            b.time = dt.time();
            setFixed(In::Timestamp, SQL_TIMESTAMP, 8);
        } else if (v.canConvert<QString>()) {
            asText(codec->encode(v.toString()), unsigned(connCs.id));
        } else {
            throw FbError(QStringLiteral("Parameter %1: values of type %2 cannot be sent to the database")
                              .arg(i + 1)
                              .arg(QString::fromLatin1(v.typeName())));
        }
        st.check();
    }

    IMessageMetadata *meta = builder->getMetadata(st());
    st.check();
    Ref<IMessageMetadata> metaRef(meta);
    const unsigned len = meta->getMessageLength(st());
    st.check();
    buf.assign(len, 0);
    unsigned char *p = buf.data();
    for (unsigned i = 0; i < count; ++i) {
        const Bound &b = bound[i];
        const unsigned off = meta->getOffset(st(), i);
        const unsigned nullOff = meta->getNullOffset(st(), i);
        st.check();
        writeAt<short>(p, nullOff, b.kind == In::Null ? -1 : 0);
        switch (b.kind) {
        case In::Null:
            break;
        case In::Text:
            writeAt<ISC_USHORT>(p, off, ISC_USHORT(b.bytes.size()));
            std::memcpy(p + off + 2, b.bytes.constData(), size_t(b.bytes.size()));
            break;
        case In::Int64:
            writeAt<ISC_INT64>(p, off, b.i);
            break;
        case In::Double:
            writeAt<double>(p, off, b.d);
            break;
        case In::Bool:
            writeAt<FB_BOOLEAN>(p, off, b.i ? FB_TRUE : FB_FALSE);
            break;
        case In::Date:
            writeAt<ISC_DATE>(p, off, encodeDate(b.date));
            break;
        case In::Time:
            writeAt<ISC_TIME>(p, off, encodeTime(b.time));
            break;
        case In::Timestamp:
            writeAt<ISC_DATE>(p, off, encodeDate(b.date));
            writeAt<ISC_TIME>(p, off + sizeof(ISC_DATE), encodeTime(b.time));
            break;
        case In::Blob: {
            ISC_QUAD id;
            writeBlob(st, tra, b.bytes, &id);
            writeAt<ISC_QUAD>(p, off, id);
            break;
        }
        }
    }
    return metaRef.take();
}

void Connection::Impl::writeBlob(Status &st, ITransaction *tra, const QByteArray &data, ISC_QUAD *id)
{
    Ref<IBlob> blob(att->createBlob(st(), tra, id, 0, nullptr));
    st.check();
    for (qsizetype pos = 0; pos < data.size(); pos += kBlobChunk) {
        const unsigned n = unsigned(std::min<qsizetype>(kBlobChunk, data.size() - pos));
        blob->putSegment(st(), n, data.constData() + pos);
        st.check();
    }
    blob->close(st());
    st.check();
    blob.take();
}

namespace {

int defaultPrecision(unsigned sqlType)
{
    switch (sqlType) {
    case SQL_SHORT: return 4;
    case SQL_LONG: return 9;
    case SQL_DOUBLE: return 15;
    default: return 18;
    }
}

} // namespace

// Column definitions and the reading plan of a result.
QList<Column> Connection::Impl::planColumns(Status &st, ITransaction *tra, IMessageMetadata *meta,
                                            std::vector<OutColumn> *plan)
{
    QList<Column> cols;
    plan->clear();
    const unsigned count = meta->getCount(st());
    st.check();
    for (unsigned i = 0; i < count; ++i) {
        const unsigned type = meta->getType(st(), i) & ~1u;
        const int subType = meta->getSubType(st(), i);
        const unsigned length = meta->getLength(st(), i);
        const int scale = meta->getScale(st(), i);
        const int charsetId = int(meta->getCharSet(st(), i) & 0xFF);
        const char *alias = meta->getAlias(st(), i);
        const bool nullable = meta->isNullable(st(), i);
        OutColumn oc;
        oc.offset = meta->getOffset(st(), i);
        oc.nullOffset = meta->getNullOffset(st(), i);
        st.check();
        oc.length = length;

        Column c;
        c.name = codec->decode(alias, qsizetype(std::strlen(alias)));
        c.nullable = nullable;
        const CharsetInfo cs = charsetById(charsetId);

        switch (type) {
        case SQL_SHORT:
        case SQL_LONG:
        case SQL_INT64:
            if (scale < 0 || subType == 1 || subType == 2) {
                // NUMERIC/DECIMAL: exact, with the precision the column was declared with.
                oc.kind = OutKind::Scaled;
                oc.scale = -scale;
                c.type = ftFMTBcd;
                c.scale = -scale;
                c.size = -scale;
                const char *rel = meta->getRelation(st(), i);
                const char *fld = meta->getField(st(), i);
                st.check();
                c.precision = declaredPrecision(tra, rel, fld, defaultPrecision(type));
            } else {
                oc.kind = OutKind::Int;
                c.type = type == SQL_SHORT ? ftSmallint : type == SQL_LONG ? ftInteger : ftLargeint;
            }
            break;
        case SQL_FLOAT:
            oc.kind = OutKind::Float;
            c.type = ftFloat;
            break;
        case SQL_DOUBLE:
        case SQL_D_FLOAT:
            if (scale < 0) {
                // Dialect 1 keeps NUMERIC(15,2) and wider in a double.
                oc.kind = OutKind::ScaledDouble;
                oc.scale = -scale;
                c.type = ftFMTBcd;
                c.scale = c.size = -scale;
                c.precision = 15;
            } else {
                oc.kind = OutKind::Double;
                c.type = ftFloat;
            }
            break;
        case SQL_BOOLEAN:
            oc.kind = OutKind::Bool;
            c.type = ftBoolean;
            break;
        case SQL_TYPE_DATE:
            oc.kind = OutKind::Date;
            c.type = ftDate;
            break;
        case SQL_TYPE_TIME:
            oc.kind = OutKind::Time;
            c.type = ftTime;
            break;
        case SQL_TIMESTAMP:
            oc.kind = OutKind::Timestamp;
            c.type = ftDateTime;
            break;
        case SQL_TEXT:
        case SQL_VARYING: {
            const bool fixed = type == SQL_TEXT;
            if (cs.kind == TextKind::Ansi) {
                oc.kind = fixed ? OutKind::AnsiFixed : OutKind::AnsiVar;
                c.type = fixed ? ftFixedChar : ftString;
                c.size = int(length);
            } else if (cs.kind == TextKind::Octets) {
                oc.kind = fixed ? OutKind::BytesFixed : OutKind::BytesVar;
                c.type = fixed ? ftBytes : ftVarBytes;
                c.size = int(length);
            } else {
                oc.kind = fixed ? OutKind::WideFixed : OutKind::WideVar;
                oc.codec = codecFor(charsetId);
                oc.charLength = int(length) / std::max(1, cs.bytesPerChar);
                c.type = ftWideString;
                c.size = oc.charLength;
            }
            break;
        }
        case SQL_BLOB:
            if (subType == 1 && cs.kind == TextKind::Ansi) {
                oc.kind = OutKind::BlobAnsi;
                c.type = ftMemo;
            } else if (subType == 1 && cs.kind != TextKind::Octets) {
                oc.kind = OutKind::BlobWide;
                oc.codec = codecFor(charsetId);
                c.type = ftWideMemo;
            } else {
                oc.kind = OutKind::BlobBinary;
                c.type = ftBlob;
            }
            break;
        case SQL_NULL:
            // "select null from ..." has no type of its own: an always-empty text.
            oc.kind = OutKind::Null;
            c.type = ftString;
            c.size = 1;
            break;
        default:
            throw FbError(QStringLiteral("Column %1 (%2) has a type this program cannot read (%3)")
                              .arg(i + 1)
                              .arg(c.name)
                              .arg(type == SQL_ARRAY ? QStringLiteral("ARRAY") : QString::number(type)));
        }
        cols << c;
        plan->push_back(oc);
    }
    return cols;
}

int Connection::Impl::declaredPrecision(ITransaction *tra, const char *relation, const char *field, int fallback)
{
    if (!relation || !*relation || !field || !*field)
        return fallback;
    const QString rel = codec->decode(relation, qsizetype(std::strlen(relation)));
    const QString fld = codec->decode(field, qsizetype(std::strlen(field)));
    const QString key = rel + u'.' + fld;
    auto it = precisionCache.constFind(key);
    if (it != precisionCache.constEnd())
        return *it;

    struct PrecisionSink : RowSink {
        int precision = 0;
        void setColumns(const QList<Column> &) override {}
        void beginRow() override {}
        void setNull(int) override {}
        void setInt(int, qint64 v) override { precision = int(v); }
        void setDouble(int, double) override {}
        void setDecimal(int, const Decimal &) override {}
        void setBool(int, bool) override {}
        void setDate(int, const QDate &) override {}
        void setTime(int, const QTime &) override {}
        void setDateTime(int, const QDateTime &) override {}
        void setText(int, const QString &) override {}
        void setAnsi(int, const char *, qsizetype) override {}
        void setBlob(int, const char *, qsizetype) override {}
        void endRow() override {}
    } sink;
    run(tra,
        QStringLiteral("select f.rdb$field_precision from rdb$relation_fields rf "
                       "join rdb$fields f on f.rdb$field_name = rf.rdb$field_source "
                       "where rf.rdb$relation_name = ? and rf.rdb$field_name = ?"),
        {rel, fld}, &sink);
    const int p = sink.precision > 0 ? sink.precision : fallback;
    precisionCache.insert(key, p);
    return p;
}

const QByteArray &Connection::Impl::readBlob(Status &st, ITransaction *tra, const ISC_QUAD &id)
{
    ISC_QUAD quad = id;
    Ref<IBlob> blob(att->openBlob(st(), tra, &quad, 0, nullptr));
    st.check();

    // Size the buffer once from the blob's total length, then read it in large pieces.
    const unsigned char items[] = {isc_info_blob_total_length};
    unsigned char info[32] = {};
    blob->getInfo(st(), sizeof items, items, sizeof info, info);
    st.check();
    qsizetype total = 0;
    if (info[0] == isc_info_blob_total_length) {
        const int n = int(isc_vax_integer(reinterpret_cast<const ISC_SCHAR *>(info + 1), 2));
        total = qsizetype(isc_portable_integer(info + 3, short(n)));
    }
    if (blobBuf.size() < total)
        blobBuf.resize(total);

    qsizetype used = 0;
    for (;;) {
        if (blobBuf.size() == used)
            blobBuf.resize(std::max<qsizetype>(blobBuf.size() * 2, used + kBlobChunk));
        unsigned got = 0;
        const unsigned room = unsigned(std::min<qsizetype>(blobBuf.size() - used, kBlobChunk));
        const int r = blob->getSegment(st(), room, blobBuf.data() + used, &got);
        if (r == IStatus::RESULT_NO_DATA)
            break;
        if (r != IStatus::RESULT_OK && r != IStatus::RESULT_SEGMENT)
            st.check();
        used += got;
    }
    blob->close(st());
    st.check();
    blob.take();
    // Size only shrinks logically: capacity stays for the next blob.
    blobBuf.truncate(used);
    return blobBuf;
}

void Connection::Impl::deliverRow(Status &st, ITransaction *tra, const std::vector<OutColumn> &plan,
                                  const unsigned char *buf, RowSink *sink)
{
    sink->beginRow();
    const int n = int(plan.size());
    for (int c = 0; c < n; ++c) {
        const OutColumn &oc = plan[size_t(c)];
        if (oc.kind == OutKind::Null || readAt<short>(buf, oc.nullOffset) != 0) {
            sink->setNull(c);
            continue;
        }
        const unsigned off = oc.offset;
        switch (oc.kind) {
        case OutKind::Null:
            break;
        case OutKind::Int:
            if (oc.length == 2)
                sink->setInt(c, readAt<ISC_SHORT>(buf, off));
            else if (oc.length == 4)
                sink->setInt(c, readAt<ISC_LONG>(buf, off));
            else
                sink->setInt(c, readAt<ISC_INT64>(buf, off));
            break;
        case OutKind::Scaled: {
            qint64 v = oc.length == 2 ? readAt<ISC_SHORT>(buf, off)
                       : oc.length == 4 ? readAt<ISC_LONG>(buf, off)
                                        : readAt<ISC_INT64>(buf, off);
            sink->setDecimal(c, Decimal(v, oc.scale));
            break;
        }
        case OutKind::ScaledDouble: {
            const double x = readAt<double>(buf, off) * std::pow(10.0, oc.scale);
            sink->setDecimal(c, Decimal(Decimal::Int(std::llround(x)), oc.scale));
            break;
        }
        case OutKind::Double:
            sink->setDouble(c, readAt<double>(buf, off));
            break;
        case OutKind::Float:
            sink->setDouble(c, double(readAt<float>(buf, off)));
            break;
        case OutKind::Bool:
            sink->setBool(c, readAt<FB_BOOLEAN>(buf, off) != 0);
            break;
        case OutKind::Date:
            sink->setDate(c, decodeDate(readAt<ISC_DATE>(buf, off)));
            break;
        case OutKind::Time:
            sink->setTime(c, decodeTime(readAt<ISC_TIME>(buf, off)));
            break;
        case OutKind::Timestamp:
            sink->setDateTime(c, QDateTime(decodeDate(readAt<ISC_DATE>(buf, off)),
                                           decodeTime(readAt<ISC_TIME>(buf, off + sizeof(ISC_DATE))), Qt::UTC));
            break;
        case OutKind::AnsiVar:
            sink->setAnsi(c, reinterpret_cast<const char *>(buf + off + 2), readAt<ISC_USHORT>(buf, off));
            break;
        case OutKind::AnsiFixed: {
            const char *p = reinterpret_cast<const char *>(buf + off);
            qsizetype len = oc.length;
            // A trail byte of code page 950 is never a blank, so this cannot cut a character.
            if (params.trimChar)
                while (len > 0 && p[len - 1] == ' ')
                    --len;
            sink->setAnsi(c, p, len);
            break;
        }
        case OutKind::WideVar:
            sink->setText(c, oc.codec->decode(reinterpret_cast<const char *>(buf + off + 2),
                                              readAt<ISC_USHORT>(buf, off)));
            break;
        case OutKind::WideFixed: {
            // Multi-byte CHAR(n) arrives blank-padded to its byte width; a value has
            // at most n characters.
            QString s = oc.codec->decode(reinterpret_cast<const char *>(buf + off), oc.length);
            qsizetype len = s.size();
            const qsizetype keep = params.trimChar ? 0 : oc.charLength;
            while (len > keep && s[len - 1] == u' ')
                --len;
            s.truncate(len);
            sink->setText(c, s);
            break;
        }
        case OutKind::BytesVar:
            sink->setBlob(c, reinterpret_cast<const char *>(buf + off + 2), readAt<ISC_USHORT>(buf, off));
            break;
        case OutKind::BytesFixed:
            sink->setBlob(c, reinterpret_cast<const char *>(buf + off), oc.length);
            break;
        case OutKind::BlobBinary:
        case OutKind::BlobAnsi:
        case OutKind::BlobWide: {
            const QByteArray &data = readBlob(st, tra, readAt<ISC_QUAD>(buf, off));
            if (oc.kind == OutKind::BlobBinary)
                sink->setBlob(c, data.constData(), data.size());
            else if (oc.kind == OutKind::BlobAnsi)
                sink->setAnsi(c, data.constData(), data.size());
            else
                sink->setText(c, oc.codec->decode(data.constData(), data.size()));
            break;
        }
        }
    }
    sink->endRow();
}

} // namespace rpt::fb
