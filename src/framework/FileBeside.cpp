#include "framework/FileBeside.h"

#include "framework/Log.h"

#include <QFile>
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

// As long as the suffix Qt's save file adds, so no name fits one and not the
// other; unique within the process, and O_EXCL refuses any other's.
QByteArray besideName(const QByteArray& final)
{
    static std::atomic<unsigned> counter{0};
    unsigned long key = (static_cast<unsigned long>(getpid()) << 12) ^ counter++;
    return final + ".~" + QByteArray::number(qulonglong(key), 36).right(5).rightJustified(5, '0');
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

BesideResult WriteBeside(const QString& path, const QByteArray& bytes, std::string& why)
{
    QByteArray final = QFile::encodeName(path);
    QByteArray beside = besideName(final);
    Descriptor file{::open(beside.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666)};
    if (file.fd < 0) {
        why = systemErrorText(errno);
        return BesideResult::NotCreated;
    }
    bool written = writeAll(file.fd, bytes);
    int error = errno;
    bool closed = file.close();
    if (written && !closed)
        error = errno;
    if (written && closed) {
        if (::rename(beside.constData(), final.constData()) == 0)
            return BesideResult::Written;
        error = errno;
    }
    why = systemErrorText(error);
    ::unlink(beside.constData());
    return BesideResult::NotWritten;
}

}  // namespace tarvelo
