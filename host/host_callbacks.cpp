// The host operations the plug-in calls: each validates its arguments (a misbehaving plug-in gets an
// error code, never a crash inside the host), honours injected faults, records the call and then does
// what the compositing host would do.
#include "host_callbacks.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace ruvivedu::host {

namespace {

thread_local SubstituteHost* t_current = nullptr;

std::mutex& registry_mutex()
{
    static std::mutex mutex;
    return mutex;
}

std::vector<SubstituteHost*>& registry()
{
    static std::vector<SubstituteHost*> hosts;
    return hosts;
}

PF_LRect intersect(const PF_LRect& a, const PF_LRect& b)
{
    PF_LRect r;
    r.left = std::max(a.left, b.left);
    r.top = std::max(a.top, b.top);
    r.right = std::min(a.right, b.right);
    r.bottom = std::min(a.bottom, b.bottom);
    if (r.left >= r.right || r.top >= r.bottom) {
        r = PF_LRect{0, 0, 0, 0};
    }
    return r;
}

std::optional<std::string> copy_string(const A_u_char* s)
{
    if (!s) {
        return std::nullopt;
    }
    return std::string(reinterpret_cast<const char*>(s));
}

// Geometry of a world as the plug-in passed it; rowbytes is signed (a bottom-up world steps down).
struct WorldView {
    unsigned char* data;
    std::ptrdiff_t rowbytes;
    A_long width;
    A_long height;
    std::size_t pixel_bytes;

    unsigned char* pixel(A_long x, A_long y) const
    {
        return data + static_cast<std::ptrdiff_t>(y) * rowbytes +
               static_cast<std::ptrdiff_t>(x) * static_cast<std::ptrdiff_t>(pixel_bytes);
    }
};

bool fits_in(const World& owner, const WorldView& view)
{
    return owner.contains(view.data, view.rowbytes, view.width, view.height, view.pixel_bytes);
}

}  // namespace

void register_host(SubstituteHost* host)
{
    std::lock_guard<std::mutex> lock(registry_mutex());
    registry().push_back(host);
}

void unregister_host(SubstituteHost* host)
{
    std::lock_guard<std::mutex> lock(registry_mutex());
    auto& hosts = registry();
    hosts.erase(std::remove(hosts.begin(), hosts.end(), host), hosts.end());
}

CurrentHostScope::CurrentHostScope(SubstituteHost* host) : previous_(t_current)
{
    t_current = host;
}

CurrentHostScope::~CurrentHostScope()
{
    t_current = previous_;
}

SubstituteHost* SubstituteHost::current()
{
    return t_current;
}

namespace {

// The live host whose effect reference this is, or null. Compares addresses only, so a stale or
// garbage reference is never dereferenced.
SubstituteHost* lookup(PF_ProgPtr effect_ref)
{
    std::lock_guard<std::mutex> lock(registry_mutex());
    for (SubstituteHost* host : registry()) {
        if (host->effect_ref() == effect_ref) {
            return host;
        }
    }
    return nullptr;
}

}  // namespace

SubstituteHost* HostCallbacks::host_for(PF_ProgPtr effect_ref, HostOp op)
{
    if (SubstituteHost* host = lookup(effect_ref)) {
        return host;
    }
    // The reference is not a live host; tell the host running this thread, if any.
    if (SubstituteHost* host = t_current) {
        std::lock_guard<std::mutex> lock(host->mutex_);
        host->record_error(std::string(op_name(op)) + " called with an unknown effect_ref");
        host->record(op, PF_Err_BAD_CALLBACK_PARAM, 0);
    }
    return nullptr;
}

template <typename Body, typename OnFault>
PF_Err HostCallbacks::serve(SubstituteHost* host, const Opening& opening, Body&& body, OnFault&& on_fault)
{
    if (!host) {
        return opening.hostless ? body(static_cast<SubstituteHost*>(nullptr)) : PF_Err_BAD_CALLBACK_PARAM;
    }
    std::lock_guard<std::mutex> lock(host->mutex_);
    PF_Err err = PF_Err_NONE;
    if (host->take_fault(opening.op, err)) {
        on_fault(*host, err);
    } else {
        err = body(host);
    }
    if (opening.logged) {
        host->record(opening.op, err, opening.arg);
    }
    return err;
}

// ----- registration --------------------------------------------------------------------------------

A_Err HostCallbacks::registration(PF_PluginDataPtr inPtr, const A_u_char* inNamePtr, const A_u_char* inMatchNamePtr,
                                  const A_u_char* inCategoryPtr, const A_u_char* inEntryPointNamePtr, A_long inkind,
                                  A_long inApiVersionMajor, A_long inApiVersionMinor, A_long inReservedInfo)
{
    // What the plug-in declared is kept even when the host then fails the call.
    auto capture = [&](SubstituteHost& host) {
        RegistrationCapture& r = host.registration_;
        r.call_count += 1;
        r.registration_ptr = inPtr;
        r.registration_ptr_matches = inPtr == host.registration_ptr();
        r.name = copy_string(inNamePtr);
        r.match_name = copy_string(inMatchNamePtr);
        r.category = copy_string(inCategoryPtr);
        r.entry_name = copy_string(inEntryPointNamePtr);
        r.kind = inkind;
        r.api_major = inApiVersionMajor;
        r.api_minor = inApiVersionMinor;
        r.reserved_info = inReservedInfo;
        if (!r.registration_ptr_matches) {
            host.record_error("registration callback got a registration pointer the host did not pass");
        }
    };
    return serve(
        t_current, {HostOp::registration},
        [&](SubstituteHost* host) {
            capture(*host);
            return host->registration_result_;
        },
        [&](SubstituteHost& host, PF_Err) { capture(host); });
}

// ----- utility callbacks ---------------------------------------------------------------------------

int HostCallbacks::ansi_sprintf(A_char* dst, const A_char* fmt, ...)
{
    std::va_list args;
    va_start(args, fmt);
    // The call's record holds the count sprintf returns.
    const int result = serve(t_current, {HostOp::ansi_sprintf, 0, true, true}, [&](SubstituteHost* host) -> PF_Err {
        if (!dst || !fmt) {
            if (host) {
                host->record_error("sprintf called with a NULL buffer or format");
            }
            return -1;
        }
        // The callback has no length argument; the host knows the only buffer it is meant for
        // (out_data's return message) and bounds the write to it.
        const int length = std::vsnprintf(dst, sprintf_bound, fmt, args);
        if (host) {
            host->messages_.emplace_back(dst);
            if (length < 0) {
                host->record_error("sprintf could not format its arguments");
            } else if (static_cast<std::size_t>(length) >= sprintf_bound) {
                host->record_error("sprintf output of " + std::to_string(length) + " characters cut to " +
                                   std::to_string(sprintf_bound - 1));
            }
        }
        return length;
    });
    va_end(args);
    return result;
}

A_char* HostCallbacks::ansi_strcpy(A_char* dst, const A_char* src)
{
    A_char* result = dst;
    serve(
        t_current, {HostOp::ansi_strcpy, 0, true, true},
        [&](SubstituteHost* host) -> PF_Err {
            if (!dst || !src) {
                if (host) {
                    host->record_error("strcpy called with a NULL argument");
                }
                return PF_Err_BAD_CALLBACK_PARAM;
            }
            // Bounded to the parameter name field: 31 characters and the NUL.
            std::size_t length = 0;
            while (length < strcpy_bound && src[length] != '\0') {
                ++length;
            }
            if (length == strcpy_bound) {
                length = strcpy_bound - 1;
                if (host) {
                    host->record_error("strcpy source longer than " + std::to_string(strcpy_bound - 1) +
                                       " characters, cut");
                }
            }
            std::memcpy(dst, src, length);
            dst[length] = '\0';
            return PF_Err_NONE;
        },
        [&](SubstituteHost&, PF_Err) { result = nullptr; });
    return result;
}

PF_Err HostCallbacks::copy(PF_ProgPtr effect_ref, PF_EffectWorld* src, PF_EffectWorld* dst, PF_Rect* src_r,
                           PF_Rect* dst_r)
{
    return serve(host_for(effect_ref, HostOp::copy), {HostOp::copy}, [&](SubstituteHost* host) -> PF_Err {
        if (!src || !dst || !src->data || !dst->data) {
            host->record_error("copy called with a NULL world or pixel pointer");
            return PF_Err_BAD_CALLBACK_PARAM;
        }

        // Depth: a world the host owns knows it; any other is read from its deep flag.
        World* src_owner = host->find_world(src);
        World* dst_owner = host->find_world(dst);
        auto depth_of = [](const World* owner, const PF_EffectWorld* w) {
            return owner ? owner->depth() : (w->world_flags & PF_WorldFlag_DEEP) ? Depth::u16 : Depth::u8;
        };
        const Depth src_depth = depth_of(src_owner, src);
        const Depth dst_depth = depth_of(dst_owner, dst);
        if (src_depth != dst_depth) {
            host->record_error("copy between worlds of different depth");
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        const std::size_t pixel_bytes = bytes_per_pixel(src_depth);
        for (const PF_EffectWorld* w : {src, dst}) {
            const std::int64_t stride = std::llabs(static_cast<std::int64_t>(w->rowbytes));
            if (w->width < 0 || w->height < 0 ||
                stride < static_cast<std::int64_t>(w->width) * static_cast<std::int64_t>(pixel_bytes)) {
                host->record_error("copy called with a world of impossible geometry");
                return PF_Err_BAD_CALLBACK_PARAM;
            }
        }
        const WorldView s{reinterpret_cast<unsigned char*>(src->data), src->rowbytes, src->width, src->height,
                          pixel_bytes};
        const WorldView d{reinterpret_cast<unsigned char*>(dst->data), dst->rowbytes, dst->width, dst->height,
                          pixel_bytes};
        if ((src_owner && !fits_in(*src_owner, s)) || (dst_owner && !fits_in(*dst_owner, d))) {
            host->record_error("copy called with a world larger than its pixel buffer");
            return PF_Err_BAD_CALLBACK_PARAM;
        }

        // Null rectangles mean the whole worlds; both are clipped to their worlds and the copy covers the
        // smaller of the two sizes, from each rectangle's top-left corner.
        const PF_LRect src_bounds{0, 0, s.width, s.height};
        const PF_LRect dst_bounds{0, 0, d.width, d.height};
        const PF_LRect sr = intersect(src_r ? *src_r : src_bounds, src_bounds);
        const PF_LRect dr = intersect(dst_r ? *dst_r : dst_bounds, dst_bounds);
        const A_long width = std::min(sr.right - sr.left, dr.right - dr.left);
        const A_long height = std::min(sr.bottom - sr.top, dr.bottom - dr.top);
        for (A_long y = 0; y < height; ++y) {
            const unsigned char* from = s.pixel(sr.left, sr.top + y);
            unsigned char* to = d.pixel(dr.left, dr.top + y);
            std::memmove(to, from, static_cast<std::size_t>(width) * pixel_bytes);
        }
        return PF_Err_NONE;
    });
}

// ----- interaction callbacks -----------------------------------------------------------------------

PF_Err HostCallbacks::checkout_param(PF_ProgPtr effect_ref, PF_ParamIndex index, A_long what_time, A_long time_step,
                                     A_u_long time_scale, PF_ParamDef* param)
{
    const ParamCheckout asked{index, what_time, time_step, time_scale};
    return serve(
        host_for(effect_ref, HostOp::checkout_param), {HostOp::checkout_param, index},
        [&](SubstituteHost* host) -> PF_Err {
            host->param_checkouts_.push_back(asked);
            if (!param) {
                host->record_error("checkout_param called with a NULL definition");
                return PF_Err_BAD_CALLBACK_PARAM;
            }
            if (host->in_param_array(param)) {
                host->record_error("checkout_param into an entry of the parameter array");
            }
            if (index < 0 || static_cast<std::size_t>(index) > host->declared_.size()) {
                host->record_error("checkout_param of undeclared index " + std::to_string(index));
                return PF_Err_INVALID_INDEX;
            }
            *param = host->current_param(index);
            host->param_outstanding_.push_back(param);
            return PF_Err_NONE;
        },
        [&](SubstituteHost& host, PF_Err) { host.param_checkouts_.push_back(asked); });
}

PF_Err HostCallbacks::checkin_param(PF_ProgPtr effect_ref, PF_ParamDef* param)
{
    return serve(host_for(effect_ref, HostOp::checkin_param), {HostOp::checkin_param},
                 [&](SubstituteHost* host) -> PF_Err {
                     auto& held = host->param_outstanding_;
                     auto it = std::find(held.begin(), held.end(), param);
                     if (!param || it == held.end()) {
                         host->record_error("checkin_param of a definition that was never checked out");
                         return PF_Err_BAD_CALLBACK_PARAM;
                     }
                     held.erase(it);
                     return PF_Err_NONE;
                 });
}

PF_Err HostCallbacks::add_param(PF_ProgPtr effect_ref, PF_ParamIndex index, PF_ParamDefPtr def)
{
    return serve(host_for(effect_ref, HostOp::add_param), {HostOp::add_param, index},
                 [&](SubstituteHost* host) -> PF_Err {
                     if (!def) {
                         host->record_error("add_param called with a NULL definition");
                         return PF_Err_BAD_CALLBACK_PARAM;
                     }
                     if (host->running_ != PF_Cmd_PARAMS_SETUP) {
                         host->record_error("add_param outside PARAMS_SETUP");
                         return PF_Err_BAD_CALLBACK_PARAM;
                     }
                     // Parameters can only be appended: -1, or the next index spelled out.
                     const auto next = static_cast<PF_ParamIndex>(host->declared_.size() + 1);
                     if (index != -1 && index != next) {
                         host->record_error("add_param at index " + std::to_string(index) + " instead of appending");
                         return PF_Err_INVALID_INDEX;
                     }

                     DeclaredParam declared;
                     declared.index = index;
                     declared.def = *def;
                     const A_char* name = RUVIVEDU_PARAM_NAME(*def);
                     std::size_t length = 0;
                     while (length < sizeof(RUVIVEDU_PARAM_NAME(*def)) && name[length] != '\0') {
                         ++length;
                     }
                     if (length == sizeof(RUVIVEDU_PARAM_NAME(*def))) {
                         host->record_error("add_param with a name that is not NUL-terminated");
                     }
                     declared.name.assign(name, length);
                     if (def->param_type == PF_Param_POPUP && def->u.pd.u.namesptr) {
                         declared.popup_choices = std::string(def->u.pd.u.namesptr);
                     }
                     if (def->param_type == PF_Param_CHECKBOX && def->u.bd.u.nameptr) {
                         declared.checkbox_label = std::string(def->u.bd.u.nameptr);
                     }
                     host->declared_.push_back(std::move(declared));
                     return PF_Err_NONE;
                 });
}

PF_Err HostCallbacks::abort(PF_ProgPtr effect_ref)
{
    // Polled many times a frame: counted, not logged. From the check set by cancel_at on, the user
    // has cancelled, and every later check says so too.
    return serve(
        host_for(effect_ref, HostOp::abort), {HostOp::abort, 0, false},
        [&](SubstituteHost* host) -> PF_Err {
            host->abort_checks_ += 1;
            if (host->cancel_at_ > 0 && host->abort_checks_ >= host->cancel_at_) {
                return PF_Interrupt_CANCEL;
            }
            return PF_Err_NONE;
        },
        [&](SubstituteHost& host, PF_Err) { host.abort_checks_ += 1; });
}

PF_Err HostCallbacks::progress(PF_ProgPtr effect_ref, A_long current, A_long total)
{
    return serve(
        host_for(effect_ref, HostOp::progress), {HostOp::progress, 0, false},
        [&](SubstituteHost* host) -> PF_Err {
            if (total <= 0 || current < 0 || current > total) {
                host->record_error("progress of " + std::to_string(current) + " out of " + std::to_string(total));
            }
            host->progress_.push_back(ProgressReport{current, total});
            return PF_Err_NONE;
        },
        [&](SubstituteHost& host, PF_Err) {
            host.progress_.push_back(ProgressReport{current, total});
        });
}

// ----- smart-render callbacks ----------------------------------------------------------------------

PF_Err HostCallbacks::checkout_layer(PF_ProgPtr effect_ref, PF_ParamIndex index, A_long checkout_id,
                                     const PF_RenderRequest* req, A_long what_time, A_long time_step,
                                     A_u_long time_scale, PF_CheckoutResult* result)
{
    return serve(
        host_for(effect_ref, HostOp::checkout_layer), {HostOp::checkout_layer, checkout_id},
        [&](SubstituteHost* host) -> PF_Err {
            if (!req || !result) {
                host->record_error("checkout_layer called with a NULL request or result");
                return PF_Err_BAD_CALLBACK_PARAM;
            }
            host->layer_checkouts_.push_back(LayerCheckout{index, checkout_id, *req, what_time, time_step, time_scale});
            if (host->running_ != PF_Cmd_SMART_PRE_RENDER) {
                host->record_error("checkout_layer outside SMART_PRE_RENDER");
            }
            if (index != 0) {
                // The effect's only layer parameter is the input, index 0.
                host->record_error("checkout_layer of parameter " + std::to_string(index) + ", which is not a layer");
                return PF_Err_INVALID_INDEX;
            }

            const A_long width = host->input_ ? host->input_->width() : 0;
            const A_long height = host->input_ ? host->input_->height() : 0;
            const PF_LRect bounds{0, 0, width, height};
            if (host->checkout_result_) {
                *result = *host->checkout_result_;
            } else {
                *result = PF_CheckoutResult{};
                result->result_rect = intersect(req->rect, bounds);
                result->max_result_rect = (width > 0 && height > 0) ? bounds : PF_LRect{0, 0, 0, 0};
                result->par = host->in_data_.pixel_aspect_ratio;
                result->ref_width = width;
                result->ref_height = height;
            }
            host->prerender_ids_.insert(checkout_id);
            host->prerender_rects_[checkout_id] = intersect(req->rect, bounds);
            return PF_Err_NONE;
        });
}

PF_Err HostCallbacks::guid_mix_in(PF_ProgPtr effect_ref, A_u_long size, const void* buf)
{
    return serve(host_for(effect_ref, HostOp::guid_mix_in), {HostOp::guid_mix_in}, [&](SubstituteHost* host) -> PF_Err {
        if (size > 0 && !buf) {
            host->record_error("GuidMixInPtr called with a NULL buffer");
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        return PF_Err_NONE;
    });
}

PF_Err HostCallbacks::checkout_layer_pixels(PF_ProgPtr effect_ref, A_long checkout_id, PF_EffectWorld** pixels)
{
    return serve(
        host_for(effect_ref, HostOp::checkout_layer_pixels), {HostOp::checkout_layer_pixels, checkout_id},
        [&](SubstituteHost* host) -> PF_Err {
            if (!pixels) {
                host->record_error("checkout_layer_pixels called with a NULL result pointer");
                return PF_Err_BAD_CALLBACK_PARAM;
            }
            if (host->running_ != PF_Cmd_SMART_RENDER) {
                host->record_error("checkout_layer_pixels outside SMART_RENDER");
            }
            if (host->require_prerender_ && host->prerender_ids_.count(checkout_id) == 0) {
                host->record_error("checkout_layer_pixels of id " + std::to_string(checkout_id) +
                                   " that the pre-render did not check out");
                *pixels = nullptr;
                return PF_Err_BAD_CALLBACK_PARAM;
            }
            auto& taken = host->pixel_checkouts_;
            if (std::find(taken.begin(), taken.end(), checkout_id) != taken.end()) {
                host->record_error("checkout_layer_pixels of id " + std::to_string(checkout_id) + " twice");
            }
            taken.push_back(checkout_id);
            host->pixels_taken_ = true;
            *pixels = host->input_ ? host->input_for(checkout_id) : nullptr;
            return PF_Err_NONE;
        },
        [&](SubstituteHost&, PF_Err) {
            if (pixels) {
                *pixels = nullptr;
            }
        });
}

PF_Err HostCallbacks::checkin_layer_pixels(PF_ProgPtr effect_ref, A_long checkout_id)
{
    return serve(host_for(effect_ref, HostOp::checkin_layer_pixels), {HostOp::checkin_layer_pixels, checkout_id},
                 [&](SubstituteHost* host) -> PF_Err {
                     auto& taken = host->pixel_checkouts_;
                     auto it = std::find(taken.begin(), taken.end(), checkout_id);
                     if (it == taken.end()) {
                         host->record_error("checkin_layer_pixels of id " + std::to_string(checkout_id) +
                                            " not checked out");
                         return PF_Err_BAD_CALLBACK_PARAM;
                     }
                     taken.erase(it);
                     return PF_Err_NONE;
                 });
}

PF_Err HostCallbacks::checkout_output(PF_ProgPtr effect_ref, PF_EffectWorld** output)
{
    return serve(
        host_for(effect_ref, HostOp::checkout_output), {HostOp::checkout_output},
        [&](SubstituteHost* host) -> PF_Err {
            if (!output) {
                host->record_error("checkout_output called with a NULL result pointer");
                return PF_Err_BAD_CALLBACK_PARAM;
            }
            if (host->running_ != PF_Cmd_SMART_RENDER) {
                host->record_error("checkout_output outside SMART_RENDER");
            }
            if (!host->pixels_taken_) {
                host->record_error("checkout_output before any checkout_layer_pixels");
            }
            *output = (!host->no_output_ && host->output_) ? host->output_->get() : nullptr;
            return PF_Err_NONE;
        },
        [&](SubstituteHost&, PF_Err) {
            if (output) {
                *output = nullptr;
            }
        });
}

// ----- basic suite ---------------------------------------------------------------------------------

SPErr HostCallbacks::acquire_suite(const char* name, std::int32_t version, const void** suite)
{
    if (!t_current) {
        // Without a running command there is no host to answer for.
        if (suite) {
            *suite = nullptr;
        }
        return sp_bad_parameter;
    }
    return serve(
        t_current, {HostOp::acquire_suite, version},
        [&](SubstituteHost* host) -> SPErr {
            if (!name || !suite) {
                host->record_error("AcquireSuite called with a NULL name or result pointer");
                return sp_bad_parameter;
            }
            if (std::strcmp(name, kPFWorldSuite) != 0 || version != kPFWorldSuiteVersion2) {
                host->record_error("AcquireSuite of \"" + std::string(name) + "\" version " + std::to_string(version) +
                                   ", which this host does not offer");
                *suite = nullptr;
                return sp_suite_not_found;
            }
            switch (host->suite_offer_) {
            case SuiteOffer::give:
                *suite = &host->world_suite_;
                host->suites_held_[{name, version}] += 1;
                break;
            case SuiteOffer::null_pointer:
                *suite = nullptr;
                break;
            case SuiteOffer::untouched:
                break;
            }
            return host->suite_code_;
        },
        [&](SubstituteHost&, SPErr) {
            if (suite) {
                *suite = nullptr;
            }
        });
}

SPErr HostCallbacks::release_suite(const char* name, std::int32_t version)
{
    if (!t_current) {
        return sp_bad_parameter;
    }
    return serve(t_current, {HostOp::release_suite, version}, [&](SubstituteHost* host) -> SPErr {
        if (!name) {
            host->record_error("ReleaseSuite called with a NULL name");
            return sp_bad_parameter;
        }
        auto it = host->suites_held_.find({name, version});
        if (it == host->suites_held_.end() || it->second == 0) {
            host->record_error("ReleaseSuite of \"" + std::string(name) + "\" version " + std::to_string(version) +
                               " that was not acquired");
            return sp_bad_parameter;
        }
        if (--it->second == 0) {
            host->suites_held_.erase(it);
        }
        return kSPNoError;
    });
}

SPBoolean HostCallbacks::is_equal(const char* token1, const char* token2)
{
    return token1 && token2 && std::strcmp(token1, token2) == 0;
}

SPErr HostCallbacks::allocate_block(std::size_t size, void** block)
{
    if (!block) {
        return sp_bad_parameter;
    }
    *block = std::malloc(size ? size : 1);
    return *block ? kSPNoError : sp_bad_parameter;
}

SPErr HostCallbacks::free_block(void* block)
{
    std::free(block);
    return kSPNoError;
}

SPErr HostCallbacks::reallocate_block(void* block, std::size_t new_size, void** new_block)
{
    if (!new_block) {
        return sp_bad_parameter;
    }
    void* moved = std::realloc(block, new_size ? new_size : 1);
    if (!moved) {
        return sp_bad_parameter;
    }
    *new_block = moved;
    return kSPNoError;
}

SPErr HostCallbacks::undefined()
{
    return sp_unimplemented;
}

// ----- world suite ---------------------------------------------------------------------------------

PF_Err HostCallbacks::new_world(PF_ProgPtr effect_ref, A_long, A_long, PF_Boolean, PF_PixelFormat, PF_EffectWorld*)
{
    // The effect renders into the worlds it is given; a request for a new one is reported, not served.
    if (SubstituteHost* host = lookup(effect_ref)) {
        std::lock_guard<std::mutex> lock(host->mutex_);
        host->record_error("PF_NewWorld is not offered by this host");
    }
    return PF_Err_INVALID_CALLBACK;
}

PF_Err HostCallbacks::dispose_world(PF_ProgPtr effect_ref, PF_EffectWorld*)
{
    if (SubstituteHost* host = lookup(effect_ref)) {
        std::lock_guard<std::mutex> lock(host->mutex_);
        host->record_error("PF_DisposeWorld is not offered by this host");
    }
    return PF_Err_INVALID_CALLBACK;
}

PF_Err HostCallbacks::get_pixel_format(const PF_EffectWorld* world, PF_PixelFormat* pixel_format)
{
    // No effect_ref here: the running host answers, or else the host that owns the world (a plug-in
    // may ask from one of its own worker threads).
    SubstituteHost* host = t_current;
    if (!host && world) {
        std::lock_guard<std::mutex> lock(registry_mutex());
        for (SubstituteHost* candidate : registry()) {
            if (candidate->find_world(world)) {
                host = candidate;
                break;
            }
        }
    }
    return serve(host, {HostOp::get_pixel_format}, [&](SubstituteHost* h) -> PF_Err {
        if (!world || !pixel_format) {
            h->record_error("PF_GetPixelFormat called with a NULL argument");
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        World* owner = h->find_world(world);
        if (!owner) {
            h->record_error("PF_GetPixelFormat of a world this host did not hand out");
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        *pixel_format = owner->pixel_format();
        return PF_Err_NONE;
    });
}

// ----- installation --------------------------------------------------------------------------------

void HostCallbacks::install(SubstituteHost& host)
{
    PF_InteractCallbacks& inter = host.in_data_.inter;
    inter.checkout_param = &HostCallbacks::checkout_param;
    inter.checkin_param = &HostCallbacks::checkin_param;
    inter.add_param = &HostCallbacks::add_param;
    inter.abort = &HostCallbacks::abort;
    inter.progress = &HostCallbacks::progress;

    PF_UtilCallbacks& utils = host.utils_;
    utils.copy = &HostCallbacks::copy;
    PF_ANSICallbacks& ansi = utils.ansi;
    ansi.atan = [](A_FpLong x) { return std::atan(x); };
    ansi.atan2 = [](A_FpLong y, A_FpLong x) { return std::atan2(y, x); };
    ansi.ceil = [](A_FpLong x) { return std::ceil(x); };
    ansi.cos = [](A_FpLong x) { return std::cos(x); };
    ansi.exp = [](A_FpLong x) { return std::exp(x); };
    ansi.fabs = [](A_FpLong x) { return std::fabs(x); };
    ansi.floor = [](A_FpLong x) { return std::floor(x); };
    ansi.fmod = [](A_FpLong x, A_FpLong y) { return std::fmod(x, y); };
    ansi.hypot = [](A_FpLong x, A_FpLong y) { return std::hypot(x, y); };
    ansi.log = [](A_FpLong x) { return std::log(x); };
    ansi.log10 = [](A_FpLong x) { return std::log10(x); };
    ansi.pow = [](A_FpLong x, A_FpLong y) { return std::pow(x, y); };
    ansi.sin = [](A_FpLong x) { return std::sin(x); };
    ansi.sqrt = [](A_FpLong x) { return std::sqrt(x); };
    ansi.tan = [](A_FpLong x) { return std::tan(x); };
    ansi.sprintf = &HostCallbacks::ansi_sprintf;
    ansi.strcpy = &HostCallbacks::ansi_strcpy;
    ansi.asin = [](A_FpLong x) { return std::asin(x); };
    ansi.acos = [](A_FpLong x) { return std::acos(x); };
    host.in_data_.utils = &host.utils_;

    SPBasicSuite& basic = host.basic_suite_;
    basic.AcquireSuite = &HostCallbacks::acquire_suite;
    basic.ReleaseSuite = &HostCallbacks::release_suite;
    basic.IsEqual = &HostCallbacks::is_equal;
    basic.AllocateBlock = &HostCallbacks::allocate_block;
    basic.FreeBlock = &HostCallbacks::free_block;
    basic.ReallocateBlock = &HostCallbacks::reallocate_block;
    basic.Undefined = &HostCallbacks::undefined;
    host.in_data_.pica_basicP = &host.basic_suite_;

    PF_WorldSuite2& worlds = host.world_suite_;
    worlds.PF_NewWorld = &HostCallbacks::new_world;
    worlds.PF_DisposeWorld = &HostCallbacks::dispose_world;
    worlds.PF_GetPixelFormat = &HostCallbacks::get_pixel_format;
}

}  // namespace ruvivedu::host
