#include "framework/Log.h"
#include "framework/LogOutput.h"
#include "framework/WindowsError.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace tarvelo {

void WriteLogLine(const std::string& line)
{
    OutputDebugStringA(line.c_str());
    const char* path = std::getenv("TARVELO_LOG");
    if (path && *path) {
        // FILE_APPEND_DATA: every line lands at the end, whoever else appends.
        HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            WriteFile(file, line.data(), DWORD(line.size()), &written, nullptr);
            CloseHandle(file);
            return;
        }
    }
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

void LocalTimeOf(std::time_t seconds, std::tm& local)
{
    localtime_s(&local, &seconds);
}

std::string systemErrorText(int error)
{
    char buffer[256];
    if (strerror_s(buffer, sizeof buffer, error) != 0)
        std::snprintf(buffer, sizeof buffer, "error");
    return std::string(buffer) + " (" + std::to_string(error) + ")";
}

std::string windowsErrorText(unsigned long code)
{
    char* text = nullptr;
    DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message = n && text ? std::string(text, n) : std::string("Windows error");
    LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
        message.pop_back();
    return message + " (" + std::to_string(code) + ")";
}

}  // namespace tarvelo
