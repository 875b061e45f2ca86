// Gathering and reporting what a host learns about the plug-in.
#include "plugin_info.h"

#include "tool_error.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <utility>

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#endif

namespace ruvivedu::tool {

namespace {

struct FlagName {
    std::uint32_t bit;
    const char* name;
};

#define RUVIVEDU_FLAG(prefix, name)        \
    FlagName                               \
    {                                      \
        std::uint32_t(prefix##name), #name \
    }

const FlagName kOutFlagNames[] = {
    RUVIVEDU_FLAG(PF_OutFlag_, KEEP_RESOURCE_OPEN),
    RUVIVEDU_FLAG(PF_OutFlag_, WIDE_TIME_INPUT),
    RUVIVEDU_FLAG(PF_OutFlag_, NON_PARAM_VARY),
    RUVIVEDU_FLAG(PF_OutFlag_, RESERVED6),
    RUVIVEDU_FLAG(PF_OutFlag_, SEQUENCE_DATA_NEEDS_FLATTENING),
    RUVIVEDU_FLAG(PF_OutFlag_, I_DO_DIALOG),
    RUVIVEDU_FLAG(PF_OutFlag_, USE_OUTPUT_EXTENT),
    RUVIVEDU_FLAG(PF_OutFlag_, SEND_DO_DIALOG),
    RUVIVEDU_FLAG(PF_OutFlag_, DISPLAY_ERROR_MESSAGE),
    RUVIVEDU_FLAG(PF_OutFlag_, I_EXPAND_BUFFER),
    RUVIVEDU_FLAG(PF_OutFlag_, PIX_INDEPENDENT),
    RUVIVEDU_FLAG(PF_OutFlag_, I_WRITE_INPUT_BUFFER),
    RUVIVEDU_FLAG(PF_OutFlag_, I_SHRINK_BUFFER),
    RUVIVEDU_FLAG(PF_OutFlag_, WORKS_IN_PLACE),
    RUVIVEDU_FLAG(PF_OutFlag_, RESERVED8),
    RUVIVEDU_FLAG(PF_OutFlag_, CUSTOM_UI),
    RUVIVEDU_FLAG(PF_OutFlag_, RESERVED7),
    RUVIVEDU_FLAG(PF_OutFlag_, REFRESH_UI),
    RUVIVEDU_FLAG(PF_OutFlag_, NOP_RENDER),
    RUVIVEDU_FLAG(PF_OutFlag_, I_USE_SHUTTER_ANGLE),
    RUVIVEDU_FLAG(PF_OutFlag_, I_USE_AUDIO),
    RUVIVEDU_FLAG(PF_OutFlag_, I_AM_OBSOLETE),
    RUVIVEDU_FLAG(PF_OutFlag_, FORCE_RERENDER),
    RUVIVEDU_FLAG(PF_OutFlag_, PiPL_OVERRIDES_OUTDATA_OUTFLAGS),
    RUVIVEDU_FLAG(PF_OutFlag_, I_HAVE_EXTERNAL_DEPENDENCIES),
    RUVIVEDU_FLAG(PF_OutFlag_, DEEP_COLOR_AWARE),
    RUVIVEDU_FLAG(PF_OutFlag_, SEND_UPDATE_PARAMS_UI),
    RUVIVEDU_FLAG(PF_OutFlag_, AUDIO_FLOAT_ONLY),
    RUVIVEDU_FLAG(PF_OutFlag_, AUDIO_IIR),
    RUVIVEDU_FLAG(PF_OutFlag_, I_SYNTHESIZE_AUDIO),
    RUVIVEDU_FLAG(PF_OutFlag_, AUDIO_EFFECT_TOO),
    RUVIVEDU_FLAG(PF_OutFlag_, AUDIO_EFFECT_ONLY),
};

const FlagName kOutFlag2Names[] = {
    RUVIVEDU_FLAG(PF_OutFlag2_, SUPPORTS_QUERY_DYNAMIC_FLAGS),
    RUVIVEDU_FLAG(PF_OutFlag2_, I_USE_3D_CAMERA),
    RUVIVEDU_FLAG(PF_OutFlag2_, I_USE_3D_LIGHTS),
    RUVIVEDU_FLAG(PF_OutFlag2_, PARAM_GROUP_START_COLLAPSED_FLAG),
    RUVIVEDU_FLAG(PF_OutFlag2_, I_AM_THREADSAFE),
    RUVIVEDU_FLAG(PF_OutFlag2_, CAN_COMBINE_WITH_DESTINATION),
    RUVIVEDU_FLAG(PF_OutFlag2_, DOESNT_NEED_EMPTY_PIXELS),
    RUVIVEDU_FLAG(PF_OutFlag2_, REVEALS_ZERO_ALPHA),
    RUVIVEDU_FLAG(PF_OutFlag2_, PRESERVES_FULLY_OPAQUE_PIXELS),
    RUVIVEDU_FLAG(PF_OutFlag2_, SUPPORTS_SMART_RENDER),
    RUVIVEDU_FLAG(PF_OutFlag2_, RESERVED9),
    RUVIVEDU_FLAG(PF_OutFlag2_, FLOAT_COLOR_AWARE),
    RUVIVEDU_FLAG(PF_OutFlag2_, I_USE_COLORSPACE_ENUMERATION),
    RUVIVEDU_FLAG(PF_OutFlag2_, I_AM_DEPRECATED),
    RUVIVEDU_FLAG(PF_OutFlag2_, PPRO_DO_NOT_CLONE_SEQUENCE_DATA_FOR_RENDER),
    RUVIVEDU_FLAG(PF_OutFlag2_, RESERVED10),
    RUVIVEDU_FLAG(PF_OutFlag2_, AUTOMATIC_WIDE_TIME_INPUT),
    RUVIVEDU_FLAG(PF_OutFlag2_, I_USE_TIMECODE),
    RUVIVEDU_FLAG(PF_OutFlag2_, DEPENDS_ON_UNREFERENCED_MASKS),
    RUVIVEDU_FLAG(PF_OutFlag2_, OUTPUT_IS_WATERMARKED),
    RUVIVEDU_FLAG(PF_OutFlag2_, I_MIX_GUID_DEPENDENCIES),
    RUVIVEDU_FLAG(PF_OutFlag2_, AE13_5_THREADSAFE),
    RUVIVEDU_FLAG(PF_OutFlag2_, SUPPORTS_GET_FLATTENED_SEQUENCE_DATA),
    RUVIVEDU_FLAG(PF_OutFlag2_, CUSTOM_UI_ASYNC_MANAGER),
    RUVIVEDU_FLAG(PF_OutFlag2_, SUPPORTS_GPU_RENDER_F32),
    RUVIVEDU_FLAG(PF_OutFlag2_, RESERVED12),
    RUVIVEDU_FLAG(PF_OutFlag2_, SUPPORTS_THREADED_RENDERING),
    // Only newer SDK releases name these two bits, so they are spelled by value.
    FlagName{0x10000000u, "MUTABLE_RENDER_SEQUENCE_DATA_SLOWER"},
    FlagName{0x20000000u, "SUPPORTS_DIRECTX_RENDERING"},
};

#undef RUVIVEDU_FLAG

template <std::size_t N>
std::vector<std::string> flag_names(std::uint32_t flags, const FlagName (&table)[N])
{
    std::vector<std::string> names;
    for (int bit = 0; bit < 32; ++bit) {
        const std::uint32_t mask = std::uint32_t(1) << bit;
        if (!(flags & mask))
            continue;
        std::string name = "bit " + std::to_string(bit);
        for (const FlagName& entry : table)
            if (entry.bit == mask)
                name = entry.name;
        names.push_back(name);
    }
    return names;
}

const char* param_type_name(PF_ParamType type)
{
    switch (type) {
    case PF_Param_LAYER:
        return "LAYER";
    case PF_Param_SLIDER:
        return "SLIDER";
    case PF_Param_FIX_SLIDER:
        return "FIX_SLIDER";
    case PF_Param_ANGLE:
        return "ANGLE";
    case PF_Param_CHECKBOX:
        return "CHECKBOX";
    case PF_Param_COLOR:
        return "COLOR";
    case PF_Param_POINT:
        return "POINT";
    case PF_Param_POPUP:
        return "POPUP";
    case PF_Param_CUSTOM:
        return "CUSTOM";
    case PF_Param_NO_DATA:
        return "NO_DATA";
    case PF_Param_FLOAT_SLIDER:
        return "FLOAT_SLIDER";
    case PF_Param_ARBITRARY_DATA:
        return "ARBITRARY_DATA";
    case PF_Param_PATH:
        return "PATH";
    case PF_Param_GROUP_START:
        return "GROUP_START";
    case PF_Param_GROUP_END:
        return "GROUP_END";
    case PF_Param_BUTTON:
        return "BUTTON";
    case PF_Param_POINT_3D:
        return "POINT_3D";
    default:
        return "UNKNOWN";
    }
}

/// A 16.16 value in decimal, always with a fractional part ("32.0", "1.5").
std::string fixed_text(PF_Fixed value)
{
    char text[48];
    std::snprintf(text, sizeof text, "%.5f", double(value) / 65536.0);
    std::string result = text;
    while (result.size() > 2 && result.back() == '0' && result[result.size() - 2] != '.')
        result.pop_back();
    return result;
}

std::string hex32(std::uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

std::vector<std::string> split_choices(const std::string& choices)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t bar; (bar = choices.find('|', start)) != std::string::npos; start = bar + 1)
        parts.push_back(choices.substr(start, bar - start));
    parts.push_back(choices.substr(start));
    return parts;
}

std::string join(const std::vector<std::string>& parts, const std::string& separator)
{
    std::string text;
    for (std::size_t i = 0; i < parts.size(); ++i)
        text += (i ? separator : "") + parts[i];
    return text;
}

std::string result_text(PF_Err result)
{
    return result == PF_Err_NONE ? "ok" : "error " + std::to_string(result);
}

std::string hex_dump(const std::vector<unsigned char>& bytes, const std::string& indent)
{
    std::string out;
    for (std::size_t row = 0; row < bytes.size(); row += 16) {
        char line[128];
        int at = std::snprintf(line, sizeof line, "%s%04zx ", indent.c_str(), row);
        std::string ascii;
        for (std::size_t i = row; i < row + 16; ++i) {
            if (i < bytes.size()) {
                at += std::snprintf(line + at, sizeof line - std::size_t(at), " %02x", bytes[i]);
                ascii += bytes[i] >= 0x20 && bytes[i] < 0x7F ? char(bytes[i]) : '.';
            } else {
                at += std::snprintf(line + at, sizeof line - std::size_t(at), "   ");
            }
        }
        out += std::string(line) + "  |" + ascii + "|\n";
    }
    return out;
}

// ---- JSON -------------------------------------------------------------------

/// The length of the UTF-8 sequence at `at` and its code point, or 0 where
/// the bytes are not one (stray continuation bytes, overlong forms,
/// surrogates and code points past U+10FFFF included).
std::size_t utf8_at(const std::string& text, std::size_t at, std::uint32_t& code)
{
    const unsigned char lead = static_cast<unsigned char>(text[at]);
    std::size_t length = 0;
    if (lead < 0x80)
        length = 1, code = lead;
    else if (lead >= 0xC2 && lead <= 0xDF)
        length = 2, code = lead & 0x1Fu;
    else if (lead >= 0xE0 && lead <= 0xEF)
        length = 3, code = lead & 0x0Fu;
    else if (lead >= 0xF0 && lead <= 0xF4)
        length = 4, code = lead & 0x07u;
    else
        return 0;
    if (length > text.size() - at)
        return 0;
    for (std::size_t i = 1; i < length; ++i) {
        const unsigned char next = static_cast<unsigned char>(text[at + i]);
        if ((next & 0xC0) != 0x80)
            return 0;
        code = code << 6 | (next & 0x3Fu);
    }
    static const std::uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < smallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    return length;
}

/// Control characters: C0, DEL and C1. Any of them can move a terminal's
/// cursor or begin an escape sequence.
bool is_control(std::uint32_t code)
{
    return code < 0x20 || (code >= 0x7F && code <= 0x9F);
}

/// A string the module handed over as the text report shows it: UTF-8 text
/// as it is, every control character and every byte that is not UTF-8 as
/// \xNN, so that no module can drive the terminal the report is read on.
std::string printable(const std::string& text)
{
    std::string out;
    for (std::size_t at = 0; at < text.size();) {
        std::uint32_t code = 0;
        const std::size_t length = utf8_at(text, at, code);
        if (length == 0 || is_control(code)) {
            const std::size_t bytes = length == 0 ? 1 : length;
            for (std::size_t i = 0; i < bytes; ++i) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned char>(text[at + i]));
                out += escaped;
            }
            at += bytes;
        } else {
            out.append(text, at, length);
            at += length;
        }
    }
    return out;
}

/// A JSON string. JSON text is UTF-8, so a byte of the module's strings that
/// is not UTF-8 is taken as the Latin-1 character of that number (modules
/// written for Windows' code pages use those); control characters are
/// escaped.
std::string json_string(const std::string& text)
{
    std::string out = "\"";
    for (std::size_t at = 0; at < text.size();) {
        std::uint32_t code = 0;
        std::size_t length = utf8_at(text, at, code);
        const bool utf8 = length > 0;
        if (!utf8) {
            code = static_cast<unsigned char>(text[at]);  // its Latin-1 character
            length = 1;
        }
        switch (code) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (is_control(code) || !utf8) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", unsigned(code));
                out += escaped;
            } else {
                out.append(text, at, length);
            }
        }
        at += length;
    }
    return out + "\"";
}

std::string json_optional(const std::optional<std::string>& text)
{
    return text ? json_string(*text) : "null";
}

std::string json_list(const std::vector<std::string>& items)
{
    std::vector<std::string> quoted;
    for (const std::string& item : items)
        quoted.push_back(json_string(item));
    return "[" + join(quoted, ", ") + "]";
}

/// Type-specific fields of a parameter, as (key, JSON value) pairs; the text
/// report prints the same pairs.
std::vector<std::pair<std::string, std::string>> param_fields(const host::DeclaredParam& param)
{
    const PF_ParamDef& def = param.def;
    std::vector<std::pair<std::string, std::string>> fields;
    switch (def.param_type) {
    case PF_Param_POPUP:
        fields = {{"value", std::to_string(def.u.pd.value)},
                  {"default", std::to_string(def.u.pd.dephault)},
                  {"num_choices", std::to_string(def.u.pd.num_choices)},
                  {"choices",
                   json_list(param.popup_choices ? split_choices(*param.popup_choices) : std::vector<std::string>{})}};
        break;
    case PF_Param_FIX_SLIDER:
        fields = {{"value", fixed_text(def.u.fd.value)},
                  {"default", fixed_text(def.u.fd.dephault)},
                  {"valid_min", fixed_text(def.u.fd.valid_min)},
                  {"valid_max", fixed_text(def.u.fd.valid_max)},
                  {"slider_min", fixed_text(def.u.fd.slider_min)},
                  {"slider_max", fixed_text(def.u.fd.slider_max)},
                  {"precision", std::to_string(def.u.fd.precision)},
                  {"display_flags", std::to_string(def.u.fd.display_flags)}};
        break;
    case PF_Param_ANGLE:
        fields = {{"value", fixed_text(def.u.ad.value)},
                  {"default", fixed_text(def.u.ad.dephault)},
                  {"valid_min", fixed_text(def.u.ad.valid_min)},
                  {"valid_max", fixed_text(def.u.ad.valid_max)}};
        break;
    case PF_Param_POINT:
        fields = {{"x_value", fixed_text(def.u.td.x_value)},
                  {"y_value", fixed_text(def.u.td.y_value)},
                  {"x_default", fixed_text(def.u.td.x_dephault)},
                  {"y_default", fixed_text(def.u.td.y_dephault)},
                  {"restrict_bounds", def.u.td.restrict_bounds ? "true" : "false"}};
        break;
    case PF_Param_CHECKBOX:
        fields = {{"value", std::to_string(def.u.bd.value)},
                  {"default", std::to_string(int(def.u.bd.dephault))},
                  {"label", json_optional(param.checkbox_label)}};
        break;
    case PF_Param_SLIDER:
        fields = {
            {"value", std::to_string(def.u.sd.value)},           {"default", std::to_string(def.u.sd.dephault)},
            {"valid_min", std::to_string(def.u.sd.valid_min)},   {"valid_max", std::to_string(def.u.sd.valid_max)},
            {"slider_min", std::to_string(def.u.sd.slider_min)}, {"slider_max", std::to_string(def.u.sd.slider_max)}};
        break;
    default:
        break;
    }
    return fields;
}

std::uint32_t read_u32(const std::vector<unsigned char>& bytes, std::size_t at)
{
    return std::uint32_t(bytes[at]) | std::uint32_t(bytes[at + 1]) << 8 | std::uint32_t(bytes[at + 2]) << 16 |
           std::uint32_t(bytes[at + 3]) << 24;
}

#if !defined(_WIN32)
std::string pipl_path_for(const std::string& module_path)
{
    std::filesystem::path path(module_path);
    return (path.parent_path() / (path.stem().string() + ".pipl")).string();
}
#endif

}  // namespace

std::vector<std::string> out_flag_names(PF_OutFlags flags)
{
    return flag_names(std::uint32_t(flags), kOutFlagNames);
}

std::vector<std::string> out_flag2_names(PF_OutFlags2 flags)
{
    return flag_names(std::uint32_t(flags), kOutFlag2Names);
}

std::string describe_version(A_u_long version)
{
    static const char* const stages[] = {"develop", "alpha", "beta", "release"};
    const unsigned major = (version >> 19) & 7u, sub = (version >> 15) & 15u, fix = (version >> 11) & 15u;
    const unsigned stage = (version >> 9) & 3u, build = version & 0x1FFu;
    return std::to_string(major) + "." + std::to_string(sub) + "." + std::to_string(fix) + " " + stages[stage] +
           " build " + std::to_string(build);
}

std::string four_char_text(std::uint32_t code)
{
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const unsigned char c = static_cast<unsigned char>(code >> shift);
        text += c >= 0x20 && c < 0x7F ? char(c) : '?';
    }
    return text;
}

void parse_pipl(PiplInfo& pipl)
{
    const std::vector<unsigned char>& b = pipl.bytes;
    if (b.size() < 10) {
        pipl.problem = "shorter than the 10-byte header";
        return;
    }
    pipl.version = std::int16_t(b[0] | b[1] << 8);
    pipl.count = std::int32_t(read_u32(b, 6));
    std::size_t at = 10;
    for (std::int32_t i = 0; i < pipl.count; ++i) {
        if (at + 16 > b.size()) {
            pipl.problem = "property " + std::to_string(i + 1) + " runs past the end";
            return;
        }
        PiplProperty property;
        property.vendor = four_char_text(read_u32(b, at));
        property.key = four_char_text(read_u32(b, at + 4));
        property.id = std::int32_t(read_u32(b, at + 8));
        property.length = std::int32_t(read_u32(b, at + 12));
        at += 16;
        if (property.length < 0 || std::size_t(property.length) > b.size() - at) {
            pipl.problem = "property " + std::to_string(i + 1) + " ('" + property.key + "') runs past the end";
            return;
        }
        property.data.assign(b.begin() + std::ptrdiff_t(at), b.begin() + std::ptrdiff_t(at) + property.length);
        // Each property's data is padded with zeros to a multiple of four.
        at += (std::size_t(property.length) + 3) & ~std::size_t(3);
        pipl.properties.push_back(std::move(property));
    }
    if (at != b.size())
        pipl.problem = std::to_string(b.size() - std::min(at, b.size())) + " bytes follow the last property";
}

namespace {

#if defined(_WIN32)
/// The PiPL as the host finds it in a Windows module: the resource of type
/// "PIPL", id 16000, U.S. English. The module is mapped as data only, so
/// none of its code runs.
PiplInfo read_pipl_resource(const std::string& module_path)
{
    PiplInfo pipl;
    pipl.path = module_path + " (resource PIPL 16000, language 1033)";
    const int length = MultiByteToWideChar(CP_UTF8, 0, module_path.c_str(), -1, nullptr, 0);
    if (length <= 0)
        return pipl;
    std::wstring wide(std::size_t(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, module_path.c_str(), -1, wide.data(), length);
    HMODULE module = LoadLibraryExW(wide.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (!module)
        return pipl;
    HRSRC resource =
        FindResourceExW(module, L"PIPL", MAKEINTRESOURCEW(16000), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    HGLOBAL loaded = resource ? LoadResource(module, resource) : nullptr;
    const void* data = loaded ? LockResource(loaded) : nullptr;
    if (data) {
        const unsigned char* bytes = static_cast<const unsigned char*>(data);
        pipl.found = true;
        pipl.bytes.assign(bytes, bytes + SizeofResource(module, resource));
        parse_pipl(pipl);
    }
    FreeLibrary(module);
    return pipl;
}
#endif

}  // namespace

PiplInfo read_pipl(const std::string& path)
{
    PiplInfo pipl;
    pipl.path = path;
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return pipl;
    pipl.found = true;
    pipl.bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    parse_pipl(pipl);
    return pipl;
}

PluginInfo collect_plugin_info(const std::string& module_path)
{
    host::PluginModule module;
    if (!module.load(module_path))
        throw ToolError(module.error());
    PluginInfo info;
    info.module_path = module_path;
    info.exports_effect_main = module.exports_effect_main();

    host::SubstituteHost host(module);
    ask_effect(host, info);
#if defined(_WIN32)
    info.pipl = read_pipl_resource(module_path);
#else
    info.pipl = read_pipl(pipl_path_for(module_path));
#endif
    return info;
}

void ask_effect(host::SubstituteHost& host, PluginInfo& info)
{
    info.registration_result = host.register_effect();
    info.registration = host.registration();
    info.about_result = host.about();
    info.about_text = host.return_msg();
    info.global_setup_result = host.global_setup();
    info.my_version = host.out_data().my_version;
    info.out_flags = host.out_data().out_flags;
    info.out_flags2 = host.out_data().out_flags2;
    info.params_setup_result = host.params_setup();
    info.num_params = host.out_data().num_params;
    info.params.assign(host.declared_params().begin(), host.declared_params().end());
}

std::string format_info_text(const PluginInfo& info)
{
    std::ostringstream out;
    const host::RegistrationCapture& reg = info.registration;
    auto text_or_null = [](const std::optional<std::string>& s) {
        return s ? "\"" + printable(*s) + "\"" : std::string("NULL");
    };
    out << "Plug-in module: " << printable(info.module_path) << "\n"
        << "  exports PluginDataEntryFunction, EntryPointFunc" << (info.exports_effect_main ? ", EffectMain" : "")
        << "\n\n";

    out << "Registration (PluginDataEntryFunction: " << result_text(info.registration_result) << ", callback called "
        << reg.call_count << (reg.call_count == 1 ? " time" : " times") << ")\n";
    if (reg.call_count > 0) {
        out << "  name:          " << text_or_null(reg.name) << "\n"
            << "  match name:    " << text_or_null(reg.match_name) << "\n"
            << "  category:      " << text_or_null(reg.category) << "\n"
            << "  entry point:   " << text_or_null(reg.entry_name) << "\n"
            << "  kind:          '" << four_char_text(std::uint32_t(reg.kind)) << "' ("
            << hex32(std::uint32_t(reg.kind)) << ")\n"
            << "  API version:   " << reg.api_major << "." << reg.api_minor << "\n"
            << "  reserved info: " << reg.reserved_info << "\n";
    }

    out << "\nABOUT (" << result_text(info.about_result) << ")\n";
    // Modules end lines with \n, \r\n or (classic Mac OS) a lone \r.
    std::string about_text = info.about_text;
    for (std::size_t at; (at = about_text.find('\r')) != std::string::npos;)
        about_text.replace(at, at + 1 < about_text.size() && about_text[at + 1] == '\n' ? 2 : 1, "\n");
    std::istringstream about(about_text);
    for (std::string line; std::getline(about, line);)
        out << "  " << printable(line) << "\n";

    out << "\nGLOBAL_SETUP (" << result_text(info.global_setup_result) << ")\n"
        << "  my_version: " << info.my_version << " (" << hex32(info.my_version) << ") "
        << describe_version(info.my_version) << "\n"
        << "  out_flags:  " << hex32(std::uint32_t(info.out_flags)) << " "
        << join(out_flag_names(info.out_flags), " | ") << "\n"
        << "  out_flags2: " << hex32(std::uint32_t(info.out_flags2)) << " "
        << join(out_flag2_names(info.out_flags2), " | ") << "\n";

    out << "\nPARAMS_SETUP (" << result_text(info.params_setup_result) << ", num_params " << info.num_params << ")\n";
    for (std::size_t i = 0; i < info.params.size(); ++i) {
        const host::DeclaredParam& param = info.params[i];
        out << "  " << i + 1 << " \"" << printable(param.name) << "\" " << param_type_name(param.def.param_type)
            << ", id " << param.def.uu.id;
        if (param.def.flags || param.def.ui_flags)
            out << ", flags " << hex32(std::uint32_t(param.def.flags)) << ", ui flags "
                << hex32(std::uint32_t(param.def.ui_flags));
        out << "\n";
        for (const auto& [key, value] : param_fields(param))
            out << "      " << key << ": " << value << "\n";
    }

    out << "\nPiPL (" << printable(info.pipl.path) << ")\n";
    if (!info.pipl.found) {
#if defined(_WIN32)
        out << "  not found: the module has no PIPL resource 16000 in U.S. English\n";
#else
        out << "  not found: no PiPL bytes beside the module\n";
#endif
    } else {
        out << "  " << info.pipl.bytes.size() << " bytes, version " << info.pipl.version << ", " << info.pipl.count
            << " properties\n";
        for (const PiplProperty& property : info.pipl.properties)
            out << "    " << property.vendor << " " << property.key << "  id " << property.id << ", " << property.length
                << " bytes\n";
        if (!info.pipl.problem.empty())
            out << "  malformed: " << info.pipl.problem << "\n";
        out << hex_dump(info.pipl.bytes, "  ");
    }
    return out.str();
}

std::string format_info_json(const PluginInfo& info)
{
    std::ostringstream out;
    const host::RegistrationCapture& reg = info.registration;
    out << "{\n"
        << "  \"module\": " << json_string(info.module_path) << ",\n"
        << "  \"exports_effect_main\": " << (info.exports_effect_main ? "true" : "false") << ",\n"
        << "  \"registration\": {\"result\": " << info.registration_result << ", \"calls\": " << reg.call_count
        << ", \"name\": " << json_optional(reg.name) << ", \"match_name\": " << json_optional(reg.match_name)
        << ", \"category\": " << json_optional(reg.category) << ", \"entry_point\": " << json_optional(reg.entry_name)
        << ", \"kind\": " << json_string(four_char_text(std::uint32_t(reg.kind))) << ", \"kind_value\": " << reg.kind
        << ", \"api_version_major\": " << reg.api_major << ", \"api_version_minor\": " << reg.api_minor
        << ", \"reserved_info\": " << reg.reserved_info << "},\n"
        << "  \"about\": {\"result\": " << info.about_result << ", \"text\": " << json_string(info.about_text) << "},\n"
        << "  \"global_setup\": {\"result\": " << info.global_setup_result << ", \"my_version\": " << info.my_version
        << ", \"version\": " << json_string(describe_version(info.my_version))
        << ", \"out_flags\": " << std::uint32_t(info.out_flags)
        << ", \"out_flags_names\": " << json_list(out_flag_names(info.out_flags))
        << ", \"out_flags2\": " << std::uint32_t(info.out_flags2)
        << ", \"out_flags2_names\": " << json_list(out_flag2_names(info.out_flags2)) << "},\n"
        << "  \"params_setup\": {\"result\": " << info.params_setup_result << ", \"num_params\": " << info.num_params
        << ", \"params\": [";
    for (std::size_t i = 0; i < info.params.size(); ++i) {
        const host::DeclaredParam& param = info.params[i];
        out << (i ? ",\n" : "\n") << "    {\"index\": " << i + 1 << ", \"id\": " << param.def.uu.id
            << ", \"name\": " << json_string(param.name)
            << ", \"type\": " << json_string(param_type_name(param.def.param_type))
            << ", \"type_value\": " << param.def.param_type << ", \"flags\": " << param.def.flags
            << ", \"ui_flags\": " << param.def.ui_flags;
        for (const auto& [key, value] : param_fields(param))
            out << ", " << json_string(key) << ": " << value;
        out << "}";
    }
    out << (info.params.empty() ? "" : "\n  ") << "]},\n";

    const PiplInfo& pipl = info.pipl;
    out << "  \"pipl\": {\"path\": " << json_string(pipl.path) << ", \"found\": " << (pipl.found ? "true" : "false");
    if (pipl.found) {
        std::string hex;
        for (unsigned char byte : pipl.bytes) {
            char two[3];
            std::snprintf(two, sizeof two, "%02x", byte);
            hex += two;
        }
        out << ", \"size\": " << pipl.bytes.size() << ", \"version\": " << pipl.version << ", \"count\": " << pipl.count
            << ", \"problem\": " << (pipl.problem.empty() ? "null" : json_string(pipl.problem))
            << ", \"properties\": [";
        for (std::size_t i = 0; i < pipl.properties.size(); ++i) {
            const PiplProperty& property = pipl.properties[i];
            out << (i ? ", " : "") << "{\"vendor\": " << json_string(property.vendor)
                << ", \"key\": " << json_string(property.key) << ", \"id\": " << property.id
                << ", \"length\": " << property.length << "}";
        }
        out << "], \"hex\": " << json_string(hex);
    }
    out << "}\n}\n";
    return out.str();
}

}  // namespace ruvivedu::tool
