#pragma once
// Where the log's lines go on this platform, and the platform's clock and
// error texts. Called with the log's lock held.

#include <ctime>
#include <string>

namespace tarvelo {

// Appends to the file TARVELO_LOG names, else to standard error (and, on
// Windows, to the debugger's output, where a GUI host has no console).
void WriteLogLine(const std::string& line);

void LocalTimeOf(std::time_t seconds, std::tm& local);

}  // namespace tarvelo
