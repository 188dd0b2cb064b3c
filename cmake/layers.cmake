# One static library per layer: every .cpp under DIR except tests and mains.
# Public headers live in DIR/include, internal ones beside their sources.
function(vv_layer NAME)
  cmake_parse_arguments(ARG "" "DIR" "DEPS;PRIVATE_DEPS;EXCLUDE" ${ARGN})
  if(NOT ARG_DIR)
    set(ARG_DIR ${CMAKE_CURRENT_SOURCE_DIR})
  endif()
  file(GLOB_RECURSE _sources CONFIGURE_DEPENDS ${ARG_DIR}/*.cpp)
  list(FILTER _sources EXCLUDE REGEX "(_test|_main)\\.cpp$")
  foreach(_ex ${ARG_EXCLUDE})
    list(FILTER _sources EXCLUDE REGEX "${_ex}")
  endforeach()
  if(NOT _sources)
    # A layer whose code has not landed yet still exists for its dependants.
    add_library(vv_${NAME} INTERFACE)
    target_include_directories(vv_${NAME} INTERFACE ${ARG_DIR}/include)
    target_link_libraries(vv_${NAME} INTERFACE ${ARG_DEPS})
    return()
  endif()
  add_library(vv_${NAME} STATIC ${_sources})
  target_include_directories(vv_${NAME}
    PUBLIC ${ARG_DIR}/include
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
  file(GLOB_RECURSE _tests CONFIGURE_DEPENDS ${ARG_DIR}/*_test.cpp)
  foreach(_ex ${ARG_EXCLUDE})
    list(FILTER _tests EXCLUDE REGEX "${_ex}")
  endforeach()
  if(NOT _tests)
    return()
  endif()
  add_executable(${NAME}_tests ${_tests})
  target_include_directories(${NAME}_tests PRIVATE ${ARG_DIR})
  target_link_libraries(${NAME}_tests PRIVATE ${ARG_LIBS} vv_testing GTest::gtest GTest::gmock GTest::gtest_main)
  gtest_discover_tests(${NAME}_tests
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS ${ARG_LABEL} TIMEOUT 120)
endfunction()
