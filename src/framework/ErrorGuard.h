#pragma once
// The general error report: an exception that would leave an export or an
// event handler is shown to the user as a message box with its text and goes
// no further.

#include <exception>
#include <utility>

namespace tarvelo {

void reportError(std::exception_ptr error) noexcept;

// Runs `body`; returns true when it finished without an exception.
template <typename Body>
bool guarded(Body&& body) noexcept
{
    try {
        std::forward<Body>(body)();
        return true;
    } catch (...) {
        reportError(std::current_exception());
        return false;
    }
}

}  // namespace tarvelo
