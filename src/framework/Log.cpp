#include "framework/Log.h"

#include "framework/LogOutput.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>

namespace tarvelo {
namespace {

std::mutex writeMutex;

std::string timeStamp()
{
    using namespace std::chrono;
    auto now = system_clock::now();
    std::time_t seconds = system_clock::to_time_t(now);
    auto millis = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local{};
    LocalTimeOf(seconds, local);
    char text[40];
    size_t n = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    std::snprintf(text + n, sizeof text - n, ".%03d", int(millis));
    return text;
}

// A reason may come in several lines (libpq indents its continuation lines
// with tabs); the log keeps one entry to a line, so that a reader can grep it.
std::string oneLine(std::string_view text)
{
    std::string line;
    line.reserve(text.size());
    bool pendingSpace = false;
    for (char c : text) {
        bool breaks = c == '\n' || c == '\r' || c == '\t';
        if (breaks || (c == ' ' && pendingSpace)) {
            pendingSpace = true;
            continue;
        }
        if (pendingSpace && !line.empty() && line.back() != ' ')
            line += ' ';
        pendingSpace = false;
        line += c;
    }
    return line;
}

}  // namespace

void logLine(std::string_view subsystem, std::string_view text) noexcept
{
    try {
        std::string line = timeStamp() + " tarvelo " + std::string(subsystem) + ": " + oneLine(text) + "\n";
        std::lock_guard lock(writeMutex);
        WriteLogLine(line);
    } catch (...) {
        // Out of memory while logging: there is nothing left to tell.
    }
}

std::string describeException(std::exception_ptr error)
{
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "Unknown error";
    }
}

}  // namespace tarvelo
