// A picture and the settings file reach the disk before they take their
// names, and their directory after: what a power cut leaves is the old
// state or the whole new file. Watched from outside with strace, since a
// power cut cannot be had in a test.

#include "support/TempDir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <gtest/gtest.h>

using namespace tarvelo::test;

namespace {

struct Rename {
    QString to;
    QString directory;
    bool fileFlushedBefore = false;
    bool directoryFlushedAfter = false;
};

// The renames in an strace log, each with whether a written file was
// flushed before it and the directory it went into after it.
std::vector<Rename> renamesIn(const QString& log)
{
    static const QRegularExpression open(R"re(openat\(AT_FDCWD, "([^"]*)", ([A-Z_|]+).*\) = (\d+)$)re");
    static const QRegularExpression flush(R"re(f(?:data)?sync\((\d+)\)\s+= 0$)re");
    // A new name: a rename, or a link to a file made without one (O_TMPFILE).
    static const QRegularExpression naming(R"re((?:rename|linkat)\(.*"([^"]*)".*\) = 0$)re");
    QMap<QString, QString> directoryOf;  // by descriptor, as last opened; empty for a file
    std::vector<Rename> renames;
    bool fileFlushed = false;
    for (const QString& line : log.split('\n')) {
        if (auto m = open.match(line); m.hasMatch()) {
            const bool directory = m.captured(2).contains("O_DIRECTORY");
            directoryOf[m.captured(3)] = directory ? QFileInfo(m.captured(1)).absoluteFilePath() : QString();
            if (!directory && m.captured(2).contains(QRegularExpression("O_WRONLY|O_RDWR")))
                fileFlushed = false;  // a new file being written
        } else if (auto m = flush.match(line); m.hasMatch()) {
            const QString flushed = directoryOf.value(m.captured(1));
            if (flushed.isEmpty())
                fileFlushed = true;
            else if (!renames.empty() && flushed == renames.back().directory)
                renames.back().directoryFlushedAfter = true;
        } else if (auto m = naming.match(line); m.hasMatch()) {
            const QFileInfo to(m.captured(1));
            if (to.fileName() == "picture.jpg" || to.fileName() == "Tarvelo.ini")
                renames.push_back({to.fileName(), to.absolutePath(), fileFlushed, false});
        }
    }
    return renames;
}

}  // namespace

// A settings file that is a symbolic link is replaced where the link points,
// and that directory is the one flushed.
TEST(DurableWrites, FlushedBeforeTheirNamesAndTheDirectoryAfter)
{
    for (bool linked : {false, true}) {
        SCOPED_TRACE(linked ? "Tarvelo.ini a link" : "Tarvelo.ini a file");
        TempWorkDir dir;
        if (linked) {
            ASSERT_TRUE(QDir(dir.path()).mkdir("real"));
            writeBytes(dir.file("real/Tarvelo.ini"), "");
            ASSERT_TRUE(QFile::link("real/Tarvelo.ini", dir.file("Tarvelo.ini")));
        }
        QProcess strace;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("ASAN_OPTIONS", "detect_leaks=0");  // LeakSanitizer cannot run under ptrace
        strace.setProcessEnvironment(env);
        strace.setStandardOutputFile(dir.file("out.log"));
        strace.start("strace", {"-f", "-qq", "-e", "trace=openat,fsync,fdatasync,rename,linkat", "-o",
                                dir.file("calls.log"), DURABLE_WRITER, dir.path()});
        ASSERT_TRUE(strace.waitForFinished(60000));
        ASSERT_EQ(strace.exitCode(), 0) << strace.readAllStandardError().toStdString();
        EXPECT_EQ(readBytes(dir.file("out.log")), "picture: written \nsettings: written\n");
        std::vector<Rename> renames = renamesIn(QString::fromUtf8(readBytes(dir.file("calls.log"))));
        ASSERT_EQ(renames.size(), 3u);
        for (const Rename& r : renames) {
            SCOPED_TRACE(r.to.toStdString());
            EXPECT_TRUE(r.fileFlushedBefore);
            EXPECT_TRUE(r.directoryFlushedAfter) << "into " << r.directory.toStdString();
        }
        EXPECT_EQ(renames[0].to, "picture.jpg");
        EXPECT_EQ(renames[1].to, "Tarvelo.ini") << "a new settings file, or the link's";
        EXPECT_EQ(renames[2].to, "Tarvelo.ini") << "replaced";
        EXPECT_EQ(renames[2].directory, QDir::cleanPath(dir.path() + (linked ? "/real" : "")));
        EXPECT_EQ(QFileInfo(dir.file("Tarvelo.ini")).isSymLink(), linked);
    }
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
