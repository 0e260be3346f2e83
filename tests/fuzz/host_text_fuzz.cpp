// Text the host passes through the exports: any bytes, any length, as the
// connection string, the operator name and the second parameter. The
// operator then becomes a snapshot's file name and its OPERATOR column.

#include "console/SnapshotStore.h"
#include "framework/GbkText.h"
#include "tarvelo.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string text(reinterpret_cast<const char*>(data), size);  // zero-terminated, as the host's
    size_t half = text.size() / 2;
    std::string second = text.substr(half);
    Frame_SetAdoString(text.c_str());
    Frame_SetParam(text.c_str() + half, second.c_str());
    QString name = tarvelo::fromGbk(text.c_str() + half);
    QString file = tarvelo::SnapshotStore::FileName(QStringLiteral("/pictures/"), 3, QDateTime(), name);
    if (file.indexOf('/', 10) != -1)
        std::abort();  // no name leads out of the picture directory
    for (auto dialect : {tarvelo::SqlDialect::SqlServer, tarvelo::SqlDialect::PostgreSQL}) {
        QString stored = tarvelo::SnapshotStore::StoredOperator(name, dialect);
        // char(10): ten characters, or on SQL Server ten bytes of GBK
        qsizetype used = dialect == tarvelo::SqlDialect::SqlServer ? qsizetype(tarvelo::toGbk(stored).size())
                                                                    : qsizetype(stored.toUcs4().size());
        if (used > 10 || !name.startsWith(stored) || (!stored.isEmpty() && stored.back().isHighSurrogate()))
            std::abort();  // within the column, a beginning of the name, no character split
        if (stored.size() < name.size() && used + 1 <= 10 &&
            dialect == tarvelo::SqlDialect::PostgreSQL)
            std::abort();  // cut only where the column is full
    }
    tarvelo::gbkCanHold(name);
    tarvelo::toGbk(name);
    return 0;
}
