# ruvivedu_layer_includes(TARGET LAYER ALLOWED...): the build of TARGET first checks that the sources of
# src/LAYER include nothing above them, only their own headers and the folders or files ALLOWED (see
# check_layer_includes.cmake). The check runs again whenever a source of the layer changes.
function(ruvivedu_layer_includes target layer)
  string(REPLACE ";" "," allowed "${ARGN}")
  set(check_target ruvivedu_includes_${layer})
  if(NOT TARGET ${check_target})
    file(GLOB sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/${layer}/*.h ${PROJECT_SOURCE_DIR}/src/${layer}/*.cpp)
    set(stamp ${CMAKE_BINARY_DIR}/layer-includes/${layer}.checked)
    add_custom_command(
      OUTPUT ${stamp}
      COMMAND ${CMAKE_COMMAND} -DLAYER=${layer} -DALLOWED=${allowed} -DSOURCE_DIR=${PROJECT_SOURCE_DIR}
              -DSTAMP=${stamp} -P ${PROJECT_SOURCE_DIR}/cmake/check_layer_includes.cmake
      DEPENDS ${sources} ${PROJECT_SOURCE_DIR}/cmake/check_layer_includes.cmake
      COMMENT "Checking that src/${layer} includes nothing above it"
      VERBATIM)
    add_custom_target(${check_target} DEPENDS ${stamp})
  endif()
  add_dependencies(${target} ${check_target})
endfunction()
