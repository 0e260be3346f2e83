#include "framework/ErrorGuard.h"

#include "framework/Log.h"
#include "framework/MessageBox.h"

#include <QString>

namespace tarvelo {

void reportError(std::exception_ptr error) noexcept
{
    try {
        std::string text = describeException(error);
        logLine("error", text);
        showMessage(QString::fromStdString(text));
    } catch (...) {
        // The report itself failed (no memory, no display): the log is all
        // that is left, and the host must still not see an exception.
        logLine("error", "an error could not be reported");
    }
}

}  // namespace tarvelo
