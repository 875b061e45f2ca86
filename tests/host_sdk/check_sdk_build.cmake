# Builds against the test SDK that must fail, and fail the way a build against the real SDK fails, and
# the compile against the newer flavour that must not.
#
#   -DMODE=linux-compile   -DCXX=... -DSOURCE_DIR=... -DSDK=<older>
#       a Linux compile of the shell stops at SPConfig.h's bare #error; with __LINUX__ (which passes that
#       check) it stops at the basic types the SDK leaves undeclared there
#   -DMODE=linux-configure -DSOURCE_DIR=... -DSDK=<older> -DWORK=<scratch folder>
#       a Linux configure with RUVIVEDU_HOST_SDK_DIR stops with a message saying where the SDK builds
#   -DMODE=windows -DCOMPILE_COMMANDS=<windows SDK build>/compile_commands.json -DSDK=<older> -DNEWER=<newer>
#       the cross build's own compile of entry.cpp, without the _WINDOWS the build adds, stops at the
#       #error; and every source the cross build compiled against the older flavour also compiles
#       against the newer one (a name of ours that a newer SDK declares too would clash there)
cmake_minimum_required(VERSION 3.25)

function(require var)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "check_sdk_build: -D${var}=... is required")
  endif()
endfunction()

# Runs a compile (in the current folder, or `directory` where set) that must fail; its diagnostics must
# match `wanted` and must not match `unwanted`.
function(expect_failure what wanted unwanted)
  if(NOT directory)
    set(directory ${CMAKE_CURRENT_BINARY_DIR})
  endif()
  execute_process(COMMAND ${ARGN} WORKING_DIRECTORY ${directory} OUTPUT_VARIABLE out ERROR_VARIABLE err
                  RESULT_VARIABLE status)
  set(text "${out}${err}")
  if(status EQUAL 0)
    message(FATAL_ERROR "${what}: compiled, but must fail")
  elseif(NOT text MATCHES "${wanted}")
    message(FATAL_ERROR "${what}: failed, but not with ${wanted}:\n${text}")
  elseif(unwanted AND text MATCHES "${unwanted}")
    message(FATAL_ERROR "${what}: failed with ${unwanted} too:\n${text}")
  endif()
  message(STATUS "ok    ${what}")
endfunction()

set(platform_error "SPConfig\\.h:[0-9]+:[0-9]+: (fatal )?error")
set(undeclared_type "error: [^\n]*PF_(Fixed|Boolean|Handle)")
require(MODE)
require(SDK)

if(MODE STREQUAL "linux-compile")
  require(CXX)
  require(SOURCE_DIR)
  set(compile ${CXX} -std=c++17 -fsyntax-only -DRUVIVEDU_USE_HOST_SDK=1 -I${SDK}/Headers -I${SDK}/Headers/SP
      -I${SDK}/Util -I${SOURCE_DIR}/src -I${SOURCE_DIR}/src/shell ${SOURCE_DIR}/src/shell/entry.cpp)
  expect_failure("a Linux compile against the SDK stops at its platform check" "${platform_error}" "" ${compile})
  expect_failure("with __LINUX__ it gets past the check but not past the basic types" "${undeclared_type}"
                 "${platform_error}" ${compile} -D__LINUX__)

elseif(MODE STREQUAL "linux-configure")
  require(SOURCE_DIR)
  require(WORK)
  file(REMOVE_RECURSE ${WORK})
  expect_failure("a Linux configure with RUVIVEDU_HOST_SDK_DIR stops"
                 "the host SDK builds for Windows and macOS[ \n]+only" ""
                 ${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${WORK} -DRUVIVEDU_HOST_SDK_DIR=${SDK}
                 -DRUVIVEDU_BUILD_TESTS=OFF -DRUVIVEDU_BUILD_TOOLS=OFF)
  file(REMOVE_RECURSE ${WORK})

elseif(MODE STREQUAL "windows")
  require(COMPILE_COMMANDS)
  require(NEWER)
  file(READ ${COMPILE_COMMANDS} json)
  string(JSON count LENGTH "${json}")
  math(EXPR last "${count} - 1")
  set(checked 0)
  set(failures 0)
  foreach(i RANGE ${last})
    string(JSON command GET "${json}" ${i} command)
    string(JSON directory GET "${json}" ${i} directory)
    string(JSON source GET "${json}" ${i} file)
    if(NOT command MATCHES "RUVIVEDU_USE_HOST_SDK=1")
      continue()
    endif()
    # The same compile, checked only: no object file written. Cross builds pass the include folders in
    # response files (@file), which are read here so the SDK's folder can be swapped.
    separate_arguments(words UNIX_COMMAND "${command}")
    set(args "")
    foreach(word IN LISTS words)
      if(word MATCHES "^@(.+)$")
        file(READ ${directory}/${CMAKE_MATCH_1} response)
        separate_arguments(response UNIX_COMMAND "${response}")
        list(APPEND args ${response})
      else()
        list(APPEND args "${word}")
      endif()
    endforeach()
    list(FIND args "-o" at)
    if(at GREATER_EQUAL 0)
      math(EXPR object "${at} + 1")
      list(REMOVE_AT args ${at} ${object})
    endif()
    list(REMOVE_ITEM args "-c")
    list(APPEND args -fsyntax-only)

    if(source MATCHES "/src/shell/entry\\.cpp$")
      set(bare ${args})
      list(REMOVE_ITEM bare "-D_WINDOWS")
      expect_failure("MinGW against the SDK without _WINDOWS stops at its platform check" "${platform_error}" ""
                     ${bare})
    endif()

    string(REPLACE "${SDK}" "${NEWER}" job_${checked} "${args}")
    set(job_source_${checked} ${source})
    math(EXPR checked "${checked} + 1")
  endforeach()

  # Two compiles at a time: execute_process runs its commands side by side (as a pipeline, which the
  # compilers ignore: they read their files, not their input). The include folders are absolute and the
  # object files gone, so any working folder will do.
  set(i 0)
  while(i LESS checked)
    math(EXPR j "${i} + 1")
    set(pair COMMAND ${job_${i}})
    set(sources ${job_source_${i}})
    if(j LESS checked)
      list(APPEND pair COMMAND ${job_${j}})
      list(APPEND sources ${job_source_${j}})
    endif()
    execute_process(${pair} ERROR_VARIABLE err RESULTS_VARIABLE statuses)
    foreach(source status IN ZIP_LISTS sources statuses)
      if(status EQUAL 0)
        message(STATUS "ok    ${source} against the newer SDK")
      else()
        message(SEND_ERROR "${source} does not compile against the newer SDK:\n${err}")
        math(EXPR failures "${failures} + 1")
      endif()
    endforeach()
    math(EXPR i "${i} + 2")
  endwhile()
  if(checked LESS 10)
    message(FATAL_ERROR "check_sdk_build: only ${checked} compiles against the SDK in ${COMPILE_COMMANDS}")
  endif()
  if(failures GREATER 0)
    message(FATAL_ERROR "check_sdk_build: ${failures} of ${checked} sources fail against the newer SDK")
  endif()

else()
  message(FATAL_ERROR "check_sdk_build: unknown MODE '${MODE}'")
endif()
