// Registration, dispatch, ABOUT, GLOBAL_SETUP and parameter declaration, all
// through the entry points of the built module.
#include "plugin_fixture.h"

#include "params.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

using namespace ruvivedu::host;
using shell_test::plugin_module;
using shell_test::PluginTest;

namespace {

constexpr A_long kEffectKind = 0x65464B54;  // 'eFKT'

std::vector<std::uint8_t> read_pipl()
{
    std::ifstream in(RUVIVEDU_PIPL_PATH, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::uint32_t le32(const std::vector<std::uint8_t>& b, std::size_t at)
{
    return std::uint32_t(b[at]) | std::uint32_t(b[at + 1]) << 8 | std::uint32_t(b[at + 2]) << 16 |
           std::uint32_t(b[at + 3]) << 24;
}

std::uint16_t le16(const std::vector<std::uint8_t>& b, std::size_t at)
{
    return std::uint16_t(b[at] | b[at + 1] << 8);
}

/// A four-character code as it appears in the Windows resource: the code's
/// 32-bit value stored little-endian, so the characters read reversed.
std::string reversed_code(const std::vector<std::uint8_t>& b, std::size_t at)
{
    return std::string{char(b[at + 3]), char(b[at + 2]), char(b[at + 1]), char(b[at])};
}

struct Property {
    std::string key;
    std::uint32_t length;
    std::vector<std::uint8_t> data;
};

/// Walks the property list, checking the common fields of every property.
std::vector<Property> parse_properties(const std::vector<std::uint8_t>& b)
{
    std::vector<Property> props;
    std::size_t at = 10;
    const std::uint32_t count = le32(b, 6);
    for (std::uint32_t i = 0; i < count && at + 16 <= b.size(); ++i) {
        EXPECT_EQ(reversed_code(b, at), "8BIM") << "vendor of property " << i;
        EXPECT_EQ(le32(b, at + 8), 0u) << "id of property " << i;
        Property p{reversed_code(b, at + 4), le32(b, at + 12), {}};
        const std::size_t padded = (p.length + 3) / 4 * 4;
        p.data.assign(b.begin() + long(at + 16), b.begin() + long(std::min(b.size(), at + 16 + padded)));
        at += 16 + padded;
        props.push_back(p);
    }
    EXPECT_EQ(at, b.size()) << "the properties fill the resource exactly";
    return props;
}

std::vector<std::uint8_t> pascal(const std::string& s, std::size_t padded)
{
    std::vector<std::uint8_t> v(padded, 0);
    v[0] = std::uint8_t(s.size());
    std::memcpy(v.data() + 1, s.data(), s.size());
    return v;
}

std::vector<std::uint8_t> bytes_le32(std::uint32_t v)
{
    return {std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16), std::uint8_t(v >> 24)};
}

}  // namespace

TEST_F(PluginTest, RegistrationNamesTheEffectAndPassesTheHostsCodeBack)
{
    ASSERT_EQ(host->register_effect(), PF_Err_NONE);
    const RegistrationCapture& reg = host->registration();
    EXPECT_EQ(reg.call_count, 1);
    EXPECT_TRUE(reg.registration_ptr_matches);
    EXPECT_EQ(reg.name, "k's Ruvivedu");
    EXPECT_EQ(reg.match_name, "k's Ruvivedu");
    EXPECT_EQ(reg.category, "Tervane's FX");
    EXPECT_EQ(reg.entry_name, "EffectMain");
    EXPECT_EQ(reg.kind, kEffectKind);
    EXPECT_EQ(reg.api_major, 13);
    EXPECT_EQ(reg.api_minor, 27);
    EXPECT_EQ(reg.reserved_info, 8);

    // The callback's error goes straight back to the host.
    host->set_registration_result(PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_EQ(host->register_effect(), PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_EQ(host->registration().call_count, 1);
}

TEST_F(PluginTest, TheRegisteredEntryNameIsExportedAndIsTheCommandEntry)
{
    // A host that registers through PluginDataEntryFunction looks up "EffectMain".
    ASSERT_TRUE(plugin_module().exports_effect_main());
    SubstituteHost via_alias(plugin_module().effect_main(), nullptr);
    ASSERT_EQ(via_alias.about(), PF_Err_NONE);
    EXPECT_EQ(via_alias.return_msg(), "Ruvivedu, v1.5.2\nDezuz,Ezori");
}

TEST(Pipl, IsThe298ByteResourceFieldByField)
{
    const std::vector<std::uint8_t> b = read_pipl();
    ASSERT_EQ(b.size(), 298u);
    EXPECT_EQ(le16(b, 0), 1u) << "version word";
    EXPECT_EQ(le32(b, 2), 0u) << "reserved";
    EXPECT_EQ(le32(b, 6), 12u) << "property count";

    const std::vector<Property> p = parse_properties(b);
    ASSERT_EQ(p.size(), 12u);
    const std::vector<std::string> keys = {"kind", "name", "catg", "8664", "ePVR", "eSVR",
                                           "eVER", "eINF", "eGLO", "eGL2", "eMNA", "aeFL"};
    const std::vector<std::uint32_t> lengths = {4, 16, 16, 16, 4, 4, 4, 2, 4, 4, 16, 4};
    for (std::size_t i = 0; i < p.size(); ++i) {
        EXPECT_EQ(p[i].key, keys[i]) << "property " << i;
        EXPECT_EQ(p[i].length, lengths[i]) << keys[i];
    }
    EXPECT_EQ(reversed_code(p[0].data, 0), "eFKT");
    EXPECT_EQ(p[1].data, pascal("k's Ruvivedu", 16));
    EXPECT_EQ(p[2].data, pascal("Tervane's FX", 16));
    const char entry[16] = "EntryPointFunc";  // 14 characters, then two zero bytes
    EXPECT_EQ(p[3].data, std::vector<std::uint8_t>(entry, entry + 16));
    EXPECT_EQ(p[4].data, (std::vector<std::uint8_t>{2, 0, 0, 0}));    // PiPL version 2.0
    EXPECT_EQ(p[5].data, (std::vector<std::uint8_t>{13, 0, 27, 0}));  // API 13.27
    EXPECT_EQ(p[6].data, bytes_le32(693760));
    EXPECT_EQ(p[7].data, (std::vector<std::uint8_t>{0, 0, 0, 0}));  // int16 0 and two bytes of alignment
    EXPECT_EQ(p[8].data, bytes_le32(0x02000440));
    EXPECT_EQ(p[9].data, bytes_le32(0x08001400));
    EXPECT_EQ(p[10].data, pascal("k's Ruvivedu", 16));
    EXPECT_EQ(p[11].data, bytes_le32(0));
}

TEST_F(PluginTest, AboutGivesNameVersionAndDescription)
{
    ASSERT_EQ(host->about(), PF_Err_NONE);
    EXPECT_EQ(host->return_msg(), "Ruvivedu, v1.5.2\nDezuz,Ezori");
}

TEST_F(PluginTest, GlobalSetupWritesThePiplsWordsUnderEitherHost)
{
    const std::vector<std::uint8_t> pipl = read_pipl();
    ASSERT_EQ(pipl.size(), 298u);
    const std::vector<Property> p = parse_properties(pipl);
    ASSERT_EQ(p.size(), 12u);
    const std::uint32_t eVER = le32(p[6].data, 0), eGLO = le32(p[8].data, 0), eGL2 = le32(p[9].data, 0);

    for (HostApp app : {HostApp::after_effects, HostApp::premiere_pro}) {
        host->set_application(app);
        std::memset(&host->initial_out_data(), 0xA5, sizeof(PF_OutData));
        ASSERT_EQ(host->global_setup(), PF_Err_NONE);
        const PF_OutData& out = host->out_data();
        EXPECT_EQ(out.my_version, 693760u);
        EXPECT_EQ(out.my_version, eVER);
        EXPECT_EQ(A_u_long(out.out_flags), eGLO);
        EXPECT_EQ(A_u_long(out.out_flags2), eGL2);
        // Nothing but the three words is written.
        std::vector<unsigned char> expected = host->initial_out_data_bytes();
        std::vector<unsigned char> got = host->out_data_bytes();
        for (std::size_t at :
             {offsetof(PF_OutData, my_version), offsetof(PF_OutData, out_flags), offsetof(PF_OutData, out_flags2)})
            std::memcpy(expected.data() + at, got.data() + at, 4);
        EXPECT_EQ(got, expected);
    }
}

TEST_F(PluginTest, UnhandledCommandsSucceedAndLeaveOutDataAlone)
{
    std::memset(&host->initial_out_data(), 0x5A, sizeof(PF_OutData));
    for (PF_Cmd cmd : {2, 3, 5, 10, 12, 17, 25, 31, 34, -1}) {
        EXPECT_EQ(host->send(cmd), PF_Err_NONE) << "command " << cmd;
        EXPECT_EQ(host->out_data_bytes(), host->initial_out_data_bytes()) << "command " << cmd;
    }
    EXPECT_TRUE(host->calls().empty());
}

TEST_F(PluginTest, ParamsSetupDeclaresTheSixParametersExactly)
{
    ASSERT_EQ(host->global_setup(), PF_Err_NONE);
    ASSERT_EQ(host->params_setup(), PF_Err_NONE);
    EXPECT_EQ(host->out_data().num_params, 7);
    const auto& params = host->declared_params();
    ASSERT_EQ(params.size(), 6u);

    // Every field the declaration does not name stays zero; compare each
    // definition with one built from the table by hand.
    auto blank = [](PF_ParamType type, A_long id, const char* name) {
        PF_ParamDef def;
        std::memset(&def, 0, sizeof def);
        def.param_type = type;
        def.uu.id = id;
        std::strcpy(RUVIVEDU_PARAM_NAME(def), name);
        return def;
    };
    std::vector<PF_ParamDef> expected;
    PF_ParamDef shape = blank(PF_Param_POPUP, 1, "Shape");
    shape.u.pd.value = 1;
    shape.u.pd.dephault = 1;
    shape.u.pd.num_choices = 3;
    expected.push_back(shape);
    PF_ParamDef dot = blank(PF_Param_FIX_SLIDER, 2, "DotSize");
    dot.u.fd.value = dot.u.fd.dephault = 0x00200000;        // 32.0
    dot.u.fd.valid_min = dot.u.fd.slider_min = 0x00010000;  // 1.0
    dot.u.fd.valid_max = 0x03E80000;                        // 1000.0
    dot.u.fd.slider_max = 0x00C80000;                       // 200.0
    dot.u.fd.precision = 1;
    expected.push_back(dot);
    PF_ParamDef rotation = blank(PF_Param_ANGLE, 3, "Rotation");
    rotation.u.ad.value = rotation.u.ad.dephault = 0x002D0000;  // 45 degrees
    expected.push_back(rotation);
    PF_ParamDef offset = blank(PF_Param_POINT, 4, "Offset");
    offset.u.td.x_value = offset.u.td.y_value = 0x00320000;  // 50 %
    offset.u.td.x_dephault = offset.u.td.y_dephault = 0x00320000;
    expected.push_back(offset);
    expected.push_back(blank(PF_Param_CHECKBOX, 5, "Alpha"));
    PF_ParamDef sampling = blank(PF_Param_POPUP, 6, "Sampling");
    sampling.u.pd.value = 1;
    sampling.u.pd.dephault = 1;
    sampling.u.pd.num_choices = 2;
    expected.push_back(sampling);

    for (std::size_t i = 0; i < 6; ++i) {
        SCOPED_TRACE(params[i].name);
        EXPECT_EQ(params[i].index, -1) << "appended";
        PF_ParamDef got = params[i].def;
        // The string pointers point into the module; their text is checked below.
        if (got.param_type == PF_Param_POPUP)
            got.u.pd.u.namesptr = nullptr;
        if (got.param_type == PF_Param_CHECKBOX)
            got.u.bd.u.nameptr = nullptr;
        EXPECT_EQ(std::memcmp(&got, &expected[i], sizeof got), 0);
    }
    EXPECT_EQ(params[0].popup_choices, "Circle|Square|Line");
    EXPECT_EQ(params[4].checkbox_label, "ON");
    EXPECT_EQ(params[5].popup_choices, "BiLinear|Nearest");
}

TEST_F(PluginTest, ARefusedDeclarationStopsSetupWithTheHostsCode)
{
    host->fail(HostOp::add_param, PF_Err_OUT_OF_MEMORY, 3);
    host->initial_out_data().num_params = -12345;
    EXPECT_EQ(host->params_setup(), PF_Err_OUT_OF_MEMORY);
    ASSERT_EQ(host->declared_params().size(), 2u);
    EXPECT_EQ(host->declared_params()[0].name, "Shape");
    EXPECT_EQ(host->declared_params()[1].name, "DotSize");
    EXPECT_EQ(host->count(HostOp::add_param), 3) << "nothing is declared after the refusal";
    EXPECT_EQ(host->out_data().num_params, -12345) << "num_params is not written";
}

TEST(ParamValues, FixedToFloatRoundsOnceToTheNearestFloat)
{
    using ruvivedu::fixed_to_float;
    EXPECT_EQ(fixed_to_float(0x00200000), 32.0f);
    EXPECT_EQ(fixed_to_float(0x00018000), 1.5f);
    EXPECT_EQ(fixed_to_float(-0x002D0000), -45.0f);
    EXPECT_EQ(fixed_to_float(1), 1.0f / 65536.0f);
    // Beyond 24 significant bits the quotient is rounded to the nearest
    // float: 0x7FFFFFFF / 65536 = 32767.99998 -> 32768, and
    // 0x01000003 / 65536 = 256.0000457..., halfway between two floats, goes
    // to the even one, 256.00006103515625.
    EXPECT_EQ(fixed_to_float(0x7FFFFFFF), 32768.0f);
    EXPECT_EQ(fixed_to_float(0x00FFFFFF), 255.99998474121094f);
    EXPECT_EQ(fixed_to_float(0x01000003), 256.00006103515625f);
}

TEST(ParamValues, FixedFromDoubleStoresTheNearestValueWithinTheRange)
{
    using ruvivedu::fixed_from_double;
    EXPECT_EQ(fixed_from_double(32.0), 0x00200000);
    EXPECT_EQ(fixed_from_double(-45.0), -0x002D0000);
    // 95.1 x 65536 = 6232473.6: the nearest, not the truncated, value.
    EXPECT_EQ(fixed_from_double(95.1), 6232474);
    // Halfway between two 16.16 values goes away from zero, as llround does.
    EXPECT_EQ(fixed_from_double(0.5 / 65536.0), 1);
    EXPECT_EQ(fixed_from_double(-0.5 / 65536.0), -1);
    // Beyond 16.16's range its ends; NaN has no nearest value and gives 0.
    EXPECT_EQ(fixed_from_double(32767.99999), 0x7FFFFFFF);
    EXPECT_EQ(fixed_from_double(40000.0), 0x7FFFFFFF);
    EXPECT_EQ(fixed_from_double(-32768.0), std::int32_t(0x80000000u));
    EXPECT_EQ(fixed_from_double(-1e300), std::int32_t(0x80000000u));
    EXPECT_EQ(fixed_from_double(std::nan("")), 0);
}

TEST(ParamValues, CheckboxReadsOnlyTheLowestByte)
{
    using ruvivedu::checkbox_is_on;
    EXPECT_FALSE(checkbox_is_on(0));
    EXPECT_TRUE(checkbox_is_on(1));
    EXPECT_TRUE(checkbox_is_on(0xFF));
    EXPECT_FALSE(checkbox_is_on(0x100));
    EXPECT_FALSE(checkbox_is_on(static_cast<PF_ParamValue>(0xFFFFFF00u)));
    EXPECT_TRUE(checkbox_is_on(static_cast<PF_ParamValue>(0x80000001u)));
}
