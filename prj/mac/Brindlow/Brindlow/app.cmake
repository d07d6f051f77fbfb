# The program Brindlow and its bundle in the top of the build tree:
#   Brindlow.app/Contents/MacOS/Brindlow
#   Brindlow.app/Contents/Resources/  images, interface files, TovelSecurityService.bundle
# Every layer is linked whole and the program exports its symbols, so the module that it loads
# at run time binds to the tables, their fill functions, the daemon functions and the token
# classes by name. Included from this folder's CMakeLists.txt.
set(BRINDLOW_APP_BUNDLE ${CMAKE_BINARY_DIR}/Brindlow.app)

# main aside: the application delegate, the status item and the background tasks.
add_library(brindlow_shell STATIC AppDelegate.cpp LoggerManagerMac.cpp StatusItem.cpp)
target_include_directories(brindlow_shell PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(brindlow_shell PUBLIC brindlow_app brindlow_daemon brindlow_tokenmanager
                      brindlow_platform Qt6::Widgets)
target_compile_definitions(brindlow_shell PRIVATE BRINDLOW_VERSION="${PROJECT_VERSION}")

# (The ASN.1 runtime is an object library: its objects go in whole anyway.)
# Listed users first, so that each archive goes on the link line once.
set(_brindlow_whole brindlow_shell brindlow_app brindlow_desktop_ui brindlow_daemon
    brindlow_tokenmanager brindlow_service brindlow_crypto brindlow_base brindlow_platform)

# brindlow_link_whole(<target>): links every layer of the program whole into target, also where
# a layer comes in again as another one's dependency.
function(brindlow_link_whole target)
  foreach(_lib ${_brindlow_whole})
    target_link_libraries(${target} PRIVATE "$<LINK_LIBRARY:WHOLE_ARCHIVE,${_lib}>")
    set_property(TARGET ${target} PROPERTY LINK_LIBRARY_OVERRIDE_${_lib} WHOLE_ARCHIVE)
  endforeach()
  target_link_libraries(${target} PRIVATE Qt6::Widgets ${CMAKE_DL_LIBS} pthread)
  set_target_properties(${target} PROPERTIES ENABLE_EXPORTS ON)
endfunction()

add_executable(Brindlow main.cpp)
brindlow_link_whole(Brindlow)
set_target_properties(Brindlow PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${BRINDLOW_APP_BUNDLE}/Contents/MacOS)

# The resources beside the images: the interface files and the security-service module bundle.
# The forms are copied under a stamp: named as outputs, they would count as forms to compile.
file(GLOB _interface_files CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.ui)
set(_interface_stamp ${CMAKE_CURRENT_BINARY_DIR}/bundle_interface_files.stamp)
add_custom_command(OUTPUT ${_interface_stamp}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${BRINDLOW_APP_RESOURCES}
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${_interface_files} ${BRINDLOW_APP_RESOURCES}
  COMMAND ${CMAKE_COMMAND} -E touch ${_interface_stamp}
  DEPENDS ${_interface_files} VERBATIM)
set(_bundle_resources ${_interface_stamp})
set(_module_in_bundle
    ${BRINDLOW_APP_RESOURCES}/TovelSecurityService.bundle/Contents/MacOS/TovelSecurityService)
add_custom_command(OUTPUT ${_module_in_bundle}
  COMMAND ${CMAKE_COMMAND} -E make_directory
          ${BRINDLOW_APP_RESOURCES}/TovelSecurityService.bundle/Contents/MacOS
  COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:TovelSecurityService>
          ${_module_in_bundle}
  DEPENDS TovelSecurityService VERBATIM)
list(APPEND _bundle_resources ${_module_in_bundle})
add_custom_target(brindlow_bundle_resources ALL DEPENDS ${_bundle_resources})
add_dependencies(brindlow_bundle_resources brindlow_app_images)
add_dependencies(Brindlow brindlow_bundle_resources)

if(NOT BRINDLOW_TESTS)
  return()
endif()

# The delegate, the status item and the background tasks in one process, without a display.
file(GLOB _shell_tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tests/app/*Test.cpp)
add_executable(brindlow_shell_tests tests/app/main.cpp tests/app/ShellTestSupport.cpp
               ${_shell_tests})
brindlow_link_whole(brindlow_shell_tests)
target_include_directories(brindlow_shell_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/tests/app)
target_link_libraries(brindlow_shell_tests PRIVATE Qt6::Test GTest::gtest GTest::gmock)
target_compile_definitions(brindlow_shell_tests PRIVATE
  BRINDLOW_APP_TEST_DATA="${CMAKE_CURRENT_SOURCE_DIR}/tests/app/data"
  BRINDLOW_APP_RESOURCES="${BRINDLOW_APP_RESOURCES}")
add_dependencies(brindlow_shell_tests brindlow_bundle_resources)
gtest_discover_tests(brindlow_shell_tests DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
  PROPERTIES TIMEOUT 300 ENVIRONMENT "QT_QPA_PLATFORM=offscreen")

# The bundle as a user runs it: the real program in a private X server (Xvfb), with trayer
# as the system tray or without any, driven with xdotool; screenshots are kept in the build
# folder. Each test runs in an X server of its own.
set(_app_artifacts ${CMAKE_BINARY_DIR}/end-to-end-app)
file(MAKE_DIRECTORY ${_app_artifacts})
add_executable(brindlow_bundle_tests tests/app/e2e/BundleEndToEnd.cpp
               tests/app/ShellTestSupport.cpp)
target_include_directories(brindlow_bundle_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/tests/app)
target_link_libraries(brindlow_bundle_tests PRIVATE Qt6::Gui GTest::gtest GTest::gtest_main
                      brindlow_testkit)
target_compile_definitions(brindlow_bundle_tests PRIVATE
  BRINDLOW_APP_TEST_DATA="${CMAKE_CURRENT_SOURCE_DIR}/tests/app/data"
  BRINDLOW_APP_BUNDLE="${BRINDLOW_APP_BUNDLE}"
  BRINDLOW_E2E_ARTIFACTS="${_app_artifacts}"
  BRINDLOW_BUILD_DIR="${CMAKE_BINARY_DIR}"
  BRINDLOW_LSAN_SUPPRESSIONS="${CMAKE_SOURCE_DIR}/.ci/lsan.supp")
add_dependencies(brindlow_bundle_tests Brindlow brindlow_bundle_resources)
set_target_properties(brindlow_bundle_tests PROPERTIES CROSSCOMPILING_EMULATOR
  "bash;${CMAKE_CURRENT_SOURCE_DIR}/tests/app/e2e/run_under_x.sh")
gtest_discover_tests(brindlow_bundle_tests DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
  PROPERTIES TIMEOUT 300 SKIP_REGULAR_EXPRESSION "\\[  SKIPPED \\]")
