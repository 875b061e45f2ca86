// Tests of the test SDK: that host_api.h cuts into the SDK's headers as the
// sheet of SDK facts lists them, that the cut loses nothing and lacks what
// the SDK lacks, that the cutter refuses what it cannot place, and that no
// source of the tree names what no SDK declares.
#include "test_sdk.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>

namespace {

using namespace ruvivedu::test_sdk;

std::string read_file(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

const std::string& host_api()
{
    static const std::string text = read_file(RUVIVEDU_HOST_API_PATH);
    return text;
}

const SdkFile& file(const std::vector<SdkFile>& sdk, const std::string& path)
{
    const auto found = std::find_if(sdk.begin(), sdk.end(), [&](const SdkFile& f) { return f.path == path; });
    if (found == sdk.end())
        throw std::runtime_error("no " + path + " in the test SDK");
    return *found;
}

bool declares(const std::string& text, const std::string& name)
{
    return std::regex_search(text, std::regex("(^|[^A-Za-z0-9_])" + name + "([^A-Za-z0-9_]|$)"));
}

/// The headers of the test SDK that mention `name`, as code (comments aside).
std::vector<std::string> headers_naming(const std::vector<SdkFile>& sdk, const std::string& name)
{
    std::vector<std::string> found;
    for (const SdkFile& f : sdk)
        if (declares(std::regex_replace(f.text, std::regex("//[^\n]*"), ""), name))
            found.push_back(f.path);
    return found;
}

/// A minimal host_api.h: the two branch lines around `own`.
std::string branch(const std::string& own)
{
    return "#if defined(RUVIVEDU_USE_HOST_SDK) && RUVIVEDU_USE_HOST_SDK\n#include \"AE_Effect.h\"\n"
           "#else  // our own declarations\n" +
           own + "#endif  // RUVIVEDU_USE_HOST_SDK\n";
}

/// Every header the cutter fills, each with one declaration.
std::string every_header(const std::string& extra_for_effect = "")
{
    std::string own;
    for (const char* path :
         {"Headers/A.h", "Headers/AE_EffectCB.h", "Headers/AE_EffectPixelFormat.h", "Headers/AE_EffectCBSuites.h",
          "Headers/AE_PluginData.h", "Headers/SP/SPTypes.h", "Headers/SP/SPBasic.h", "Util/Param_Utils.h"})
        own += std::string("// SDK header: ") + path + "\ntypedef int T" + std::to_string(own.size()) + ";\n";
    return own + "// SDK header: Headers/AE_Effect.h\n" + extra_for_effect;
}

TEST(TestSdk, HasTheSdkHeadersWithTheSdkIncludes)
{
    const std::vector<SdkFile> sdk = make_test_sdk(host_api(), Flavour::older);
    std::set<std::string> paths;
    for (const SdkFile& f : sdk)
        paths.insert(f.path);
    EXPECT_EQ(paths, (std::set<std::string>{"Headers/A.h", "Headers/AE_Effect.h", "Headers/AE_EffectCB.h",
                                            "Headers/AE_EffectCBSuites.h", "Headers/AE_EffectPixelFormat.h",
                                            "Headers/AE_Macros.h", "Headers/AE_PluginData.h", "Headers/SP/SPBasic.h",
                                            "Headers/SP/SPConfig.h", "Headers/SP/SPTypes.h", "Util/Param_Utils.h"}));

    const auto includes = [&](const std::string& path) {
        std::vector<std::string> names;
        const std::string& text = file(sdk, path).text;
        const std::regex include(R"(#include [<"]([^>"]+)[>"])");
        for (auto it = std::sregex_iterator(text.begin(), text.end(), include); it != std::sregex_iterator(); ++it)
            names.push_back((*it)[1].str());
        return names;
    };
    using names = std::vector<std::string>;
    EXPECT_EQ(includes("Headers/A.h"), names{"stdint.h"});
    // AE_Effect.h does not bring in the registration types: code must include AE_PluginData.h itself.
    EXPECT_EQ(includes("Headers/AE_Effect.h"), names{"A.h"});
    EXPECT_EQ(includes("Headers/AE_EffectCB.h"), names{"AE_Effect.h"});
    EXPECT_EQ(includes("Headers/AE_EffectCBSuites.h"), (names{"AE_EffectCB.h", "AE_EffectPixelFormat.h", "SPBasic.h"}));
    EXPECT_EQ(includes("Headers/SP/SPBasic.h"), names{"SPTypes.h"});
    EXPECT_EQ(includes("Headers/SP/SPTypes.h"), (names{"stddef.h", "SPConfig.h"}));
    EXPECT_EQ(includes("Util/Param_Utils.h"), (names{"AE_Effect.h", "AE_EffectCB.h"}));
    EXPECT_TRUE(includes("Headers/SP/SPConfig.h").empty());
}

TEST(TestSdk, PutsEachNameInTheHeaderTheSdkDeclaresItIn)
{
    const std::vector<SdkFile> sdk = make_test_sdk(host_api(), Flavour::older);
    using names = std::vector<std::string>;
    EXPECT_EQ(headers_naming(sdk, "PF_PluginDataCB"), names{"Headers/AE_PluginData.h"});
    EXPECT_EQ(headers_naming(sdk, "PF_Precision_TENTHS"), names{"Util/Param_Utils.h"});
    EXPECT_EQ(headers_naming(sdk, "PF_ANSICallbacks"), names{"Headers/AE_EffectCB.h"});
    EXPECT_EQ(headers_naming(sdk, "PF_PixelFormat_ARGB128"), names{"Headers/AE_EffectPixelFormat.h"});
    EXPECT_EQ(headers_naming(sdk, "kPFWorldSuite"), names{"Headers/AE_EffectCBSuites.h"});
    EXPECT_EQ(headers_naming(sdk, "SPErr"), (names{"Headers/SP/SPTypes.h", "Headers/SP/SPBasic.h"}));
    EXPECT_EQ(headers_naming(sdk, "SPBasicSuite"), (names{"Headers/AE_Effect.h", "Headers/SP/SPBasic.h"}));
    EXPECT_EQ(headers_naming(sdk, "PF_InData"), names{"Headers/AE_Effect.h"});
    // The layout checks are ours alone.
    EXPECT_TRUE(headers_naming(sdk, "RUVIVEDU_CHECK_SIZE").empty());
    EXPECT_TRUE(headers_naming(sdk, "static_assert").empty());
    // The headers are C: no C++ namespace spelling, and constants are enumerators.
    for (const SdkFile& f : sdk) {
        EXPECT_EQ(f.text.find("std::"), std::string::npos) << f.path;
        EXPECT_EQ(f.text.find("constexpr"), std::string::npos) << f.path;
    }
    EXPECT_NE(file(sdk, "Headers/AE_Effect.h").text.find("enum {\n    PF_Cmd_ABOUT = 0,\n"), std::string::npos);
}

TEST(TestSdk, LosesNoDeclarationOfOurs)
{
    // Every name our declarations introduce (typedef, struct tag, constant,
    // macro) appears in the test SDK; the layout checks after "none" do not count.
    const std::string& text = host_api();
    const std::size_t begin = text.find("#else  // our own declarations");
    const std::size_t end = text.find("// SDK header: none");
    ASSERT_NE(begin, std::string::npos);
    ASSERT_NE(end, std::string::npos);
    const std::string own = text.substr(begin, end - begin);
    const std::regex introduced(
        R"((?:inline constexpr \w+ (\w+) =)|(?:\n#define (\w+))|(?:\} (\w+)[,;])|(?:typedef [^;()]*?(\w+);))");
    std::set<std::string> names;
    for (auto it = std::sregex_iterator(own.begin(), own.end(), introduced); it != std::sregex_iterator(); ++it)
        for (int group = 1; group <= 4; ++group)
            if ((*it)[group].matched)
                names.insert((*it)[group].str());
    ASSERT_GT(names.size(), 300u) << "the pattern no longer finds our declarations";

    for (const Flavour flavour : {Flavour::older, Flavour::newer}) {
        std::string all;
        for (const SdkFile& f : make_test_sdk(text, flavour))
            all += f.text;
        for (const std::string& name : names)
            EXPECT_TRUE(declares(all, name)) << name;
    }
}

TEST(TestSdk, LacksWhatTheSdkLacks)
{
    const std::vector<SdkFile> older = make_test_sdk(host_api(), Flavour::older);
    const std::vector<SdkFile> newer = make_test_sdk(host_api(), Flavour::newer);
    for (const std::string& name : names_no_sdk_declares()) {
        EXPECT_TRUE(headers_naming(older, name).empty()) << name;
        EXPECT_TRUE(headers_naming(newer, name).empty()) << name;
    }
    for (const NewerName& newer_name : names_only_newer_sdks_declare()) {
        EXPECT_TRUE(headers_naming(older, newer_name.name).empty()) << newer_name.name;
        EXPECT_EQ(headers_naming(newer, newer_name.name), std::vector<std::string>{"Headers/AE_Effect.h"});
    }
    // PF_Precision is no type, but its constants are there.
    EXPECT_FALSE(headers_naming(older, "PF_Precision_INTEGER").empty());
}

TEST(TestSdk, KeepsTheSdkPlatformCheck)
{
    const std::vector<SdkFile> sdk = make_test_sdk(host_api(), Flavour::older);
    const std::string& config = file(sdk, "Headers/SP/SPConfig.h").text;
    EXPECT_NE(config.find("#if defined(_WINDOWS) || defined(_MSC_VER) || defined(WINDOWS)\n#ifndef WIN_ENV\n"),
              std::string::npos);
    // A bare #error, as the SDK has: the compiler's message names the file and nothing else.
    EXPECT_TRUE(std::regex_search(config, std::regex("\n#error\n")));
    // The platform-dependent types sit inside the platform condition, so past the check with
    // __LINUX__ they stay undeclared.
    const std::string& effect = file(sdk, "Headers/AE_Effect.h").text;
    const std::size_t open = effect.find("#if defined(WIN_ENV)");
    const std::size_t boolean = effect.find("typedef A_char PF_Boolean;");
    const std::size_t fixed = effect.find("typedef A_long PF_Fixed;");
    const std::size_t handle = effect.find("typedef void** PF_Handle;");
    const std::size_t close = effect.find("\n#endif\n", handle);
    ASSERT_NE(open, std::string::npos);
    EXPECT_LT(open, boolean);
    EXPECT_LT(boolean, fixed);
    EXPECT_LT(fixed, handle);
    EXPECT_LT(handle, close);
    EXPECT_LT(close, effect.find("typedef A_long PF_Cmd;"));
}

TEST(TestSdk, RefusesWhatItCannotPlace)
{
    const auto refusal = [](const std::string& text) {
        try {
            make_test_sdk(text, Flavour::older);
        } catch (const SplitError& e) {
            return std::string(e.what());
        }
        return std::string("accepted");
    };
    EXPECT_EQ(refusal(branch(every_header("typedef int ok;\n"))), "accepted");
    EXPECT_EQ(refusal("typedef int A_long;\n"), "host_api.h: no own-declarations branch between '#else  // our own "
                                                "declarations' and '#endif  // RUVIVEDU_USE_HOST_SDK'");
    // Line 4: the first line after the "#else" branch line of branch().
    EXPECT_EQ(refusal(branch("typedef int stray;\n" + every_header())),
              "host_api.h:4: a declaration before the first '// SDK header:' line");
    EXPECT_EQ(refusal(branch("// SDK header: Headers/AE_Sweetie.h\ntypedef int T;\n" + every_header())),
              "host_api.h:4: 'Headers/AE_Sweetie.h' is not an SDK header the test SDK cuts");
    EXPECT_EQ(refusal(branch("// SDK header: Headers/SP/SPConfig.h\ntypedef int T;\n" + every_header())),
              "host_api.h:4: 'Headers/SP/SPConfig.h' is not an SDK header the test SDK cuts");
    EXPECT_EQ(refusal(branch("// SDK header: Headers/A.h\ntypedef int T;\n")),
              "host_api.h: no part is marked '// SDK header: Headers/AE_Effect.h'");
    // Line 21: after the branch lines, eight marked headers of two lines each and the AE_Effect.h marker.
    EXPECT_EQ(refusal(branch(every_header("typedef A_long A_AppID;\n"))),
              "host_api.h:21: A_AppID is declared by no SDK release");
    EXPECT_NE(refusal(branch(every_header("enum { x = PF_OutFlag2_MUTABLE_RENDER_SEQUENCE_DATA_SLOWER };\n")))
                  .find("declared by newer SDK releases only"),
              std::string::npos);
    // A name in a comment, or one that merely starts with a refused name, is fine.
    EXPECT_EQ(refusal(branch(every_header("// no A_AppID here\ntypedef short PF_Precision_like;\n"))), "accepted");
    // Our own part may name nothing the SDK lacks either.
    EXPECT_NE(refusal(branch(every_header() + "// SDK header: none\nstatic_assert(sizeof(PF_Precision) == 2);\n"))
                  .find("PF_Precision is declared by no SDK release"),
              std::string::npos);
}

TEST(TestSdk, TurnsRunsOfConstantsIntoEnums)
{
    const std::vector<SdkFile> sdk =
        make_test_sdk(branch(every_header("// Two runs.\ninline constexpr PF_Err A = 1;\n"
                                          "inline constexpr PF_Err B = -0x7FFFFFFF - 1;  // bit 31\n\n"
                                          "inline constexpr A_short C = 4;\n")),
                      Flavour::older);
    const std::string& effect = file(sdk, "Headers/AE_Effect.h").text;
    EXPECT_NE(effect.find("// Two runs.\nenum {\n    A = 1,\n    B = -0x7FFFFFFF - 1,  // bit 31\n};\n\nenum {\n"
                          "    C = 4,\n};\n"),
              std::string::npos)
        << effect;
}

TEST(TreeSources, NameNothingNoSdkDeclares)
{
    // What the SDK build in CI compiles fails on such a name by itself; this also covers the branches it
    // does not compile (MSVC's, Apple's).
    std::vector<std::string> names = names_no_sdk_declares();
    for (const NewerName& newer : names_only_newer_sdks_declare())
        names.push_back(newer.name);
    int files = 0;
    for (const char* folder : {"src", "host", "tools"})
        for (const auto& entry :
             std::filesystem::recursive_directory_iterator(std::filesystem::path(RUVIVEDU_SOURCE_DIR) / folder)) {
            const std::string ext = entry.path().extension().string();
            if (ext != ".cpp" && ext != ".h")
                continue;
            ++files;
            const std::string code = std::regex_replace(read_file(entry.path()), std::regex("//[^\n]*"), "");
            for (const std::string& name : names)
                EXPECT_FALSE(declares(code, name)) << entry.path().string() << " names " << name;
        }
    EXPECT_GT(files, 40);
}

}  // namespace
