// The durable write on Windows: the new file is flushed (FlushFileBuffers)
// and moved over the old one with MoveFileEx's write-through, which returns
// only once the rename is on the disk; NTFS keeps the directory consistent
// with it, so there is no directory of its own to flush.

#include "framework/FileBeside.h"

#include "framework/WindowsError.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <atomic>
#include <chrono>
#include <string_view>
#include <thread>
#include <io.h>
#include <windows.h>

namespace tarvelo {
namespace {

struct Handle {
    HANDLE h = INVALID_HANDLE_VALUE;
    ~Handle() { close(); }
    bool close()
    {
        HANDLE closing = h;
        h = INVALID_HANDLE_VALUE;
        return closing == INVALID_HANDLE_VALUE || CloseHandle(closing);
    }
};

std::wstring nativeName(const QString& path)
{
    return QDir::toNativeSeparators(path).toStdWString();
}

std::wstring besideName(const std::wstring& final, int attempt)
{
    static std::atomic<unsigned> counter{0};
    unsigned long long key = attempt == 0 ? (static_cast<unsigned long long>(GetCurrentProcessId()) << 12) ^ counter++
                                          : QRandomGenerator::system()->generate64();
    size_t slash = final.find_last_of(L"\\/");
    std::wstring dir = slash == std::wstring::npos ? std::wstring() : final.substr(0, slash + 1);
    return dir + L".~tarvelo-" + QString::number(qulonglong(key), 36).toStdWString() + L".tmp";
}

bool writeAll(HANDLE file, const QByteArray& bytes)
{
    const char* next = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        DWORD chunk = DWORD(std::min<qsizetype>(left, 1 << 24));
        DWORD written = 0;
        if (!WriteFile(file, next, chunk, &written, nullptr) || written == 0)
            return false;
        next += written;
        left -= written;
    }
    return true;
}

bool isHeldByOthers(DWORD error)
{
    return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED || error == ERROR_LOCK_VIOLATION;
}

// A viewer or a virus scanner that has the old file open without sharing
// its deletion blocks the replacement for a moment: try for about a second.
DWORD replace(const std::wstring& beside, const std::wstring& final)
{
    DWORD error = ERROR_SUCCESS;
    for (int attempt = 0; attempt < 20; ++attempt) {
        if (MoveFileExW(beside.c_str(), final.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return ERROR_SUCCESS;
        error = GetLastError();
        if (!isHeldByOthers(error))
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return error;
}

}  // namespace

// Without the long-path opt-in, Windows opens no path of MAX_PATH or more.
bool FileNameFits(const QString& path)
{
    QFileInfo file(path);
    return file.fileName().size() <= 255 && QDir::toNativeSeparators(file.absoluteFilePath()).size() < MAX_PATH;
}

bool ForbiddenInFileName(char16_t c)
{
    return c < 0x20 || std::u16string_view(u":*?\"<>|").find(c) != std::u16string_view::npos;
}

bool FlushToDisk(QFileDevice& file, std::string& why)
{
    auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(file.handle()));
    if (handle != INVALID_HANDLE_VALUE && FlushFileBuffers(handle))
        return true;
    why = "cannot flush " + file.fileName().toStdString() + " to the disk: " + windowsErrorText(GetLastError());
    return false;
}

bool FlushDirectoryOf(const QByteArray&, std::string&)
{
    return true;
}

BesideResult WriteBeside(const QString& path, const QByteArray& bytes, std::string& why)
{
    std::wstring final = nativeName(path);
    std::wstring beside;
    Handle file;
    // A name of ours that a power cut left behind, with this process id.
    for (int attempt = 0; file.h == INVALID_HANDLE_VALUE && attempt < 8; ++attempt) {
        beside = besideName(final, attempt);
        file.h = CreateFileW(beside.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file.h == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS)
            break;
    }
    if (file.h == INVALID_HANDLE_VALUE) {
        why = windowsErrorText(GetLastError());
        return BesideResult::NotCreated;
    }
    bool written = writeAll(file.h, bytes) && FlushFileBuffers(file.h);
    DWORD error = written ? ERROR_SUCCESS : GetLastError();
    bool closed = file.close();
    if (written && !closed)
        error = GetLastError();
    if (written && closed) {
        error = replace(beside, final);
        if (error == ERROR_SUCCESS)
            return BesideResult::Written;
    }
    why = windowsErrorText(error);
    DeleteFileW(beside.c_str());
    return BesideResult::NotWritten;
}

}  // namespace tarvelo
