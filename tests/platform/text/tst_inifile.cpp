#include "platform/text/CodePage.h"
#include "platform/text/Errors.h"
#include "platform/text/IniFile.h"

#include <QDir>
#include <QFile>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace rpt;

namespace {

QByteArray big5(const QString &s)
{
    return cp950::fromUnicode(s);
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray("<missing>");
    return f.readAll();
}

void writeAll(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), bytes.size());
}

QByteArray utf16le(const QString &s)
{
    QStringEncoder enc(QStringConverter::Utf16LE);
    return QByteArray("\xFF\xFE", 2) + QByteArray(enc(s));
}

} // namespace

class TestIniFile : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString path(const QString &name = QStringLiteral("rpttemp.ini")) const { return m_dir.filePath(name); }

private slots:
    void init() { QVERIFY(m_dir.isValid()); }
    void cleanup()
    {
        for (const QString &f : QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden))
            QFile::remove(m_dir.filePath(f));
    }

    // Each change must leave every other byte of the file where it was.
    void editKeepsTheRest_data()
    {
        QTest::addColumn<QByteArray>("before"); // "<none>" = no file
        QTest::addColumn<QString>("op");         // write / erase / delete
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QByteArray>("after");

        const QByteArray handoff = "; written by the launcher\r\n"
                                   "[other]\r\n"
                                   "A = 1\r\n"
                                   "\r\n"
                                   "[rpttemp]\r\n"
                                   "path = C:\\old.rtm\r\n"
                                   "  ; kept comment\r\n"
                                   "tempfile=C:\\temp.cds\r\n"
                                   "\r\n"
                                   "[last]\r\n"
                                   "z=9\r\n";
        QTest::newRow("update rewrites only that line") << handoff << "write" << "RPTTEMP" << "PATH" << "D:\\new.rtm"
            << QByteArray("; written by the launcher\r\n[other]\r\nA = 1\r\n\r\n[rpttemp]\r\npath=D:\\new.rtm\r\n"
                          "  ; kept comment\r\ntempfile=C:\\temp.cds\r\n\r\n[last]\r\nz=9\r\n");
        QTest::newRow("new key after the section's last key") << handoff << "write" << "rpttemp" << "tempfile2" << "C:\\t2.cds"
            << QByteArray("; written by the launcher\r\n[other]\r\nA = 1\r\n\r\n[rpttemp]\r\npath = C:\\old.rtm\r\n"
                          "  ; kept comment\r\ntempfile=C:\\temp.cds\r\ntempfile2=C:\\t2.cds\r\n\r\n[last]\r\nz=9\r\n");
        QTest::newRow("new section at the end, no blank line") << handoff << "write" << "new" << "k" << "v"
            << handoff + "[new]\r\nk=v\r\n";
        QTest::newRow("new file") << QByteArray("<none>") << "write" << "rpttemp" << "path" << "C:\\a.rtm"
            << QByteArray("[rpttemp]\r\npath=C:\\a.rtm\r\n");
        QTest::newRow("last line without a line end") << QByteArray("[a]\r\nk=1") << "write" << "b" << "k" << "2"
            << QByteArray("[a]\r\nk=1\r\n[b]\r\nk=2\r\n");
        QTest::newRow("key into a section without keys") << QByteArray("[a]\r\n[b]\r\nx=1\r\n") << "write" << "a" << "k" << "v"
            << QByteArray("[a]\r\nk=v\r\n[b]\r\nx=1\r\n");
        QTest::newRow("LF file gets LF lines") << QByteArray("[a]\nk=1\n") << "write" << "a" << "j" << "2"
            << QByteArray("[a]\nk=1\nj=2\n");
        QTest::newRow("names match ignoring case, file spelling kept") << QByteArray("[RptTemp]\r\nPath=a\r\n") << "write"
            << "rpttemp" << "PATH" << "b" << QByteArray("[RptTemp]\r\nPath=b\r\n");
        QTest::newRow("first of duplicate keys is updated") << QByteArray("[a]\r\nk=1\r\nk=2\r\n") << "write" << "a" << "K"
            << "3" << QByteArray("[a]\r\nk=3\r\nk=2\r\n");
        // 也 is A4 5D: its second byte is ']'. A byte-wise parser ends the header there.
        QTest::newRow("Big5 section name with ']' as trail byte")
            << QByteArray("[" + big5(u"也"_qs) + "]\r\nk=1\r\n") << "write" << u"也"_qs << "k" << "2"
            << QByteArray("[" + big5(u"也"_qs) + "]\r\nk=2\r\n");
        // A byte that is no code page 950 at all must come back exactly, not as '?'.
        QTest::newRow("undecodable bytes elsewhere survive") << QByteArray("[a]\r\nbad=\xFF\x80\xA4\r\nk=1\r\n") << "write"
            << "a" << "k" << "2" << QByteArray("[a]\r\nbad=\xFF\x80\xA4\r\nk=2\r\n");
        QTest::newRow("erase section with its comments and blanks") << handoff << "erase" << "RPTTEMP" << "" << ""
            << QByteArray("; written by the launcher\r\n[other]\r\nA = 1\r\n\r\n[last]\r\nz=9\r\n");
        QTest::newRow("erase missing section leaves file") << handoff << "erase" << "nope" << "" << "" << handoff;
        QTest::newRow("delete key") << handoff << "delete" << "rpttemp" << "PATH" << ""
            << QByteArray("; written by the launcher\r\n[other]\r\nA = 1\r\n\r\n[rpttemp]\r\n"
                          "  ; kept comment\r\ntempfile=C:\\temp.cds\r\n\r\n[last]\r\nz=9\r\n");
    }

    void editKeepsTheRest()
    {
        QFETCH(QByteArray, before);
        QFETCH(QString, op);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, value);
        QFETCH(QByteArray, after);
        if (before != "<none>")
            writeAll(path(), before);
        TIniFile ini(path());
        if (op == u"write")
            ini.WriteString(section, key, value);
        else if (op == u"erase")
            ini.EraseSection(section);
        else
            ini.DeleteKey(section, key);
        QCOMPARE(readAll(path()), after);
    }

    void readRules_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("expected"); // default is "<def>"

        QTest::newRow("blanks trimmed") << QByteArray("[s]\r\n  k  =  a b  \r\n") << "s" << "k" << "a b";
        QTest::newRow("double quotes stripped") << QByteArray("[s]\r\nk=\" a b \"\r\n") << "s" << "k" << " a b ";
        QTest::newRow("single quotes stripped") << QByteArray("[s]\r\nk='x'\r\n") << "s" << "k" << "x";
        QTest::newRow("unequal quotes kept") << QByteArray("[s]\r\nk=\"x'\r\n") << "s" << "k" << "\"x'";
        QTest::newRow("lone quote kept") << QByteArray("[s]\r\nk=\"\r\n") << "s" << "k" << "\"";
        QTest::newRow("'=' inside the value") << QByteArray("[s]\r\nk=a=b\r\n") << "s" << "k" << "a=b";
        QTest::newRow("section and key ignore case") << QByteArray("[RptTemp]\r\nTempFile=x\r\n") << "RPTTEMP" << "tempfile"
                                                     << "x";
        QTest::newRow("blanks inside the header") << QByteArray("[ rpttemp ]\r\nk=x\r\n") << "rpttemp" << "k" << "x";
        QTest::newRow("missing key gives default") << QByteArray("[s]\r\nk=x\r\n") << "s" << "j" << "<def>";
        QTest::newRow("missing section gives default") << QByteArray("[s]\r\nk=x\r\n") << "t" << "k" << "<def>";
        QTest::newRow("key without '=' gives default") << QByteArray("[s]\r\nk\r\n") << "s" << "k" << "<def>";
        QTest::newRow("comment is not a key") << QByteArray("[s]\r\n;k=x\r\n") << "s" << ";k" << "<def>";
        QTest::newRow("lines before any section belong to none") << QByteArray("k=x\r\n[s]\r\n") << "s" << "k" << "<def>";
        QTest::newRow("first of duplicate sections") << QByteArray("[s]\r\nk=1\r\n[S]\r\nk=2\r\nj=3\r\n") << "s" << "k" << "1";
        QTest::newRow("LF only") << QByteArray("[s]\nk=x\n") << "s" << "k" << "x";
        QTest::newRow("Big5 value with '\\' trail bytes")
            << QByteArray("[s]\r\nk=C:\\" + big5(u"許功蓋"_qs) + "\\a.rtm\r\n") << "s" << "k" << u"C:\\許功蓋\\a.rtm"_qs;
        QTest::newRow("stray lead byte does not eat '='")
            << QByteArray("[s]\r\nk\xA4=v\r\n") << "s" << QString(u"k\uFFFD"_qs) << "v";
    }

    void readRules()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, expected);
        writeAll(path(), file);
        QCOMPARE(TIniFile(path()).ReadString(section, key, QStringLiteral("<def>")), expected);
    }

    void readInteger_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("expected");
        QTest::newRow("decimal") << "42" << 42;
        QTest::newRow("negative") << "-7" << -7;
        QTest::newRow("0x hex") << "0x1F" << 31;
        QTest::newRow("$ hex") << "$ff" << 255;
        QTest::newRow("$FFFFFFFF is -1") << "$FFFFFFFF" << -1;
        QTest::newRow("not a number") << "12a" << -99;
        QTest::newRow("empty") << "" << -99;
        QTest::newRow("too large") << "99999999999" << -99;
        QTest::newRow("sign after prefix") << "0x-5" << -99;
    }

    void readInteger()
    {
        QFETCH(QString, text);
        QFETCH(int, expected);
        writeAll(path(), "[s]\r\nk=" + text.toLatin1() + "\r\n");
        QCOMPARE(TIniFile(path()).ReadInteger("s", "k", -99), expected);
    }

    void listings()
    {
        writeAll(path(), "top=1\r\n[A]\r\nk1=1\r\n;c=2\r\nk2 = \"two\"\r\nflag\r\nK1=dup\r\n[b]\r\n[a]\r\nk3=3\r\n[empty]\r\n");
        const TIniFile ini(path());
        QCOMPARE(ini.ReadSections(), QStringList({"A", "b", "empty"}));
        QCOMPARE(ini.ReadSection("a"), QStringList({"k1", "k2", "flag"}));
        QCOMPARE(ini.ReadSectionValues("a"), QStringList({"k1=1", "k2=two", "flag="}));
        QVERIFY(ini.SectionExists("EMPTY"));
        QVERIFY(!ini.SectionExists("top"));
        QVERIFY(ini.ValueExists("a", "FLAG"));
        QVERIFY(!ini.ValueExists("a", "k3")); // only the first [a] counts
        QVERIFY(!ini.ValueExists("a", ";c"));
        QVERIFY(TIniFile(path("absent.ini")).ReadSections().isEmpty());
        QVERIFY(!QFile::exists(path("absent.ini")));
    }

    // The file keeps its encoding; lines not touched keep their bytes.
    void encodingKept_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QByteArray>("after");
        QStringEncoder u8(QStringConverter::Utf8);
        const QString in = u"[設定]\r\n名稱=舊\r\n[x]\r\ny=1\r\n"_qs;
        const QString out = u"[設定]\r\n名稱=報表\r\n新=許\r\n[x]\r\ny=1\r\n"_qs;
        QTest::newRow("UTF-16LE") << utf16le(in) << utf16le(out);
        QTest::newRow("UTF-8 with mark") << QByteArray("\xEF\xBB\xBF") + QByteArray(u8(in))
                                         << QByteArray("\xEF\xBB\xBF") + QByteArray(u8(out));
        QTest::newRow("UTF-8 without mark") << QByteArray(u8(in)) << QByteArray(u8(out));
        QTest::newRow("code page 950") << big5(in) << big5(out);
    }

    void encodingKept()
    {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, after);
        writeAll(path(), before);
        TIniFile ini(path());
        QCOMPARE(ini.ReadString(u"設定"_qs, u"名稱"_qs, QString()), u"舊"_qs);
        ini.WriteString(u"設定"_qs, u"名稱"_qs, u"報表"_qs);
        ini.WriteString(u"設定"_qs, u"新"_qs, u"許"_qs);
        QCOMPARE(readAll(path()), after);
        QCOMPARE(ini.ReadString(u"設定"_qs, u"新"_qs, QString()), u"許"_qs);
    }

    void big5RoundTrip()
    {
        TIniFile ini(path());
        const QString tpl = u"C:\\報表\\許功蓋.rtm"_qs;
        ini.WriteString("rpttemp", "path", tpl);
        // ANSI file, as the Windows side expects: 報 B3F8 表 AAED 許 B35C 功 A55C 蓋 BB5C.
        QCOMPARE(readAll(path()), QByteArray("[rpttemp]\r\npath=C:\\\xB3\xF8\xAA\xED\\\xB3\\\xA5\\\xBB\\.rtm\r\n"));
        QCOMPARE(ini.ReadString("rpttemp", "path", QString()), tpl);

        // 报 is not in code page 950: the file turns UTF-8 instead of storing '?'.
        const QString simplified = u"D:\\报表\\a.rtm"_qs;
        ini.WriteString("rpttemp", "tempfile", simplified);
        QVERIFY(readAll(path()).startsWith("\xEF\xBB\xBF[rpttemp]\r\n"));
        QCOMPARE(ini.ReadString("rpttemp", "tempfile", QString()), simplified);
        QCOMPARE(ini.ReadString("rpttemp", "path", QString()), tpl);
    }

    // A value (or name) that would split into several lines is refused, not written.
    void unsafeNamesRefused_data()
    {
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::newRow("line break in value") << "rpttemp" << "path" << "x\r\n[evil]\r\nk=1";
        QTest::newRow("LF in value") << "rpttemp" << "path" << "x\ny=2";
        QTest::newRow("NUL in value") << "rpttemp" << "path" << QString(u"a\0b"_qs);
        QTest::newRow("'=' in key") << "rpttemp" << "a=b" << "v";
        QTest::newRow("empty key") << "rpttemp" << "  " << "v";
        QTest::newRow("comment key") << "rpttemp" << ";k" << "v";
        QTest::newRow("']' in section") << "a]b" << "k" << "v";
        QTest::newRow("empty section") << "" << "k" << "v";
    }

    void unsafeNamesRefused()
    {
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, value);
        const QByteArray before = "[rpttemp]\r\npath=old\r\n";
        writeAll(path(), before);
        TIniFile ini(path());
        QVERIFY_THROWS_EXCEPTION(EIniFileException, ini.WriteString(section, key, value));
        QCOMPARE(readAll(path()), before);
    }

    // A write that fails half-way (disk full, size limit) must leave the old file whole
    // and no temporary file behind, and say which file it could not write.
    void failedWriteKeepsOriginal()
    {
        const QByteArray before = "[rpttemp]\r\npath=C:\\old.rtm\r\n[keep]\r\nk=1\r\n";
        writeAll(path(), before);
        TIniFile ini(path());

        struct rlimit old {};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &old), 0);
        struct rlimit small = old;
        small.rlim_cur = 256;
        auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
        QString message;
        bool thrown = false;
        try {
            ini.WriteString("rpttemp", "path", QString(1000, u'x'));
        } catch (const EFCreateError &e) {
            thrown = true;
            message = e.message();
        }
        setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, oldHandler);

        QVERIFY(thrown);
        QVERIFY2(message.contains(path()), qPrintable(message));
        QCOMPARE(readAll(path()), before);
        QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList({"rpttemp.ini"}));
    }

    void readOnlyFolder()
    {
        if (geteuid() == 0)
            QSKIP("root writes into read-only folders; failedWriteKeepsOriginal covers the fault");
        QTemporaryDir dir;
        const QString file = dir.filePath("rpttemp.ini");
        writeAll(file, "[rpttemp]\r\npath=old\r\n");
        QVERIFY(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner));
        TIniFile ini(file);
        QVERIFY_THROWS_EXCEPTION(EFCreateError, ini.WriteString("rpttemp", "path", "new"));
        QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QCOMPARE(readAll(file), QByteArray("[rpttemp]\r\npath=old\r\n"));
    }

    // Something that is not a plain file where the settings file should be: both
    // reading and writing say so, and the thing itself is left alone.
    void notAPlainFile_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("folder") << "folder";
        QTest::newRow("pipe") << "pipe"; // reading it would block forever
    }

    void notAPlainFile()
    {
        QFETCH(QString, kind);
        const QString p = path();
        if (kind == u"folder")
            QVERIFY(QDir(m_dir.path()).mkdir("rpttemp.ini"));
        else
            QCOMPARE(mkfifo(QFile::encodeName(p).constData(), 0600), 0);
        TIniFile ini(p);
        QVERIFY_THROWS_EXCEPTION(EFOpenError, ini.ReadString("a", "b", "c"));
        QVERIFY_THROWS_EXCEPTION(EInOutError, ini.WriteString("a", "b", "c"));
        const QFileInfo after(p);
        QVERIFY(kind == u"folder" ? after.isDir() : (!after.isFile() && after.exists()));
        if (kind == u"folder")
            QVERIFY(QDir(m_dir.path()).rmdir("rpttemp.ini"));
        else
            QFile::remove(p);
    }

    void missingFolder()
    {
        TIniFile nowhere(m_dir.filePath("no/such/dir/rpttemp.ini"));
        try {
            nowhere.WriteString("rpttemp", "path", "x");
            QFAIL("no exception");
        } catch (const EFCreateError &e) {
            QVERIFY2(e.message().contains("no/such/dir/rpttemp.ini"), qPrintable(e.message()));
        }
    }

    // Rewriting goes through a new file; the old one's permissions and a symbolic link
    // pointing at it must survive that.
    void replaceKeepsLinkAndPermissions()
    {
        const QString real = path("real.ini");
        writeAll(real, "[a]\r\nk=1\r\n");
        QVERIFY(QFile::setPermissions(real, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
        QVERIFY(QFile::link(real, path()));
        TIniFile(path()).WriteString("a", "k", "2");
        QVERIFY(QFileInfo(path()).isSymLink());
        QCOMPARE(readAll(real), QByteArray("[a]\r\nk=2\r\n"));
        struct stat st {};
        QCOMPARE(stat(QFile::encodeName(real).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, mode_t(0640));
        QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System).size(), 2);
    }
};

QTEST_GUILESS_MAIN(TestIniFile)
#include "tst_inifile.moc"
