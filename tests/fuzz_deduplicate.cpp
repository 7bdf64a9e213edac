// libFuzzer target: de-duplication and record parsing take any bytes without crashing; there are
// never more entries than lines, and every line filter gives the same entries.

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
    for (const LineFilter filter : supportedLineFilters()) // every line filter agrees
        if (deduplicate(bytes, filter) != entries)
            std::abort();
    (void)parseSessionRecord(bytes);
    return 0;
}
