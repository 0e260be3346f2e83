#pragma once
// The text Windows gives for one of its error codes (GetLastError), as
// "Access is denied. (5)", for the log.

#include <string>

namespace tarvelo {

std::string windowsErrorText(unsigned long code);

}  // namespace tarvelo
