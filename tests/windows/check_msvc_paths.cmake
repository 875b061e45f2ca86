# MSVC cannot run here. This checks the plug-in's own sources (src/shell, src/params, src/pipeline,
# src/halftone) in the branches MSVC takes, as far as another compiler can (the frei0r filter in src/frei0r
# is built only where its hosts run, not for Windows, so it is left out):
#
#  1. Each source is preprocessed with none of GCC's predefined macros and with MSVC's (_MSC_VER, _WIN32,
#     _WIN64, _M_X64) and the loop strategy's: every #if takes the branch an MSVC build takes. System
#     headers are left as markers, so the text is our code alone.
#  2. That text must hold nothing MSVC rejects: no __attribute__, no __builtin_, no _Pragma, no GCC
#     pragma; every OpenMP loop is OpenMP 2.0 (no collapse, a signed index).
#  3. The text, with the system headers put back, is compiled by MinGW's GCC with AVX2 enabled for the
#     whole file and no target attribute anywhere (MSVC takes the intrinsics without one), pedantic
#     warnings as errors (no VLAs or other extensions), and __pragma read as MSVC reads it.
#
# What it cannot check: MSVC's own parser, standard library and warnings, and /fp:precise itself.
#
#   cmake -DCXX=<MinGW g++> -DSOURCE_DIR=<tree> -DWORK=<scratch folder> -P check_msvc_paths.cmake
cmake_minimum_required(VERSION 3.25)
foreach(var CXX SOURCE_DIR WORK)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "check_msvc_paths: -D${var}=... is required")
  endif()
endforeach()

file(REMOVE_RECURSE ${WORK})
file(GLOB_RECURSE sources RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/src/*.cpp)
list(FILTER sources EXCLUDE REGEX "^src/frei0r/")
file(GLOB_RECURSE all_files ${SOURCE_DIR}/src/*.cpp ${SOURCE_DIR}/src/*.h)

# A stand-in for every system header the sources name: one marker line, turned back into the real
# include for the compile.
foreach(path IN LISTS all_files)
  file(STRINGS ${path} includes REGEX "^#include <[^>]+>")
  foreach(line IN LISTS includes)
    string(REGEX REPLACE "^#include <([^>]+)>.*" "\\1" header "${line}")
    file(WRITE ${WORK}/stubs/${header} "RUVIVEDU_SYSTEM_INCLUDE <${header}>\n")
  endforeach()
endforeach()

set(msvc -undef -D_MSC_VER=1929 -D_MSC_FULL_VER=192930133 -D_WIN32=1 -D_WIN64=1 -D_M_X64=100 -D_M_AMD64=100
    -D_OPENMP=200203 -DRUVIVEDU_PARALLEL_OPENMP=1 -DNDEBUG)
set(failures 0)
set(loops 0)
foreach(source IN LISTS sources)
  string(MAKE_C_IDENTIFIER "${source}" name)
  execute_process(COMMAND ${CXX} -std=c++17 -E -P ${msvc} -nostdinc -I${WORK}/stubs -I${SOURCE_DIR}/src
                          -I${SOURCE_DIR}/src/shell ${SOURCE_DIR}/${source}
                  OUTPUT_VARIABLE text ERROR_VARIABLE errors RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(SEND_ERROR "${source}: does not preprocess as MSVC code:\n${errors}")
    math(EXPR failures "${failures} + 1")
    continue()
  endif()

  set(problems "")
  foreach(gnu "__attribute__" "__builtin_" "_Pragma" "#pragma GCC")
    string(FIND "${text}" "${gnu}" at)
    if(at GREATER_EQUAL 0)
      string(APPEND problems "\n  ${gnu} in the MSVC text")
    endif()
  endforeach()
  # Each OpenMP loop: the pragma and the for statement after it, up to its opening brace (with the
  # semicolons hidden, which would split the list of matches).
  string(REPLACE ";" "," unlisted "${text}")
  string(REGEX MATCHALL "__pragma\\(omp [^\n]*\n[ \t]*for \\([^{]*" omp_loops "${unlisted}")
  foreach(loop IN LISTS omp_loops)
    math(EXPR loops "${loops} + 1")
    if(loop MATCHES "collapse")
      string(APPEND problems "\n  an OpenMP loop with collapse (not in OpenMP 2.0): ${loop}")
    endif()
    if(NOT loop MATCHES "for \\((int|long|long long|std::int32_t|std::int64_t|std::ptrdiff_t) [A-Za-z_0-9]+ =")
      string(APPEND problems "\n  an OpenMP loop whose index is not a signed integer: ${loop}")
    endif()
  endforeach()
  if(text MATCHES "#pragma omp")
    string(APPEND problems "\n  an OpenMP pragma from _Pragma (MSVC's macros take __pragma)")
  endif()

  string(REGEX REPLACE "RUVIVEDU_SYSTEM_INCLUDE (<[^>\n]+>)" "#include \\1" text "${text}")
  file(WRITE ${WORK}/${name}.cpp "${text}")
  execute_process(COMMAND ${CXX} -std=c++17 -fsyntax-only -mavx2 -fopenmp -Wall -Wextra -Wpedantic
                          -Werror=pedantic "-D__pragma(x)=_Pragma(#x)" ${WORK}/${name}.cpp
                  ERROR_VARIABLE errors RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    string(APPEND problems "\n  does not compile:\n${errors}")
  endif()

  if(problems)
    message(SEND_ERROR "${source}, as MSVC sees it:${problems}")
    math(EXPR failures "${failures} + 1")
  else()
    message(STATUS "ok    ${source}")
  endif()
endforeach()

list(LENGTH sources count)
if(count LESS 10 OR loops LESS 5)
  message(FATAL_ERROR "check_msvc_paths: found only ${count} sources and ${loops} OpenMP loops")
endif()
if(failures GREATER 0)
  message(FATAL_ERROR "check_msvc_paths: ${failures} of ${count} sources fail")
endif()
message(STATUS "check_msvc_paths: ${count} sources and ${loops} OpenMP loops as MSVC sees them")
