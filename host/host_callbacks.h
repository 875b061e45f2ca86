// Internal to ruvivedu_host: the C callbacks the host hands to the plug-in, the registry of live
// hosts that effect_ref lookups go through, and the thread-local current host.
#pragma once

#include "substitute_host.h"

#include <utility>

namespace ruvivedu::host {

struct HostCallbacks {
    /// Fills the host's in_data callbacks, utility callbacks, basic suite and world suite.
    static void install(SubstituteHost& host);

    /// The registration callback passed to PluginDataEntryFunction.
    static A_Err registration(PF_PluginDataPtr inPtr, const A_u_char* inNamePtr, const A_u_char* inMatchNamePtr,
                              const A_u_char* inCategoryPtr, const A_u_char* inEntryPointNamePtr, A_long inkind,
                              A_long inApiVersionMajor, A_long inApiVersionMinor, A_long inReservedInfo);

    // Utility callbacks.
    static int ansi_sprintf(A_char* dst, const A_char* fmt, ...);
    static A_char* ansi_strcpy(A_char* dst, const A_char* src);
    static PF_Err copy(PF_ProgPtr effect_ref, PF_EffectWorld* src, PF_EffectWorld* dst, PF_Rect* src_r, PF_Rect* dst_r);

    // Interaction callbacks.
    static PF_Err checkout_param(PF_ProgPtr effect_ref, PF_ParamIndex index, A_long what_time, A_long time_step,
                                 A_u_long time_scale, PF_ParamDef* param);
    static PF_Err checkin_param(PF_ProgPtr effect_ref, PF_ParamDef* param);
    static PF_Err add_param(PF_ProgPtr effect_ref, PF_ParamIndex index, PF_ParamDefPtr def);
    static PF_Err abort(PF_ProgPtr effect_ref);
    static PF_Err progress(PF_ProgPtr effect_ref, A_long current, A_long total);

    // Smart-render callbacks.
    static PF_Err checkout_layer(PF_ProgPtr effect_ref, PF_ParamIndex index, A_long checkout_id,
                                 const PF_RenderRequest* req, A_long what_time, A_long time_step, A_u_long time_scale,
                                 PF_CheckoutResult* result);
    static PF_Err guid_mix_in(PF_ProgPtr effect_ref, A_u_long size, const void* buf);
    static PF_Err checkout_layer_pixels(PF_ProgPtr effect_ref, A_long checkout_id, PF_EffectWorld** pixels);
    static PF_Err checkin_layer_pixels(PF_ProgPtr effect_ref, A_long checkout_id);
    static PF_Err checkout_output(PF_ProgPtr effect_ref, PF_EffectWorld** output);

    // Basic suite.
    static SPErr acquire_suite(const char* name, std::int32_t version, const void** suite);
    static SPErr release_suite(const char* name, std::int32_t version);
    static SPBoolean is_equal(const char* token1, const char* token2);
    static SPErr allocate_block(std::size_t size, void** block);
    static SPErr free_block(void* block);
    static SPErr reallocate_block(void* block, std::size_t new_size, void** new_block);
    static SPErr undefined();

    // World suite.
    static PF_Err new_world(PF_ProgPtr effect_ref, A_long width, A_long height, PF_Boolean clear_pix,
                            PF_PixelFormat pixel_format, PF_EffectWorld* world);
    static PF_Err dispose_world(PF_ProgPtr effect_ref, PF_EffectWorld* world);
    static PF_Err get_pixel_format(const PF_EffectWorld* world, PF_PixelFormat* pixel_format);

private:
    // The live host `effect_ref` names, or null (recorded on the current host, if any, as an error).
    static SubstituteHost* host_for(PF_ProgPtr effect_ref, HostOp op);

    /// How one callback opens: which operation it is, the argument its record carries, and whether
    /// it is logged (the polls, abort and progress, are counted apart from the call log) and may
    /// serve a plug-in outside any command (sprintf and strcpy, which have no effect_ref).
    struct Opening {
        HostOp op;
        A_long arg = 0;
        bool logged = true;
        bool hostless = false;
    };

    /// The opening every callback shares. With `host` (found by effect_ref, or the thread's current
    /// host): holds its lock for the whole call, takes an injected fault (then `on_fault(host, code)`
    /// clears what the call would have handed out) or else runs `body(&host)`, and records the call
    /// with the code. Without one: PF_Err_BAD_CALLBACK_PARAM, or body(nullptr) when the callback
    /// serves hostless calls.
    template <typename Body, typename OnFault>
    static PF_Err serve(SubstituteHost* host, const Opening& opening, Body&& body, OnFault&& on_fault);
    template <typename Body>
    static PF_Err serve(SubstituteHost* host, const Opening& opening, Body&& body)
    {
        return serve(host, opening, std::forward<Body>(body), [](SubstituteHost&, PF_Err) {});
    }
};

/// Adds and removes a host from the registry that effect_ref lookups search.
void register_host(SubstituteHost* host);
void unregister_host(SubstituteHost* host);

/// Makes `host` the current host of this thread for the scope's lifetime (restoring the previous one).
class CurrentHostScope {
public:
    explicit CurrentHostScope(SubstituteHost* host);
    ~CurrentHostScope();
    CurrentHostScope(const CurrentHostScope&) = delete;
    CurrentHostScope& operator=(const CurrentHostScope&) = delete;

private:
    SubstituteHost* previous_;
};

}  // namespace ruvivedu::host
