// The substitute host: drives an effect plug-in through its two entry points the way the compositing
// host does, implements every host operation the effect calls, and records what happened so tests can
// assert it. Chief header of the ruvivedu_host library.
//
// Typical use:
//
//     using namespace ruvivedu::host;
//     PluginModule module;
//     ASSERT_TRUE(module.load(path)) << module.error();   // or pass the entry points directly
//     SubstituteHost host(module);
//     host.set_input(World::padded(Depth::u16, 64, 48, 8));
//     host.set_output(World::padded(Depth::u16, 64, 48, 8));
//     ASSERT_EQ(host.setup_effect(), PF_Err_NONE);     // GLOBAL_SETUP + PARAMS_SETUP, then a clean log
//     host.set_dot_size(0x00100000);                   // 16.0
//     EXPECT_EQ(host.smart_pre_render(), PF_Err_NONE);
//     EXPECT_EQ(host.smart_render(), PF_Err_NONE);
//     EXPECT_TRUE(host.errors().empty());
//     EXPECT_TRUE(host.output()->guards_intact());
//
// Threading: one SubstituteHost serves one command at a time, but any number of hosts may run commands
// on different threads at once. Callbacks without a context argument (sprintf, strcpy, AcquireSuite,
// ReleaseSuite, PF_GetPixelFormat, the registration callback) find their host through a thread-local
// "current host" set for the duration of each entry-point call; the others find it through effect_ref.
// Read the records (calls(), errors(), ...) between commands, not while one runs.
#pragma once

#include "host_api.h"
#include "pixel_world.h"
#include "plugin_module.h"

#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace ruvivedu::host {

/// Every host operation the plug-in can reach, for the call log, per-operation counts and fault injection.
enum class HostOp {
    registration,           ///< the callback handed to PluginDataEntryFunction
    ansi_sprintf,           ///< utils->ansi.sprintf
    ansi_strcpy,            ///< utils->ansi.strcpy
    add_param,              ///< inter.add_param
    checkout_param,         ///< inter.checkout_param
    checkin_param,          ///< inter.checkin_param
    copy,                   ///< utils->copy
    checkout_layer,         ///< pre-render callbacks
    guid_mix_in,            ///< pre-render callbacks
    checkout_layer_pixels,  ///< smart-render callbacks
    checkin_layer_pixels,   ///< smart-render callbacks
    checkout_output,        ///< smart-render callbacks
    acquire_suite,          ///< pica_basicP->AcquireSuite
    release_suite,          ///< pica_basicP->ReleaseSuite
    get_pixel_format,       ///< "PF World Suite" v2 PF_GetPixelFormat
    abort,                  ///< inter.abort (polled: counted in abort_checks(), not in the call log)
    progress,               ///< inter.progress (polled: kept in progress_reports(), not in the call log)
};

/// The name an operation has in the call log: "registration", "sprintf", "strcpy", "add_param",
/// "checkout_param", "checkin_param", "copy", "checkout_layer", "GuidMixInPtr", "checkout_layer_pixels",
/// "checkin_layer_pixels", "checkout_output", "AcquireSuite", "ReleaseSuite", "PF_GetPixelFormat",
/// "abort", "progress".
const char* op_name(HostOp op);

/// Which application the host presents in in_data->appl_id (and as host name at registration).
enum class HostApp { after_effects, premiere_pro };

inline constexpr A_long appl_id_after_effects = 0x46585443;  ///< 'FXTC'
inline constexpr A_long appl_id_premiere_pro = 0x50724D72;   ///< 'PrMr'

/// Error codes of the basic suite (four-character codes, as the SP layer uses them).
inline constexpr SPErr sp_suite_not_found = 0x53214664;  ///< 'S!Fd'
inline constexpr SPErr sp_bad_parameter = 0x5061726D;    ///< 'Parm'
inline constexpr SPErr sp_unimplemented = 0x21494D50;    ///< '!IMP'

/// Size of the buffer the host's sprintf writes into: out_data's return message.
inline constexpr std::size_t sprintf_bound = 256;
/// Size of the buffer the host's strcpy writes into: a parameter definition's name field.
inline constexpr std::size_t strcpy_bound = 32;

/// One host operation as the plug-in called it.
struct HostCall {
    HostOp op;
    PF_Err result;  ///< what the host returned (SP codes for the suite calls, the count for sprintf)
    A_long arg;     ///< parameter index, checkout id or suite version; 0 where the call has none
};

/// Everything the registration callback received.
struct RegistrationCapture {
    int call_count = 0;
    PF_PluginDataPtr registration_ptr = nullptr;  ///< as received
    bool registration_ptr_matches = false;        ///< it was the pointer the host passed in
    std::optional<std::string> name;              ///< empty optional when the plug-in passed NULL
    std::optional<std::string> match_name;
    std::optional<std::string> category;
    std::optional<std::string> entry_name;
    A_long kind = 0;
    A_long api_major = 0;
    A_long api_minor = 0;
    A_long reserved_info = 0;
};

/// One successful add_param, kept as received. `def` is a byte copy (its string pointers still point
/// into the plug-in); the strings those pointers named are copied beside it.
struct DeclaredParam {
    PF_ParamIndex index = 0;  ///< the index argument (-1 = append)
    PF_ParamDef def{};
    std::string name;                           ///< the name field up to its NUL
    std::optional<std::string> popup_choices;   ///< PF_Param_POPUP: the string u.pd.u.namesptr named
    std::optional<std::string> checkbox_label;  ///< PF_Param_CHECKBOX: the string u.bd.u.nameptr named
};

/// One checkout_layer request as received.
struct LayerCheckout {
    PF_ParamIndex index = 0;
    A_long checkout_id = 0;
    PF_RenderRequest request{};
    A_long what_time = 0;
    A_long time_step = 0;
    A_u_long time_scale = 0;
};

/// One checkout_param request as received.
struct ParamCheckout {
    PF_ParamIndex index = 0;
    A_long what_time = 0;
    A_long time_step = 0;
    A_u_long time_scale = 0;
};

/// One progress report as received: `current` of `total`.
struct ProgressReport {
    A_long current = 0;
    A_long total = 0;
};

/// What AcquireSuite does for "PF World Suite" version 2.
enum class SuiteOffer {
    give,          ///< writes the suite pointer
    null_pointer,  ///< writes NULL
    untouched,     ///< leaves *suite as the plug-in initialised it
};

/// Arguments to withhold from an entry-point call (each becomes NULL).
struct CallOptions {
    bool no_in_data = false;
    bool no_out_data = false;
    bool no_params = false;
    bool no_output = false;
};

/// The substitute host. Not copyable or movable: the plug-in holds pointers into it during a command.
class SubstituteHost {
public:
    /// A host for an effect whose entry points are given directly (a plug-in linked into the test) or
    /// later through attach(). Either may be null until it is needed.
    explicit SubstituteHost(ruvivedu_entry_point_func entry_point = nullptr,
                            ruvivedu_plugin_data_entry_func plugin_data_entry = nullptr);
    /// A host for a loaded module; the module must outlive the host.
    explicit SubstituteHost(const PluginModule& module);
    ~SubstituteHost();
    SubstituteHost(const SubstituteHost&) = delete;
    SubstituteHost& operator=(const SubstituteHost&) = delete;

    // ----- the plug-in -------------------------------------------------------------------------------

    void set_entry_point(ruvivedu_entry_point_func entry_point) { entry_point_ = entry_point; }
    void set_plugin_data_entry(ruvivedu_plugin_data_entry_func entry) { plugin_data_entry_ = entry; }
    /// Takes both entry points from a loaded module.
    void attach(const PluginModule& module);

    /// The host whose entry-point call is running on this thread, or null.
    static SubstituteHost* current();

    /// The effect reference this host puts into in_data (the host's address).
    PF_ProgPtr effect_ref() const;

    // ----- host identity -----------------------------------------------------------------------------

    /// Presents After Effects ('FXTC', the default) or Premiere Pro ('PrMr') in in_data->appl_id.
    void set_application(HostApp app);
    HostApp application() const { return app_; }

    // ----- registration ------------------------------------------------------------------------------

    /// Calls PluginDataEntryFunction with the host's registration pointer and callback, its basic suite,
    /// and host name/version strings; returns what the plug-in returned. registration() then holds what the
    /// callback captured (reset by each call). Throws std::logic_error without a registration entry.
    PF_Err register_effect();
    /// The code the registration callback returns (default PF_Err_NONE).
    void set_registration_result(A_Err code) { registration_result_ = code; }
    const RegistrationCapture& registration() const { return registration_; }
    /// The opaque registration pointer the host passes to PluginDataEntryFunction.
    PF_PluginDataPtr registration_ptr() const;

    // ----- pixel worlds ------------------------------------------------------------------------------

    /// Installs the input layer (params[0] of RENDER, checkout_layer_pixels of SMART_RENDER) and sets
    /// in_data width, height and extent_hint to its size; change those afterwards if a test needs to.
    ///
    /// Like the host, checkout_layer_pixels hands out what the last SMART_PRE_RENDER asked for under
    /// that checkout id: the request rectangle within the layer, grown by checkout_margin() pixels on
    /// every side (still within the layer), as a world of its own whose origin_x/origin_y say where
    /// it lies in the layer; the layer's own world when that is the whole layer, or when no pre-render
    /// asked (a test sending SMART_RENDER alone).
    World& set_input(World world);
    /// Extra pixels a checkout hands out beyond the pre-render's request (a host may give more).
    void set_checkout_margin(A_long pixels) { checkout_margin_ = pixels; }
    A_long checkout_margin() const { return checkout_margin_; }
    /// The world the last checkout_layer_pixels of `checkout_id` handed out (the layer's or a part of
    /// it), or null.
    const World* checked_out_input(A_long checkout_id) const;
    /// Installs the output world (the output argument of RENDER, checkout_output of SMART_RENDER).
    World& set_output(World world);
    World* input() { return input_.get(); }
    World* output() { return output_.get(); }
    /// When set, RENDER gets a NULL output argument and checkout_output hands out NULL with success.
    void give_no_output(bool none) { no_output_ = none; }

    // ----- in_data and out_data ----------------------------------------------------------------------

    /// The in_data every command is given (copied per call). Filled with the host's callbacks,
    /// effect_ref, basic suite, appl_id, version 13.27, quality HI, time 0 / step 1 / scale 24,
    /// downsample 1/1, pixel aspect 1/1 and the input's size. num_params is set per call to the count
    /// of declared parameters plus one. Tests may change any field, e.g. pica_basicP = nullptr.
    PF_InData& in_data() { return in_data_; }
    /// The in_data of the last command as the plug-in left it.
    const PF_InData& last_in_data() const { return last_in_data_; }

    /// The out_data each command starts from (all zero by default). Fill it with a pattern to prove a
    /// command left it alone.
    PF_OutData& initial_out_data() { return initial_out_data_; }
    /// out_data after the last command.
    const PF_OutData& out_data() const { return out_data_; }
    /// out_data after the last command, byte for byte (408 bytes on 64-bit targets).
    std::vector<unsigned char> out_data_bytes() const;
    /// initial_out_data() byte for byte, for comparing with out_data_bytes().
    std::vector<unsigned char> initial_out_data_bytes() const;
    /// out_data's return message up to its NUL (at most 255 characters).
    std::string return_msg() const;

    // ----- parameters --------------------------------------------------------------------------------

    /// The definitions the last PARAMS_SETUP added, in order (index 1 first).
    const std::deque<DeclaredParam>& declared_params() const { return declared_; }

    /// Takes the definitions `setup`'s last PARAMS_SETUP declared, as one more render thread of the same
    /// effect instance: under multi-frame rendering the host sets an effect up once and then sends render
    /// commands from several threads at once, each with its own in_data, parameter array and worlds.
    /// Read `setup` between its commands, not while one runs.
    void adopt_params(const SubstituteHost& setup) { declared_ = setup.declared_; }

    /// Current values the host holds for the effect's six parameters, applied over the declared
    /// definitions whenever the host hands one out (checkout_param and the RENDER parameter array).
    /// They survive a new PARAMS_SETUP; clear_param_values() drops them.
    void set_shape(A_long popup_value) { shape_ = popup_value; }                 ///< index 1, u.pd.value
    void set_dot_size(PF_Fixed value) { dot_size_ = value; }                     ///< index 2, u.fd.value
    void set_rotation(PF_Fixed degrees) { rotation_ = degrees; }                 ///< index 3, u.ad.value
    void set_offset(PF_Fixed x, PF_Fixed y) { offset_ = std::make_pair(x, y); }  ///< index 4, u.td x/y
    void set_alpha(A_long checkbox_value) { alpha_ = checkbox_value; }           ///< index 5, u.bd.value (all 32 bits)
    void set_sampling(A_long popup_value) { sampling_ = popup_value; }           ///< index 6, u.pd.value
    void clear_param_values();

    /// The definition the host hands out for `index` now: index 0 is the input layer, 1..n the declared
    /// definitions with the values above applied and their strings pointing at the host's copies.
    /// Throws std::out_of_range for an index that was not declared.
    PF_ParamDef current_param(PF_ParamIndex index) const;

    // ----- commands ----------------------------------------------------------------------------------

    /// Each sends one command with in_data, out_data, the parameter array (params[0] the input layer,
    /// then the declared parameters, then NULL), the output world and the command's extra record, and
    /// returns the plug-in's result. Throws std::logic_error when no entry point is attached.
    PF_Err about();
    PF_Err global_setup();
    PF_Err params_setup();
    /// GLOBAL_SETUP then PARAMS_SETUP (stopping at the first error), then reset_records() so later
    /// assertions see only what follows.
    PF_Err setup_effect();
    PF_Err render(const CallOptions& options = {});
    /// SMART_PRE_RENDER for the whole input layer, or for `request` (the output request rectangle).
    /// The pre-render output starts as initial_pre_render_output() (all zero by default).
    PF_Err smart_pre_render();
    PF_Err smart_pre_render(const PF_LRect& request);
    /// SMART_RENDER over the whole input layer, or for `request`, the output request rectangle (its
    /// output world is the one set_output installed: give it the origin of the part it covers).
    PF_Err smart_render();
    PF_Err smart_render(const PF_LRect& request);
    /// Any command code, with the same records as render() and `extra` as the extra pointer.
    PF_Err send(PF_Cmd cmd, void* extra = nullptr, const CallOptions& options = {});
    /// Calls the entry point with exactly these arguments (as the current host, logged like a command).
    PF_Err call(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[], PF_LayerDef* output,
                void* extra);

    // ----- smart rendering ---------------------------------------------------------------------------

    /// The output request both smart commands carry (field FRAME, all channels, preserve 0 by
    /// default); its rect is replaced by the request rectangle of each call.
    PF_RenderRequest& output_request() { return output_request_; }
    /// The PF_PreRenderOutput each SMART_PRE_RENDER starts with.
    PF_PreRenderOutput& initial_pre_render_output() { return initial_pre_render_output_; }
    /// The PF_PreRenderOutput after the last SMART_PRE_RENDER.
    const PF_PreRenderOutput& pre_render_output() const { return pre_render_output_; }
    /// Replaces what checkout_layer reports. By default result_rect is the request rectangle intersected
    /// with the input layer's bounds (0, 0, width, height), empty as (0,0,0,0), and max_result_rect
    /// is those bounds; par is in_data's pixel aspect ratio, ref_width/ref_height the layer size.
    void set_checkout_result(const PF_CheckoutResult& result) { checkout_result_ = result; }
    void clear_checkout_result() { checkout_result_.reset(); }
    /// When set, checkout_layer_pixels refuses (PF_Err_BAD_CALLBACK_PARAM, recorded) a checkout id that
    /// no checkout_layer of the last SMART_PRE_RENDER took, as the host's rules require. Off by default
    /// so a test may send SMART_RENDER alone.
    void require_prerender_checkout(bool require) { require_prerender_ = require; }
    const std::vector<LayerCheckout>& layer_checkouts() const { return layer_checkouts_; }
    const std::vector<ParamCheckout>& param_checkouts() const { return param_checkouts_; }

    // ----- suites ------------------------------------------------------------------------------------

    /// How AcquireSuite answers "PF World Suite" v2, and the code it returns (default: give, 0).
    /// Other names or versions always get NULL and sp_suite_not_found and are recorded as errors.
    void set_suite_offer(SuiteOffer offer, SPErr code = 0);
    /// Suites handed out (non-NULL pointer written) and not yet released.
    int outstanding_suites() const;
    /// The world suite the host hands out.
    const PF_WorldSuite2* world_suite() const { return &world_suite_; }

    // ----- fault injection ---------------------------------------------------------------------------

    /// Makes `op` fail with `code`: on every call (nth_call 0) or only on its nth call (1-based) counted
    /// from now. A failing call returns the code and has no other effect, except that pointer results
    /// (checkout_layer_pixels, checkout_output, AcquireSuite) are set to NULL. For sprintf the code is
    /// the int returned and nothing is written; for strcpy NULL is returned and nothing is written.
    /// One fault per operation; a new one replaces the old.
    void fail(HostOp op, PF_Err code, int nth_call = 0);
    void clear_faults() { faults_.clear(); }

    // ----- cancelling and progress ------------------------------------------------------------------

    /// The user cancels at the `check`-th call of abort counted from now (1-based), and every later
    /// check answers PF_Interrupt_CANCEL too, as the host's does once the user has cancelled; 0 never
    /// cancels (the default).
    void cancel_at(int check);
    /// Calls of abort since the last cancel_at or reset_records.
    int abort_checks() const { return abort_checks_; }
    /// Every progress call since the last reset_records, in order. A report of current < 0,
    /// current > total or total <= 0 is also recorded as an error.
    const std::vector<ProgressReport>& progress_reports() const { return progress_; }

    // ----- records -----------------------------------------------------------------------------------

    /// Every host operation the plug-in called, in order.
    const std::vector<HostCall>& calls() const { return calls_; }
    /// The operation names of calls(), e.g. {"AcquireSuite", "checkout_layer_pixels", ...}.
    std::vector<std::string> call_names() const;
    /// How many times `op` was called (failed calls included).
    int count(HostOp op) const;
    /// The command codes sent, in order.
    const std::vector<PF_Cmd>& commands() const { return commands_; }
    /// Misuse the host noticed: bad arguments, unknown effect_ref or worlds, a checkin of a definition
    /// never checked out, a release without acquire, parameter checkouts or suites still held when a
    /// command returned, truncated sprintf/strcpy output, ... Empty for a well-behaved plug-in.
    const std::vector<std::string>& errors() const { return errors_; }
    /// Every string sprintf produced, in order.
    const std::vector<std::string>& messages() const { return messages_; }
    /// Parameter definitions checked out and not checked in during the running command.
    int outstanding_param_checkouts() const { return static_cast<int>(param_outstanding_.size()); }
    /// Clears calls, counts, commands, errors, messages and checkout records (not values or faults).
    void reset_records();

private:
    friend struct HostCallbacks;

    struct Fault {
        PF_Err code;
        int nth;
        int seen;
    };

    void init_records();
    void build_params(PF_Cmd cmd);
    PF_Err invoke(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[], PF_LayerDef* output,
                  void* extra);
    void end_command();

    // Used by the callbacks with mutex_ held.
    void record(HostOp op, PF_Err result, A_long arg);
    void record_error(std::string text);
    bool take_fault(HostOp op, PF_Err& code);
    World* find_world(const PF_EffectWorld* world);
    PF_EffectWorld* input_for(A_long checkout_id);
    bool in_param_array(const PF_ParamDef* def) const;
    PF_ParamDef layer_param() const;

    ruvivedu_entry_point_func entry_point_ = nullptr;
    ruvivedu_plugin_data_entry_func plugin_data_entry_ = nullptr;
    HostApp app_ = HostApp::after_effects;

    // Callback tables handed to the plug-in; their addresses must stay fixed.
    PF_UtilCallbacks utils_{};
    SPBasicSuite basic_suite_{};
    PF_WorldSuite2 world_suite_{};
    char registration_token_ = 0;

    PF_InData in_data_{};
    PF_InData last_in_data_{};
    PF_OutData initial_out_data_{};
    PF_OutData out_data_{};

    std::unique_ptr<World> input_;
    std::unique_ptr<World> output_;
    bool no_output_ = false;

    std::deque<DeclaredParam> declared_;
    std::optional<A_long> shape_, alpha_, sampling_;
    std::optional<PF_Fixed> dot_size_, rotation_;
    std::optional<std::pair<PF_Fixed, PF_Fixed>> offset_;
    std::vector<PF_ParamDef> call_params_;
    std::vector<PF_ParamDef*> call_param_ptrs_;

    PF_RenderRequest output_request_{};
    PF_PreRenderOutput initial_pre_render_output_{};
    PF_PreRenderOutput pre_render_output_{};
    std::optional<PF_CheckoutResult> checkout_result_;
    bool require_prerender_ = false;
    std::set<A_long> prerender_ids_;
    std::vector<A_long> pixel_checkouts_;
    std::map<A_long, PF_LRect> prerender_rects_;            // per checkout id, within the layer
    std::map<A_long, std::unique_ptr<World>> input_parts_;  // handed out by checkout_layer_pixels
    std::map<A_long, const World*> checked_out_;
    A_long checkout_margin_ = 0;
    int abort_checks_ = 0;
    int cancel_at_ = 0;
    std::vector<ProgressReport> progress_;
    bool pixels_taken_ = false;  // an input was checked out during this command

    SuiteOffer suite_offer_ = SuiteOffer::give;
    SPErr suite_code_ = 0;
    std::map<std::pair<std::string, A_long>, int> suites_held_;

    A_Err registration_result_ = 0;
    RegistrationCapture registration_;

    std::map<HostOp, Fault> faults_;
    std::optional<PF_Cmd> running_;
    std::vector<HostCall> calls_;
    std::vector<PF_Cmd> commands_;
    std::vector<std::string> errors_;
    std::vector<std::string> messages_;
    std::vector<LayerCheckout> layer_checkouts_;
    std::vector<ParamCheckout> param_checkouts_;
    std::vector<const PF_ParamDef*> param_outstanding_;

    // Guards the records above against a plug-in calling back from several of its own threads.
    mutable std::mutex mutex_;
};

}  // namespace ruvivedu::host
