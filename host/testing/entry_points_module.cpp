// A minimal effect module for the host's own tests: it exports the two entry points (and not
// EffectMain), so loading, symbol resolution and calls across the module boundary can be checked.
#include "host_api.h"

#if defined(_WIN32)
#define TEST_MODULE_EXPORT __declspec(dllexport)
#else
#define TEST_MODULE_EXPORT __attribute__((visibility("default")))
#endif

extern "C" {

TEST_MODULE_EXPORT PF_Err PluginDataEntryFunction(PF_PluginDataPtr inPtr, PF_PluginDataCB inPluginDataCallBackPtr,
                                                  SPBasicSuite*, const char*, const char*)
{
    return inPluginDataCallBackPtr(inPtr, reinterpret_cast<const A_u_char*>("Module Test"),
                                   reinterpret_cast<const A_u_char*>("Module Test Match"),
                                   reinterpret_cast<const A_u_char*>("Tests"),
                                   reinterpret_cast<const A_u_char*>("EntryPointFunc"), 0x65464B54, 13, 27, 0);
}

// ABOUT answers through the host's sprintf; every other command returns its own code, so a test sees
// which command arrived.
TEST_MODULE_EXPORT PF_Err EntryPointFunc(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data, PF_ParamDef**,
                                         PF_LayerDef*, void*)
{
    if (cmd == PF_Cmd_ABOUT && in_data && out_data) {
        in_data->utils->ansi.sprintf(out_data->return_msg, "%s %d", "module", 7);
        return PF_Err_NONE;
    }
    return cmd;
}
}
