// The connection string mapping over any text: an OLE DB-style string is read or refused with a
// DatabaseError, its Data Source always names a host, and the ODBC string for the driver is built or
// refused the same way. Nothing else may happen: no crash, no other exception.

#include "db/connectionproperties.h"
#include "db/databaseerror.h"

#include <cstdint>
#include <cstdlib>

namespace {

void checkAddress(const QString &dataSource)
{
    const ServerAddress address = parseDataSource(dataSource);
    if (address.host.isEmpty() || address.port < 0)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    checkAddress(text);
    (void)odbcValue(text);
    (void)withoutDriverPrefixes(text);
    try {
        ConnectionProperties properties = parseConnectionString(text);
        checkAddress(properties.dataSource);
        // The string is built for any provider this client stands in for.
        properties.provider = QStringLiteral("SQLOLEDB.1");
        (void)odbcConnectionString(properties, 30);
    } catch (const DatabaseError &) {
    }
    return 0;
}
