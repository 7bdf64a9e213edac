// libFuzzer target: transcript de-duplication and session record parsing must take any bytes
// without crashing, and de-duplication never yields more entries than there are lines.

#include "sessionrecords.h"
#include "transcriptaccounting.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView bytes(data, qsizetype(size));
    const QList<UsageEntry> entries = deduplicate(bytes);
    if (entries.size() > bytes.count('\n') + 1)
        std::abort();
    (void)parseSessionRecord(bytes);
    return 0;
}
