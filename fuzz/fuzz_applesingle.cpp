// AppleSingle reader, and the resource fork inside a container as the
// Resource Manager reads it.
#include "files/AppleSingle.h"
#include "files/ResourceFork.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    auto parsed = applesingle::ParseAppleSingle({data, size});
    if (parsed.error) return 0;
    uint32_t type = 0, creator = 0;
    applesingle::GetTypeAndCreator(parsed.container, &type, &creator);
    if (const auto *fork = parsed.container.Find(applesingle::kResourceForkID))
        (void)rsrc::ParseResourceFork(fork->bytes);
    auto again = applesingle::ParseAppleSingle(applesingle::WriteAppleSingle(parsed.container));
    if (again.error || again.container.entries.size() != parsed.container.entries.size()) std::abort();
    for (size_t i = 0; i < again.container.entries.size(); ++i)
        if (again.container.entries[i].id != parsed.container.entries[i].id ||
            again.container.entries[i].bytes != parsed.container.entries[i].bytes)
            std::abort();
    return 0;
}
