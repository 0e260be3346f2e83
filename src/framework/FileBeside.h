#pragma once
// A new file written beside its final name and renamed onto it once
// complete and on the disk, the directory then flushed too: a full disk, a
// crash or a power cut leaves the old state or the whole new file under the
// final name, never an empty or cut-off one.

#include <QByteArray>
#include <QFileDevice>
#include <QString>
#include <string>

namespace tarvelo {

enum class BesideResult {
    Written,
    NotCreated,  // the directory takes no new file
    NotWritten,  // the bytes did not all go out; nothing is left behind
    NameNotDurable,  // the file has its name, whole, but the directory's flush failed: a power
                     // cut now may still leave the old state
};

// An existing file of that name is replaced. `why` says what failed. A
// temporary name that a file left by a crash holds is passed over.
BesideResult WriteBeside(const QString& path, const QByteArray& bytes, std::string& why);

// Whether the file system can hold a file of that name at all (its length
// in bytes on Linux; in UTF-16 units, and the whole path's, on Windows).
bool FileNameFits(const QString& path);

// A character that Windows refuses in a file's name besides the path
// separators (: * ? " < > | and the control characters); none elsewhere.
bool ForbiddenInFileName(char16_t c);

// Sends what `file` (open, flushed) holds to the disk. False with `why`
// when the disk did not take it.
bool FlushToDisk(QFileDevice& file, std::string& why);

// Makes the names in the directory of `path` durable, as a rename into it.
// False with `why` when the disk did not take them.
bool FlushDirectoryOf(const QByteArray& path, std::string& why);

}  // namespace tarvelo
