# Sets OUT to the files of GLOB (absolute paths under DIR) that none of the
# EXCLUDE regexes matches. A regex sees the path below DIR with a leading
# slash ("/ui/image.cpp"), never where the tree is checked out: a checkout
# under /home/ui/ must not lose a layer's sources.
function(vv_sources_below OUT DIR GLOB)
  cmake_parse_arguments(ARG "" "" "EXCLUDE" ${ARGN})
  file(GLOB_RECURSE _found CONFIGURE_DEPENDS ${DIR}/${GLOB})
  set(_kept)
  foreach(_file ${_found})
    file(RELATIVE_PATH _below ${DIR} ${_file})
    set(_below "/${_below}")
    set(_excluded FALSE)
    foreach(_ex ${ARG_EXCLUDE})
      if(_below MATCHES "${_ex}")
        set(_excluded TRUE)
      endif()
    endforeach()
    if(NOT _excluded)
      list(APPEND _kept ${_file})
    endif()
  endforeach()
  set(${OUT} ${_kept} PARENT_SCOPE)
endfunction()

# One static library per layer: every .cpp under DIR except tests and mains.
# Public headers live in DIR/include, internal ones beside their sources.
function(vv_layer NAME)
  cmake_parse_arguments(ARG "" "DIR" "DEPS;PRIVATE_DEPS;EXCLUDE" ${ARGN})
  if(NOT ARG_DIR)
    set(ARG_DIR ${CMAKE_CURRENT_SOURCE_DIR})
  endif()
  vv_sources_below(_sources ${ARG_DIR} "*.cpp" EXCLUDE "(_test|_main)\\.cpp$" ${ARG_EXCLUDE})
  if(NOT _sources)
    message(FATAL_ERROR "layer ${NAME}: no sources under ${ARG_DIR}")
  endif()
  add_library(vv_${NAME} STATIC ${_sources})
  target_include_directories(vv_${NAME}
    PUBLIC $<BUILD_INTERFACE:${ARG_DIR}/include> $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>
    PRIVATE ${ARG_DIR})
  target_link_libraries(vv_${NAME} PUBLIC ${ARG_DEPS} PRIVATE ${ARG_PRIVATE_DEPS})
endfunction()

# The tests of a layer: every *_test.cpp under DIR in one executable, each
# GoogleTest case its own CTest test labelled with the layer's name. Every
# test executable gets the shared test toolkit (tests/support).
function(vv_layer_tests NAME)
  cmake_parse_arguments(ARG "" "DIR;LABEL" "LIBS;EXCLUDE" ${ARGN})
  if(NOT ARG_DIR)
    set(ARG_DIR ${CMAKE_CURRENT_SOURCE_DIR})
  endif()
  if(NOT ARG_LABEL)
    set(ARG_LABEL ${NAME})
  endif()
  vv_sources_below(_tests ${ARG_DIR} "*_test.cpp" EXCLUDE ${ARG_EXCLUDE})
  if(NOT _tests)
    return()
  endif()
  add_executable(${NAME}_tests ${_tests})
  target_include_directories(${NAME}_tests PRIVATE ${ARG_DIR})
  target_link_libraries(${NAME}_tests PRIVATE ${ARG_LIBS} vv_testing GTest::gtest GTest::gmock GTest::gtest_main)
  # Sanitized debug builds run many times slower, most of all on a loaded machine.
  set(_timeout 120)
  if(VV_SANITIZE)
    set(_timeout 360)
  endif()
  gtest_discover_tests(${NAME}_tests
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS ${ARG_LABEL} TIMEOUT ${_timeout})
endfunction()
