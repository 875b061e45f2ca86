// Build-time generator of the registration resources: the raw Windows PiPL,
// the .rc that embeds it, and the Rez source for the macOS bundle.
#include "pipl_builder.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>

namespace {

bool write_file(const std::string& path, const std::string& contents)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << contents;
    out.close();
    if (!out) {
        std::cerr << "pipl_gen: cannot write " << path << "\n";
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 4 && argc != 5) {
        std::cerr << "usage: pipl_gen OUT.pipl OUT.rc OUT.r [OUT-macos.pipl]\n";
        return 2;
    }
    const std::vector<std::uint8_t> windows = ruvivedu::build_pipl(ruvivedu::PiPLPlatform::windows_x64);
    const std::vector<std::uint8_t> mac = ruvivedu::build_pipl(ruvivedu::PiPLPlatform::macos);
    if (windows.size() != 298) {
        std::cerr << "pipl_gen: Windows PiPL is " << windows.size() << " bytes, expected 298\n";
        return 1;
    }
    const std::string pipl_name = std::string(argv[1]).substr(std::string(argv[1]).find_last_of("/\\") + 1);
    // LANGUAGE 0x09, 0x01 is LANG_ENGLISH, SUBLANG_ENGLISH_US (1033).
    const std::string rc = "// Generated from the effect's identity table; do not edit.\n"
                           "LANGUAGE 0x09, 0x01\n"
                           "16000 PIPL \"" +
                           pipl_name + "\"\n";
    bool ok = write_file(argv[1], std::string(windows.begin(), windows.end())) && write_file(argv[2], rc) &&
              write_file(argv[3], ruvivedu::rez_source(mac));
    if (ok && argc == 5)
        ok = write_file(argv[4], std::string(mac.begin(), mac.end()));
    return ok ? 0 : 1;
}
