// Cutting host_api.h into the test SDK. What each header includes and which
// platform check it makes follows the sheet of facts about the two SDK
// releases; where the sheet is silent (what AE_EffectPixelFormat.h and
// AE_PluginData.h include), a header includes A.h for the basic types it
// needs and nothing else.
#include "test_sdk.h"

#include <cctype>
#include <map>
#include <sstream>

namespace ruvivedu::test_sdk {

namespace {

struct HeaderLayout {
    std::string path;
    std::vector<std::string> includes;  ///< as written after #include
    bool cut_from_host_api;             ///< its declarations are the parts of host_api.h marked for it
    std::string preamble;               ///< fixed text before those declarations
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
        {"Headers/AE_EffectCBSuites.h", {"\"AE_EffectCB.h\"", "\"AE_EffectPixelFormat.h\"", "\"SPBasic.h\""}, true, ""},
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
const std::string kMarker = "// SDK header: ";
const std::string kPlatformOnly = " (Windows and macOS only)";

bool word_char(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

bool is_identifier(const std::string& text)
{
    if (text.empty() || std::isdigit(static_cast<unsigned char>(text[0])))
        return false;
    for (char c : text)
        if (!word_char(c))
            return false;
    return true;
}

/// A marker line: "// SDK header: PATH", optionally followed by the
/// platform note. Sets `path` and `platform_only`.
bool parse_marker(const std::string& line, std::string& path, bool& platform_only)
{
    if (line.compare(0, kMarker.size(), kMarker) != 0)
        return false;
    std::string rest = line.substr(kMarker.size());
    while (!rest.empty() && (rest.back() == ' ' || rest.back() == '\r'))
        rest.pop_back();
    platform_only = rest.size() > kPlatformOnly.size() &&
                    rest.compare(rest.size() - kPlatformOnly.size(), kPlatformOnly.size(), kPlatformOnly) == 0;
    if (platform_only)
        rest.erase(rest.size() - kPlatformOnly.size());
    path = rest;
    return !path.empty() && path.find(' ') == std::string::npos;
}

/// One of our constants, "inline constexpr TYPE NAME = VALUE;  // comment",
/// split into name, value and the trailing comment (with its spaces).
struct Constant {
    std::string name, value, comment;
};

bool parse_constant(const std::string& line, Constant& constant)
{
    const std::string head = "inline constexpr ";
    if (line.compare(0, head.size(), head) != 0)
        return false;
    const std::size_t type_end = line.find(' ', head.size());
    const std::size_t equals = line.find(" = ", type_end);
    if (type_end == std::string::npos || equals == std::string::npos)
        return false;
    constant.name = line.substr(type_end + 1, equals - type_end - 1);
    const std::size_t comment = line.find("//", equals);
    std::string code = line.substr(equals + 3, comment == std::string::npos ? std::string::npos : comment - equals - 3);
    std::size_t code_end = code.find_last_not_of(' ');
    if (!is_identifier(constant.name) || code_end == std::string::npos || code[code_end] != ';')
        return false;
    constant.value = code.substr(0, code_end);
    constant.comment = comment == std::string::npos ? "" : code.substr(code_end + 1) + line.substr(comment);
    return !constant.value.empty();
}

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
        const bool starts = at == 0 || !word_char(code[at - 1]);
        const std::size_t end = at + name.size();
        if (starts && (end == code.size() || !word_char(code[end])))
            return true;
    }
    return false;
}

// The SDK's headers are C: fixed-width and size types come from stdint.h and
// stddef.h without the std:: of our C++ declarations.
std::string c_spelling(std::string line)
{
    for (std::size_t at = line.find("std::"); at != std::string::npos; at = line.find("std::", at))
        if (at == 0 || !word_char(line[at - 1]))
            line.erase(at, 5);
        else
            at += 5;
    return line;
}

// Runs of our `inline constexpr` constants become one anonymous enum each,
// the way the SDK declares its constants.
std::string constants_as_enums(const std::vector<std::string>& lines)
{
    std::string out;
    bool in_enum = false;
    for (const std::string& line : lines) {
        Constant constant;
        if (parse_constant(line, constant)) {
            if (!in_enum)
                out += "enum {\n";
            in_enum = true;
            out += "    " + constant.name + " = " + constant.value + "," + constant.comment + "\n";
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

}  // namespace

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

    std::map<std::string, std::vector<std::string>> parts;  // header path -> its lines, in order
    const std::vector<HeaderLayout>& table = layouts();
    std::string current;         // "" before the first marker, "none" in our own part
    bool platform_only = false;  // the current part is declared on Windows and macOS only
    const auto close_platform = [&] {
        if (platform_only)
            parts[current].push_back(kPlatformClose);
        platform_only = false;
    };
    for (std::size_t i = begin; i < end; ++i) {
        const std::string& line = lines[i];
        const int number = int(i + 1);
        std::string marked;
        bool marked_platform_only = false;
        if (parse_marker(line, marked, marked_platform_only)) {
            close_platform();
            current = marked;
            if (current == "none")
                continue;
            bool known = false;
            for (const HeaderLayout& layout : table)
                known = known || (layout.path == current && layout.cut_from_host_api);
            if (!known)
                throw SplitError(fail_at(number, "'" + current + "' is not an SDK header the test SDK cuts"));
            if (marked_platform_only) {
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

}  // namespace ruvivedu::test_sdk
