// Who the effect is: the one table of names, version and flags that the
// registration call, GLOBAL_SETUP and the generated PiPL resources all read.
//
// It includes no host header, on purpose: the programs a cross build runs on
// the build machine (the PiPL generator, the module checker) read it too,
// and the host's SDK does not compile for a build machine such as Linux. The
// flags are therefore spelled by value here; the shell checks them against
// the host's own names (entry.cpp), in our declarations and in the SDK's.
#pragma once

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
/// The registration entry itself, found by the host under this name.
constexpr char kRegistrationEntryName[] = "PluginDataEntryFunction";
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
/// The host's stage number for a release build (PF_Stage_RELEASE).
constexpr int kVersionStage = 3;
constexpr std::uint32_t kEffectVersion =
    pack_effect_version(kVersionMajor, kVersionSub, kVersionFix, kVersionStage, kVersionBuild);
static_assert(kEffectVersion == 693760u, "effect version word changed: hosts compare it with stored projects");

/// out_flags: PF_OutFlag_DEEP_COLOR_AWARE | PF_OutFlag_PIX_INDEPENDENT |
/// PF_OutFlag_USE_OUTPUT_EXTENT.
constexpr std::uint32_t kGlobalOutFlags = 0x02000000u | 0x00000400u | 0x00000040u;
/// out_flags2: PF_OutFlag2_SUPPORTS_THREADED_RENDERING |
/// PF_OutFlag2_FLOAT_COLOR_AWARE | PF_OutFlag2_SUPPORTS_SMART_RENDER.
constexpr std::uint32_t kGlobalOutFlags2 = 0x08000000u | 0x00001000u | 0x00000400u;

}  // namespace ruvivedu
