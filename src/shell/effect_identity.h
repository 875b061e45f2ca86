// Who the effect is: the one table of names, version and flags that the
// registration call, GLOBAL_SETUP and the generated PiPL resources all read.
#pragma once

#include "host_api.h"

#include <cstdint>

namespace ruvivedu {

/// A four-character code as the host stores it: the first character in the
/// most significant byte ('eFKT' == 0x65464B54).
constexpr std::uint32_t four_char_code(const char (&code)[5])
{
    return (std::uint32_t(std::uint8_t(code[0])) << 24) | (std::uint32_t(std::uint8_t(code[1])) << 16) |
           (std::uint32_t(std::uint8_t(code[2])) << 8) | std::uint32_t(std::uint8_t(code[3]));
}

/// Packs a version the way the host lays out my_version and the eVER property.
constexpr std::uint32_t pack_effect_version(std::uint32_t major, std::uint32_t sub, std::uint32_t fix,
                                            std::uint32_t stage, std::uint32_t build)
{
    return (major & 7u) << 19 | (sub & 15u) << 15 | (fix & 15u) << 11 | (stage & 3u) << 9 | (build & 0x1FFu);
}

constexpr char kDisplayName[] = "k's Ruvivedu";
constexpr char kMatchName[] = "k's Ruvivedu";
constexpr char kCategory[] = "Tervane's FX";
/// The entry the PiPL's code property names; the module exports it.
constexpr char kPiPLEntryName[] = "EntryPointFunc";
/// The entry the registration call names. Hosts that register through
/// PluginDataEntryFunction look this symbol up, so the module exports it too.
constexpr char kRegisteredEntryName[] = "EffectMain";
/// Name used in the effect's messages and in the ABOUT text.
constexpr char kMessageName[] = "Ruvivedu";
constexpr char kAboutDescription[] = "Dezuz,Ezori";

constexpr std::uint32_t kEffectKind = four_char_code("eFKT");
constexpr std::uint32_t kVendorCode = four_char_code("8BIM");

constexpr int kApiVersionMajor = 13;
constexpr int kApiVersionMinor = 27;
/// Reserved-info word passed by the registration call (the PiPL's aeFL holds 0).
constexpr int kRegistrationReservedInfo = 8;
constexpr int kPiPLReservedInfo = 0;
constexpr int kPiPLVersionMajor = 2;
constexpr int kPiPLVersionMinor = 0;

constexpr int kVersionMajor = 1;
constexpr int kVersionSub = 5;
constexpr int kVersionFix = 2;
constexpr int kVersionBuild = 0;
constexpr std::uint32_t kEffectVersion =
    pack_effect_version(kVersionMajor, kVersionSub, kVersionFix, PF_Stage_RELEASE, kVersionBuild);
static_assert(kEffectVersion == 693760u, "effect version word changed: hosts compare it with stored projects");

constexpr std::uint32_t kGlobalOutFlags =
    PF_OutFlag_DEEP_COLOR_AWARE | PF_OutFlag_PIX_INDEPENDENT | PF_OutFlag_USE_OUTPUT_EXTENT;
constexpr std::uint32_t kGlobalOutFlags2 = PF_OutFlag2_SUPPORTS_THREADED_RENDERING |
                                           PF_OutFlag2_FLOAT_COLOR_AWARE | PF_OutFlag2_SUPPORTS_SMART_RENDER;
static_assert(kGlobalOutFlags == 0x02000440u, "out_flags must match the PiPL's eGLO");
static_assert(kGlobalOutFlags2 == 0x08001400u, "out_flags2 must match the PiPL's eGL2");

} // namespace ruvivedu
