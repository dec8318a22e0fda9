// The sandbox's T-SQL translator over any text: a batch parses into statements or into one error
// message, never both, and never crashes.

#include "sandbox/engine/tsqltranslator.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const sandbox::tsql::Batch batch = sandbox::tsql::parse(text);
    if (batch.error && !batch.statements.isEmpty())
        std::abort();
    if (batch.error && batch.error->text.isEmpty())
        std::abort();
    return 0;
}
