// The host's connection string, as GBK bytes reach the library, parsed and
// mapped onto a Qt SQL driver; statements rewritten for the dialect found.

#include "framework/ConnectionString.h"
#include "framework/GbkText.h"

#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    QString adoString = tarvelo::fromGbk(std::string_view(reinterpret_cast<const char*>(data), size));
    tarvelo::SqlConnectionTarget target = tarvelo::MapConnectionString(adoString);
    tarvelo::RewriteForDialect(adoString, target.dialect);
    tarvelo::RewriteForDialect(QStringLiteral("select top 100 * from CAPPICTURE order by CAPTIME"), target.dialect);
    return 0;
}
