// The substitute host's commands, configuration and records.
#include "substitute_host.h"

#include "host_callbacks.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace ruvivedu::host {

const char* op_name(HostOp op)
{
    switch (op) {
    case HostOp::registration:
        return "registration";
    case HostOp::ansi_sprintf:
        return "sprintf";
    case HostOp::ansi_strcpy:
        return "strcpy";
    case HostOp::add_param:
        return "add_param";
    case HostOp::checkout_param:
        return "checkout_param";
    case HostOp::checkin_param:
        return "checkin_param";
    case HostOp::copy:
        return "copy";
    case HostOp::checkout_layer:
        return "checkout_layer";
    case HostOp::guid_mix_in:
        return "GuidMixInPtr";
    case HostOp::checkout_layer_pixels:
        return "checkout_layer_pixels";
    case HostOp::checkin_layer_pixels:
        return "checkin_layer_pixels";
    case HostOp::checkout_output:
        return "checkout_output";
    case HostOp::acquire_suite:
        return "AcquireSuite";
    case HostOp::release_suite:
        return "ReleaseSuite";
    case HostOp::get_pixel_format:
        return "PF_GetPixelFormat";
    case HostOp::abort:
        return "abort";
    case HostOp::progress:
        return "progress";
    }
    return "?";
}

SubstituteHost::SubstituteHost(ruvivedu_entry_point_func entry_point, ruvivedu_plugin_data_entry_func plugin_data_entry)
    : entry_point_(entry_point), plugin_data_entry_(plugin_data_entry)
{
    init_records();
    HostCallbacks::install(*this);
    register_host(this);
}

SubstituteHost::SubstituteHost(const PluginModule& module)
    : SubstituteHost(module.entry_point(), module.plugin_data_entry())
{}

SubstituteHost::~SubstituteHost()
{
    unregister_host(this);
}

void SubstituteHost::init_records()
{
    in_data_.effect_ref = effect_ref();
    in_data_.quality = PF_Quality_HI;
    in_data_.version.major = 13;
    in_data_.version.minor = 27;
    in_data_.appl_id = appl_id_after_effects;
    in_data_.current_time = 0;
    in_data_.time_step = 1;
    in_data_.local_time_step = 1;
    in_data_.total_time = 240;
    in_data_.time_scale = 24;
    in_data_.field = PF_Field_FRAME;
    in_data_.downsample_x = PF_RationalScale{1, 1};
    in_data_.downsample_y = PF_RationalScale{1, 1};
    in_data_.pixel_aspect_ratio = PF_RationalScale{1, 1};

    output_request_.field = PF_Field_FRAME;
    output_request_.channel_mask = PF_ChannelMask_ARGB;
}

void SubstituteHost::attach(const PluginModule& module)
{
    entry_point_ = module.entry_point();
    plugin_data_entry_ = module.plugin_data_entry();
}

PF_ProgPtr SubstituteHost::effect_ref() const
{
    return reinterpret_cast<PF_ProgPtr>(const_cast<SubstituteHost*>(this));
}

PF_PluginDataPtr SubstituteHost::registration_ptr() const
{
    return reinterpret_cast<PF_PluginDataPtr>(const_cast<char*>(&registration_token_));
}

void SubstituteHost::set_application(HostApp app)
{
    app_ = app;
    in_data_.appl_id = app == HostApp::after_effects ? appl_id_after_effects : appl_id_premiere_pro;
}

PF_Err SubstituteHost::register_effect()
{
    if (!plugin_data_entry_) {
        throw std::logic_error("no PluginDataEntryFunction attached to the substitute host");
    }
    registration_ = RegistrationCapture{};
    const char* host_name = app_ == HostApp::after_effects ? "AfterEffects" : "Premiere Pro";
    CurrentHostScope scope(this);
    return plugin_data_entry_(registration_ptr(), &HostCallbacks::registration, &basic_suite_, host_name, "22.0");
}

World& SubstituteHost::set_input(World world)
{
    input_parts_.clear();
    checked_out_.clear();
    prerender_rects_.clear();
    input_ = std::make_unique<World>(std::move(world));
    in_data_.width = input_->width();
    in_data_.height = input_->height();
    in_data_.extent_hint = PF_Rect{0, 0, input_->width(), input_->height()};
    return *input_;
}

World& SubstituteHost::set_output(World world)
{
    output_ = std::make_unique<World>(std::move(world));
    return *output_;
}

std::vector<unsigned char> SubstituteHost::out_data_bytes() const
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(&out_data_);
    return std::vector<unsigned char>(bytes, bytes + sizeof(out_data_));
}

std::vector<unsigned char> SubstituteHost::initial_out_data_bytes() const
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(&initial_out_data_);
    return std::vector<unsigned char>(bytes, bytes + sizeof(initial_out_data_));
}

std::string SubstituteHost::return_msg() const
{
    const char* msg = out_data_.return_msg;
    const void* end = std::memchr(msg, '\0', sizeof(out_data_.return_msg));
    return std::string(msg, end ? static_cast<const char*>(end) : msg + sizeof(out_data_.return_msg));
}

void SubstituteHost::clear_param_values()
{
    shape_.reset();
    dot_size_.reset();
    rotation_.reset();
    offset_.reset();
    alpha_.reset();
    sampling_.reset();
}

PF_ParamDef SubstituteHost::layer_param() const
{
    PF_ParamDef def{};
    def.param_type = PF_Param_LAYER;
    if (input_) {
        def.u.ld = input_->def();
    }
    return def;
}

PF_ParamDef SubstituteHost::current_param(PF_ParamIndex index) const
{
    if (index == 0) {
        return layer_param();
    }
    if (index < 0 || static_cast<std::size_t>(index) > declared_.size()) {
        throw std::out_of_range("parameter " + std::to_string(index) + " was not declared");
    }
    const DeclaredParam& declared = declared_[static_cast<std::size_t>(index) - 1];
    PF_ParamDef def = declared.def;
    // Like the host, hand out strings it owns rather than pointers into the plug-in.
    if (declared.popup_choices) {
        def.u.pd.u.namesptr = declared.popup_choices->c_str();
    }
    if (declared.checkbox_label) {
        def.u.bd.u.nameptr = declared.checkbox_label->c_str();
    }
    switch (index) {
    case 1:
        if (shape_)
            def.u.pd.value = *shape_;
        break;
    case 2:
        if (dot_size_)
            def.u.fd.value = *dot_size_;
        break;
    case 3:
        if (rotation_)
            def.u.ad.value = *rotation_;
        break;
    case 4:
        if (offset_) {
            def.u.td.x_value = offset_->first;
            def.u.td.y_value = offset_->second;
        }
        break;
    case 5:
        if (alpha_)
            def.u.bd.value = *alpha_;
        break;
    case 6:
        if (sampling_)
            def.u.pd.value = *sampling_;
        break;
    default:
        break;
    }
    return def;
}

void SubstituteHost::build_params(PF_Cmd cmd)
{
    call_params_.clear();
    call_params_.push_back(layer_param());
    // During PARAMS_SETUP the plug-in is declaring its parameters: only the layer exists yet.
    if (cmd != PF_Cmd_PARAMS_SETUP) {
        for (std::size_t i = 1; i <= declared_.size(); ++i) {
            call_params_.push_back(current_param(static_cast<PF_ParamIndex>(i)));
        }
    }
    // NULL after the last entry; a few more NULLs so that a plug-in indexing past the end of a short
    // list reads NULL rather than beyond the array.
    call_param_ptrs_.assign(std::max<std::size_t>(call_params_.size() + 1, 8), nullptr);
    for (std::size_t i = 0; i < call_params_.size(); ++i) {
        call_param_ptrs_[i] = &call_params_[i];
    }
}

bool SubstituteHost::in_param_array(const PF_ParamDef* def) const
{
    return !call_params_.empty() && def >= call_params_.data() && def < call_params_.data() + call_params_.size();
}

PF_Err SubstituteHost::about()
{
    return send(PF_Cmd_ABOUT);
}

PF_Err SubstituteHost::global_setup()
{
    return send(PF_Cmd_GLOBAL_SETUP);
}

PF_Err SubstituteHost::params_setup()
{
    return send(PF_Cmd_PARAMS_SETUP);
}

PF_Err SubstituteHost::setup_effect()
{
    PF_Err err = global_setup();
    if (err == PF_Err_NONE) {
        err = params_setup();
    }
    reset_records();
    return err;
}

PF_Err SubstituteHost::render(const CallOptions& options)
{
    return send(PF_Cmd_RENDER, nullptr, options);
}

namespace {

short bitdepth_of(const World* world)
{
    // Bits per component: a pixel holds four components.
    return world ? static_cast<short>(8 * (bytes_per_pixel(world->depth()) / 4)) : 8;
}

}  // namespace

PF_Err SubstituteHost::smart_pre_render()
{
    const A_long width = input_ ? input_->width() : 0;
    const A_long height = input_ ? input_->height() : 0;
    return smart_pre_render(PF_LRect{0, 0, width, height});
}

PF_Err SubstituteHost::smart_pre_render(const PF_LRect& request)
{
    PF_PreRenderInput input{};
    input.output_request = output_request_;
    input.output_request.rect = request;
    input.bitdepth = bitdepth_of(input_.get());
    PF_PreRenderCallbacks callbacks{};
    callbacks.checkout_layer = &HostCallbacks::checkout_layer;
    callbacks.GuidMixInPtr = &HostCallbacks::guid_mix_in;
    pre_render_output_ = initial_pre_render_output_;
    PF_PreRenderExtra extra{&input, &pre_render_output_, &callbacks};
    // The smart commands get no output world argument; the output comes through checkout_output.
    CallOptions options;
    options.no_output = true;
    return send(PF_Cmd_SMART_PRE_RENDER, &extra, options);
}

PF_Err SubstituteHost::smart_render()
{
    return smart_render(PF_LRect{0, 0, input_ ? input_->width() : 0, input_ ? input_->height() : 0});
}

PF_Err SubstituteHost::smart_render(const PF_LRect& request)
{
    PF_SmartRenderInput input{};
    input.output_request = output_request_;
    input.output_request.rect = request;
    input.bitdepth = bitdepth_of(input_.get());
    PF_SmartRenderCallbacks callbacks{};
    callbacks.checkout_layer_pixels = &HostCallbacks::checkout_layer_pixels;
    callbacks.checkin_layer_pixels = &HostCallbacks::checkin_layer_pixels;
    callbacks.checkout_output = &HostCallbacks::checkout_output;
    PF_SmartRenderExtra extra{&input, &callbacks};
    CallOptions options;
    options.no_output = true;
    return send(PF_Cmd_SMART_RENDER, &extra, options);
}

PF_Err SubstituteHost::send(PF_Cmd cmd, void* extra, const CallOptions& options)
{
    if (cmd == PF_Cmd_PARAMS_SETUP) {
        declared_.clear();
    }
    build_params(cmd);
    last_in_data_ = in_data_;
    last_in_data_.num_params = static_cast<A_long>(call_params_.size());
    out_data_ = initial_out_data_;
    PF_LayerDef* output = (options.no_output || no_output_ || !output_) ? nullptr : output_->get();
    return invoke(cmd, options.no_in_data ? nullptr : &last_in_data_, options.no_out_data ? nullptr : &out_data_,
                  options.no_params ? nullptr : call_param_ptrs_.data(), output, extra);
}

PF_Err SubstituteHost::call(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                            PF_LayerDef* output, void* extra)
{
    if (cmd == PF_Cmd_PARAMS_SETUP) {
        declared_.clear();
    }
    return invoke(cmd, in_data, out_data, params, output, extra);
}

PF_Err SubstituteHost::invoke(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                              PF_LayerDef* output, void* extra)
{
    if (!entry_point_) {
        throw std::logic_error("no EntryPointFunc attached to the substitute host");
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        commands_.push_back(cmd);
        running_ = cmd;
        pixel_checkouts_.clear();
        pixels_taken_ = false;
        if (cmd == PF_Cmd_SMART_PRE_RENDER) {
            prerender_ids_.clear();
            prerender_rects_.clear();
        }
    }
    PF_Err err;
    {
        CurrentHostScope scope(this);
        err = entry_point_(cmd, in_data, out_data, params, output, extra);
    }
    end_command();
    return err;
}

void SubstituteHost::end_command()
{
    std::lock_guard<std::mutex> lock(mutex_);
    const std::string command = "command " + std::to_string(running_.value_or(-1));
    // The host's rules: every parameter checkout is checked in, and every suite released, before the
    // command returns. The host cleans up either way, but the plug-in broke the rule.
    if (!param_outstanding_.empty()) {
        record_error(std::to_string(param_outstanding_.size()) + " parameter checkout(s) not checked in when " +
                     command + " returned");
        param_outstanding_.clear();
    }
    const int held = outstanding_suites();
    if (held > 0) {
        record_error(std::to_string(held) + " suite(s) not released when " + command + " returned");
        suites_held_.clear();
    }
    // Layer pixels need no check-in: the host releases them when the command returns.
    pixel_checkouts_.clear();
    running_.reset();
}

void SubstituteHost::record(HostOp op, PF_Err result, A_long arg)
{
    calls_.push_back(HostCall{op, result, arg});
}

void SubstituteHost::record_error(std::string text)
{
    errors_.push_back(std::move(text));
}

bool SubstituteHost::take_fault(HostOp op, PF_Err& code)
{
    auto it = faults_.find(op);
    if (it == faults_.end()) {
        return false;
    }
    Fault& fault = it->second;
    fault.seen += 1;
    if (fault.nth == 0 || fault.seen == fault.nth) {
        code = fault.code;
        return true;
    }
    return false;
}

World* SubstituteHost::find_world(const PF_EffectWorld* world)
{
    if (!world) {
        return nullptr;
    }
    for (World* candidate : {input_.get(), output_.get()}) {
        if (candidate && (candidate->get() == world || candidate->describes(*world))) {
            return candidate;
        }
    }
    for (auto& part : input_parts_) {
        if (part.second->get() == world || part.second->describes(*world)) {
            return part.second.get();
        }
    }
    return nullptr;
}

PF_EffectWorld* SubstituteHost::input_for(A_long checkout_id)
{
    checked_out_[checkout_id] = input_.get();
    const auto asked = prerender_rects_.find(checkout_id);
    if (asked == prerender_rects_.end()) {
        return input_->get();
    }
    // The request within the layer, and the margin a host may add, still within the layer.
    const A_long width = input_->width();
    const A_long height = input_->height();
    const PF_LRect& r = asked->second;
    const A_long left = std::max<A_long>(0, r.left - checkout_margin_);
    const A_long top = std::max<A_long>(0, r.top - checkout_margin_);
    const A_long right = std::min<A_long>(width, r.right + checkout_margin_);
    const A_long bottom = std::min<A_long>(height, r.bottom + checkout_margin_);
    if (left == 0 && top == 0 && right == width && bottom == height) {
        return input_->get();
    }
    const A_long w = std::max<A_long>(0, right - left);
    const A_long h = std::max<A_long>(0, bottom - top);
    auto part = std::make_unique<World>(input_->depth(), w, h);
    const std::size_t pixel = bytes_per_pixel(input_->depth());
    for (A_long y = 0; y < h; ++y) {
        std::memcpy(part->row(y), input_->row(top + y) + static_cast<std::size_t>(left) * pixel,
                    static_cast<std::size_t>(w) * pixel);
    }
    part->set_origin(left, top);
    part->set_pixel_format(input_->pixel_format());
    part->def().world_flags = input_->def().world_flags;
    PF_EffectWorld* handed = part->get();
    checked_out_[checkout_id] = part.get();
    input_parts_[checkout_id] = std::move(part);
    return handed;
}

const World* SubstituteHost::checked_out_input(A_long checkout_id) const
{
    const auto it = checked_out_.find(checkout_id);
    return it == checked_out_.end() ? nullptr : it->second;
}

void SubstituteHost::cancel_at(int check)
{
    abort_checks_ = 0;
    cancel_at_ = check;
}

void SubstituteHost::set_suite_offer(SuiteOffer offer, SPErr code)
{
    suite_offer_ = offer;
    suite_code_ = code;
}

int SubstituteHost::outstanding_suites() const
{
    int held = 0;
    for (const auto& entry : suites_held_) {
        held += entry.second;
    }
    return held;
}

void SubstituteHost::fail(HostOp op, PF_Err code, int nth_call)
{
    faults_[op] = Fault{code, nth_call, 0};
}

std::vector<std::string> SubstituteHost::call_names() const
{
    std::vector<std::string> names;
    names.reserve(calls_.size());
    for (const HostCall& call : calls_) {
        names.emplace_back(op_name(call.op));
    }
    return names;
}

int SubstituteHost::count(HostOp op) const
{
    return static_cast<int>(
        std::count_if(calls_.begin(), calls_.end(), [op](const HostCall& call) { return call.op == op; }));
}

void SubstituteHost::reset_records()
{
    calls_.clear();
    commands_.clear();
    errors_.clear();
    messages_.clear();
    layer_checkouts_.clear();
    param_checkouts_.clear();
    progress_.clear();
    abort_checks_ = 0;
}

}  // namespace ruvivedu::host
