// A picture written over a file that another program holds open: Windows
// refuses the replacement while a viewer or a scanner has the old file open
// without sharing its deletion.

#include "framework/FileBeside.h"
#include "framework/IniFile.h"
#include "support/TempDir.h"

#include <QDir>
#include <gtest/gtest.h>
#include <thread>
#include <windows.h>

using namespace tarvelo;
using namespace tarvelo::test;

namespace {

HANDLE holdOpen(const QString& path)
{
    return CreateFileW(QDir::toNativeSeparators(path).toStdWString().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

QStringList leftovers(const TempWorkDir& dir)
{
    return QDir(dir.path()).entryList({".~tarvelo-*"}, QDir::Files | QDir::Hidden);
}

}  // namespace

TEST(FileBesideWindows, ReplacesAFileOnceItsHolderLetsGoAndKeepsItWhileHeld)
{
    TempWorkDir dir;
    QString path = dir.file("1-20261209120000-op.jpg");
    writeBytes(path, "old");
    std::string why;

    HANDLE held = holdOpen(path);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(WriteBeside(path, "new", why), BesideResult::NotWritten);
    EXPECT_NE(why, "");
    EXPECT_EQ(readBytes(path), "old");
    CloseHandle(held);

    held = holdOpen(path);
    std::thread letGo([held] {
        Sleep(200);
        CloseHandle(held);
    });
    EXPECT_EQ(WriteBeside(path, "newer", why), BesideResult::Written) << why;
    letGo.join();
    EXPECT_EQ(readBytes(path), "newer");
    EXPECT_TRUE(leftovers(dir).isEmpty()) << leftovers(dir).join(' ').toStdString();
}

TEST(FileBesideWindows, NamesBeyondWhatWindowsOpensAreRefusedFirst)
{
    TempWorkDir dir;
    EXPECT_TRUE(FileNameFits(dir.file(QString(200, 'a'))));
    EXPECT_FALSE(FileNameFits(dir.file(QString(256, 'a'))));
    EXPECT_FALSE(FileNameFits(dir.file(QString(120, 'a') + "\\" + QString(150, 'b'))));
}

TEST(IniFileWindows, ASettingsFileHeldOpenElsewhereIsReportedAndKept)
{
    TempWorkDir dir;
    QString path = dir.file("Tarvelo.ini");
    writeBytes(path, "[s]\r\nk=1\r\n");
    HANDLE held = holdOpen(path);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_THROW(IniFile(path).writeString("s", "k", "2"), IniFileError);
    CloseHandle(held);
    EXPECT_EQ(readBytes(path), "[s]\r\nk=1\r\n");
    IniFile(path).writeString("s", "k", "3");
    EXPECT_EQ(readBytes(path), "[s]\r\nk=3\r\n");
    EXPECT_TRUE(leftovers(dir).isEmpty());
}
