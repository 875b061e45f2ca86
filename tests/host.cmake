# host_test: the substitute host's own tests (included from tests/CMakeLists.txt).
add_executable(host_test ${CMAKE_CURRENT_LIST_DIR}/host_test.cpp)
target_link_libraries(host_test PRIVATE ruvivedu_host GTest::gtest GTest::gtest_main Threads::Threads)
target_compile_definitions(host_test PRIVATE HOST_TEST_MODULE_PATH="$<TARGET_FILE:ruvivedu_host_test_module>")
add_dependencies(host_test ruvivedu_host_test_module)
ruvivedu_discover_tests(host_test "host." CONCURRENT "Threads.*")
