// `ruvivedu info`: what a host learns about the plug-in module, gathered by
// calling it through the substitute host, and its text and JSON reports.
#pragma once

#include "substitute_host.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ruvivedu::tool {

/// One property of a PiPL resource as a host walks it.
struct PiplProperty {
    std::string vendor;  ///< four-character code, e.g. "8BIM"
    std::string key;     ///< four-character code, e.g. "kind"
    std::int32_t id = 0;
    std::int32_t length = 0;
    std::vector<unsigned char> data;
};

/// The PiPL bytes kept beside the module (in it, on Windows), and their
/// property list.
struct PiplInfo {
    std::string path;
    bool found = false;
    std::vector<unsigned char> bytes;
    std::int16_t version = 0;
    std::int32_t count = 0;
    std::vector<PiplProperty> properties;
    std::string problem;  ///< where the bytes stop making sense; empty when they parse
};

/// Everything `info` reports.
struct PluginInfo {
    std::string module_path;
    bool exports_effect_main = false;
    PF_Err registration_result = PF_Err_NONE;
    host::RegistrationCapture registration;
    PF_Err about_result = PF_Err_NONE;
    std::string about_text;
    PF_Err global_setup_result = PF_Err_NONE;
    A_u_long my_version = 0;
    PF_OutFlags out_flags = 0;
    PF_OutFlags2 out_flags2 = 0;
    PF_Err params_setup_result = PF_Err_NONE;
    A_long num_params = 0;
    std::vector<host::DeclaredParam> params;
    PiplInfo pipl;
};

/// Loads the module and asks it what a host asks: registration, ABOUT,
/// GLOBAL_SETUP, PARAMS_SETUP; reads the PiPL bytes beside it (on Windows,
/// the module's own PIPL resource, as the host finds it). Throws
/// ToolError when the module does not load.
PluginInfo collect_plugin_info(const std::string& module_path);

/// The part of collect_plugin_info that talks to the effect: registration,
/// ABOUT, GLOBAL_SETUP and PARAMS_SETUP through `host`, into `info`.
void ask_effect(host::SubstituteHost& host, PluginInfo& info);

/// Reads and walks a PiPL file (little-endian, four-character codes stored
/// as little-endian integers). A missing file gives found == false.
PiplInfo read_pipl(const std::string& path);

/// Walks the property list of `pipl.bytes` into its version, count and
/// properties; `problem` says where the bytes stop making sense.
void parse_pipl(PiplInfo& pipl);

/// Names of the set bits of out_flags / out_flags2 without the PF_OutFlag_
/// prefix, lowest bit first; a bit without a name is shown as "bit N".
std::vector<std::string> out_flag_names(PF_OutFlags flags);
std::vector<std::string> out_flag2_names(PF_OutFlags2 flags);

/// The version word unpacked: "1.5.2 release build 0".
std::string describe_version(A_u_long version);

/// A four-character code held in an integer, first character in the top byte.
std::string four_char_text(std::uint32_t code);

std::string format_info_text(const PluginInfo& info);
std::string format_info_json(const PluginInfo& info);

}  // namespace ruvivedu::tool
