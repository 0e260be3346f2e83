#include "framework/ErrorGuard.h"

#include "framework/MessageBox.h"

#include <QString>
#include <cstdio>
#include <stdexcept>

namespace tarvelo {
namespace {

QString describe(std::exception_ptr error)
{
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return QStringLiteral("Unknown error");
    }
}

}  // namespace

void reportError(std::exception_ptr error) noexcept
{
    try {
        showMessage(describe(error));
    } catch (...) {
        // The report itself failed (no memory, no display): stderr is all
        // that is left, and the host must still not see an exception.
        std::fputs("tarvelo: an error could not be reported\n", stderr);
    }
}

}  // namespace tarvelo
