// rez source compiler: any text compiles or gives a located error; what
// compiles writes a fork that reads back.
#include "RezCompiler.h"

#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    RezResult r = CompileRez(std::string_view(reinterpret_cast<const char *>(data), size), "fuzz.r");
    if (!r.ok) {
        if (r.error.rfind("fuzz.r:", 0) != 0) std::abort();
        return 0;
    }
    auto written = rsrc::WriteResourceFork(r.map);
    if (!written.error && rsrc::ParseResourceFork(written.bytes).error) std::abort();
    return 0;
}
