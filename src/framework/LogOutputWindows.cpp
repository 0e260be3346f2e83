// The log on Windows. A GUI host has no standard error: unless TARVELO_LOG
// names a file, or standard error leads to a console, a file or a pipe, the
// lines go to Tarvelo.log beside the settings file, where a field engineer
// finds them, and always to the debugger's output. Texts are UTF-8; what
// Windows says comes through its wide functions, so that a Chinese system's
// messages stay readable.

#include "framework/Log.h"
#include "framework/LogOutput.h"
#include "framework/WindowsError.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

namespace tarvelo {
namespace {

constexpr LONGLONG RotateAtBytes = 1024 * 1024;
const wchar_t* const LogFile = L".\\Tarvelo.log";
const wchar_t* const OldLogFile = L".\\Tarvelo.log.1";

std::wstring wide(const std::string& utf8)
{
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
    std::wstring text(size_t(n > 0 ? n : 0), L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), text.data(), n);
    return text;
}

std::string utf8(const wchar_t* text, size_t length)
{
    int n = WideCharToMultiByte(CP_UTF8, 0, text, int(length), nullptr, 0, nullptr, nullptr);
    std::string bytes(size_t(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, text, int(length), bytes.data(), n, nullptr, nullptr);
    return bytes;
}

std::wstring namedLogFile()
{
    wchar_t path[MAX_PATH * 2];
    DWORD n = GetEnvironmentVariableW(L"TARVELO_LOG", path, DWORD(std::size(path)));
    return n > 0 && n < std::size(path) ? std::wstring(path, n) : std::wstring();
}

bool appendTo(const wchar_t* path, const std::string& line)
{
    // FILE_APPEND_DATA: every line lands at the end, whoever else appends.
    HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    bool ok = WriteFile(file, line.data(), DWORD(line.size()), &written, nullptr) && written == line.size();
    CloseHandle(file);
    return ok;
}

// A console, a file or a pipe: someone reads it. A GUI program started
// from Explorer has none; the NUL device leads nowhere either.
HANDLE standardErrorWithAReader()
{
    HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
    if (!handle || handle == INVALID_HANDLE_VALUE)
        return nullptr;
    DWORD type = GetFileType(handle), mode = 0;
    if (type == FILE_TYPE_DISK || type == FILE_TYPE_PIPE)
        return handle;
    return type == FILE_TYPE_CHAR && GetConsoleMode(handle, &mode) ? handle : nullptr;
}

// Bounded: at about a megabyte the file becomes Tarvelo.log.1, replacing
// the one before.
void appendToOwnLog(const std::string& line)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (GetFileAttributesExW(LogFile, GetFileExInfoStandard, &data)) {
        LONGLONG size = (LONGLONG(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        if (size + LONGLONG(line.size()) > RotateAtBytes)
            MoveFileExW(LogFile, OldLogFile, MOVEFILE_REPLACE_EXISTING);
    }
    appendTo(LogFile, line);  // a log that cannot be written is let go
}

}  // namespace

void WriteLogLine(const std::string& line)
{
    OutputDebugStringW(wide(line).c_str());
    if (std::wstring named = namedLogFile(); !named.empty() && appendTo(named.c_str(), line))
        return;
    if (HANDLE error = standardErrorWithAReader()) {
        DWORD written = 0;
        WriteFile(error, line.data(), DWORD(line.size()), &written, nullptr);
        return;
    }
    appendToOwnLog(line);
}

void LocalTimeOf(std::time_t seconds, std::tm& local)
{
    localtime_s(&local, &seconds);
}

std::string systemErrorText(int error)
{
    wchar_t buffer[256];
    if (_wcserror_s(buffer, std::size(buffer), error) != 0)
        return "error (" + std::to_string(error) + ")";
    return utf8(buffer, wcslen(buffer)) + " (" + std::to_string(error) + ")";
}

std::string windowsErrorText(unsigned long code)
{
    wchar_t* text = nullptr;
    DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string message = n && text ? utf8(text, n) : std::string("Windows error");
    LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
        message.pop_back();
    return message + " (" + std::to_string(code) + ")";
}

}  // namespace tarvelo
