#include "platform/cds/CdsFile.h"

#include "platform/cds/CdsFormat.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace rpt::cds {

namespace {

bool looksLikeXml(const QByteArray &data)
{
    if (data.startsWith("\xFF\xFE") || data.startsWith("\xFE\xFF"))
        return true;
    qsizetype i = data.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    while (i < data.size() && (data[i] == ' ' || data[i] == '\t' || data[i] == '\r' || data[i] == '\n'))
        ++i;
    return i < data.size() && data[i] == '<';
}

[[noreturn]] void cannotOpen(const QString &path, const QString &reason)
{
    throw CdsError(QStringLiteral("Cannot open file \"%1\". %2").arg(path, reason));
}

[[noreturn]] void cannotCreate(const QString &path, const QString &reason)
{
    throw CdsError(QStringLiteral("Cannot create file \"%1\". %2").arg(path, reason));
}

QString systemReason(int err) { return QString::fromLocal8Bit(std::strerror(err)); }

} // namespace

void readBytes(const QByteArray &data, RecordSink &sink, const QString &nameForErrors)
{
    static const char signature[] = "\x96\x19\xE0\xBD";
    if (data.isEmpty())
        detail::invalid(nameForErrors, QStringLiteral("the file is empty"));
    if (data.startsWith(QByteArray::fromRawData(signature, 4))
        || (data.size() < 4 && QByteArray::fromRawData(signature, 4).startsWith(data)))
        detail::readBinary(data, sink, nameForErrors);
    else if (looksLikeXml(data))
        detail::readXml(data, sink, nameForErrors);
    else
        detail::invalid(nameForErrors,
                        QStringLiteral("it is neither a binary packet nor an XML datapacket"));
}

void readFile(const QString &path, RecordSink &sink)
{
    if (QFileInfo(path).isDir())
        cannotOpen(path, systemReason(EISDIR));
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        cannotOpen(path, f.errorString());
    const QByteArray data = f.readAll();
    if (f.error() != QFileDevice::NoError)
        cannotOpen(path, f.errorString());
    f.close();
    readBytes(data, sink, path);
}

CdsTable readFile(const QString &path)
{
    CdsTable t;
    readFile(path, t);
    return t;
}

QByteArray writeBytes(const RecordSource &source, Format format)
{
    return writeBytes(source, format, WriteOptions());
}

QByteArray writeBytes(const RecordSource &source, Format format, const WriteOptions &options)
{
    QByteArray out;
    if (format == Format::Binary)
        detail::writeBinary(source, options, out, {});
    else
        detail::writeXml(source, options, out, {});
    return out;
}

void writeFile(const QString &path, const RecordSource &source, Format format)
{
    writeFile(path, source, format, WriteOptions());
}

void writeFile(const QString &path, const RecordSource &source, Format format,
               const WriteOptions &options)
{
    const QFileInfo info(path);
    if (info.isDir())
        cannotCreate(path, systemReason(EISDIR));
    if (info.exists() && !info.isWritable())
        cannotCreate(path, systemReason(EACCES));

    // Written beside the target and renamed over it at the end, so that a failure
    // (bad value, full disk) never leaves a half-written file under the real name
    // nor destroys the previous one.
    QString tmpPath;
    QFile tmp;
    for (int attempt = 0;; ++attempt) {
        tmpPath = QStringLiteral("%1.%2.tmp").arg(path).arg(QRandomGenerator::global()->generate(), 8, 16,
                                                            QLatin1Char('0'));
        tmp.setFileName(tmpPath);
        if (tmp.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            break;
        if (tmp.error() != QFileDevice::OpenError || !QFileInfo::exists(tmpPath) || attempt > 20)
            cannotCreate(path, tmp.errorString());
    }
    try {
        QByteArray buffer;
        const detail::ChunkFlush flush = [&](QByteArray &chunk) {
            if (tmp.write(chunk) != chunk.size())
                cannotCreate(path, tmp.errorString());
            chunk.clear();
        };
        if (format == Format::Binary)
            detail::writeBinary(source, options, buffer, flush);
        else
            detail::writeXml(source, options, buffer, flush);
        if (!tmp.flush())
            cannotCreate(path, tmp.errorString());
        tmp.close();
        if (tmp.error() != QFileDevice::NoError)
            cannotCreate(path, tmp.errorString());
        if (std::rename(QFile::encodeName(tmpPath).constData(), QFile::encodeName(path).constData()) != 0)
            cannotCreate(path, systemReason(errno));
    } catch (...) {
        tmp.close();
        QFile::remove(tmpPath);
        throw;
    }
}

} // namespace rpt::cds
