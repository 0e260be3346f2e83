#include "framework/FileBeside.h"

#include "framework/Log.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <climits>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace tarvelo {
namespace {

struct Descriptor {
    int fd = -1;
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
    // The close that reports a late write error.
    bool close()
    {
        int closing = fd;
        fd = -1;
        return ::close(closing) == 0;
    }
};

QByteArray directoryOf(const QByteArray& path)
{
    qsizetype slash = path.lastIndexOf('/');
    return slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : path.left(slash);
}

// In the same directory, under a short name of its own: any final name
// that a file can have must work, the longest ones too. Unique within the
// process; O_EXCL refuses any other's.
QByteArray besideName(const QByteArray& final, int attempt)
{
    static std::atomic<unsigned> counter{0};
    unsigned long key = attempt == 0 ? (static_cast<unsigned long>(getpid()) << 12) ^ counter++
                                     : static_cast<unsigned long>(QRandomGenerator::system()->generate64());
    qsizetype slash = final.lastIndexOf('/');
    return final.left(slash + 1) + ".~tarvelo-" + QByteArray::number(qulonglong(key), 36) + ".tmp";
}

bool writeAll(int fd, const QByteArray& bytes)
{
    const char* next = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        ssize_t written = ::write(fd, next, size_t(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        next += written;
        left -= written;
    }
    return true;
}

}  // namespace

// Any character but the separator and NUL may stand in a file's name.
bool ForbiddenInFileName(char16_t)
{
    return false;
}

bool FileNameFits(const QString& path)
{
    return QFile::encodeName(QFileInfo(path).fileName()).size() <= NAME_MAX;
}

bool FlushToDisk(QFileDevice& file, std::string& why)
{
    if (::fdatasync(file.handle()) == 0)
        return true;
    why = "cannot flush " + file.fileName().toStdString() + " to the disk: " + systemErrorText(errno);
    return false;
}

bool FlushDirectoryOf(const QByteArray& path, std::string& why)
{
    Descriptor directory{::open(directoryOf(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    if (directory.fd >= 0 && ::fsync(directory.fd) == 0)
        return true;
    why = "cannot flush its directory: " + systemErrorText(errno);
    return false;
}

BesideResult WriteBeside(const QString& path, const QByteArray& bytes, std::string& why)
{
    QByteArray final = QFile::encodeName(path);
    QByteArray beside;
    Descriptor file;
    // A name of ours that a power cut left behind, with this process id.
    for (int attempt = 0; file.fd < 0 && attempt < 8; ++attempt) {
        beside = besideName(final, attempt);
        file.fd = ::open(beside.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (file.fd < 0 && errno != EEXIST)
            break;
    }
    if (file.fd < 0) {
        why = systemErrorText(errno);
        return BesideResult::NotCreated;
    }
    bool written = writeAll(file.fd, bytes) && ::fdatasync(file.fd) == 0;
    int error = errno;
    bool closed = file.close();
    if (written && !closed)
        error = errno;
    if (written && closed) {
        if (::rename(beside.constData(), final.constData()) == 0)
            return FlushDirectoryOf(final, why) ? BesideResult::Written : BesideResult::NameNotDurable;
        error = errno;
    }
    why = systemErrorText(error);
    ::unlink(beside.constData());
    return BesideResult::NotWritten;
}

}  // namespace tarvelo
