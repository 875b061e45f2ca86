// Parameter declaration (PARAMS_SETUP) and value conversion.
#include "params.h"

#include "effect_identity.h"

#include <cstring>

namespace ruvivedu {
namespace {

constexpr char kShapeChoices[] = "Circle|Square|Line";
constexpr char kSamplingChoices[] = "BiLinear|Nearest";
constexpr char kCheckboxLabel[] = "ON";

/// Steps 1 and 2 of every declaration: a cleared definition with its type and
/// its name copied in by the host's strcpy.
void begin_definition(PF_InData* in_data, PF_ParamDef& def, PF_ParamType type, const char* name)
{
    std::memset(&def, 0, sizeof def);
    def.param_type = type;
    in_data->utils->ansi.strcpy(RUVIVEDU_PARAM_NAME(def), name);
}

PF_Err add(PF_InData* in_data, PF_ParamDef& def, A_long id)
{
    def.uu.id = id;
    return in_data->inter.add_param(in_data->effect_ref, -1, &def);
}

}  // namespace

PF_Err setup_params(PF_InData* in_data, PF_OutData* out_data)
{
    PF_ParamDef def;
    PF_Err err = PF_Err_NONE;

    begin_definition(in_data, def, PF_Param_POPUP, "Shape");
    def.u.pd.value = kShapeCircle;
    def.u.pd.dephault = kShapeCircle;
    def.u.pd.num_choices = 3;
    def.u.pd.u.namesptr = kShapeChoices;
    if ((err = add(in_data, def, kParamShape)) != PF_Err_NONE)
        return err;

    begin_definition(in_data, def, PF_Param_FIX_SLIDER, "DotSize");
    def.u.fd.value = kDotSizeDefault;
    def.u.fd.dephault = kDotSizeDefault;
    def.u.fd.valid_min = kDotSizeValidMin;
    def.u.fd.valid_max = kDotSizeValidMax;
    def.u.fd.slider_min = kDotSizeSliderMin;
    def.u.fd.slider_max = kDotSizeSliderMax;
    def.u.fd.precision = PF_Precision_TENTHS;
    def.u.fd.display_flags = PF_ValueDisplayFlag_NONE;
    if ((err = add(in_data, def, kParamDotSize)) != PF_Err_NONE)
        return err;

    begin_definition(in_data, def, PF_Param_ANGLE, "Rotation");
    def.u.ad.value = kRotationDefault;
    def.u.ad.dephault = kRotationDefault;
    if ((err = add(in_data, def, kParamRotation)) != PF_Err_NONE)
        return err;

    // The host reads the point's defaults as percentages of the layer size,
    // so 50 % puts the default Offset at the layer centre.
    begin_definition(in_data, def, PF_Param_POINT, "Offset");
    def.u.td.x_value = kOffsetDefaultPercent;
    def.u.td.y_value = kOffsetDefaultPercent;
    def.u.td.x_dephault = kOffsetDefaultPercent;
    def.u.td.y_dephault = kOffsetDefaultPercent;
    def.u.td.restrict_bounds = 0;
    if ((err = add(in_data, def, kParamOffset)) != PF_Err_NONE)
        return err;

    begin_definition(in_data, def, PF_Param_CHECKBOX, "Alpha");
    def.u.bd.value = 0;
    def.u.bd.dephault = 0;
    def.u.bd.u.nameptr = kCheckboxLabel;
    if ((err = add(in_data, def, kParamAlpha)) != PF_Err_NONE)
        return err;

    begin_definition(in_data, def, PF_Param_POPUP, "Sampling");
    def.u.pd.value = kSamplingBilinear;
    def.u.pd.dephault = kSamplingBilinear;
    def.u.pd.num_choices = 2;
    def.u.pd.u.namesptr = kSamplingChoices;
    if ((err = add(in_data, def, kParamSampling)) != PF_Err_NONE)
        return err;

    out_data->num_params = kParamCount;
    return PF_Err_NONE;
}

EffectValues stored_values(PF_ParamDef* const params[kParamCount])
{
    EffectValues values;
    values.shape = params[kParamShape]->u.pd.value;
    values.dot_size = params[kParamDotSize]->u.fd.value;
    values.rotation = params[kParamRotation]->u.ad.value;
    values.offset_x = params[kParamOffset]->u.td.x_value;
    values.offset_y = params[kParamOffset]->u.td.y_value;
    values.alpha = params[kParamAlpha]->u.bd.value;
    values.sampling = params[kParamSampling]->u.pd.value;
    return values;
}

}  // namespace ruvivedu
