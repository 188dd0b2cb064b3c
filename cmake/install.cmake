# `cmake --install` puts the client libraries, their public headers and a
# package config under the prefix; a program then uses them with
#   find_package(vestavind_reader REQUIRED)
#   target_link_libraries(app PRIVATE vv::backend vv::analytics)
include(CMakePackageConfigHelpers)

# vv::backend is the whole backend client (its net layer pulls in the rest).
add_library(vv_backend INTERFACE)
target_link_libraries(vv_backend INTERFACE vv_backend_net)

set(_vv_installed vv_platform vv_backend_core vv_backend_http vv_backend_net vv_backend vv_analytics)
foreach(_target ${_vv_installed})
  string(REGEX REPLACE "^vv_" "" _name ${_target})
  set_target_properties(${_target} PROPERTIES EXPORT_NAME ${_name})
endforeach()

# Libraries built with sanitizers need them in every program that uses them:
# the runtime at link time, and the instrumentation in the program's own
# copies of inline library code (the linker may keep either copy).
if(VV_SANITIZE)
  string(REPLACE ";" "," _vv_sanitizers "${VV_SANITIZE}")
  target_compile_options(vv_platform INTERFACE $<INSTALL_INTERFACE:-fsanitize=${_vv_sanitizers}>)
  target_link_options(vv_platform INTERFACE $<INSTALL_INTERFACE:-fsanitize=${_vv_sanitizers}>)
endif()

install(TARGETS ${_vv_installed} EXPORT vv_targets ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
foreach(_layer platform backend/core backend/http backend/net analytics)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/${_layer}/include/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
endforeach()

set(_vv_config_dir ${CMAKE_INSTALL_LIBDIR}/cmake/vestavind_reader)
install(EXPORT vv_targets NAMESPACE vv:: FILE vestavind_reader-targets.cmake DESTINATION ${_vv_config_dir})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/vestavind_reader-config.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/vestavind_reader-config.cmake INSTALL_DESTINATION ${_vv_config_dir})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/vestavind_reader-config-version.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/vestavind_reader-config.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/vestavind_reader-config-version.cmake DESTINATION ${_vv_config_dir})
