// The settings file reader over any bytes: a file of any length and content decodes to four values
// of at most 20 characters each, and values that can be written back come back unchanged.

#include "signin/settingsfile.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const TFirstConnectInfo info = DecodeFirstConnectInfo(bytes);
    for (const QString *value : {&info.User, &info.Password, &info.Server, &info.Database}) {
        if (value->size() > kSettingsValueSize)
            std::abort();
    }
    // Every decoded character has a Windows-1251 byte, so the values always encode again.
    if (DecodeFirstConnectInfo(EncodeFirstConnectInfo(info)) != info)
        std::abort();
    return 0;
}
