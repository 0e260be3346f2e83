#include "framework/GbkText.h"
#include "framework/IniFile.h"
#include "support/TempDir.h"

#include <QDir>
#include <QFileInfo>
#include <gtest/gtest.h>
#ifndef _WIN32
#include "support/OrdinaryUser.h"

#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#endif

using namespace tarvelo;
using tarvelo::test::gbk;
using tarvelo::test::readBytes;
using tarvelo::test::TempWorkDir;
using tarvelo::test::writeBytes;

namespace {

class IniFileTest : public ::testing::Test {
protected:
    TempWorkDir dir;
    QString path = dir.file("test.ini");
    IniFile ini{path};
};

}  // namespace

TEST(ParseInt32, AcceptsWhatFitsAndRefusesTheRest)
{
    struct Case {
        const char* text;
        bool ok;
        int32_t value;
    } cases[] = {
        {"3", true, 3},          {" 42 ", true, 42},        {"-7", true, -7},
        {"+8", true, 8},         {"$1F", true, 31},         {"0x10", true, 16},
        {"2147483647", true, INT32_MAX},                    {"-2147483648", true, INT32_MIN},
        {"2147483648", false, 0},                           {"99999999999", false, 0},
        {"99999999999999999999999999", false, 0},          {"COM3", false, 0},
        {"3a", false, 0},        {"", false, 0},            {"-", false, 0},
        {"--3", false, 0},       {"1.5", false, 0},         {"0x", false, 0},
    };
    for (const Case& c : cases) {
        int32_t value = 0;
        EXPECT_EQ(parseInt32(QString::fromLatin1(c.text), value), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(value, c.value) << c.text;
        }
    }
}

TEST_F(IniFileTest, MissingFileGivesDefaultsAndIsNotCreated)
{
    EXPECT_EQ(ini.readString("s", "k", "def"), "def");
    EXPECT_EQ(ini.readInteger("s", "k", 7), 7);
    EXPECT_FALSE(QFile::exists(path));
}

TEST_F(IniFileTest, WriteKeepsTheRestOfTheFileAndItsLineEnds)
{
    writeBytes(path, "; head comment\r\n[other]\r\nx=1\r\n\r\n[main]\r\n; about a\r\na=old\r\nb=2\r\n[last]\r\nz=9\r\n");
    ini.writeString("main", "a", "new");
    ini.writeString("main", "c", "3");
    QByteArray after = readBytes(path);
    EXPECT_TRUE(after.contains("; head comment\r\n"));
    EXPECT_TRUE(after.contains("; about a\r\na=new\r\n"));
    EXPECT_EQ(after.count("\n"), after.count("\r\n")) << "a bare LF in a CRLF file";
    EXPECT_LT(after.indexOf("[other]"), after.indexOf("[main]"));
    EXPECT_LT(after.indexOf("[main]"), after.indexOf("[last]"));
    EXPECT_LT(after.indexOf("b=2"), after.indexOf("c=3"));
    EXPECT_EQ(ini.readInteger("other", "x", 0), 1);
    EXPECT_EQ(ini.readInteger("last", "z", 0), 9);
    EXPECT_EQ(ini.readString("main", "a", ""), "new");
}

TEST_F(IniFileTest, LfFilesStayLf)
{
    writeBytes(path, "[s]\nk=1\n");
    ini.writeInteger("s", "k", 2);
    EXPECT_FALSE(readBytes(path).contains('\r'));
    EXPECT_EQ(ini.readInteger("s", "k", 0), 2);
}

TEST_F(IniFileTest, NamesMatchWithoutAsciiCaseButGbkTrailBytesAreNotFolded)
{
    writeBytes(path, "[Serial]\nBaud=9600\n");
    EXPECT_EQ(ini.readInteger("SERIAL", "baud", 0), 9600);
    // 0xB0 0x41 and 0xB0 0x61 are two different characters; folding the
    // trail byte 'A' to 'a' would make them one.
    QString upperTrail = fromGbk(std::string_view("\xB0\x41"));
    QString lowerTrail = fromGbk(std::string_view("\xB0\x61"));
    ASSERT_NE(upperTrail, lowerTrail);
    writeBytes(path, "[s]\n" + gbk(upperTrail) + "=1\n");
    EXPECT_EQ(ini.readInteger("s", upperTrail, 0), 1);
    EXPECT_EQ(ini.readInteger("s", lowerTrail, 0), 0);
}

TEST_F(IniFileTest, FirstOfDuplicateKeysWinsAndAWriteLeavesOne)
{
    writeBytes(path, "[s]\nk=first\nk=second\n");
    EXPECT_EQ(ini.readString("s", "k", ""), "first");
    ini.writeString("s", "k", "third");
    EXPECT_EQ(readBytes(path).count("k="), 1);
    EXPECT_EQ(ini.readString("s", "k", ""), "third");
}

TEST_F(IniFileTest, OddLinesAreSurvived)
{
    writeBytes(path, "garbage line\n[s]\nno equals here\n k = spaced \nempty=\n[s2]\nv=\xD5");
    EXPECT_EQ(ini.readString("s", "k", ""), "spaced");
    EXPECT_EQ(ini.readString("s", "empty", "def"), "");
    EXPECT_EQ(ini.readString("s2", "v", ""), QString(QChar(0xFFFD)));
    ini.writeString("s", "new", "1");
    EXPECT_EQ(ini.readString("s", "k", ""), "spaced");
}

TEST_F(IniFileTest, AFileThatCannotBeWrittenIsReportedAndNotReplaced)
{
    QDir().mkdir(path);  // a directory where the file should be
    EXPECT_THROW(ini.writeString("s", "k", "v"), IniFileError);
    EXPECT_EQ(ini.readString("s", "k", "def"), "def");
}

// What follows needs POSIX: a child process, permissions, links, users.
#ifndef _WIN32

// A disk that fills up half-way through a write (here a file-size limit in
// a child process) must not cost the settings written long ago.
TEST_F(IniFileTest, AWriteCutShortLeavesTheOldFileIntact)
{
    QByteArray old = "; written long ago\r\n[s]\r\n";
    for (int i = 0; i < 300; ++i)
        old += "key" + QByteArray::number(i) + "=value\r\n";
    writeBytes(path, old);
    std::fflush(nullptr);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{1024, 1024};
        setrlimit(RLIMIT_FSIZE, &limit);
        try {
            ini.writeString("s", "new", "1");
        } catch (const IniFileError&) {
            _exit(3);
        }
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 3) << "the failure is reported";
    EXPECT_EQ(readBytes(path), old) << "byte for byte";
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"test.ini"})
        << "no half-written file left behind";
}

TEST_F(IniFileTest, AWriteKeepsPermissionsAndWritesThroughALink)
{
    writeBytes(path, "[s]\nk=1\n");
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
    ini.writeString("s", "k", "2");
    EXPECT_EQ(QFile::permissions(path) & 0x7077, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);

    QDir(dir.path()).mkdir("real");
    QString target = dir.file("real/target.ini");
    writeBytes(target, "[s]\nk=1\n");
    QString link = dir.file("link.ini");
    ASSERT_TRUE(QFile::link(target, link));
    IniFile(link).writeString("s", "k", "3");
    EXPECT_TRUE(QFileInfo(link).isSymLink()) << "the link stays a link";
    EXPECT_EQ(readBytes(target), "[s]\nk=3\n");
}

// Where nobody may create a file beside the settings file, it is still
// rewritten in place.
TEST(IniFileInAClosedDirectory, IsWrittenInPlace)
{
    test::runAsEveryUser([] {
        QTemporaryDir dir;
        QString path = dir.filePath("test.ini");
        writeBytes(path, "[s]\nk=1\n");
        QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner);
        IniFile(path).writeString("s", "k", "2");
        EXPECT_EQ(readBytes(path), "[s]\nk=2\n");
        QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    });
}

#endif
