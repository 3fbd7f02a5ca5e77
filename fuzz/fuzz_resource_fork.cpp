// Resource fork reader: any bytes give a map or an error, never a bad read;
// a map that was read writes back to bytes that read as the same map.
#include "files/ResourceFork.h"

#include <cstdlib>

namespace {

bool Same(const rsrc::ResourceMap &a, const rsrc::ResourceMap &b) {
    if (a.fileAttributes != b.fileAttributes || a.resources.size() != b.resources.size()) return false;
    for (const auto &r : a.resources) {
        bool found = false;
        for (const auto &s : b.resources)
            if (s.type == r.type && s.id == r.id)
                found = s.data == r.data && s.name == r.name && s.hasName == r.hasName && s.attributes == r.attributes;
        if (!found) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    auto parsed = rsrc::ParseResourceFork({data, size});
    if (parsed.error) {
        if (!parsed.map.resources.empty()) std::abort();
        return 0;
    }
    auto written = rsrc::WriteResourceFork(parsed.map);
    if (written.error) return 0;  // e.g. names the writer must refuse
    auto again = rsrc::ParseResourceFork(written.bytes);
    if (again.error || !Same(parsed.map, again.map)) std::abort();
    return 0;
}
