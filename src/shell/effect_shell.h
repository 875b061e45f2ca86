// The plug-in's two exported entry points (and the registered alias of the
// command entry), as the host calls them.
#pragma once

#include "host_api.h"

#if defined(_WIN32)
#define RUVIVEDU_EXPORT __declspec(dllexport)
#else
#define RUVIVEDU_EXPORT __attribute__((visibility("default")))
#endif

extern "C" {

/// Registration: calls the host's callback once with the effect's identity
/// and returns its result unchanged.
RUVIVEDU_EXPORT PF_Err PluginDataEntryFunction(PF_PluginDataPtr inPtr, PF_PluginDataCB inPluginDataCallBackPtr,
                                               SPBasicSuite* inSPBasicSuitePtr, const char* inHostName,
                                               const char* inHostVersion);

/// Command entry: one call per host request.
RUVIVEDU_EXPORT PF_Err EntryPointFunc(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                                      PF_LayerDef* output, void* extra);

/// The name the registration call hands the host; the same command entry.
RUVIVEDU_EXPORT PF_Err EffectMain(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                                  PF_LayerDef* output, void* extra);
}

namespace ruvivedu {

/// Writes an effect message "[Ruvivedu] text" into out_data's return message
/// through the host's sprintf.
void report_message(PF_InData* in_data, PF_OutData* out_data, const char* text);

/// The three render commands; each turns host records into one render
/// context and runs the frame driver for its depth.
PF_Err render_classic(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[], PF_LayerDef* output);
PF_Err smart_pre_render(PF_InData* in_data, PF_OutData* out_data, PF_PreRenderExtra* extra);
PF_Err smart_render(PF_InData* in_data, PF_OutData* out_data, PF_SmartRenderExtra* extra);

}  // namespace ruvivedu
