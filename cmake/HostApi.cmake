# ruvivedu_host_api: the INTERFACE target that puts host_api.h (and, on request, the host's SDK) on the
# include path of everything that talks to the host: the plug-in shell and the substitute host.
#
# RUVIVEDU_HOST_SDK_DIR (cache path, declared in the top-level CMakeLists.txt): when set, host_api.h
# includes the SDK's own headers from that folder instead of our declarations. Windows and macOS builds
# only; nothing a cross build compiles for the build machine links this target.
# RUVIVEDU_HOST_SDK_PARAM_NAME: the SDK's spelling of PF_ParamDef's name member (newer SDKs:
# name_do_not_use_directly).

set(RUVIVEDU_HOST_SDK_PARAM_NAME "name" CACHE STRING
    "Name of PF_ParamDef's name member in the host SDK in use (name or name_do_not_use_directly)")

add_library(ruvivedu_host_api INTERFACE)
target_include_directories(ruvivedu_host_api INTERFACE "${CMAKE_CURRENT_LIST_DIR}/../src/shell")
target_compile_features(ruvivedu_host_api INTERFACE cxx_std_17)

if(NOT RUVIVEDU_HOST_SDK_PARAM_NAME STREQUAL "name")
  target_compile_definitions(ruvivedu_host_api INTERFACE
    "RUVIVEDU_PARAM_NAME_MEMBER=${RUVIVEDU_HOST_SDK_PARAM_NAME}")
endif()

if(RUVIVEDU_HOST_SDK_DIR)
  # The SDK knows Windows and macOS only: its SPConfig.h stops any other compile with a bare #error, and
  # even past that check its basic types stay undeclared. Say so now rather than in the middle of the build.
  if(NOT (WIN32 OR APPLE))
    message(FATAL_ERROR "RUVIVEDU_HOST_SDK_DIR is set, but the host SDK builds for Windows and macOS only, "
      "not for ${CMAKE_SYSTEM_NAME}. Build against it with the Windows cross build "
      "(cmake --preset windows -DRUVIVEDU_HOST_SDK_DIR=...) or on Windows or a Mac; leave "
      "RUVIVEDU_HOST_SDK_DIR empty to build for ${CMAKE_SYSTEM_NAME} against our own declarations.")
  endif()
  if(NOT EXISTS "${RUVIVEDU_HOST_SDK_DIR}")
    message(FATAL_ERROR "RUVIVEDU_HOST_SDK_DIR '${RUVIVEDU_HOST_SDK_DIR}' does not exist")
  endif()
  # The SDK keeps its headers in Headers/ (the basic suite in Headers/SP/) and helpers in Util/;
  # some copies are unpacked one level up or down, so take whichever of these exist.
  set(_ruvivedu_sdk_dirs "")
  foreach(_sub "" "Headers" "Headers/SP" "Headers/adobesdk" "Util" "Examples/Headers" "Examples/Headers/SP"
          "Examples/Util")
    if(IS_DIRECTORY "${RUVIVEDU_HOST_SDK_DIR}/${_sub}")
      list(APPEND _ruvivedu_sdk_dirs "${RUVIVEDU_HOST_SDK_DIR}/${_sub}")
    endif()
  endforeach()
  target_include_directories(ruvivedu_host_api SYSTEM INTERFACE ${_ruvivedu_sdk_dirs})
  target_compile_definitions(ruvivedu_host_api INTERFACE RUVIVEDU_USE_HOST_SDK=1)
  # The SDK recognises Windows by _WINDOWS, _MSC_VER or WINDOWS. MSVC and clang-cl define _MSC_VER and
  # Apple's compilers are recognised as they are; MinGW defines none of the three, so it gets _WINDOWS.
  if(WIN32 AND NOT MSVC)
    target_compile_definitions(ruvivedu_host_api INTERFACE _WINDOWS)
  endif()
  message(STATUS "Ruvivedu: using host SDK headers from ${RUVIVEDU_HOST_SDK_DIR}")
endif()
