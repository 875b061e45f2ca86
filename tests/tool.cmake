# The ruvivedu tool's tests (included from tests/CMakeLists.txt). They call the tool library
# directly and run the built executable as a subprocess, against the real plug-in module and
# against a stand-in module whose renders fail.
add_library(ruvivedu_failing_plugin MODULE ${CMAKE_CURRENT_LIST_DIR}/fixtures/failing_plugin.cpp)
target_link_libraries(ruvivedu_failing_plugin PRIVATE ruvivedu_host_api)
set_target_properties(ruvivedu_failing_plugin PROPERTIES
  PREFIX ""
  CXX_VISIBILITY_PRESET hidden
  VISIBILITY_INLINES_HIDDEN ON)

add_library(ruvivedu_tool_test_support STATIC ${CMAKE_CURRENT_LIST_DIR}/tool_support.cpp)
target_link_libraries(ruvivedu_tool_test_support PUBLIC ruvivedu_tool_lib PkgConfig::RUVIVEDU_OIIO GTest::gtest)
target_compile_definitions(ruvivedu_tool_test_support PUBLIC
  RUVIVEDU_TOOL_EXE="$<TARGET_FILE:ruvivedu>"
  RUVIVEDU_PLUGIN_MODULE="$<TARGET_FILE:ruvivedu_plugin>"
  RUVIVEDU_FAILING_MODULE="$<TARGET_FILE:ruvivedu_failing_plugin>")
add_dependencies(ruvivedu_tool_test_support ruvivedu ruvivedu_plugin ruvivedu_failing_plugin)

add_executable(tool_test ${CMAKE_CURRENT_LIST_DIR}/tool_test.cpp ${CMAKE_CURRENT_LIST_DIR}/tool_mapping_test.cpp
                         ${CMAKE_CURRENT_LIST_DIR}/tool_codec_test.cpp)
target_link_libraries(tool_test PRIVATE ruvivedu_tool_test_support PkgConfig::RUVIVEDU_PNG GTest::gtest_main)
ruvivedu_discover_tests(tool_test "tool.")

# Sequences with several frames in flight render on several threads at once,
# in this process or in the tool's.
add_executable(tool_sequence_test ${CMAKE_CURRENT_LIST_DIR}/tool_sequence_test.cpp)
target_link_libraries(tool_sequence_test PRIVATE ruvivedu_tool_test_support GTest::gtest_main)
ruvivedu_discover_tests(tool_sequence_test "tool." CONCURRENT "*")
