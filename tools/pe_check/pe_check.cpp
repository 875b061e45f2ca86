// pe_check: confirms that a Windows build is what a host can load on its own.
//
//   pe_check MODULE.aex PIPL_FILE   the plug-in: exports exactly the three
//                                   entry points, undecorated; carries the PiPL
//                                   bytes as resource PIPL 16000, U.S. English;
//                                   imports Windows' own DLLs only
//   pe_check --program FILE.exe     a program: imports Windows' own DLLs only
//
// Prints what it found and exits 0 when everything holds, 1 otherwise.
#include "effect_identity.h"
#include "pe_file.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iostream>
#include <iterator>

namespace {

using namespace ruvivedu::pe;

// The identity table, not a host header: this program runs on the build machine.
const char* const kEntryPoints[] = {ruvivedu::kRegisteredEntryName, ruvivedu::kPiPLEntryName,
                                    ruvivedu::kRegistrationEntryName};
constexpr std::uint16_t kUsEnglish = 1033;

std::string lower(std::string text)
{
    for (char& c : text)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

/// DLLs every Windows installation has. A MinGW runtime DLL (libstdc++,
/// libgcc_s, libwinpthread, libgomp) in this list's place means the runtime
/// was linked dynamically and the module would not load beside a host.
bool is_system_dll(const std::string& name)
{
    static const char* const system[] = {"kernel32.dll", "msvcrt.dll", "ucrtbase.dll", "user32.dll",
                                         "advapi32.dll", "ntdll.dll",  "ws2_32.dll",   "shell32.dll",
                                         "ole32.dll",    "bcrypt.dll", "gdi32.dll"};
    const std::string dll = lower(name);
    if (dll.rfind("api-ms-win-", 0) == 0)
        return true;
    return std::find(std::begin(system), std::end(system), dll) != std::end(system);
}

class Checker {
public:
    void expect(bool condition, const std::string& what)
    {
        std::cout << (condition ? "  ok    " : "  FAIL  ") << what << "\n";
        failures_ += condition ? 0 : 1;
    }
    int failures() const { return failures_; }

private:
    int failures_ = 0;
};

void check_imports(Checker& check, const PeFile& file)
{
    std::string list;
    for (const std::string& dll : file.imports)
        list += (list.empty() ? "" : ", ") + dll;
    std::cout << "imports: " << (list.empty() ? "none" : list) << "\n";
    for (const std::string& dll : file.imports)
        check.expect(is_system_dll(dll), dll + " is a Windows system DLL");
}

void check_module(Checker& check, const PeFile& file, const std::vector<std::uint8_t>& pipl)
{
    check.expect(file.is_dll, "the file is a DLL");

    std::vector<std::string> names;
    std::cout << "exports:\n";
    for (const Export& e : file.exports) {
        std::cout << "        " << e.name << (e.forwarded ? " (forwarded)" : "") << "\n";
        names.push_back(e.name);
    }
    std::vector<std::string> expected(std::begin(kEntryPoints), std::end(kEntryPoints));
    std::sort(names.begin(), names.end());
    std::sort(expected.begin(), expected.end());
    check.expect(names == expected, "exports exactly " + expected[0] + ", " + expected[1] + ", " + expected[2]);
    for (const Export& e : file.exports)
        if (e.forwarded)
            check.expect(false, e.name + " is code in the module, not a forwarder");

    std::cout << "resources:\n";
    const Resource* found = nullptr;
    int pipl_count = 0;
    for (const Resource& r : file.resources) {
        std::cout << "        type " << r.type << ", name " << r.name << ", language " << r.language << ", "
                  << r.data.size() << " bytes\n";
        if (r.type == "PIPL") {
            ++pipl_count;
            if (r.name == "#16000" && r.language == kUsEnglish)
                found = &r;
        }
    }
    check.expect(found != nullptr, "a resource of type \"PIPL\", id 16000, language 1033");
    check.expect(pipl_count == 1, "exactly one PIPL resource");
    if (found)
        check.expect(found->data == pipl, "its " + std::to_string(found->data.size()) +
                                              " bytes equal the generated PiPL (" + std::to_string(pipl.size()) +
                                              " bytes)");
    check_imports(check, file);
}

}  // namespace

int main(int argc, char** argv)
{
    const bool program = argc == 3 && std::string(argv[1]) == "--program";
    if (argc != 3) {
        std::cerr << "usage: pe_check MODULE.aex PIPL_FILE\n       pe_check --program FILE.exe\n";
        return 2;
    }
    const std::string path = program ? argv[2] : argv[1];
    try {
        const PeFile file = read_pe_file(path);
        std::cout << path << "\n";
        Checker check;
        check.expect(file.machine == kMachineAmd64, "machine x86-64");
        if (program) {
            check_imports(check, file);
        } else {
            std::ifstream in(argv[2], std::ios::binary);
            if (!in) {
                std::cerr << "pe_check: cannot open '" << argv[2] << "'\n";
                return 2;
            }
            const std::vector<std::uint8_t> pipl((std::istreambuf_iterator<char>(in)),
                                                 std::istreambuf_iterator<char>());
            check_module(check, file, pipl);
        }
        std::cout << (check.failures() ? "pe_check: FAILED\n" : "pe_check: all checks hold\n");
        return check.failures() ? 1 : 0;
    } catch (const PeError& e) {
        std::cerr << "pe_check: " << path << ": " << e.what() << "\n";
        return 1;
    }
}
