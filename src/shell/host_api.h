// The host's effect API, the subset this plug-in and its substitute host use, under the SDK's own names.
//
// Two modes:
//  - default: the declarations below, laid out to match the host's binaries on 64-bit Windows and macOS
//    (and, with the same fixed-width members, 64-bit Linux); every offset is checked by a static_assert.
//  - RUVIVEDU_USE_HOST_SDK=1 (set by CMake when RUVIVEDU_HOST_SDK_DIR names the SDK folder): the real SDK
//    headers are included instead, so the plug-in must use only names that exist there. Everything in this
//    file outside the `#else` branch (the parameter-name macro, the entry-point pointer types) is ours and
//    is defined in both modes.
//
// Our declarations name only what every SDK release we build against declares. Names that some releases
// lack are left out on purpose, so that no code comes to depend on them: the SDK has no `A_AppID` and no
// `PF_Precision` type (it stores those as plain A_long and A_short), no `PF_GPU_Framework_DIRECTX`, and
// only newer releases have the out_flags2 bits 0x10000000 (MUTABLE_RENDER_SEQUENCE_DATA_SLOWER) and
// 0x20000000 (SUPPORTS_DIRECTX_RENDERING); code that needs one of those spells its value.
//
// Each "SDK header:" line below names the SDK header that declares what follows it. The test SDK tree
// (tests/host_sdk) is cut from this file along those lines, so a build against it fails the way a build
// against the SDK would; "SDK header: none" marks what is ours alone.
#pragma once

// The programs a build runs on the build machine (the PiPL generator, the module checker) are built with
// this defined: the SDK has no mode for a build machine such as Linux, so they take what they need from
// the identity table (effect_identity.h), which includes no host header.
#if defined(RUVIVEDU_BUILD_MACHINE_TOOL)
#error "host_api.h in a build-machine tool: take names, version and flags from effect_identity.h"
#endif

#include <cstddef>
#include <cstdint>

#if defined(RUVIVEDU_USE_HOST_SDK) && RUVIVEDU_USE_HOST_SDK

// The SDK spreads these declarations over several headers (the "SDK header:" lines below say which), and
// none of them includes all the others: AE_Effect.h does not bring in the registration types of
// AE_PluginData.h, and the precision constants live in Util/Param_Utils.h, outside Headers/. The basic
// suite is in Headers/SP/SPBasic.h.
#include "AE_Effect.h"
#include "AE_EffectCB.h"
#if defined(__has_include)
#if __has_include("AE_EffectPixelFormat.h")
#include "AE_EffectPixelFormat.h"
#endif
#endif
#include "AE_EffectCBSuites.h"
#include "AE_PluginData.h"
#include "Param_Utils.h"
#include "SPBasic.h"

#else  // our own declarations

// ---------------------------------------------------------------------------------------------------
// Basic types
// ---------------------------------------------------------------------------------------------------

// SDK header: Headers/A.h
typedef std::int32_t A_long;
typedef std::uint32_t A_u_long;
typedef std::int16_t A_short;
typedef std::uint16_t A_u_short;
typedef char A_char;
typedef unsigned char A_u_char;
typedef unsigned char A_Boolean;
typedef double A_FpLong;
typedef float A_FpShort;
typedef std::uint64_t A_u_longlong;
typedef std::intptr_t A_intptr_t;
typedef A_long A_Err;

// SDK header: Headers/AE_Effect.h (Windows and macOS only)
// Windows declares PF_Boolean as plain char, macOS as unsigned char; only the signedness differs.
#if defined(_WIN32)
typedef A_char PF_Boolean;
#else
typedef unsigned char PF_Boolean;
#endif

typedef A_long PF_Fixed;  // signed 16.16
typedef A_u_long PF_UFixed;
#if defined(__APPLE__)
typedef char** PF_Handle;
#else
typedef void** PF_Handle;
#endif

// SDK header: Headers/AE_Effect.h
typedef A_FpLong PF_FpLong;
typedef A_FpShort PF_FpShort;

typedef A_long PF_ParamValue;
typedef A_long PF_ParamIndex;
typedef A_long PF_Cmd;
typedef A_long PF_Err;
typedef A_long PF_ParamType;
typedef A_long PF_ParamFlags;
typedef A_long PF_ParamUIFlags;
typedef A_long PF_ChangeFlags;
typedef A_long PF_Quality;
typedef A_long PF_Field;
typedef A_long PF_WorldFlags;
typedef A_long PF_OutFlags;
typedef A_long PF_OutFlags2;
typedef A_long PF_InFlags;
typedef A_long PF_ChannelMask;
typedef A_long PF_GPU_Framework;
typedef A_short PF_ValueDisplayFlags;
typedef short PF_RenderOutputFlags;

typedef struct _PF_ProgressInfo* PF_ProgPtr;  // the host's opaque effect reference

// ---------------------------------------------------------------------------------------------------
// Constants
// ---------------------------------------------------------------------------------------------------

// Command codes.
inline constexpr PF_Cmd PF_Cmd_ABOUT = 0;
inline constexpr PF_Cmd PF_Cmd_GLOBAL_SETUP = 1;
inline constexpr PF_Cmd PF_Cmd_UNUSED_0 = 2;
inline constexpr PF_Cmd PF_Cmd_GLOBAL_SETDOWN = 3;
inline constexpr PF_Cmd PF_Cmd_PARAMS_SETUP = 4;
inline constexpr PF_Cmd PF_Cmd_SEQUENCE_SETUP = 5;
inline constexpr PF_Cmd PF_Cmd_SEQUENCE_RESETUP = 6;
inline constexpr PF_Cmd PF_Cmd_SEQUENCE_FLATTEN = 7;
inline constexpr PF_Cmd PF_Cmd_SEQUENCE_SETDOWN = 8;
inline constexpr PF_Cmd PF_Cmd_DO_DIALOG = 9;
inline constexpr PF_Cmd PF_Cmd_FRAME_SETUP = 10;
inline constexpr PF_Cmd PF_Cmd_RENDER = 11;
inline constexpr PF_Cmd PF_Cmd_FRAME_SETDOWN = 12;
inline constexpr PF_Cmd PF_Cmd_USER_CHANGED_PARAM = 13;
inline constexpr PF_Cmd PF_Cmd_UPDATE_PARAMS_UI = 14;
inline constexpr PF_Cmd PF_Cmd_EVENT = 15;
inline constexpr PF_Cmd PF_Cmd_GET_EXTERNAL_DEPENDENCIES = 16;
inline constexpr PF_Cmd PF_Cmd_COMPLETELY_GENERAL = 17;
inline constexpr PF_Cmd PF_Cmd_QUERY_DYNAMIC_FLAGS = 18;
inline constexpr PF_Cmd PF_Cmd_AUDIO_RENDER = 19;
inline constexpr PF_Cmd PF_Cmd_AUDIO_SETUP = 20;
inline constexpr PF_Cmd PF_Cmd_AUDIO_SETDOWN = 21;
inline constexpr PF_Cmd PF_Cmd_ARBITRARY_CALLBACK = 22;
inline constexpr PF_Cmd PF_Cmd_SMART_PRE_RENDER = 23;
inline constexpr PF_Cmd PF_Cmd_SMART_RENDER = 24;
inline constexpr PF_Cmd PF_Cmd_RESERVED1 = 25;
inline constexpr PF_Cmd PF_Cmd_RESERVED2 = 26;
inline constexpr PF_Cmd PF_Cmd_RESERVED3 = 27;
inline constexpr PF_Cmd PF_Cmd_GET_FLATTENED_SEQUENCE_DATA = 28;
inline constexpr PF_Cmd PF_Cmd_TRANSLATE_PARAMS_TO_PREFS = 29;
inline constexpr PF_Cmd PF_Cmd_RESERVED4 = 30;
inline constexpr PF_Cmd PF_Cmd_SMART_RENDER_GPU = 31;
inline constexpr PF_Cmd PF_Cmd_GPU_DEVICE_SETUP = 32;
inline constexpr PF_Cmd PF_Cmd_GPU_DEVICE_SETDOWN = 33;
inline constexpr PF_Cmd PF_Cmd_NUM_CMDS = 34;

// Error codes.
inline constexpr PF_Err PF_Err_NONE = 0;
inline constexpr PF_Err PF_Err_OUT_OF_MEMORY = 4;
inline constexpr PF_Err PF_FIRST_ERR = 512;
inline constexpr PF_Err PF_Err_INTERNAL_STRUCT_DAMAGED = 512;
inline constexpr PF_Err PF_Err_INVALID_INDEX = 513;
inline constexpr PF_Err PF_Err_UNRECOGNIZED_PARAM_TYPE = 514;
inline constexpr PF_Err PF_Err_INVALID_CALLBACK = 515;
inline constexpr PF_Err PF_Err_BAD_CALLBACK_PARAM = 516;
inline constexpr PF_Err PF_Interrupt_CANCEL = 517;
inline constexpr PF_Err PF_Err_CANNOT_PARSE_KEYFRAME_TEXT = 518;

// Global out flags (out_data->out_flags).
inline constexpr PF_OutFlags PF_OutFlag_NONE = 0;
inline constexpr PF_OutFlags PF_OutFlag_KEEP_RESOURCE_OPEN = 0x00000001;
inline constexpr PF_OutFlags PF_OutFlag_WIDE_TIME_INPUT = 0x00000002;
inline constexpr PF_OutFlags PF_OutFlag_NON_PARAM_VARY = 0x00000004;
inline constexpr PF_OutFlags PF_OutFlag_RESERVED6 = 0x00000008;
inline constexpr PF_OutFlags PF_OutFlag_SEQUENCE_DATA_NEEDS_FLATTENING = 0x00000010;
inline constexpr PF_OutFlags PF_OutFlag_I_DO_DIALOG = 0x00000020;
inline constexpr PF_OutFlags PF_OutFlag_USE_OUTPUT_EXTENT = 0x00000040;
inline constexpr PF_OutFlags PF_OutFlag_SEND_DO_DIALOG = 0x00000080;
inline constexpr PF_OutFlags PF_OutFlag_DISPLAY_ERROR_MESSAGE = 0x00000100;
inline constexpr PF_OutFlags PF_OutFlag_I_EXPAND_BUFFER = 0x00000200;
inline constexpr PF_OutFlags PF_OutFlag_PIX_INDEPENDENT = 0x00000400;
inline constexpr PF_OutFlags PF_OutFlag_I_WRITE_INPUT_BUFFER = 0x00000800;
inline constexpr PF_OutFlags PF_OutFlag_I_SHRINK_BUFFER = 0x00001000;
inline constexpr PF_OutFlags PF_OutFlag_WORKS_IN_PLACE = 0x00002000;
inline constexpr PF_OutFlags PF_OutFlag_RESERVED8 = 0x00004000;
inline constexpr PF_OutFlags PF_OutFlag_CUSTOM_UI = 0x00008000;
inline constexpr PF_OutFlags PF_OutFlag_RESERVED7 = 0x00010000;
inline constexpr PF_OutFlags PF_OutFlag_REFRESH_UI = 0x00020000;
inline constexpr PF_OutFlags PF_OutFlag_NOP_RENDER = 0x00040000;
inline constexpr PF_OutFlags PF_OutFlag_I_USE_SHUTTER_ANGLE = 0x00080000;
inline constexpr PF_OutFlags PF_OutFlag_I_USE_AUDIO = 0x00100000;
inline constexpr PF_OutFlags PF_OutFlag_I_AM_OBSOLETE = 0x00200000;
inline constexpr PF_OutFlags PF_OutFlag_FORCE_RERENDER = 0x00400000;
inline constexpr PF_OutFlags PF_OutFlag_PiPL_OVERRIDES_OUTDATA_OUTFLAGS = 0x00800000;
inline constexpr PF_OutFlags PF_OutFlag_I_HAVE_EXTERNAL_DEPENDENCIES = 0x01000000;
inline constexpr PF_OutFlags PF_OutFlag_DEEP_COLOR_AWARE = 0x02000000;
inline constexpr PF_OutFlags PF_OutFlag_SEND_UPDATE_PARAMS_UI = 0x04000000;
inline constexpr PF_OutFlags PF_OutFlag_AUDIO_FLOAT_ONLY = 0x08000000;
inline constexpr PF_OutFlags PF_OutFlag_AUDIO_IIR = 0x10000000;
inline constexpr PF_OutFlags PF_OutFlag_I_SYNTHESIZE_AUDIO = 0x20000000;
inline constexpr PF_OutFlags PF_OutFlag_AUDIO_EFFECT_TOO = 0x40000000;
inline constexpr PF_OutFlags PF_OutFlag_AUDIO_EFFECT_ONLY = -0x7FFFFFFF - 1;  // bit 31

// Second global out flags word (out_data->out_flags2). 0x200 has no name.
inline constexpr PF_OutFlags2 PF_OutFlag2_NONE = 0;
inline constexpr PF_OutFlags2 PF_OutFlag2_SUPPORTS_QUERY_DYNAMIC_FLAGS = 0x00000001;
inline constexpr PF_OutFlags2 PF_OutFlag2_I_USE_3D_CAMERA = 0x00000002;
inline constexpr PF_OutFlags2 PF_OutFlag2_I_USE_3D_LIGHTS = 0x00000004;
inline constexpr PF_OutFlags2 PF_OutFlag2_PARAM_GROUP_START_COLLAPSED_FLAG = 0x00000008;
inline constexpr PF_OutFlags2 PF_OutFlag2_I_AM_THREADSAFE = 0x00000010;
inline constexpr PF_OutFlags2 PF_OutFlag2_CAN_COMBINE_WITH_DESTINATION = 0x00000020;
inline constexpr PF_OutFlags2 PF_OutFlag2_DOESNT_NEED_EMPTY_PIXELS = 0x00000040;
inline constexpr PF_OutFlags2 PF_OutFlag2_REVEALS_ZERO_ALPHA = 0x00000080;
inline constexpr PF_OutFlags2 PF_OutFlag2_PRESERVES_FULLY_OPAQUE_PIXELS = 0x00000100;
inline constexpr PF_OutFlags2 PF_OutFlag2_SUPPORTS_SMART_RENDER = 0x00000400;
inline constexpr PF_OutFlags2 PF_OutFlag2_RESERVED9 = 0x00000800;
inline constexpr PF_OutFlags2 PF_OutFlag2_FLOAT_COLOR_AWARE = 0x00001000;
inline constexpr PF_OutFlags2 PF_OutFlag2_I_USE_COLORSPACE_ENUMERATION = 0x00002000;
inline constexpr PF_OutFlags2 PF_OutFlag2_I_AM_DEPRECATED = 0x00004000;
inline constexpr PF_OutFlags2 PF_OutFlag2_PPRO_DO_NOT_CLONE_SEQUENCE_DATA_FOR_RENDER = 0x00008000;
inline constexpr PF_OutFlags2 PF_OutFlag2_RESERVED10 = 0x00010000;
inline constexpr PF_OutFlags2 PF_OutFlag2_AUTOMATIC_WIDE_TIME_INPUT = 0x00020000;
inline constexpr PF_OutFlags2 PF_OutFlag2_I_USE_TIMECODE = 0x00040000;
inline constexpr PF_OutFlags2 PF_OutFlag2_DEPENDS_ON_UNREFERENCED_MASKS = 0x00080000;
inline constexpr PF_OutFlags2 PF_OutFlag2_OUTPUT_IS_WATERMARKED = 0x00100000;
inline constexpr PF_OutFlags2 PF_OutFlag2_I_MIX_GUID_DEPENDENCIES = 0x00200000;
inline constexpr PF_OutFlags2 PF_OutFlag2_AE13_5_THREADSAFE = 0x00400000;
inline constexpr PF_OutFlags2 PF_OutFlag2_SUPPORTS_GET_FLATTENED_SEQUENCE_DATA = 0x00800000;
inline constexpr PF_OutFlags2 PF_OutFlag2_CUSTOM_UI_ASYNC_MANAGER = 0x01000000;
inline constexpr PF_OutFlags2 PF_OutFlag2_SUPPORTS_GPU_RENDER_F32 = 0x02000000;
inline constexpr PF_OutFlags2 PF_OutFlag2_RESERVED12 = 0x04000000;
inline constexpr PF_OutFlags2 PF_OutFlag2_SUPPORTS_THREADED_RENDERING = 0x08000000;
// 0x10000000 and 0x20000000 have names in newer SDK releases only (see the top of this file).

// World flags (PF_LayerDef::world_flags).
inline constexpr PF_WorldFlags PF_WorldFlag_DEEP = 0x00000001;
inline constexpr PF_WorldFlags PF_WorldFlag_WRITEABLE = 0x00000002;
inline constexpr PF_WorldFlags PF_WorldFlag_RESERVED0 = 0x01000000;
inline constexpr PF_WorldFlags PF_WorldFlag_RESERVED1 = 0x02000000;
inline constexpr PF_WorldFlags PF_WorldFlag_RESERVED2 = 0x04000000;
inline constexpr PF_WorldFlags PF_WorldFlag_RESERVED3 = 0x08000000;
inline constexpr PF_WorldFlags PF_WorldFlag_RESERVED4 = 0x10000000;
inline constexpr PF_WorldFlags PF_WorldFlag_RESERVED5 = 0x20000000;
inline constexpr PF_WorldFlags PF_WorldFlag_RESERVED6 = 0x40000000;
inline constexpr PF_WorldFlags PF_WorldFlag_RESERVED = -0x7FFFFFFF - 1;  // bit 31

inline constexpr PF_InFlags PF_InFlag_NONE = 0;
inline constexpr PF_InFlags PF_InFlag_PROJECT_IS_RENDER_ONLY = 1;

inline constexpr PF_Quality PF_Quality_DRAWING_AUDIO = -1;
inline constexpr PF_Quality PF_Quality_LO = 0;
inline constexpr PF_Quality PF_Quality_HI = 1;

inline constexpr PF_Field PF_Field_FRAME = 0;
inline constexpr PF_Field PF_Field_UPPER = 1;
inline constexpr PF_Field PF_Field_LOWER = 2;

inline constexpr PF_ChannelMask PF_ChannelMask_ALPHA = 0x1;
inline constexpr PF_ChannelMask PF_ChannelMask_RED = 0x2;
inline constexpr PF_ChannelMask PF_ChannelMask_GREEN = 0x4;
inline constexpr PF_ChannelMask PF_ChannelMask_BLUE = 0x8;
inline constexpr PF_ChannelMask PF_ChannelMask_ARGB = 0xF;

inline constexpr PF_RenderOutputFlags PF_RenderOutputFlag_RETURNS_EXTRA_PIXELS = 0x1;
inline constexpr PF_RenderOutputFlags PF_RenderOutputFlag_GPU_RENDER_POSSIBLE = 0x2;
inline constexpr PF_RenderOutputFlags PF_RenderOutputFlag_RESERVED1 = 0x4;

inline constexpr PF_GPU_Framework PF_GPU_Framework_NONE = 0;
inline constexpr PF_GPU_Framework PF_GPU_Framework_OPENCL = 1;
inline constexpr PF_GPU_Framework PF_GPU_Framework_METAL = 2;
inline constexpr PF_GPU_Framework PF_GPU_Framework_CUDA = 3;

// Parameter types.
inline constexpr PF_ParamType PF_Param_RESERVED = -1;
inline constexpr PF_ParamType PF_Param_LAYER = 0;
inline constexpr PF_ParamType PF_Param_SLIDER = 1;
inline constexpr PF_ParamType PF_Param_FIX_SLIDER = 2;
inline constexpr PF_ParamType PF_Param_ANGLE = 3;
inline constexpr PF_ParamType PF_Param_CHECKBOX = 4;
inline constexpr PF_ParamType PF_Param_COLOR = 5;
inline constexpr PF_ParamType PF_Param_POINT = 6;
inline constexpr PF_ParamType PF_Param_POPUP = 7;
inline constexpr PF_ParamType PF_Param_CUSTOM = 8;
inline constexpr PF_ParamType PF_Param_NO_DATA = 9;
inline constexpr PF_ParamType PF_Param_FLOAT_SLIDER = 10;
inline constexpr PF_ParamType PF_Param_ARBITRARY_DATA = 11;
inline constexpr PF_ParamType PF_Param_PATH = 12;
inline constexpr PF_ParamType PF_Param_GROUP_START = 13;
inline constexpr PF_ParamType PF_Param_GROUP_END = 14;
inline constexpr PF_ParamType PF_Param_BUTTON = 15;
inline constexpr PF_ParamType PF_Param_RESERVED2 = 16;
inline constexpr PF_ParamType PF_Param_RESERVED3 = 17;
inline constexpr PF_ParamType PF_Param_POINT_3D = 18;

// SDK header: Util/Param_Utils.h
// Digits a fixed or float slider shows; the definitions store them in an A_short.
inline constexpr A_short PF_Precision_INTEGER = 0;
inline constexpr A_short PF_Precision_TENTHS = 1;
inline constexpr A_short PF_Precision_HUNDREDTHS = 2;
inline constexpr A_short PF_Precision_THOUSANDTHS = 3;
inline constexpr A_short PF_Precision_TEN_THOUSANDTHS = 4;

// SDK header: Headers/AE_Effect.h
inline constexpr PF_ValueDisplayFlags PF_ValueDisplayFlag_NONE = 0;
inline constexpr PF_ValueDisplayFlags PF_ValueDisplayFlag_PERCENT = 1;
inline constexpr PF_ValueDisplayFlags PF_ValueDisplayFlag_PIXEL = 2;
inline constexpr PF_ValueDisplayFlags PF_ValueDisplayFlag_RESERVED1 = 4;
inline constexpr PF_ValueDisplayFlags PF_ValueDisplayFlag_REVERSE = 8;

inline constexpr PF_ParamFlags PF_ParamFlag_NONE = 0;
inline constexpr PF_ParamFlags PF_ParamFlag_CANNOT_TIME_VARY = 0x2;
inline constexpr PF_ParamFlags PF_ParamFlag_CANNOT_INTERP = 0x4;
inline constexpr PF_ParamFlags PF_ParamFlag_COLLAPSE_TWIRLY = 0x20;
inline constexpr PF_ParamFlags PF_ParamFlag_START_COLLAPSED = 0x20;
inline constexpr PF_ParamFlags PF_ParamFlag_SUPERVISE = 0x40;
inline constexpr PF_ParamFlags PF_ParamFlag_USE_VALUE_FOR_OLD_PROJECTS = 0x80;

inline constexpr PF_ParamUIFlags PF_PUI_NONE = 0;
inline constexpr PF_ParamUIFlags PF_PUI_TOPIC = 0x1;
inline constexpr PF_ParamUIFlags PF_PUI_CONTROL = 0x2;
inline constexpr PF_ParamUIFlags PF_PUI_STD_CONTROL_ONLY = 0x4;
inline constexpr PF_ParamUIFlags PF_PUI_NO_ECW_UI = 0x8;
inline constexpr PF_ParamUIFlags PF_PUI_ECW_SEPARATOR = 0x10;
inline constexpr PF_ParamUIFlags PF_PUI_DISABLED = 0x20;
inline constexpr PF_ParamUIFlags PF_PUI_RADIO_BUTTON = 0x100;
inline constexpr PF_ParamUIFlags PF_PUI_INVISIBLE = 0x200;

// SDK header: Headers/AE_EffectPixelFormat.h
// Pixel formats: four-character codes read as little-endian 32-bit integers ("argb" in memory).
typedef A_long PF_PixelFormat;
inline constexpr PF_PixelFormat PF_PixelFormat_ARGB32 = 0x62677261;
inline constexpr PF_PixelFormat PF_PixelFormat_ARGB64 = 0x36316561;
inline constexpr PF_PixelFormat PF_PixelFormat_ARGB128 = 0x32336561;
inline constexpr PF_PixelFormat PF_PixelFormat_GPU_BGRA128 = 0x41444340;
inline constexpr PF_PixelFormat PF_PixelFormat_RESERVED = 0x61444340;
inline constexpr PF_PixelFormat PF_PixelFormat_BGRA32 = 0x61726762;
inline constexpr PF_PixelFormat PF_PixelFormat_VUYA32 = 0x61797576;
inline constexpr PF_PixelFormat PF_PixelFormat_NTSCDV25 = 0x326E7664;
inline constexpr PF_PixelFormat PF_PixelFormat_PALDV25 = 0x32707664;
inline constexpr PF_PixelFormat PF_PixelFormat_INVALID = 0x66646162;
inline constexpr PF_PixelFormat PF_PixelFormat_FORCE_LONG_INT = -1;

// SDK header: Headers/AE_Effect.h
// String limits, not counting the terminating NUL.
inline constexpr A_long PF_MAX_EFFECT_NAME_LEN = 31;
inline constexpr A_long PF_MAX_EFFECT_CATEGORY_NAME_LEN = 31;
inline constexpr A_long PF_MAX_EFFECT_PARAM_NAME_LEN = 31;
inline constexpr A_long PF_MAX_PARAM_DESCRIPTION_LEN = 31;
inline constexpr A_long PF_MAX_PARAM_VALUE_LEN = 31;
inline constexpr A_long PF_MAX_EFFECT_MSG_LEN = 255;

// Full-scale channel values. The 16-bit scale is 32768, not 65535.
inline constexpr A_long PF_MAX_CHAN8 = 255;
inline constexpr A_long PF_HALF_CHAN8 = 128;
inline constexpr A_long PF_MAX_CHAN16 = 32768;
inline constexpr A_long PF_HALF_CHAN16 = 16384;

// Effect version word (my_version) layout.
inline constexpr A_long PF_Vers_BUILD_BITS = 0x1FF;
inline constexpr A_long PF_Vers_BUILD_SHIFT = 0;
inline constexpr A_long PF_Vers_STAGE_BITS = 0x3;
inline constexpr A_long PF_Vers_STAGE_SHIFT = 9;
inline constexpr A_long PF_Vers_BUGFIX_BITS = 0xF;
inline constexpr A_long PF_Vers_BUGFIX_SHIFT = 11;
inline constexpr A_long PF_Vers_SUBVERS_BITS = 0xF;
inline constexpr A_long PF_Vers_SUBVERS_SHIFT = 15;
inline constexpr A_long PF_Vers_VERS_BITS = 0x7;
inline constexpr A_long PF_Vers_VERS_SHIFT = 19;

inline constexpr A_long PF_Stage_DEVELOP = 0;
inline constexpr A_long PF_Stage_ALPHA = 1;
inline constexpr A_long PF_Stage_BETA = 2;
inline constexpr A_long PF_Stage_RELEASE = 3;

// SDK header: Headers/SP/SPTypes.h
typedef std::int32_t SPErr;
typedef std::int32_t SPBoolean;
#define kSPNoError            0

// SDK header: Headers/AE_EffectCBSuites.h
#define kPFWorldSuite         "PF World Suite"
#define kPFWorldSuiteVersion1 1
#define kPFWorldSuiteVersion2 2

// SDK header: Headers/AE_Effect.h

// ---------------------------------------------------------------------------------------------------
// Small value records
// ---------------------------------------------------------------------------------------------------

typedef struct {
    A_long h, v;
} PF_Point;

typedef struct {
    A_long left, top, right, bottom;
} PF_LRect;
typedef PF_LRect PF_Rect;
typedef PF_Rect PF_UnionableRect;

typedef struct {
    A_long num;
    A_u_long den;
} PF_RationalScale;

typedef struct {
    A_short major;
    A_short minor;
} PF_SpecVersion;

typedef struct {
    A_u_char alpha, red, green, blue;
} PF_Pixel;
typedef PF_Pixel PF_Pixel8;

typedef struct {
    A_u_short alpha, red, green, blue;
} PF_Pixel16;

typedef struct {
    PF_FpShort alpha, red, green, blue;
} PF_PixelFloat;
typedef PF_PixelFloat PF_Pixel32;

typedef PF_Pixel* PF_PixelPtr;

typedef struct {
    PF_FpLong rateF;
    A_short num_channels;
    A_short format;
    A_short sample_size;
} PF_SoundFormatInfo;

typedef struct {
    PF_SoundFormatInfo fi;
    A_long num_samples;
    void* dataP;
} PF_SoundWorld;

// ---------------------------------------------------------------------------------------------------
// Pixel world
// ---------------------------------------------------------------------------------------------------

typedef struct PF_LayerDef {
    void* reserved0;
    void* reserved1;
    PF_WorldFlags world_flags;
    PF_PixelPtr data;
    A_long rowbytes;
    A_long width;
    A_long height;
    PF_UnionableRect extent_hint;
    void* platform_ref;
    A_long reserved_long1;
    void* reserved_long4;
    PF_RationalScale pix_aspect_ratio;
    void* reserved_long2;
    A_long origin_x;
    A_long origin_y;
    A_long reserved_long3;
    A_long dephault;
} PF_LayerDef;
typedef PF_LayerDef PF_EffectWorld;

// ---------------------------------------------------------------------------------------------------
// Parameter definitions
// ---------------------------------------------------------------------------------------------------

typedef struct {
    PF_ParamValue value;
    A_char value_str[PF_MAX_PARAM_VALUE_LEN + 1];
    A_char value_desc[PF_MAX_PARAM_DESCRIPTION_LEN + 1];
    PF_ParamValue valid_min, valid_max;
    PF_ParamValue slider_min, slider_max;
    PF_ParamValue dephault;
} PF_SliderDef;

typedef struct {
    PF_Fixed value;
    A_char value_str[PF_MAX_PARAM_VALUE_LEN + 1];
    A_char value_desc[PF_MAX_PARAM_DESCRIPTION_LEN + 1];
    PF_Fixed valid_min, valid_max;
    PF_Fixed slider_min, slider_max;
    PF_Fixed dephault;
    A_short precision;
    PF_ValueDisplayFlags display_flags;
} PF_FixedSliderDef;

typedef A_long PF_FSliderFlags;

typedef struct {
    PF_FpLong value;
    PF_FpLong phase;
    A_char value_desc[PF_MAX_PARAM_DESCRIPTION_LEN + 1];
    PF_FpShort valid_min, valid_max;
    PF_FpShort slider_min, slider_max;
    PF_FpShort dephault;
    A_short precision;
    PF_ValueDisplayFlags display_flags;
    PF_FSliderFlags fs_flags;
    PF_FpShort curve_tolerance;
    PF_Boolean useExponent;
    PF_FpShort exponent;
} PF_FloatSliderDef;

typedef struct {
    PF_Fixed value;  // degrees
    PF_Fixed dephault;
    PF_Fixed valid_min, valid_max;
} PF_AngleDef;

typedef struct {
    PF_ParamValue value;
    PF_Boolean dephault;
    A_char reserved;
    A_short reserved1;
    union {
        const A_char* nameptr;
    } u;
} PF_CheckBoxDef;

typedef struct {
    PF_Pixel value;
    PF_Pixel dephault;
} PF_ColorDef;

typedef struct {
    PF_Fixed x_value;
    PF_Fixed y_value;
    A_char reserved[3];
    PF_Boolean restrict_bounds;
    PF_Fixed x_dephault;  // percent of the layer's width
    PF_Fixed y_dephault;  // percent of the layer's height
} PF_PointDef;

typedef struct {
    PF_ParamValue value;
    A_short num_choices;
    A_short dephault;
    union {
        const A_char* namesptr;  // choices separated by '|'
    } u;
} PF_PopupDef;

typedef PF_Handle PF_ArbitraryH;

typedef struct {
    A_short id;
    A_short pad;
    PF_ArbitraryH dephault;
    PF_ArbitraryH value;
    void* refconPV;
} PF_ArbitraryDef;

typedef A_u_long PF_PathID;

typedef struct {
    PF_PathID path_id;
    A_long reserved0;
    A_long dephault;
} PF_PathDef;

typedef struct {
    PF_ParamValue value;
    union {
        const A_char* namesptr;
    } u;
} PF_ButtonDef;

typedef struct {
    PF_FpLong x_value, y_value, z_value;
    PF_FpLong x_dephault, y_dephault, z_dephault;
    char reserved[16];
} PF_Point3DDef;

typedef union {
    PF_LayerDef ld;
    PF_SliderDef sd;
    PF_FixedSliderDef fd;
    PF_AngleDef ad;
    PF_CheckBoxDef bd;
    PF_ColorDef cd;
    PF_PointDef td;
    PF_PopupDef pd;
    PF_FloatSliderDef fs_d;
    PF_ArbitraryDef arb_d;
    PF_PathDef path_d;
    PF_ButtonDef button_d;
    PF_Point3DDef point3d_d;
} PF_ParamDefUnion;

// The member at offset 16 is called `name` here (older SDK spelling); reach it only through
// RUVIVEDU_PARAM_NAME below so that SDKs with a different spelling need one definition changed.
typedef struct PF_ParamDef {
    union {
        A_long id;
        PF_ChangeFlags change_flags;
    } uu;
    PF_ParamUIFlags ui_flags;
    A_short ui_width;
    A_short ui_height;
    PF_ParamType param_type;
    A_char name[PF_MAX_EFFECT_PARAM_NAME_LEN + 1];
    PF_ParamFlags flags;
    A_long unused;
    PF_ParamDefUnion u;
} PF_ParamDef, *PF_ParamDefPtr, **PF_ParamList;

// ---------------------------------------------------------------------------------------------------
// Callbacks
// ---------------------------------------------------------------------------------------------------

struct PF_CustomUIInfo;
typedef struct _PF_LayerAudio* PF_LayerAudio;
typedef void* PF_SndSamplePtr;

typedef struct {
    PF_Err (*checkout_param)(PF_ProgPtr effect_ref, PF_ParamIndex index, A_long what_time, A_long time_step,
                             A_u_long time_scale, PF_ParamDef* param);
    PF_Err (*checkin_param)(PF_ProgPtr effect_ref, PF_ParamDef* param);
    PF_Err (*add_param)(PF_ProgPtr effect_ref, PF_ParamIndex index, PF_ParamDefPtr def);
    PF_Err (*abort)(PF_ProgPtr effect_ref);
    PF_Err (*progress)(PF_ProgPtr effect_ref, A_long current, A_long total);
    PF_Err (*register_ui)(PF_ProgPtr effect_ref, PF_CustomUIInfo* cust_info);
    PF_Err (*checkout_layer_audio)(PF_ProgPtr effect_ref, PF_ParamIndex index, A_long start_time, A_long duration,
                                   A_u_long time_scale, PF_UFixed rate, A_long bytes_per_sample, A_long num_channels,
                                   A_long fmt_signed, PF_LayerAudio* audio);
    PF_Err (*checkin_layer_audio)(PF_ProgPtr effect_ref, PF_LayerAudio audio);
    PF_Err (*get_audio_data)(PF_ProgPtr effect_ref, PF_LayerAudio audio, PF_SndSamplePtr* data, A_long* num_samples,
                             PF_UFixed* rate, A_long* bytes_per_sample, A_long* num_channels, A_long* fmt_signed);
    void* reserved_str[3];
    void* reserved[10];
} PF_InteractCallbacks;

// SDK header: Headers/AE_EffectCB.h
typedef struct {
    A_FpLong (*atan)(A_FpLong);
    A_FpLong (*atan2)(A_FpLong y, A_FpLong x);
    A_FpLong (*ceil)(A_FpLong);
    A_FpLong (*cos)(A_FpLong);
    A_FpLong (*exp)(A_FpLong);
    A_FpLong (*fabs)(A_FpLong);
    A_FpLong (*floor)(A_FpLong);
    A_FpLong (*fmod)(A_FpLong x, A_FpLong y);
    A_FpLong (*hypot)(A_FpLong x, A_FpLong y);
    A_FpLong (*log)(A_FpLong);
    A_FpLong (*log10)(A_FpLong);
    A_FpLong (*pow)(A_FpLong x, A_FpLong y);
    A_FpLong (*sin)(A_FpLong);
    A_FpLong (*sqrt)(A_FpLong);
    A_FpLong (*tan)(A_FpLong);
    int (*sprintf)(A_char* dst, const A_char* fmt, ...);  // variadic: call it as C's sprintf
    A_char* (*strcpy)(A_char* dst, const A_char* src);
    A_FpLong (*asin)(A_FpLong);
    A_FpLong (*acos)(A_FpLong);
    A_long unused_longA[1];
} PF_ANSICallbacks;

typedef PF_Fixed PF_HLS_Pixel[3];
typedef PF_Fixed PF_YIQ_Pixel[3];

typedef struct {
    PF_Err (*RGBtoHLS)(PF_ProgPtr effect_ref, PF_Pixel* rgb, PF_HLS_Pixel hls);
    PF_Err (*HLStoRGB)(PF_ProgPtr effect_ref, PF_HLS_Pixel hls, PF_Pixel* rgb);
    PF_Err (*RGBtoYIQ)(PF_ProgPtr effect_ref, PF_Pixel* rgb, PF_YIQ_Pixel yiq);
    PF_Err (*YIQtoRGB)(PF_ProgPtr effect_ref, PF_YIQ_Pixel yiq, PF_Pixel* rgb);
    PF_Err (*Luminance)(PF_ProgPtr effect_ref, PF_Pixel* rgb, A_long* lum100);
    PF_Err (*Hue)(PF_ProgPtr effect_ref, PF_Pixel* rgb, A_long* hue);
    PF_Err (*Lightness)(PF_ProgPtr effect_ref, PF_Pixel* rgb, A_long* lightness);
    PF_Err (*Saturation)(PF_ProgPtr effect_ref, PF_Pixel* rgb, A_long* saturation);
} PF_ColorCallbacks;

// Members this plug-in never calls are kept as opaque pointers of the right size and place.
typedef struct _PF_UtilCallbacks {
    void* begin_sampling;
    void* subpixel_sample;
    void* area_sample;
    void* get_batch_func_is_deprecated;
    void* end_sampling;
    void* composite_rect;
    void* blend;
    void* convolve;
    // Null rectangles mean the whole worlds.
    PF_Err (*copy)(PF_ProgPtr effect_ref, PF_EffectWorld* src, PF_EffectWorld* dst, PF_Rect* src_r, PF_Rect* dst_r);
    void* fill;
    void* gaussian_kernel;
    void* iterate;
    void* premultiply;
    void* premultiply_color;
    void* new_world;
    void* dispose_world;
    void* iterate_origin;
    void* iterate_lut;
    void* transfer_rect;
    void* transform_world;
    void* host_new_handle;
    void* host_lock_handle;
    void* host_unlock_handle;
    void* host_dispose_handle;
    void* get_callback_addr;
    void* app;
    PF_ANSICallbacks ansi;
    PF_ColorCallbacks colorCB;
    void* get_platform_data;
    void* host_get_handle_size;
    void* iterate_origin_non_clip_src;
    void* iterate_generic;
    void* host_resize_handle;
    void* subpixel_sample16;
    void* area_sample16;
    void* fill16;
    void* premultiply_color16;
    void* iterate16;
    void* iterate_origin16;
    void* iterate_origin_non_clip_src16;
    void* get_pixel_data8;
    void* get_pixel_data16;
    A_long reserved[1];
} PF_UtilCallbacks;

// ---------------------------------------------------------------------------------------------------
// Basic suite and world suite
// ---------------------------------------------------------------------------------------------------

// SDK header: Headers/SP/SPBasic.h
typedef struct SPBasicSuite {
    SPErr (*AcquireSuite)(const char* name, std::int32_t version, const void** suite);
    SPErr (*ReleaseSuite)(const char* name, std::int32_t version);
    SPBoolean (*IsEqual)(const char* token1, const char* token2);
    SPErr (*AllocateBlock)(std::size_t size, void** block);
    SPErr (*FreeBlock)(void* block);
    SPErr (*ReallocateBlock)(void* block, std::size_t new_size, void** new_block);
    SPErr (*Undefined)(void);
} SPBasicSuite;

// SDK header: Headers/AE_EffectCBSuites.h
typedef struct PF_WorldSuite2 {
    PF_Err (*PF_NewWorld)(PF_ProgPtr effect_ref, A_long widthL, A_long heightL, PF_Boolean clear_pixB,
                          PF_PixelFormat pixel_format, PF_EffectWorld* worldP);
    PF_Err (*PF_DisposeWorld)(PF_ProgPtr effect_ref, PF_EffectWorld* worldP);
    PF_Err (*PF_GetPixelFormat)(const PF_EffectWorld* worldP, PF_PixelFormat* pixel_formatP);
} PF_WorldSuite2;

// ---------------------------------------------------------------------------------------------------
// In and out records
// ---------------------------------------------------------------------------------------------------

// SDK header: Headers/AE_Effect.h
typedef struct PF_InData {
    PF_InteractCallbacks inter;
    struct _PF_UtilCallbacks* utils;
    PF_ProgPtr effect_ref;
    PF_Quality quality;
    PF_SpecVersion version;
    A_long serial_num;
    A_long appl_id;  // 'FXTC' for After Effects, 'PrMr' for Premiere Pro
    A_long num_params;
    A_long reserved;
    A_long what_cpu;
    A_long what_fpu;
    A_long current_time;
    A_long time_step;
    A_long total_time;
    A_long local_time_step;
    A_u_long time_scale;
    PF_Field field;
    PF_Fixed shutter_angle;
    A_long width;
    A_long height;
    PF_Rect extent_hint;
    A_long output_origin_x;
    A_long output_origin_y;
    PF_RationalScale downsample_x;
    PF_RationalScale downsample_y;
    PF_RationalScale pixel_aspect_ratio;
    PF_InFlags in_flags;
    PF_Handle global_data;
    PF_Handle sequence_data;
    PF_Handle frame_data;
    A_long start_sampL;
    A_long dur_sampL;
    A_long total_sampL;
    PF_SoundWorld src_snd;
    struct SPBasicSuite* pica_basicP;
    A_long pre_effect_source_origin_x;
    A_long pre_effect_source_origin_y;
    PF_Fixed shutter_phase;
} PF_InData;

typedef struct PF_OutData {
    A_u_long my_version;
    A_char name[PF_MAX_EFFECT_NAME_LEN + 1];
    PF_Handle global_data;
    A_long num_params;
    PF_Handle sequence_data;
    A_long flat_sdata_size;
    PF_Handle frame_data;
    A_long width;
    A_long height;
    PF_Point origin;
    PF_OutFlags out_flags;
    A_char return_msg[PF_MAX_EFFECT_MSG_LEN + 1];
    A_long start_sampL;
    A_long dur_sampL;
    PF_SoundWorld dest_snd;
    PF_OutFlags2 out_flags2;
} PF_OutData;

// ---------------------------------------------------------------------------------------------------
// Smart rendering
// ---------------------------------------------------------------------------------------------------

typedef struct {
    PF_LRect rect;
    PF_Field field;
    PF_ChannelMask channel_mask;
    PF_Boolean preserve_rgb_of_zero_alpha;
    char unused[3];
    A_long reserved[4];
} PF_RenderRequest;

typedef struct {
    PF_RenderRequest output_request;
    short bitdepth;
    const void* gpu_data;
    PF_GPU_Framework what_gpu;
    A_u_long device_index;
} PF_PreRenderInput;

typedef void (*PF_DeletePreRenderDataFunc)(void* pre_render_data);

typedef struct {
    PF_LRect result_rect;
    PF_LRect max_result_rect;
    PF_Boolean solid;
    PF_Boolean reserved;
    PF_RenderOutputFlags flags;
    void* pre_render_data;
    PF_DeletePreRenderDataFunc delete_pre_render_data_func;
} PF_PreRenderOutput;

typedef struct {
    PF_LRect result_rect;
    PF_LRect max_result_rect;
    PF_RationalScale par;
    PF_Boolean solid;
    PF_Boolean reservedB[3];
    A_long ref_width;
    A_long ref_height;
    A_long reserved[6];
} PF_CheckoutResult;

typedef struct {
    PF_Err (*checkout_layer)(PF_ProgPtr effect_ref, PF_ParamIndex index, A_long checkout_idL,
                             const PF_RenderRequest* req, A_long what_time, A_long time_step, A_u_long time_scale,
                             PF_CheckoutResult* checkout_result);
    PF_Err (*GuidMixInPtr)(PF_ProgPtr effect_ref, A_u_long buf_sizeLu, const void* buf);
} PF_PreRenderCallbacks;

typedef struct {
    PF_PreRenderInput* input;
    PF_PreRenderOutput* output;
    PF_PreRenderCallbacks* cb;
} PF_PreRenderExtra;

typedef struct {
    PF_RenderRequest output_request;
    short bitdepth;
    void* pre_render_data;
    const void* gpu_data;
    PF_GPU_Framework what_gpu;
    A_u_long device_index;
} PF_SmartRenderInput;

typedef struct {
    PF_Err (*checkout_layer_pixels)(PF_ProgPtr effect_ref, A_long checkout_idL, PF_EffectWorld** pixels);
    PF_Err (*checkin_layer_pixels)(PF_ProgPtr effect_ref, A_long checkout_idL);
    PF_Err (*checkout_output)(PF_ProgPtr effect_ref, PF_EffectWorld** output);
} PF_SmartRenderCallbacks;

typedef struct {
    PF_SmartRenderInput* input;
    PF_SmartRenderCallbacks* cb;
} PF_SmartRenderExtra;

// ---------------------------------------------------------------------------------------------------
// Registration
// ---------------------------------------------------------------------------------------------------

// SDK header: Headers/AE_PluginData.h
typedef struct PF_PluginData* PF_PluginDataPtr;  // the host's opaque registration pointer

// The host's registration callback, handed to PluginDataEntryFunction. Strings are unsigned chars.
typedef A_Err (*PF_PluginDataCB)(PF_PluginDataPtr inPtr, const A_u_char* inNamePtr, const A_u_char* inMatchNamePtr,
                                 const A_u_char* inCategoryPtr, const A_u_char* inEntryPointNamePtr, A_long inkind,
                                 A_long inApiVersionMajor, A_long inApiVersionMinor, A_long inReservedInfo);

// SDK header: none
// ---------------------------------------------------------------------------------------------------
// Layout checks. The host reads these records by offset, so a member out of place is a silent
// corruption; every figure holds for 64-bit Windows (MSVC), macOS x86_64/arm64 and 64-bit Linux.
// ---------------------------------------------------------------------------------------------------

#define RUVIVEDU_CHECK_SIZE(type, size) static_assert(sizeof(void*) != 8 || sizeof(type) == (size), "size of " #type)
#define RUVIVEDU_CHECK_OFFSET(type, member, off) \
    static_assert(sizeof(void*) != 8 || offsetof(type, member) == (off), "offset of " #type "::" #member)

RUVIVEDU_CHECK_SIZE(A_long, 4);
RUVIVEDU_CHECK_SIZE(A_short, 2);
RUVIVEDU_CHECK_SIZE(A_Boolean, 1);
RUVIVEDU_CHECK_SIZE(PF_Boolean, 1);
RUVIVEDU_CHECK_SIZE(PF_Fixed, 4);
RUVIVEDU_CHECK_SIZE(PF_Handle, 8);
RUVIVEDU_CHECK_SIZE(PF_RenderOutputFlags, 2);
RUVIVEDU_CHECK_SIZE(PF_ProgPtr, 8);
RUVIVEDU_CHECK_SIZE(SPErr, 4);

RUVIVEDU_CHECK_SIZE(PF_Point, 8);
RUVIVEDU_CHECK_OFFSET(PF_Point, v, 4);
RUVIVEDU_CHECK_SIZE(PF_LRect, 16);
RUVIVEDU_CHECK_OFFSET(PF_LRect, top, 4);
RUVIVEDU_CHECK_OFFSET(PF_LRect, right, 8);
RUVIVEDU_CHECK_OFFSET(PF_LRect, bottom, 12);
RUVIVEDU_CHECK_SIZE(PF_RationalScale, 8);
RUVIVEDU_CHECK_OFFSET(PF_RationalScale, den, 4);
RUVIVEDU_CHECK_SIZE(PF_SpecVersion, 4);
RUVIVEDU_CHECK_OFFSET(PF_SpecVersion, minor, 2);
RUVIVEDU_CHECK_SIZE(PF_Pixel, 4);
RUVIVEDU_CHECK_OFFSET(PF_Pixel, red, 1);
RUVIVEDU_CHECK_OFFSET(PF_Pixel, green, 2);
RUVIVEDU_CHECK_OFFSET(PF_Pixel, blue, 3);
RUVIVEDU_CHECK_SIZE(PF_Pixel16, 8);
RUVIVEDU_CHECK_OFFSET(PF_Pixel16, red, 2);
RUVIVEDU_CHECK_OFFSET(PF_Pixel16, green, 4);
RUVIVEDU_CHECK_OFFSET(PF_Pixel16, blue, 6);
RUVIVEDU_CHECK_SIZE(PF_PixelFloat, 16);
RUVIVEDU_CHECK_OFFSET(PF_PixelFloat, red, 4);
RUVIVEDU_CHECK_OFFSET(PF_PixelFloat, green, 8);
RUVIVEDU_CHECK_OFFSET(PF_PixelFloat, blue, 12);
RUVIVEDU_CHECK_SIZE(PF_SoundFormatInfo, 16);
RUVIVEDU_CHECK_OFFSET(PF_SoundFormatInfo, num_channels, 8);
RUVIVEDU_CHECK_OFFSET(PF_SoundFormatInfo, format, 10);
RUVIVEDU_CHECK_OFFSET(PF_SoundFormatInfo, sample_size, 12);
RUVIVEDU_CHECK_SIZE(PF_SoundWorld, 32);
RUVIVEDU_CHECK_OFFSET(PF_SoundWorld, num_samples, 16);
RUVIVEDU_CHECK_OFFSET(PF_SoundWorld, dataP, 24);

RUVIVEDU_CHECK_SIZE(PF_LayerDef, 120);
RUVIVEDU_CHECK_OFFSET(PF_LayerDef, reserved1, 8);
RUVIVEDU_CHECK_OFFSET(PF_LayerDef, world_flags, 16);
RUVIVEDU_CHECK_OFFSET(PF_LayerDef, data, 24);
RUVIVEDU_CHECK_OFFSET(PF_LayerDef, rowbytes, 32);
RUVIVEDU_CHECK_OFFSET(PF_LayerDef, width, 36);
RUVIVEDU_CHECK_OFFSET(PF_LayerDef, height, 40);
RUVIVEDU_CHECK_OFFSET(PF_LayerDef, extent_hint, 44);
RUVIVEDU_CHECK_OFFSET(PF_LayerDef, platform_ref, 64);
RUVIVEDU_CHECK_OFFSET(PF_LayerDef, reserved_long1, 72);
RUVIVEDU_CHECK_OFFSET(PF_LayerDef, reserved_long4, 80);
RUVIVEDU_CHECK_OFFSET(PF_LayerDef, pix_aspect_ratio, 88);
RUVIVEDU_CHECK_OFFSET(PF_LayerDef, reserved_long2, 96);
RUVIVEDU_CHECK_OFFSET(PF_LayerDef, origin_x, 104);
RUVIVEDU_CHECK_OFFSET(PF_LayerDef, origin_y, 108);
RUVIVEDU_CHECK_OFFSET(PF_LayerDef, reserved_long3, 112);
RUVIVEDU_CHECK_OFFSET(PF_LayerDef, dephault, 116);

RUVIVEDU_CHECK_SIZE(PF_SliderDef, 88);
RUVIVEDU_CHECK_SIZE(PF_FixedSliderDef, 92);
RUVIVEDU_CHECK_OFFSET(PF_FixedSliderDef, value_str, 4);
RUVIVEDU_CHECK_OFFSET(PF_FixedSliderDef, value_desc, 36);
RUVIVEDU_CHECK_OFFSET(PF_FixedSliderDef, valid_min, 68);
RUVIVEDU_CHECK_OFFSET(PF_FixedSliderDef, valid_max, 72);
RUVIVEDU_CHECK_OFFSET(PF_FixedSliderDef, slider_min, 76);
RUVIVEDU_CHECK_OFFSET(PF_FixedSliderDef, slider_max, 80);
RUVIVEDU_CHECK_OFFSET(PF_FixedSliderDef, dephault, 84);
RUVIVEDU_CHECK_OFFSET(PF_FixedSliderDef, precision, 88);
RUVIVEDU_CHECK_OFFSET(PF_FixedSliderDef, display_flags, 90);
RUVIVEDU_CHECK_SIZE(PF_AngleDef, 16);
RUVIVEDU_CHECK_OFFSET(PF_AngleDef, dephault, 4);
RUVIVEDU_CHECK_OFFSET(PF_AngleDef, valid_min, 8);
RUVIVEDU_CHECK_OFFSET(PF_AngleDef, valid_max, 12);
RUVIVEDU_CHECK_SIZE(PF_CheckBoxDef, 16);
RUVIVEDU_CHECK_OFFSET(PF_CheckBoxDef, dephault, 4);
RUVIVEDU_CHECK_OFFSET(PF_CheckBoxDef, reserved, 5);
RUVIVEDU_CHECK_OFFSET(PF_CheckBoxDef, reserved1, 6);
RUVIVEDU_CHECK_OFFSET(PF_CheckBoxDef, u, 8);
RUVIVEDU_CHECK_SIZE(PF_ColorDef, 8);
RUVIVEDU_CHECK_SIZE(PF_PointDef, 20);
RUVIVEDU_CHECK_OFFSET(PF_PointDef, y_value, 4);
RUVIVEDU_CHECK_OFFSET(PF_PointDef, reserved, 8);
RUVIVEDU_CHECK_OFFSET(PF_PointDef, restrict_bounds, 11);
RUVIVEDU_CHECK_OFFSET(PF_PointDef, x_dephault, 12);
RUVIVEDU_CHECK_OFFSET(PF_PointDef, y_dephault, 16);
RUVIVEDU_CHECK_SIZE(PF_PopupDef, 16);
RUVIVEDU_CHECK_OFFSET(PF_PopupDef, num_choices, 4);
RUVIVEDU_CHECK_OFFSET(PF_PopupDef, dephault, 6);
RUVIVEDU_CHECK_OFFSET(PF_PopupDef, u, 8);
RUVIVEDU_CHECK_SIZE(PF_FloatSliderDef, 88);
RUVIVEDU_CHECK_SIZE(PF_ArbitraryDef, 32);
RUVIVEDU_CHECK_SIZE(PF_PathDef, 12);
RUVIVEDU_CHECK_SIZE(PF_ButtonDef, 16);
RUVIVEDU_CHECK_SIZE(PF_Point3DDef, 64);
RUVIVEDU_CHECK_SIZE(PF_ParamDefUnion, 120);

RUVIVEDU_CHECK_SIZE(PF_ParamDef, 176);
RUVIVEDU_CHECK_OFFSET(PF_ParamDef, uu, 0);
RUVIVEDU_CHECK_OFFSET(PF_ParamDef, ui_flags, 4);
RUVIVEDU_CHECK_OFFSET(PF_ParamDef, ui_width, 8);
RUVIVEDU_CHECK_OFFSET(PF_ParamDef, ui_height, 10);
RUVIVEDU_CHECK_OFFSET(PF_ParamDef, param_type, 12);
RUVIVEDU_CHECK_OFFSET(PF_ParamDef, name, 16);
RUVIVEDU_CHECK_OFFSET(PF_ParamDef, flags, 48);
RUVIVEDU_CHECK_OFFSET(PF_ParamDef, unused, 52);
RUVIVEDU_CHECK_OFFSET(PF_ParamDef, u, 56);

RUVIVEDU_CHECK_SIZE(PF_InteractCallbacks, 176);
RUVIVEDU_CHECK_OFFSET(PF_InteractCallbacks, checkin_param, 8);
RUVIVEDU_CHECK_OFFSET(PF_InteractCallbacks, add_param, 16);
RUVIVEDU_CHECK_OFFSET(PF_InteractCallbacks, abort, 24);
RUVIVEDU_CHECK_OFFSET(PF_InteractCallbacks, progress, 32);
RUVIVEDU_CHECK_OFFSET(PF_InteractCallbacks, register_ui, 40);
RUVIVEDU_CHECK_OFFSET(PF_InteractCallbacks, checkout_layer_audio, 48);
RUVIVEDU_CHECK_OFFSET(PF_InteractCallbacks, checkin_layer_audio, 56);
RUVIVEDU_CHECK_OFFSET(PF_InteractCallbacks, get_audio_data, 64);
RUVIVEDU_CHECK_OFFSET(PF_InteractCallbacks, reserved_str, 72);
RUVIVEDU_CHECK_OFFSET(PF_InteractCallbacks, reserved, 96);

RUVIVEDU_CHECK_SIZE(PF_ANSICallbacks, 160);
RUVIVEDU_CHECK_OFFSET(PF_ANSICallbacks, sprintf, 120);
RUVIVEDU_CHECK_OFFSET(PF_ANSICallbacks, strcpy, 128);
RUVIVEDU_CHECK_OFFSET(PF_ANSICallbacks, asin, 136);
RUVIVEDU_CHECK_OFFSET(PF_ANSICallbacks, acos, 144);
RUVIVEDU_CHECK_OFFSET(PF_ANSICallbacks, unused_longA, 152);
RUVIVEDU_CHECK_SIZE(PF_ColorCallbacks, 64);

RUVIVEDU_CHECK_SIZE(PF_UtilCallbacks, 552);
RUVIVEDU_CHECK_OFFSET(PF_UtilCallbacks, get_batch_func_is_deprecated, 24);
RUVIVEDU_CHECK_OFFSET(PF_UtilCallbacks, copy, 64);
RUVIVEDU_CHECK_OFFSET(PF_UtilCallbacks, transform_world, 152);
RUVIVEDU_CHECK_OFFSET(PF_UtilCallbacks, get_callback_addr, 192);
RUVIVEDU_CHECK_OFFSET(PF_UtilCallbacks, app, 200);
RUVIVEDU_CHECK_OFFSET(PF_UtilCallbacks, ansi, 208);
RUVIVEDU_CHECK_OFFSET(PF_UtilCallbacks, ansi.sprintf, 328);
RUVIVEDU_CHECK_OFFSET(PF_UtilCallbacks, ansi.strcpy, 336);
RUVIVEDU_CHECK_OFFSET(PF_UtilCallbacks, colorCB, 368);
RUVIVEDU_CHECK_OFFSET(PF_UtilCallbacks, get_platform_data, 432);
RUVIVEDU_CHECK_OFFSET(PF_UtilCallbacks, host_resize_handle, 464);
RUVIVEDU_CHECK_OFFSET(PF_UtilCallbacks, get_pixel_data16, 536);
RUVIVEDU_CHECK_OFFSET(PF_UtilCallbacks, reserved, 544);

RUVIVEDU_CHECK_SIZE(SPBasicSuite, 56);
RUVIVEDU_CHECK_OFFSET(SPBasicSuite, ReleaseSuite, 8);
RUVIVEDU_CHECK_OFFSET(SPBasicSuite, IsEqual, 16);
RUVIVEDU_CHECK_OFFSET(SPBasicSuite, AllocateBlock, 24);
RUVIVEDU_CHECK_OFFSET(SPBasicSuite, FreeBlock, 32);
RUVIVEDU_CHECK_OFFSET(SPBasicSuite, ReallocateBlock, 40);
RUVIVEDU_CHECK_OFFSET(SPBasicSuite, Undefined, 48);
RUVIVEDU_CHECK_SIZE(PF_WorldSuite2, 24);
RUVIVEDU_CHECK_OFFSET(PF_WorldSuite2, PF_DisposeWorld, 8);
RUVIVEDU_CHECK_OFFSET(PF_WorldSuite2, PF_GetPixelFormat, 16);

RUVIVEDU_CHECK_SIZE(PF_InData, 408);
RUVIVEDU_CHECK_OFFSET(PF_InData, utils, 176);
RUVIVEDU_CHECK_OFFSET(PF_InData, effect_ref, 184);
RUVIVEDU_CHECK_OFFSET(PF_InData, quality, 192);
RUVIVEDU_CHECK_OFFSET(PF_InData, version, 196);
RUVIVEDU_CHECK_OFFSET(PF_InData, serial_num, 200);
RUVIVEDU_CHECK_OFFSET(PF_InData, appl_id, 204);
RUVIVEDU_CHECK_OFFSET(PF_InData, num_params, 208);
RUVIVEDU_CHECK_OFFSET(PF_InData, reserved, 212);
RUVIVEDU_CHECK_OFFSET(PF_InData, what_cpu, 216);
RUVIVEDU_CHECK_OFFSET(PF_InData, what_fpu, 220);
RUVIVEDU_CHECK_OFFSET(PF_InData, current_time, 224);
RUVIVEDU_CHECK_OFFSET(PF_InData, time_step, 228);
RUVIVEDU_CHECK_OFFSET(PF_InData, total_time, 232);
RUVIVEDU_CHECK_OFFSET(PF_InData, local_time_step, 236);
RUVIVEDU_CHECK_OFFSET(PF_InData, time_scale, 240);
RUVIVEDU_CHECK_OFFSET(PF_InData, field, 244);
RUVIVEDU_CHECK_OFFSET(PF_InData, shutter_angle, 248);
RUVIVEDU_CHECK_OFFSET(PF_InData, width, 252);
RUVIVEDU_CHECK_OFFSET(PF_InData, height, 256);
RUVIVEDU_CHECK_OFFSET(PF_InData, extent_hint, 260);
RUVIVEDU_CHECK_OFFSET(PF_InData, output_origin_x, 276);
RUVIVEDU_CHECK_OFFSET(PF_InData, output_origin_y, 280);
RUVIVEDU_CHECK_OFFSET(PF_InData, downsample_x, 284);
RUVIVEDU_CHECK_OFFSET(PF_InData, downsample_y, 292);
RUVIVEDU_CHECK_OFFSET(PF_InData, pixel_aspect_ratio, 300);
RUVIVEDU_CHECK_OFFSET(PF_InData, in_flags, 308);
RUVIVEDU_CHECK_OFFSET(PF_InData, global_data, 312);
RUVIVEDU_CHECK_OFFSET(PF_InData, sequence_data, 320);
RUVIVEDU_CHECK_OFFSET(PF_InData, frame_data, 328);
RUVIVEDU_CHECK_OFFSET(PF_InData, start_sampL, 336);
RUVIVEDU_CHECK_OFFSET(PF_InData, dur_sampL, 340);
RUVIVEDU_CHECK_OFFSET(PF_InData, total_sampL, 344);
RUVIVEDU_CHECK_OFFSET(PF_InData, src_snd, 352);
RUVIVEDU_CHECK_OFFSET(PF_InData, pica_basicP, 384);
RUVIVEDU_CHECK_OFFSET(PF_InData, pre_effect_source_origin_x, 392);
RUVIVEDU_CHECK_OFFSET(PF_InData, pre_effect_source_origin_y, 396);
RUVIVEDU_CHECK_OFFSET(PF_InData, shutter_phase, 400);

RUVIVEDU_CHECK_SIZE(PF_OutData, 408);
RUVIVEDU_CHECK_OFFSET(PF_OutData, name, 4);
RUVIVEDU_CHECK_OFFSET(PF_OutData, global_data, 40);
RUVIVEDU_CHECK_OFFSET(PF_OutData, num_params, 48);
RUVIVEDU_CHECK_OFFSET(PF_OutData, sequence_data, 56);
RUVIVEDU_CHECK_OFFSET(PF_OutData, flat_sdata_size, 64);
RUVIVEDU_CHECK_OFFSET(PF_OutData, frame_data, 72);
RUVIVEDU_CHECK_OFFSET(PF_OutData, width, 80);
RUVIVEDU_CHECK_OFFSET(PF_OutData, height, 84);
RUVIVEDU_CHECK_OFFSET(PF_OutData, origin, 88);
RUVIVEDU_CHECK_OFFSET(PF_OutData, out_flags, 96);
RUVIVEDU_CHECK_OFFSET(PF_OutData, return_msg, 100);
RUVIVEDU_CHECK_OFFSET(PF_OutData, start_sampL, 356);
RUVIVEDU_CHECK_OFFSET(PF_OutData, dur_sampL, 360);
RUVIVEDU_CHECK_OFFSET(PF_OutData, dest_snd, 368);
RUVIVEDU_CHECK_OFFSET(PF_OutData, out_flags2, 400);

RUVIVEDU_CHECK_SIZE(PF_RenderRequest, 44);
RUVIVEDU_CHECK_OFFSET(PF_RenderRequest, field, 16);
RUVIVEDU_CHECK_OFFSET(PF_RenderRequest, channel_mask, 20);
RUVIVEDU_CHECK_OFFSET(PF_RenderRequest, preserve_rgb_of_zero_alpha, 24);
RUVIVEDU_CHECK_OFFSET(PF_RenderRequest, unused, 25);
RUVIVEDU_CHECK_OFFSET(PF_RenderRequest, reserved, 28);
RUVIVEDU_CHECK_SIZE(PF_PreRenderInput, 64);
RUVIVEDU_CHECK_OFFSET(PF_PreRenderInput, bitdepth, 44);
RUVIVEDU_CHECK_OFFSET(PF_PreRenderInput, gpu_data, 48);
RUVIVEDU_CHECK_OFFSET(PF_PreRenderInput, what_gpu, 56);
RUVIVEDU_CHECK_OFFSET(PF_PreRenderInput, device_index, 60);
RUVIVEDU_CHECK_SIZE(PF_PreRenderOutput, 56);
RUVIVEDU_CHECK_OFFSET(PF_PreRenderOutput, max_result_rect, 16);
RUVIVEDU_CHECK_OFFSET(PF_PreRenderOutput, solid, 32);
RUVIVEDU_CHECK_OFFSET(PF_PreRenderOutput, reserved, 33);
RUVIVEDU_CHECK_OFFSET(PF_PreRenderOutput, flags, 34);
RUVIVEDU_CHECK_OFFSET(PF_PreRenderOutput, pre_render_data, 40);
RUVIVEDU_CHECK_OFFSET(PF_PreRenderOutput, delete_pre_render_data_func, 48);
RUVIVEDU_CHECK_SIZE(PF_CheckoutResult, 76);
RUVIVEDU_CHECK_OFFSET(PF_CheckoutResult, max_result_rect, 16);
RUVIVEDU_CHECK_OFFSET(PF_CheckoutResult, par, 32);
RUVIVEDU_CHECK_OFFSET(PF_CheckoutResult, solid, 40);
RUVIVEDU_CHECK_OFFSET(PF_CheckoutResult, reservedB, 41);
RUVIVEDU_CHECK_OFFSET(PF_CheckoutResult, ref_width, 44);
RUVIVEDU_CHECK_OFFSET(PF_CheckoutResult, ref_height, 48);
RUVIVEDU_CHECK_OFFSET(PF_CheckoutResult, reserved, 52);
RUVIVEDU_CHECK_SIZE(PF_PreRenderCallbacks, 16);
RUVIVEDU_CHECK_OFFSET(PF_PreRenderCallbacks, GuidMixInPtr, 8);
RUVIVEDU_CHECK_SIZE(PF_PreRenderExtra, 24);
RUVIVEDU_CHECK_OFFSET(PF_PreRenderExtra, output, 8);
RUVIVEDU_CHECK_OFFSET(PF_PreRenderExtra, cb, 16);
RUVIVEDU_CHECK_SIZE(PF_SmartRenderInput, 72);
RUVIVEDU_CHECK_OFFSET(PF_SmartRenderInput, bitdepth, 44);
RUVIVEDU_CHECK_OFFSET(PF_SmartRenderInput, pre_render_data, 48);
RUVIVEDU_CHECK_OFFSET(PF_SmartRenderInput, gpu_data, 56);
RUVIVEDU_CHECK_OFFSET(PF_SmartRenderInput, what_gpu, 64);
RUVIVEDU_CHECK_OFFSET(PF_SmartRenderInput, device_index, 68);
RUVIVEDU_CHECK_SIZE(PF_SmartRenderCallbacks, 24);
RUVIVEDU_CHECK_OFFSET(PF_SmartRenderCallbacks, checkin_layer_pixels, 8);
RUVIVEDU_CHECK_OFFSET(PF_SmartRenderCallbacks, checkout_output, 16);
RUVIVEDU_CHECK_SIZE(PF_SmartRenderExtra, 16);
RUVIVEDU_CHECK_OFFSET(PF_SmartRenderExtra, cb, 8);

#undef RUVIVEDU_CHECK_SIZE
#undef RUVIVEDU_CHECK_OFFSET

#endif  // RUVIVEDU_USE_HOST_SDK

// ---------------------------------------------------------------------------------------------------
// Project additions, defined in both modes
// ---------------------------------------------------------------------------------------------------

/// Member of PF_ParamDef that holds the parameter name. Older SDKs (and our declarations) call it
/// `name`; newer SDKs spell it `name_do_not_use_directly`. Define RUVIVEDU_PARAM_NAME_MEMBER (CMake:
/// RUVIVEDU_HOST_SDK_PARAM_NAME) to switch, or override RUVIVEDU_PARAM_NAME wholesale.
#ifndef RUVIVEDU_PARAM_NAME_MEMBER
#define RUVIVEDU_PARAM_NAME_MEMBER name
#endif

/// The one way all code reaches a parameter definition's name field: RUVIVEDU_PARAM_NAME(def) is the
/// A_char[32] array of the PF_ParamDef `def` (an lvalue, not a pointer).
#ifndef RUVIVEDU_PARAM_NAME
#define RUVIVEDU_PARAM_NAME(def) ((def).RUVIVEDU_PARAM_NAME_MEMBER)
#endif

/// Shape of the exported command entry, `EntryPointFunc`: command, in_data, out_data, the parameter
/// array (params[0] is the input layer, a NULL follows the last entry), the output world and the
/// command's extra record. C linkage on the plug-in side.
typedef PF_Err (*ruvivedu_entry_point_func)(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                                            PF_LayerDef* output, void* extra);

/// Shape of the exported registration entry, `PluginDataEntryFunction`: the host's registration
/// pointer and callback, its basic suite, and its name and version strings.
typedef PF_Err (*ruvivedu_plugin_data_entry_func)(PF_PluginDataPtr inPtr, PF_PluginDataCB inPluginDataCallBackPtr,
                                                  SPBasicSuite* inSPBasicSuitePtr, const char* inHostName,
                                                  const char* inHostVersion);
