# Cross builds: the programs that run during the build (cmake/build_machine)
# are configured and built for the build machine in a nested native build,
# before anything that needs them. Sets RUVIVEDU_PIPL_GEN_COMMAND and
# RUVIVEDU_PE_CHECK_COMMAND and the target ruvivedu_build_machine_tools.
include_guard(GLOBAL)
include(ExternalProject)

set(_ruvivedu_native_dir ${PROJECT_BINARY_DIR}/build-machine)
set(RUVIVEDU_PIPL_GEN_COMMAND ${_ruvivedu_native_dir}/pipl_gen CACHE INTERNAL "")
set(RUVIVEDU_PE_CHECK_COMMAND ${_ruvivedu_native_dir}/pe_check CACHE INTERNAL "")

# The tools read the identity table, which includes no host header: the host
# SDK, if the cross build uses one, has no mode for the build machine.
set(_ruvivedu_native_args -DCMAKE_BUILD_TYPE=Release)

ExternalProject_Add(ruvivedu_build_machine_tools
  SOURCE_DIR ${PROJECT_SOURCE_DIR}/cmake/build_machine
  BINARY_DIR ${_ruvivedu_native_dir}
  CMAKE_ARGS ${_ruvivedu_native_args}
  INSTALL_COMMAND ""
  BUILD_ALWAYS ON
  BUILD_BYPRODUCTS ${RUVIVEDU_PIPL_GEN_COMMAND} ${RUVIVEDU_PE_CHECK_COMMAND})
