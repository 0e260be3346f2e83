#pragma once
// A new file written beside its final name and renamed onto it once
// complete: a full disk or a crash of the program leaves no cut-off file
// under the final name. It is not forced to disk before the rename, so a
// power cut can lose the newest files, in exchange for answering at once.

#include <QByteArray>
#include <QString>
#include <string>

namespace tarvelo {

enum class BesideResult {
    Written,
    NotCreated,  // the directory takes no new file
    NotWritten,  // the bytes did not all go out; nothing is left behind
};

// An existing file of that name is replaced. `why` says what failed.
BesideResult WriteBeside(const QString& path, const QByteArray& bytes, std::string& why);

}  // namespace tarvelo
