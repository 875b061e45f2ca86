// Cutting host_api.h into the test SDK. What each header includes and which
// platform check it makes follows the sheet of facts about the two SDK
// releases; where the sheet is silent (what AE_EffectPixelFormat.h and
// AE_PluginData.h include), a header includes A.h for the basic types it
// needs and nothing else.
#include "test_sdk.h"

#include <cctype>
#include <map>
#include <regex>
#include <sstream>

namespace ruvivedu::test_sdk {

namespace {

struct HeaderLayout {
    std::string path;
    std::vector<std::string> includes; ///< as written after #include
    bool cut_from_host_api;            ///< its declarations are the parts of host_api.h marked for it
    std::string preamble;              ///< fixed text before those declarations
};

// The SDK's platform check (Headers/SP/SPConfig.h): WIN_ENV from the
// Windows compilers' and projects' macros, MAC_ENV from Apple's compilers,
// and a bare #error for anything else. __LINUX__ and its kin get past it.
const char* const kSpConfig = R"(#if defined(_WINDOWS) || defined(_MSC_VER) || defined(WINDOWS)
#ifndef WIN_ENV
#define WIN_ENV 1
#endif
#endif
#if defined(__APPLE_CC__)
#ifndef MAC_ENV
#define MAC_ENV 1
#endif
#endif
#if !defined(WIN_ENV) && !defined(MAC_ENV) && !defined(__LINUX__) && !defined(__ANDROID__) && !defined(__EMSCRIPTEN__)
#error
#endif
)";

// The calling convention macro exists for the SDK's two platforms only.
const char* const kSpTypes = R"(#if defined(WIN_ENV) || defined(MAC_ENV)
#define SPAPI
#endif
)";

const char* const kMacrosNote = "// Helper macros in the SDK; the tree takes none of them, so none are here.\n";

const std::vector<HeaderLayout>& layouts()
{
    static const std::vector<HeaderLayout> table = {
        {"Headers/A.h", {"<stdint.h>"}, true, ""},
        {"Headers/AE_Effect.h", {"\"A.h\""}, true, ""},
        {"Headers/AE_EffectCB.h", {"\"AE_Effect.h\""}, true, ""},
        {"Headers/AE_EffectPixelFormat.h", {"\"A.h\""}, true, ""},
        {"Headers/AE_EffectCBSuites.h", {"\"AE_EffectCB.h\"", "\"AE_EffectPixelFormat.h\"", "\"SPBasic.h\""}, true,
         ""},
        {"Headers/AE_PluginData.h", {"\"A.h\""}, true, ""},
        {"Headers/AE_Macros.h", {}, false, kMacrosNote},
        {"Headers/SP/SPConfig.h", {}, false, kSpConfig},
        {"Headers/SP/SPTypes.h", {"<stddef.h>", "\"SPConfig.h\""}, true, kSpTypes},
        {"Headers/SP/SPBasic.h", {"\"SPTypes.h\""}, true, ""},
        {"Util/Param_Utils.h", {"\"AE_Effect.h\"", "\"AE_EffectCB.h\""}, true, ""},
    };
    return table;
}

// AE_Effect.h has no include that tells it the platform, so its
// platform-dependent part looks for the same macros SPConfig.h does; on any
// other system (__LINUX__ included) PF_Boolean, PF_Fixed, PF_Handle and
// everything built on them stay undeclared, as in the SDK.
const char* const kPlatformOpen =
    "#if defined(WIN_ENV) || defined(_WINDOWS) || defined(_MSC_VER) || defined(WINDOWS) || defined(MAC_ENV) || "
    "defined(__APPLE_CC__)";
const char* const kPlatformClose = "#endif";

const char* const kOwnBranchStart = "#else  // our own declarations";
const char* const kOwnBranchEnd = "#endif  // RUVIVEDU_USE_HOST_SDK";
const std::regex kMarker(R"(^// SDK header: (\S+)( \(Windows and macOS only\))?\s*$)");
const std::regex kConstant(R"(^inline constexpr [A-Za-z_][A-Za-z0-9_]* ([A-Za-z_][A-Za-z0-9_]*) = (.+);(\s*//.*)?$)");

std::string strip_comment(const std::string& line)
{
    const std::size_t at = line.find("//");
    return at == std::string::npos ? line : line.substr(0, at);
}

bool blank_or_comment(const std::string& line)
{
    return strip_comment(line).find_first_not_of(" \t\r") == std::string::npos;
}

bool names_word(const std::string& code, const std::string& name)
{
    for (std::size_t at = code.find(name); at != std::string::npos; at = code.find(name, at + 1)) {
        const auto word = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; };
        const bool starts = at == 0 || !word(code[at - 1]);
        const std::size_t end = at + name.size();
        if (starts && (end == code.size() || !word(code[end])))
            return true;
    }
    return false;
}

// The SDK's headers are C: fixed-width and size types come from stdint.h and
// stddef.h without the std:: of our C++ declarations.
std::string c_spelling(const std::string& line) { return std::regex_replace(line, std::regex(R"(\bstd::)"), ""); }

// Runs of our `inline constexpr` constants become one anonymous enum each,
// the way the SDK declares its constants.
std::string constants_as_enums(const std::vector<std::string>& lines)
{
    std::string out;
    bool in_enum = false;
    for (const std::string& line : lines) {
        std::smatch m;
        if (std::regex_match(line, m, kConstant)) {
            if (!in_enum)
                out += "enum {\n";
            in_enum = true;
            out += "    " + m[1].str() + " = " + m[2].str() + "," + m[3].str() + "\n";
            continue;
        }
        if (in_enum)
            out += "};\n";
        in_enum = false;
        out += line + "\n";
    }
    if (in_enum)
        out += "};\n";
    return out;
}

std::string fail_at(int line, const std::string& what)
{
    return "host_api.h:" + std::to_string(line) + ": " + what;
}

} // namespace

const std::vector<std::string>& names_no_sdk_declares()
{
    static const std::vector<std::string> names = {"PF_ANSICallbacksBlock", "PF_Precision", "A_AppID",
                                                   "PF_GPU_Framework_DIRECTX",
                                                   "PF_OutFlag2_SUPPORTS_DIRECTX_RENDERING"};
    return names;
}

const std::vector<NewerName>& names_only_newer_sdks_declare()
{
    static const std::vector<NewerName> names = {{"PF_OutFlag2_MUTABLE_RENDER_SEQUENCE_DATA_SLOWER", "0x10000000"}};
    return names;
}

std::vector<SdkFile> make_test_sdk(const std::string& host_api_text, Flavour flavour)
{
    std::vector<std::string> lines;
    {
        std::istringstream in(host_api_text);
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
    }
    std::size_t begin = 0, end = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i] == kOwnBranchStart && begin == 0)
            begin = i + 1;
        else if (lines[i] == kOwnBranchEnd && begin != 0)
            end = i;
    }
    if (begin == 0 || end == 0)
        throw SplitError("host_api.h: no own-declarations branch between '" + std::string(kOwnBranchStart) + "' and '" +
                         kOwnBranchEnd + "'");

    std::map<std::string, std::vector<std::string>> parts; // header path -> its lines, in order
    const std::vector<HeaderLayout>& table = layouts();
    std::string current;        // "" before the first marker, "none" in our own part
    bool platform_only = false; // the current part is declared on Windows and macOS only
    const auto close_platform = [&] {
        if (platform_only)
            parts[current].push_back(kPlatformClose);
        platform_only = false;
    };
    for (std::size_t i = begin; i < end; ++i) {
        const std::string& line = lines[i];
        const int number = int(i + 1);
        std::smatch m;
        if (std::regex_match(line, m, kMarker)) {
            close_platform();
            current = m[1].str();
            if (current == "none")
                continue;
            bool known = false;
            for (const HeaderLayout& layout : table)
                known = known || (layout.path == current && layout.cut_from_host_api);
            if (!known)
                throw SplitError(fail_at(number, "'" + current + "' is not an SDK header the test SDK cuts"));
            if (m[2].matched) {
                platform_only = true;
                parts[current].push_back(kPlatformOpen);
            }
            continue;
        }
        const std::string code = strip_comment(line);
        for (const std::string& name : names_no_sdk_declares())
            if (names_word(code, name))
                throw SplitError(fail_at(number, name + " is declared by no SDK release"));
        for (const NewerName& newer : names_only_newer_sdks_declare())
            if (names_word(code, newer.name))
                throw SplitError(fail_at(number, newer.name + " is declared by newer SDK releases only"));
        if (current.empty()) {
            if (!blank_or_comment(line))
                throw SplitError(fail_at(number, "a declaration before the first '// SDK header:' line"));
            continue;
        }
        if (current != "none")
            parts[current].push_back(c_spelling(line));
    }
    close_platform();

    if (flavour == Flavour::newer)
        for (const NewerName& newer : names_only_newer_sdks_declare())
            parts["Headers/AE_Effect.h"].push_back("enum { " + newer.name + " = " + newer.value + " };");

    const std::string flavour_name = flavour == Flavour::older ? "older" : "newer";
    std::vector<SdkFile> files;
    for (const HeaderLayout& layout : table) {
        const auto found = parts.find(layout.path);
        if (layout.cut_from_host_api && (found == parts.end() || found->second.empty()))
            throw SplitError("host_api.h: no part is marked '// SDK header: " + layout.path + "'");
        std::string text = "// Test SDK, " + flavour_name + " release: " + layout.path +
                           ". Written by tests/host_sdk from src/shell/host_api.h; do not edit.\n#pragma once\n\n";
        for (const std::string& include : layout.includes)
            text += "#include " + include + "\n";
        if (!layout.includes.empty())
            text += "\n";
        text += layout.preamble;
        if (found != parts.end())
            text += constants_as_enums(found->second);
        files.push_back({layout.path, text});
    }
    return files;
}

} // namespace ruvivedu::test_sdk
