# The macOS PiPL source as Rez will read it: the generated .r must hold one
# `data 'PiPL' (16000)` statement whose hex strings are exactly the big-endian
# PiPL bytes, with both code properties (Intel and Apple silicon) naming
# EntryPointFunc.
#
#   cmake -DREZ=<Ruvivedu.r> -DPIPL=<Ruvivedu-macos.pipl> -P check_rez.cmake
cmake_minimum_required(VERSION 3.25)
foreach(var REZ PIPL)
  if(NOT EXISTS "${${var}}")
    message(FATAL_ERROR "check_rez: -D${var}=<file> must name an existing file")
  endif()
endforeach()

file(READ ${REZ} source)
string(REGEX MATCHALL "data 'PiPL' \\(16000\\) {" statements "${source}")
list(LENGTH statements count)
if(NOT count EQUAL 1)
  message(FATAL_ERROR "check_rez: ${REZ} holds ${count} data 'PiPL' (16000) statements, not one")
endif()
if(NOT source MATCHES "data 'PiPL' \\(16000\\) {(.*)};")
  message(FATAL_ERROR "check_rez: the data statement is not closed with '};'")
endif()
set(body "${CMAKE_MATCH_1}")
# Inside the braces only hex strings: $"0A 1B ..." separated by white space.
string(REGEX REPLACE "[ \t\r\n]*\\$\"[0-9A-F ]*\"[ \t\r\n]*" "" rest "${body}")
if(NOT rest STREQUAL "")
  message(FATAL_ERROR "check_rez: the data statement holds more than hex strings: '${rest}'")
endif()
string(REGEX MATCHALL "\\$\"[0-9A-F ]*\"" strings "${body}")
set(hex "")
foreach(s IN LISTS strings)
  string(REGEX REPLACE "[$\" ]" "" s "${s}")
  string(APPEND hex "${s}")
endforeach()
string(TOLOWER "${hex}" hex)

file(READ ${PIPL} expected HEX)
if(NOT hex STREQUAL expected)
  message(FATAL_ERROR "check_rez: the .r states other bytes than ${PIPL}")
endif()

# Big-endian header: reserved 0, 13 properties; codes in natural order.
string(SUBSTRING "${hex}" 0 16 header)
if(NOT header STREQUAL "000000000000000d")
  message(FATAL_ERROR "check_rez: header ${header}, expected reserved 0 and 13 properties")
endif()
# "8BIM" "mi64"/"ma64", id 0, length 16, Pascal "EntryPointFunc" (14 characters).
string(HEX "EntryPointFunc" entry)
foreach(key mi64 ma64)
  string(HEX "8BIM${key}" code)
  if(NOT hex MATCHES "${code}00000000000000100e${entry}00")
    message(FATAL_ERROR "check_rez: the ${key} code property does not name EntryPointFunc")
  endif()
endforeach()
string(LENGTH "${hex}" length)
math(EXPR bytes "${length} / 2")
message(STATUS "ok    ${REZ}: ${bytes} bytes, the big-endian PiPL, EntryPointFunc for mi64 and ma64")
