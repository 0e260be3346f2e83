#include "framework/ErrorGuard.h"

#include "framework/Log.h"
#include "framework/MessageBox.h"

#include <QCoreApplication>
#include <QString>
#include <QThread>

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

bool onUserInterfaceThread() noexcept
{
    QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

}  // namespace tarvelo
