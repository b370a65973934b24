# The input injector: the rules for the phone's input above a small pointer and keyboard seam, and
# the keymap questions answered with xkbcommon (the X11 device behind the seam is the X11 backend's).
pkg_check_modules(XKBCOMMON REQUIRED IMPORTED_TARGET xkbcommon)

add_library(vantrel_input
  InputInjector.cpp
  KeyPositions.cpp
  SpareKeycodes.cpp
  TypedText.cpp
  XkbKeymap.cpp
)
add_library(vantrel::input ALIAS vantrel_input)
target_include_directories(vantrel_input PUBLIC ${PROJECT_SOURCE_DIR}/BrisholmMac)
target_link_libraries(vantrel_input
  PUBLIC vantrel::protocol PkgConfig::XKBCOMMON
  PRIVATE vantrel::log PkgConfig::UTF8PROC)
vantrel_set_warnings(vantrel_input)

if(VANTREL_BUILD_TESTS)
  add_executable(vantrel_input_tests
    tests/InputInjectorTests.cpp
    tests/KeymapTests.cpp
  )
  target_link_libraries(vantrel_input_tests PRIVATE vantrel::input vantrel_fakes vantrel::log GTest::gtest_main GTest::gmock)
  vantrel_set_warnings(vantrel_input_tests)
  vantrel_add_tests(vantrel_input_tests LABELS unit tsan)
endif()
