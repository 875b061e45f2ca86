// Registration and command dispatch: the plug-in's front door.
#include "effect_shell.h"

#include "base/image.h"
#include "effect_identity.h"
#include "params.h"

#include <cstdint>

namespace ruvivedu {
namespace {

// The identity table spells the flags and the stage by value, because it is
// also read where no host header can be included; here they meet the host's
// own names, ours or the SDK's.
static_assert(kGlobalOutFlags == static_cast<std::uint32_t>(PF_OutFlag_DEEP_COLOR_AWARE | PF_OutFlag_PIX_INDEPENDENT |
                                                            PF_OutFlag_USE_OUTPUT_EXTENT),
              "out_flags of the identity table");
static_assert(kGlobalOutFlags2 ==
                  static_cast<std::uint32_t>(PF_OutFlag2_SUPPORTS_THREADED_RENDERING | PF_OutFlag2_FLOAT_COLOR_AWARE |
                                             PF_OutFlag2_SUPPORTS_SMART_RENDER),
              "out_flags2 of the identity table");
static_assert(kVersionStage == PF_Stage_RELEASE, "version stage of the identity table");

const A_u_char* host_string(const char* s)
{
    return reinterpret_cast<const A_u_char*>(s);
}

PF_Err about(PF_InData* in_data, PF_OutData* out_data)
{
    // The version is printed from the literals, not unpacked from the word.
    in_data->utils->ansi.sprintf(out_data->return_msg, "%s, v%d.%d.%d\n%s", kMessageName, kVersionMajor, kVersionSub,
                                 kVersionFix, kAboutDescription);
    return PF_Err_NONE;
}

PF_Err global_setup(PF_OutData* out_data)
{
    // The host application is deliberately not consulted: every host gets
    // the same words, equal to the PiPL's.
    out_data->my_version = kEffectVersion;
    out_data->out_flags = kGlobalOutFlags;
    out_data->out_flags2 = kGlobalOutFlags2;
    return PF_Err_NONE;
}

}  // namespace

void report_message(PF_InData* in_data, PF_OutData* out_data, const char* text)
{
    in_data->utils->ansi.sprintf(out_data->return_msg, "[%s] %s", kMessageName, text);
}

}  // namespace ruvivedu

extern "C" PF_Err PluginDataEntryFunction(PF_PluginDataPtr inPtr, PF_PluginDataCB inPluginDataCallBackPtr,
                                          SPBasicSuite* /*inSPBasicSuitePtr*/, const char* /*inHostName*/,
                                          const char* /*inHostVersion*/)
{
    using namespace ruvivedu;
    if (inPluginDataCallBackPtr == nullptr)
        return PF_Err_BAD_CALLBACK_PARAM;
    return inPluginDataCallBackPtr(inPtr, host_string(kDisplayName), host_string(kMatchName), host_string(kCategory),
                                   host_string(kRegisteredEntryName), static_cast<A_long>(kEffectKind),
                                   kApiVersionMajor, kApiVersionMinor, kRegistrationReservedInfo);
}

extern "C" PF_Err EntryPointFunc(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                                 PF_LayerDef* output, void* extra)
{
    using namespace ruvivedu;
    // Compared unsigned, so negative codes fall through with the unknown ones.
    switch (static_cast<A_u_long>(cmd)) {
    case PF_Cmd_ABOUT:
        return about(in_data, out_data);
    case PF_Cmd_GLOBAL_SETUP:
        return global_setup(out_data);
    case PF_Cmd_GLOBAL_SETDOWN:
        // The host is done with the effect: the image memory kept for the
        // next frame goes back. Nothing is reported, out_data is untouched.
        release_kept_image_memory();
        return PF_Err_NONE;
    case PF_Cmd_PARAMS_SETUP:
        return setup_params(in_data, out_data);
    case PF_Cmd_RENDER:
        return render_classic(in_data, out_data, params, output);
    case PF_Cmd_SMART_PRE_RENDER:
        return smart_pre_render(in_data, out_data, static_cast<PF_PreRenderExtra*>(extra));
    case PF_Cmd_SMART_RENDER:
        return smart_render(in_data, out_data, static_cast<PF_SmartRenderExtra*>(extra));
    default:
        // No global, sequence or frame data and no custom UI: everything
        // else succeeds without touching out_data.
        return PF_Err_NONE;
    }
}

extern "C" PF_Err EffectMain(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                             PF_LayerDef* output, void* extra)
{
    return EntryPointFunc(cmd, in_data, out_data, params, output, extra);
}
