// libFuzzer target for the PE reader behind pe_check (tools/pe_check): any
// bytes as a Windows module. The reader must answer with its own error
// (PeError) or with a module whose every part came from inside the file:
// each resource's data is bytes the file holds, each name ends within the
// reader's limit, and no count exceeds the limits the reader sets itself.
// The bytes are copied into a buffer of exactly their size, so a read one
// byte past the end is an AddressSanitizer report.
#include "fuzz_check.h"
#include "pe_file.h"

#include <algorithm>
#include <cstdint>
#include <vector>

using namespace ruvivedu::pe;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::vector<std::uint8_t> bytes(data, data + size);
    PeFile file;
    try {
        file = read_pe(bytes);
    } catch (const PeError&) {
        return 0;
    }
    FUZZ_CHECK(file.exports.size() <= 65536, "%zu exports", file.exports.size());
    for (const Export& e : file.exports)
        FUZZ_CHECK(e.name.size() <= 4097, "an export name of %zu characters", e.name.size());
    FUZZ_CHECK(file.imports.size() <= 4097, "%zu imported DLLs", file.imports.size());
    for (const Resource& r : file.resources) {
        FUZZ_CHECK(r.data.size() <= size, "a resource of %zu bytes in a file of %zu", r.data.size(), size);
        FUZZ_CHECK(r.data.empty() ||
                       std::search(bytes.begin(), bytes.end(), r.data.begin(), r.data.end()) != bytes.end(),
                   "resource %s/%s/%u is not bytes of the file", r.type.c_str(), r.name.c_str(), unsigned(r.language));
    }
    return 0;
}
