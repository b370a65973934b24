# The window follower: pure rules over the WindowList platform interface, which the desktop
# library implements on the X window list.
add_library(vantrel_follower ${CMAKE_CURRENT_LIST_DIR}/WindowFollower.cpp)
add_library(vantrel::follower ALIAS vantrel_follower)
target_include_directories(vantrel_follower PUBLIC ${PROJECT_SOURCE_DIR}/BrisholmMac)
vantrel_set_warnings(vantrel_follower)

if(VANTREL_BUILD_TESTS)
  add_executable(vantrel_follower_tests ${CMAKE_CURRENT_LIST_DIR}/tests/WindowFollowerTests.cpp)
  target_link_libraries(vantrel_follower_tests PRIVATE vantrel::follower vantrel_fakes GTest::gtest_main)
  vantrel_set_warnings(vantrel_follower_tests)
  vantrel_add_tests(vantrel_follower_tests LABELS unit tsan)

  # Over the real window list, with windows made by the desktop tests' window maker.
  add_executable(vantrel_follower_x11_tests ${CMAKE_CURRENT_LIST_DIR}/tests/WindowFollowerX11Tests.cpp)
  target_link_libraries(vantrel_follower_x11_tests PRIVATE vantrel::follower vantrel_desktop_test_support)
  vantrel_set_warnings(vantrel_follower_x11_tests)
  gtest_discover_tests(vantrel_follower_x11_tests DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS x11 RESOURCE_LOCK vantrel_x11_focus)
endif()
