# The macOS-only code cannot be built here; this compiles what can be: each
# file with an Apple branch is preprocessed and syntax-checked as the macOS
# build sees it (__APPLE__, __MACH__), against this machine's headers, which
# share the POSIX calls those branches make. The preprocessed text must show
# the Apple branch was the one taken.
#
#   cmake -DCXX=<compiler> -DSOURCE_DIR=<tree> [-DSDK=<test SDK folder>] -P check_apple_paths.cmake
cmake_minimum_required(VERSION 3.25)
foreach(var CXX SOURCE_DIR)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "check_apple_paths: -D${var}=... is required")
  endif()
endforeach()

set(flags -std=c++17 -D__APPLE__=1 -D__MACH__=1
    -I${SOURCE_DIR}/src -I${SOURCE_DIR}/src/shell -I${SOURCE_DIR}/host -I${SOURCE_DIR}/tools)

# file | a pattern the Apple branch produces | a pattern it must not (empty: none)
set(cases
  "src/base/processor_count.cpp|sysconf *\\( *_SC_NPROCESSORS_CONF *\\)|sched_getaffinity *\\( *0"
  "host/plugin_module.cpp|dlopen *\\(|LoadLibrary"
  "src/shell/entry.cpp|__attribute__ *\\(\\(visibility *\\(\"default\"\\)\\)\\) *PF_Err *EntryPointFunc|dllexport"
  "src/shell/entry.cpp|typedef char *\\*\\* *PF_Handle|"
  "tools/frame_renderer.cpp|\"Ruvivedu.plugin\"|\"Ruvivedu.so\"")

set(failures 0)
foreach(case IN LISTS cases)
  string(REPLACE "|" ";" parts "${case}")
  list(GET parts 0 file)
  list(GET parts 1 wanted)
  list(GET parts 2 unwanted)
  execute_process(COMMAND ${CXX} ${flags} -E -P ${SOURCE_DIR}/${file}
                  OUTPUT_VARIABLE text ERROR_VARIABLE errors RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(SEND_ERROR "${file}: does not preprocess as macOS code:\n${errors}")
    math(EXPR failures "${failures} + 1")
    continue()
  endif()
  if(NOT text MATCHES "${wanted}")
    message(SEND_ERROR "${file}: the macOS branch was not taken (no match for ${wanted})")
    math(EXPR failures "${failures} + 1")
  elseif(unwanted AND text MATCHES "${unwanted}")
    message(SEND_ERROR "${file}: another platform's code is in the macOS text (${unwanted})")
    math(EXPR failures "${failures} + 1")
  else()
    message(STATUS "ok    ${file}: ${wanted}")
  endif()
endforeach()

# Beyond preprocessing: the Apple branches must compile where the calls exist.
foreach(file src/base/processor_count.cpp host/plugin_module.cpp src/shell/entry.cpp)
  execute_process(COMMAND ${CXX} ${flags} -fsyntax-only ${SOURCE_DIR}/${file}
                  ERROR_VARIABLE errors RESULT_VARIABLE status)
  if(status EQUAL 0)
    message(STATUS "ok    ${file} compiles as macOS code")
  else()
    message(SEND_ERROR "${file}: does not compile as macOS code:\n${errors}")
    math(EXPR failures "${failures} + 1")
  endif()
endforeach()

# The shell against the test SDK as the macOS build sees it: Apple's compilers define __APPLE_CC__, from
# which the SDK's platform check sets MAC_ENV.
if(DEFINED SDK)
  foreach(file src/shell/entry.cpp src/shell/params.cpp src/shell/render.cpp)
    execute_process(COMMAND ${CXX} ${flags} -D__APPLE_CC__=6000 -DRUVIVEDU_USE_HOST_SDK=1 -I${SDK}/Headers
                            -I${SDK}/Headers/SP -I${SDK}/Util -fsyntax-only ${SOURCE_DIR}/${file}
                    ERROR_VARIABLE errors RESULT_VARIABLE status)
    if(status EQUAL 0)
      message(STATUS "ok    ${file} compiles as macOS code against the test SDK")
    else()
      message(SEND_ERROR "${file}: does not compile as macOS code against the test SDK:\n${errors}")
      math(EXPR failures "${failures} + 1")
    endif()
  endforeach()
endif()

if(failures GREATER 0)
  message(FATAL_ERROR "check_apple_paths: ${failures} failed")
endif()
