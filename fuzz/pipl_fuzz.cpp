// libFuzzer target for what `ruvivedu info` reads from a module: what the
// module's registration hands back (its strings and numbers through the
// host's registration callback, its ABOUT text, the flags of GLOBAL_SETUP and
// the parameters it declares) and the PiPL resource as stored beside it. The
// input (effect_script.h) is played by a stand-in module through the
// substitute host; the report is then made as `info` makes it.
//
// Checked: the host kept the registration strings as they were given; a PiPL
// that parses is walked exactly (every property's data is the bytes at its
// place, the count as declared, nothing left over) and one that does not
// still yields only properties that lie inside the bytes; the JSON report is
// valid JSON; the text report is UTF-8 without control characters other than
// line breaks, whatever the module sent, so it cannot drive the terminal.
//
// Seeds: with RUVIVEDU_SEED_MODULE, RUVIVEDU_SEED_PIPL and RUVIVEDU_SEED_OUT
// set, the target writes the script of the real module and PiPL to the last
// and exits (fuzz/make_seeds.sh).
#include "effect_script.h"
#include "fuzz_check.h"
#include "json_check.h"
#include "plugin_info.h"

#include <cstdlib>
#include <fstream>
#include <iterator>

using namespace ruvivedu;

namespace {

const effect_script::Script* g_script = nullptr;

const A_u_char* text_or_null(const std::string& text, int bit)
{
    return (g_script->null_strings >> bit) & 1 ? nullptr : reinterpret_cast<const A_u_char*>(text.c_str());
}

PF_Err stand_in_registration(PF_PluginDataPtr registration, PF_PluginDataCB callback, SPBasicSuite*, const char*,
                             const char*)
{
    const effect_script::Script& s = *g_script;
    return callback(registration, text_or_null(s.name, 0), text_or_null(s.match_name, 1), text_or_null(s.category, 2),
                    text_or_null(s.entry_name, 3), A_long(s.kind), A_long(s.api_major), A_long(s.api_minor),
                    A_long(s.reserved_info));
}

PF_Err stand_in_entry(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data, PF_ParamDef*[], PF_LayerDef*, void*)
{
    const effect_script::Script& s = *g_script;
    switch (cmd) {
    case PF_Cmd_ABOUT:
        in_data->utils->ansi.sprintf(out_data->return_msg, "%s", s.about_text.c_str());
        return PF_Err(s.about_result);
    case PF_Cmd_GLOBAL_SETUP:
        out_data->my_version = s.my_version;
        out_data->out_flags = PF_OutFlags(s.out_flags);
        out_data->out_flags2 = PF_OutFlags2(s.out_flags2);
        return PF_Err(s.global_setup_result);
    case PF_Cmd_PARAMS_SETUP:
        for (const effect_script::Param& p : s.params) {
            PF_ParamDef def = p.def;
            // The only pointers a host follows in a definition.
            if (def.param_type == PF_Param_POPUP)
                def.u.pd.u.namesptr = p.text.c_str();
            if (def.param_type == PF_Param_CHECKBOX)
                def.u.bd.u.nameptr = p.text.c_str();
            in_data->inter.add_param(in_data->effect_ref, -1, &def);
        }
        out_data->num_params = A_long(s.num_params);
        return PF_Err(s.params_setup_result);
    default:
        return PF_Err_NONE;
    }
}

/// Valid UTF-8 with no control character but the line break: C0 controls,
/// DEL and the C1 range (U+0080..U+009F) can all move a terminal's cursor or
/// start escape sequences.
bool safe_for_a_terminal(const std::string& text, std::size_t& bad)
{
    for (std::size_t i = 0; i < text.size();) {
        unsigned long code = 0;
        const std::size_t length = json_check::utf8_sequence(text, i, code);
        bad = i;
        if (length == 0 || (code < 0x20 && code != '\n') || (code >= 0x7F && code <= 0x9F))
            return false;
        i += length;
    }
    return true;
}

void check_pipl(const tool::PiplInfo& pipl)
{
    const std::vector<unsigned char>& b = pipl.bytes;
    std::size_t at = 10;
    for (const tool::PiplProperty& p : pipl.properties) {
        FUZZ_CHECK(p.length >= 0 && std::size_t(p.length) == p.data.size(), "property '%s' has %zu bytes for length %d",
                   p.key.c_str(), p.data.size(), int(p.length));
        FUZZ_CHECK(at + 16 + p.data.size() <= b.size() &&
                       std::equal(p.data.begin(), p.data.end(), b.begin() + std::ptrdiff_t(at + 16)),
                   "property '%s' is not the bytes at %zu", p.key.c_str(), at + 16);
        at += 16 + ((p.data.size() + 3) & ~std::size_t(3));
    }
    FUZZ_CHECK(pipl.count < 0 || pipl.properties.size() <= std::size_t(pipl.count), "%zu properties of %d",
               pipl.properties.size(), int(pipl.count));
    if (pipl.problem.empty())
        FUZZ_CHECK(b.size() >= 10 && at == b.size() && pipl.properties.size() == std::size_t(std::max(pipl.count, 0)),
                   "a PiPL of %zu bytes parsed clean with %zu of %d properties ending at %zu", b.size(),
                   pipl.properties.size(), int(pipl.count), at);
}

void check_capture(const std::optional<std::string>& got, const std::string& sent, int bit, const char* what)
{
    const bool null = (g_script->null_strings >> bit) & 1;
    FUZZ_CHECK(null ? !got : got && *got == sent, "the host kept the %s wrongly", what);
}

/// Writes the script of a real module and its PiPL (see the file comment).
void write_seed(const char* module_path, const char* pipl_path, const char* out_path)
{
    host::PluginModule module;
    FUZZ_CHECK(module.load(module_path), "cannot load %s: %s", module_path, module.error().c_str());
    host::SubstituteHost host(module);
    tool::PluginInfo info;
    tool::ask_effect(host, info);

    effect_script::Script s;
    const host::RegistrationCapture& r = info.registration;
    const std::optional<std::string>* strings[] = {&r.name, &r.match_name, &r.category, &r.entry_name};
    std::string* fields[] = {&s.name, &s.match_name, &s.category, &s.entry_name};
    for (int i = 0; i < 4; ++i) {
        if (*strings[i])
            *fields[i] = **strings[i];
        else
            s.null_strings |= std::uint8_t(1 << i);
    }
    s.kind = std::uint32_t(r.kind);
    s.api_major = std::uint32_t(r.api_major);
    s.api_minor = std::uint32_t(r.api_minor);
    s.reserved_info = std::uint32_t(r.reserved_info);
    s.registration_result = std::uint32_t(info.registration_result);
    s.about_text = info.about_text;
    s.about_result = std::uint32_t(info.about_result);
    s.my_version = info.my_version;
    s.out_flags = std::uint32_t(info.out_flags);
    s.out_flags2 = std::uint32_t(info.out_flags2);
    s.global_setup_result = std::uint32_t(info.global_setup_result);
    for (const host::DeclaredParam& declared : info.params) {
        effect_script::Param p;
        p.def = declared.def;
        if (p.def.param_type == PF_Param_POPUP) {
            p.def.u.pd.u.namesptr = nullptr;
            p.text = declared.popup_choices.value_or("");
        }
        if (p.def.param_type == PF_Param_CHECKBOX) {
            p.def.u.bd.u.nameptr = nullptr;
            p.text = declared.checkbox_label.value_or("");
        }
        s.params.push_back(p);
    }
    s.num_params = std::uint32_t(info.num_params);
    s.params_setup_result = std::uint32_t(info.params_setup_result);
    const tool::PiplInfo pipl = tool::read_pipl(pipl_path);
    FUZZ_CHECK(pipl.found, "cannot read %s", pipl_path);
    s.pipl_found = true;
    s.pipl.assign(pipl.bytes.begin(), pipl.bytes.end());
    const std::vector<std::uint8_t> bytes = effect_script::write(s);
    std::ofstream out(out_path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    FUZZ_CHECK(out.good(), "cannot write %s", out_path);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    const char* module = std::getenv("RUVIVEDU_SEED_MODULE");
    const char* pipl = std::getenv("RUVIVEDU_SEED_PIPL");
    const char* out = std::getenv("RUVIVEDU_SEED_OUT");
    if (module && pipl && out) {
        write_seed(module, pipl, out);
        std::exit(0);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const effect_script::Script script = effect_script::read(data, size);
    g_script = &script;

    host::SubstituteHost host(&stand_in_entry, &stand_in_registration);
    host.set_registration_result(A_Err(script.registration_result));
    tool::PluginInfo info;
    info.module_path = "stand-in module";
    tool::ask_effect(host, info);
    check_capture(info.registration.name, script.name, 0, "name");
    check_capture(info.registration.match_name, script.match_name, 1, "match name");
    check_capture(info.registration.category, script.category, 2, "category");
    check_capture(info.registration.entry_name, script.entry_name, 3, "entry point name");

    info.pipl.path = "stand-in PiPL";
    info.pipl.found = script.pipl_found;
    if (script.pipl_found) {
        info.pipl.bytes.assign(script.pipl.begin(), script.pipl.end());
        tool::parse_pipl(info.pipl);
        check_pipl(info.pipl);
    }

    const std::string json = tool::format_info_json(info);
    const std::string problem = json_check::problem(json);
    FUZZ_CHECK(problem.empty(), "the JSON report is not JSON: %s\n%s", problem.c_str(), json.c_str());
    const std::string text = tool::format_info_text(info);
    std::size_t bad = 0;
    FUZZ_CHECK(safe_for_a_terminal(text, bad), "the text report has byte 0x%02X at %zu", unsigned(text[bad]) & 0xFFu,
               bad);
    g_script = nullptr;
    return 0;
}
