#include "platform/text/TextFile.h"

#include "platform/text/CodePage.h"
#include "platform/text/Errors.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStringDecoder>
#include <QStringEncoder>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace rpt {

namespace {

bool startsWith(QByteArrayView bytes, const char *mark, qsizetype n)
{
    return bytes.size() >= n && memcmp(bytes.data(), mark, size_t(n)) == 0;
}

QString decodeUtf16(QByteArrayView bytes, bool littleEndian)
{
    QString out;
    out.reserve(bytes.size() / 2 + 1);
    const auto *p = reinterpret_cast<const uchar *>(bytes.data());
    const qsizetype n = bytes.size() / 2;
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t u = littleEndian ? char16_t(p[2 * i] | (p[2 * i + 1] << 8))
                                        : char16_t((p[2 * i] << 8) | p[2 * i + 1]);
        out.append(QChar(u));
    }
    if (bytes.size() % 2)
        out.append(QChar(QChar::ReplacementCharacter));
    return out;
}

QByteArray encodeUtf16(QStringView text, bool littleEndian)
{
    QByteArray out;
    out.resize(text.size() * 2);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t u = text[i].unicode();
        out[2 * i + (littleEndian ? 0 : 1)] = char(u & 0xFF);
        out[2 * i + (littleEndian ? 1 : 0)] = char(u >> 8);
    }
    return out;
}

} // namespace

bool isValidUtf8(QByteArrayView bytes)
{
    const auto *p = reinterpret_cast<const uchar *>(bytes.data());
    const qsizetype n = bytes.size();
    qsizetype i = 0;
    while (i < n) {
        const uchar b = p[i];
        if (b < 0x80) {
            ++i;
            continue;
        }
        int extra;
        char32_t cp;
        char32_t min;
        if (b >= 0xC2 && b <= 0xDF) {
            extra = 1, cp = b & 0x1F, min = 0x80;
        } else if (b >= 0xE0 && b <= 0xEF) {
            extra = 2, cp = b & 0x0F, min = 0x800;
        } else if (b >= 0xF0 && b <= 0xF4) {
            extra = 3, cp = b & 0x07, min = 0x10000;
        } else {
            return false;
        }
        if (i + extra >= n)
            return false;
        for (int k = 1; k <= extra; ++k) {
            const uchar c = p[i + k];
            if ((c & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (c & 0x3F);
        }
        // Overlong forms, surrogates and code points past U+10FFFF are not UTF-8.
        if (cp < min || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF)
            return false;
        i += extra + 1;
    }
    return true;
}

TextEncoding detectTextEncoding(QByteArrayView bytes)
{
    if (startsWith(bytes, "\xFF\xFE", 2))
        return TextEncoding::Utf16LE;
    if (startsWith(bytes, "\xFE\xFF", 2))
        return TextEncoding::Utf16BE;
    if (startsWith(bytes, "\xEF\xBB\xBF", 3))
        return TextEncoding::Utf8Bom;
    bool ascii = true;
    for (char c : bytes)
        if (uchar(c) >= 0x80) {
            ascii = false;
            break;
        }
    if (!ascii && isValidUtf8(bytes))
        return TextEncoding::Utf8;
    return TextEncoding::Ansi;
}

QByteArray byteOrderMark(TextEncoding enc)
{
    switch (enc) {
    case TextEncoding::Utf8Bom:
        return QByteArray("\xEF\xBB\xBF", 3);
    case TextEncoding::Utf16LE:
        return QByteArray("\xFF\xFE", 2);
    case TextEncoding::Utf16BE:
        return QByteArray("\xFE\xFF", 2);
    case TextEncoding::Ansi:
    case TextEncoding::Utf8:
        break;
    }
    return QByteArray();
}

int codeUnitSize(TextEncoding enc)
{
    return enc == TextEncoding::Utf16LE || enc == TextEncoding::Utf16BE ? 2 : 1;
}

bool isAnsiRepresentable(QStringView text)
{
    for (QChar c : text)
        if (c.unicode() >= 0x80)
            return cp950::toUnicode(cp950::fromUnicode(text)) == text;
    return true;
}

QString decodeText(QByteArrayView bytes, TextEncoding enc)
{
    switch (enc) {
    case TextEncoding::Ansi:
        return cp950::toUnicode(bytes.data(), bytes.size());
    case TextEncoding::Utf8:
    case TextEncoding::Utf8Bom: {
        // A mark in the middle of the text is content, not a mark: keep it.
        QStringDecoder dec(QStringConverter::Utf8, QStringConverter::Flag::ConvertInitialBom);
        return dec.decode(bytes);
    }
    case TextEncoding::Utf16LE:
        return decodeUtf16(bytes, true);
    case TextEncoding::Utf16BE:
        return decodeUtf16(bytes, false);
    }
    return QString();
}

QByteArray encodeText(QStringView text, TextEncoding enc)
{
    switch (enc) {
    case TextEncoding::Ansi:
        return cp950::fromUnicode(text);
    case TextEncoding::Utf8:
    case TextEncoding::Utf8Bom:
        return text.toUtf8();
    case TextEncoding::Utf16LE:
        return encodeUtf16(text, true);
    case TextEncoding::Utf16BE:
        return encodeUtf16(text, false);
    }
    return QByteArray();
}

QByteArray readFileBytes(const QString &fileName, qint64 maxBytes, bool *exists)
{
    const QString native = QFileInfo(fileName).absoluteFilePath();
    QFileInfo info(fileName);
    if (exists)
        *exists = info.exists();
    if (!info.exists() && exists)
        return QByteArray();
    if (info.isDir())
        throw EFOpenError(QString::fromLatin1(msg::FOpenError).arg(native, QStringLiteral("It is a folder.")));
    // A pipe or device would block or never end; settings are always plain files.
    if (info.exists() && !info.isFile())
        throw EFOpenError(QString::fromLatin1(msg::FOpenError).arg(native, QStringLiteral("It is not a regular file.")));
    QFile f(fileName);
    if (!f.open(QIODevice::ReadOnly))
        throw EFOpenError(QString::fromLatin1(msg::FOpenError).arg(native, f.errorString()));
    if (f.size() > maxBytes)
        throw EFOpenError(QString::fromLatin1(msg::FOpenError)
                              .arg(native, QStringLiteral("The file is larger than %1 bytes.").arg(maxBytes)));
    // Read one byte past the limit, in case the size changed since it was asked.
    QByteArray data = f.read(maxBytes + 1);
    if (f.error() != QFileDevice::NoError)
        throw EFOpenError(QString::fromLatin1(msg::FOpenError).arg(native, f.errorString()));
    if (data.size() > maxBytes)
        throw EFOpenError(QString::fromLatin1(msg::FOpenError)
                              .arg(native, QStringLiteral("The file is larger than %1 bytes.").arg(maxBytes)));
    return data;
}

void writeFileAtomically(const QString &fileName, const QByteArray &data)
{
    const QString shown = QFileInfo(fileName).absoluteFilePath();
    auto failed = [&](int err) {
        return EFCreateError(QString::fromLatin1(msg::FCreateError).arg(shown, QString::fromLocal8Bit(strerror(err))));
    };
    // A link is followed: the file it points to is replaced, the link stays a link.
    QFileInfo info(fileName);
    QString target = info.absoluteFilePath();
    if (info.isSymLink())
        target = info.canonicalFilePath().isEmpty() ? info.symLinkTarget() : info.canonicalFilePath();
    const QByteArray targetName = QFile::encodeName(target);

    struct stat old {};
    const bool existed = ::stat(targetName.constData(), &old) == 0;
    // Renaming over a folder, a device or a pipe would destroy it rather than write it.
    if (existed && !S_ISREG(old.st_mode))
        throw EFCreateError(QString::fromLatin1(msg::FCreateError).arg(shown, QStringLiteral("It is not a regular file.")));

    // QSaveFile is not used: on a short write (full disk, file size limit) it commits
    // the truncated file and reports success.
    QByteArray tempName;
    int fd = -1;
    for (int attempt = 0; fd < 0; ++attempt) {
        tempName = targetName + ".tmp" + QByteArray::number(QRandomGenerator::global()->generate(), 36);
        fd = ::open(tempName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && (errno != EEXIST || attempt > 100))
            throw failed(errno);
    }
    auto abandon = [&](int err) {
        if (fd >= 0)
            ::close(fd);
        ::unlink(tempName.constData());
        throw failed(err);
    };
    if (existed) {
        // Keep the old file's permissions and, where allowed, its owner.
        if (::fchmod(fd, old.st_mode & 07777) != 0)
            abandon(errno);
        if (::fchown(fd, old.st_uid, old.st_gid) != 0) {
            // Not permitted for other users' files; the content matters more.
        }
    }
    const char *p = data.constData();
    size_t left = size_t(data.size());
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            abandon(errno);
        }
        if (n == 0)
            abandon(EIO);
        p += n;
        left -= size_t(n);
    }
    if (::fsync(fd) != 0)
        abandon(errno);
    const int closed = ::close(fd);
    fd = -1;
    if (closed != 0)
        abandon(errno);
    if (::rename(tempName.constData(), targetName.constData()) != 0)
        abandon(errno);
    // Make the rename itself durable; a failure here no longer endangers the content.
    const int dirFd = ::open(QFile::encodeName(QFileInfo(target).absolutePath()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
}

} // namespace rpt
