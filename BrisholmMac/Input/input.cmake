# The input injector: the rules for the phone's input above a small pointer and keyboard seam, and
# that seam on X11 (XTest for the events, xkbcommon for reading the live keymap).
pkg_check_modules(INPUT_X11 REQUIRED IMPORTED_TARGET xcb xcb-xtest xcb-xkb xkbcommon xkbcommon-x11)

add_library(vantrel_input
  InputInjector.cpp
  KeyPositions.cpp
  SpareKeycodes.cpp
  TypedText.cpp
  x11/CreateInjector.cpp
  x11/X11InputDevice.cpp
  x11/XkbKeymap.cpp
)
add_library(vantrel::input ALIAS vantrel_input)
target_include_directories(vantrel_input PUBLIC ${PROJECT_SOURCE_DIR}/BrisholmMac)
target_link_libraries(vantrel_input
  PUBLIC vantrel::protocol
  PRIVATE vantrel::log PkgConfig::INPUT_X11 PkgConfig::UTF8PROC)
vantrel_set_warnings(vantrel_input)

if(VANTREL_BUILD_TESTS)
  add_executable(vantrel_input_tests
    tests/InputInjectorTests.cpp
    tests/KeymapTests.cpp
  )
  target_link_libraries(vantrel_input_tests PRIVATE vantrel::input vantrel_fakes vantrel::log PkgConfig::INPUT_X11 GTest::gtest_main GTest::gmock)
  vantrel_set_warnings(vantrel_input_tests)
  vantrel_add_tests(vantrel_input_tests LABELS unit tsan)

  # A focused window of the tests' own records what the X server delivers. The tests take the
  # display's focus and pointer (the lock the other X tests share) and change its keymap, which
  # every X client reads, so they run alone.
  add_library(vantrel_input_x11_support STATIC tests/KeyRecorder.cpp)
  target_link_libraries(vantrel_input_x11_support
    PUBLIC vantrel::input vantrel::protocol_testing PkgConfig::INPUT_X11)
  vantrel_set_warnings(vantrel_input_x11_support)

  add_executable(vantrel_input_x11_tests tests/X11InputTests.cpp ${PROJECT_SOURCE_DIR}/BrisholmMac/Platform/x11/tests/PrivateXServer.cpp)
  target_link_libraries(vantrel_input_x11_tests PRIVATE vantrel_input_x11_support GTest::gtest_main GTest::gmock)
  vantrel_set_warnings(vantrel_input_x11_tests)
  gtest_discover_tests(vantrel_input_x11_tests DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS x11 RESOURCE_LOCK vantrel_x11_focus RUN_SERIAL TRUE)
endif()
