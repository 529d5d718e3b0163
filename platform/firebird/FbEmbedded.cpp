#include "platform/firebird/FbEmbedded.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>

#include <ibase.h>

namespace rpt::fb {

namespace {

// The engine's lock directory when FIREBIRD_LOCK is not set.
constexpr const char *kDefaultLockDir = "/tmp/firebird";

// True when we can work inside dir: the directory itself and every file the engine
// already keeps there (fb_init, fb_rename_guard, per-database lock and event files) can
// be read and written by this process. A directory left by another user (root runs the
// demo, a plain user the tests) passes the first test but fails the second.
bool lockDirUsable(const QByteArray &dir)
{
    struct stat st;
    if (::stat(dir.constData(), &st) != 0)
        return ::access(QFile::encodeName(QDir::tempPath()).constData(), W_OK | X_OK) == 0;
    if (!S_ISDIR(st.st_mode) || ::access(dir.constData(), R_OK | W_OK | X_OK) != 0)
        return false;
    DIR *dp = ::opendir(dir.constData());
    if (!dp)
        return false;
    bool ok = true;
    while (dirent *e = ::readdir(dp)) {
        if (e->d_name[0] == '.')
            continue;
        const QByteArray path = dir + '/' + e->d_name;
        if (::access(path.constData(), R_OK | W_OK) != 0) {
            ok = false;
            break;
        }
    }
    ::closedir(dp);
    return ok;
}

// A directory of our own, not one somebody else prepared for us.
bool ownPrivateDir(const QByteArray &dir)
{
    if (::mkdir(dir.constData(), 0700) != 0 && errno != EEXIST)
        return false;
    struct stat st;
    return ::lstat(dir.constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid()
        && (st.st_mode & 0077) == 0;
}

void shutdownEngine()
{
    // The embedded engine runs threads of its own; stopping it before the C++ runtime
    // tears down static objects lets it flush and close databases in order.
    fb_shutdown(0, fb_shutrsn_app_stopped);
}

} // namespace

void prepareClientEnvironment()
{
    static std::once_flag once;
    std::call_once(once, [] {
        // The embedded engine keeps lock tables in a directory shared by every process on
        // the machine. When that directory belongs to someone we cannot write for, the
        // first attach fails with an obscure lock-manager error; a private directory
        // avoids that. Two processes with different lock directories still cannot open
        // one database file together: the engine also locks the file itself, so the
        // second one gets a clear "in use" error instead of corrupting it.
        if (qEnvironmentVariableIsEmpty("FIREBIRD_LOCK") && !lockDirUsable(kDefaultLockDir)) {
            QByteArray dir = QFile::encodeName(QDir::tempPath()) + "/firebird-" + QByteArray::number(::geteuid());
            if (!ownPrivateDir(dir)) {
                QByteArray tmpl = QFile::encodeName(QDir::tempPath()) + "/firebird-XXXXXX";
                if (::mkdtemp(tmpl.data()))
                    dir = tmpl;
            }
            qputenv("FIREBIRD_LOCK", dir);
        }
        std::atexit(shutdownEngine);
    });
}

} // namespace rpt::fb
