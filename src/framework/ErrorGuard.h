#pragma once
// The general error report: an exception that would leave an export or an
// event handler is shown to the user as a message box with its text and goes
// no further.

#include "framework/Log.h"

#include <exception>
#include <string_view>
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

// True on the thread of the application object, where message boxes can be
// shown.
bool onUserInterfaceThread() noexcept;

// A user's handler, on whatever thread it is called: on the user-interface
// thread an exception gets the general error report; elsewhere it is logged
// and the thread goes on.
template <typename Body>
bool guardedHandler(std::string_view subsystem, Body&& body) noexcept
{
    if (onUserInterfaceThread())
        return guarded(std::forward<Body>(body));
    return catchAndLog(subsystem, std::forward<Body>(body));
}

}  // namespace tarvelo
