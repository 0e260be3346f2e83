#pragma once
// The library's one log: why a port, a camera or a file failed, for the
// field engineer. Lines go to standard error, or are appended to the file
// named by TARVELO_LOG. Free of Qt, so the serial link can use it.

#include <exception>
#include <string>
#include <string_view>
#include <utility>

namespace tarvelo {

// One line: a time stamp, the subsystem and the text, whose line breaks and
// tabs become single spaces. Safe on any thread; never throws. A failure is
// logged once, by whoever handles it: code that throws leaves it to them.
void logLine(std::string_view subsystem, std::string_view text) noexcept;

// The system's text for an errno value, as "No such device (19)".
std::string systemErrorText(int error);

// What an escaped exception says; "Unknown error" for one that says nothing.
std::string describeException(std::exception_ptr error);

// For threads that are not the user-interface thread, where nobody could
// answer a message box: runs `body`; an exception is logged and goes no
// further. True when `body` finished without one.
template <typename Body>
bool catchAndLog(std::string_view subsystem, Body&& body) noexcept
{
    try {
        std::forward<Body>(body)();
        return true;
    } catch (...) {
        try {
            logLine(subsystem, "a handler failed: " + describeException(std::current_exception()));
        } catch (...) {
        }
        return false;
    }
}

}  // namespace tarvelo
