# Shared build settings and helpers for every layer.

add_compile_options(-Wall -Wextra -Wno-unused-parameter -fvisibility=hidden)

if(BRINDLOW_SANITIZE)
  set(_san -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_compile_options(${_san})
  add_link_options(${_san})
endif()

# brindlow_layer_library(<target> [DEPS <libs>...])
# A static library from src/*.cpp (and *.c) with include/ as its public headers.
function(brindlow_layer_library target)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB _srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/src/*.cpp
       ${CMAKE_CURRENT_SOURCE_DIR}/src/*.c)
  add_library(${target} STATIC ${_srcs})
  target_include_directories(${target} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/include
                             PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/src)
  if(ARG_DEPS)
    target_link_libraries(${target} PUBLIC ${ARG_DEPS})
  endif()
endfunction()

# brindlow_layer_tests(<target> LIBS <libs>...)
# One GoogleTest executable from tests/*Test.cpp. The layer libraries are linked whole and
# the executable exports its symbols, as the application does, so modules loaded with dlopen
# bind to the exported tables by name.
function(brindlow_layer_tests target)
  cmake_parse_arguments(ARG "" "" "LIBS;EXTRA" ${ARGN})
  if(NOT BRINDLOW_TESTS)
    return()
  endif()
  file(GLOB _tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tests/*Test.cpp)
  add_executable(${target} ${_tests})
  set(_whole)
  foreach(lib ${ARG_LIBS})
    list(APPEND _whole "$<LINK_LIBRARY:WHOLE_ARCHIVE,${lib}>")
  endforeach()
  target_link_libraries(${target} PRIVATE ${_whole} ${ARG_EXTRA} brindlow_testkit GTest::gtest GTest::gmock
                        GTest::gtest_main ${CMAKE_DL_LIBS} pthread)
  target_include_directories(${target} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/src
                             ${CMAKE_CURRENT_SOURCE_DIR}/tests)
  target_compile_definitions(${target} PRIVATE
    BRINDLOW_TEST_DATA="${CMAKE_CURRENT_SOURCE_DIR}/tests/data"
    BRINDLOW_BUILD_DIR="${CMAKE_BINARY_DIR}")
  set_target_properties(${target} PROPERTIES ENABLE_EXPORTS ON)
  gtest_discover_tests(${target} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                       PROPERTIES TIMEOUT 300)
endfunction()
