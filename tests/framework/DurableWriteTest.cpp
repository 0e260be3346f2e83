// A picture and the settings file reach the disk before they take their
// names, and their directory after: what a power cut leaves is the old
// state or the whole new file. Watched from outside with strace, since a
// power cut cannot be had in a test.

#include "support/TempDir.h"

#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <gtest/gtest.h>

using namespace tarvelo::test;

namespace {

struct Rename {
    QString to;
    bool fileFlushedBefore = false;
    bool directoryFlushedAfter = false;
};

// The renames in an strace log, each with whether a written file was
// flushed before it and its directory after it.
std::vector<Rename> renamesIn(const QString& log, const QString& dir)
{
    static const QRegularExpression open(R"re(openat\(AT_FDCWD, "([^"]*)", ([A-Z_|]+).*\) = (\d+)$)re");
    static const QRegularExpression flush(R"re(f(?:data)?sync\((\d+)\)\s+= 0$)re");
    // A new name: a rename, or a link to a file made without one (O_TMPFILE).
    static const QRegularExpression naming(R"re((?:rename|linkat)\(.*"([^"]*)".*\) = 0$)re");
    QMap<QString, bool> isDirectory;  // by descriptor, as last opened
    std::vector<Rename> renames;
    bool fileFlushed = false;
    for (const QString& line : log.split('\n')) {
        if (auto m = open.match(line); m.hasMatch()) {
            const bool directory = m.captured(1) == dir && m.captured(2).contains("O_DIRECTORY");
            isDirectory[m.captured(3)] = directory;
            if (!directory && m.captured(2).contains(QRegularExpression("O_WRONLY|O_RDWR")))
                fileFlushed = false;  // a new file being written
        } else if (auto m = flush.match(line); m.hasMatch()) {
            if (!isDirectory.value(m.captured(1)))
                fileFlushed = true;
            else if (!renames.empty())
                renames.back().directoryFlushedAfter = true;
        } else if (auto m = naming.match(line); m.hasMatch()) {
            QString name = QFileInfo(m.captured(1)).fileName();
            if (name == "picture.jpg" || name == "Tarvelo.ini")
                renames.push_back({name, fileFlushed, false});
        }
    }
    return renames;
}

}  // namespace

TEST(DurableWrites, FlushedBeforeTheirNamesAndTheDirectoryAfter)
{
    TempWorkDir dir;
    QProcess strace;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ASAN_OPTIONS", "detect_leaks=0");  // LeakSanitizer cannot run under ptrace
    strace.setProcessEnvironment(env);
    strace.setStandardOutputFile(dir.file("out.log"));
    strace.start("strace", {"-f", "-qq", "-e", "trace=openat,fsync,fdatasync,rename,linkat", "-o", dir.file("calls.log"),
                            DURABLE_WRITER, dir.path()});
    ASSERT_TRUE(strace.waitForFinished(60000));
    ASSERT_EQ(strace.exitCode(), 0) << strace.readAllStandardError().toStdString();
    EXPECT_EQ(readBytes(dir.file("out.log")), "picture: written \nsettings: written\n");
    std::vector<Rename> renames = renamesIn(QString::fromUtf8(readBytes(dir.file("calls.log"))), dir.path());
    ASSERT_EQ(renames.size(), 3u);
    for (const Rename& r : renames) {
        SCOPED_TRACE(r.to.toStdString());
        EXPECT_TRUE(r.fileFlushedBefore);
        EXPECT_TRUE(r.directoryFlushedAfter);
    }
    EXPECT_EQ(renames[0].to, "picture.jpg");
    EXPECT_EQ(renames[1].to, "Tarvelo.ini") << "a new settings file";
    EXPECT_EQ(renames[2].to, "Tarvelo.ini") << "replaced";
}

// A disk that fails its flushes (EIO) gets no file under either name, and
// each write says so; a temporary file a power cut left under the name the
// writer would take first is passed over.
TEST(DurableWrites, WhatTheDiskRefusesIsReportedAndLeftoversAreSteppedAround)
{
    TempWorkDir dir;
    QProcess strace;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ASAN_OPTIONS", "detect_leaks=0");
    strace.setProcessEnvironment(env);
    strace.setStandardOutputFile(dir.file("failing.log"));
    strace.start("strace", {"-f", "-qq", "-o", "/dev/null", "-e", "trace=fdatasync", "-e", "inject=fdatasync:error=EIO",
                            DURABLE_WRITER, dir.path()});
    ASSERT_TRUE(strace.waitForFinished(60000));
    QString said = QString::fromUtf8(readBytes(dir.file("failing.log")));
    EXPECT_TRUE(said.startsWith("picture: not written Input/output error")) << said.toStdString();
    EXPECT_TRUE(said.contains("settings: cannot write") && said.contains("Input/output error")) << said.toStdString();
    EXPECT_FALSE(QFileInfo::exists(dir.file("picture.jpg")));
    EXPECT_FALSE(QFileInfo::exists(dir.file("Tarvelo.ini")));

    QProcess writer;
    writer.setProcessEnvironment(env);
    writer.start(DURABLE_WRITER, {dir.path(), "--leftovers"});
    ASSERT_TRUE(writer.waitForFinished(60000));
    EXPECT_EQ(writer.readAllStandardOutput(), "picture: written \nsettings: written\n");
}
