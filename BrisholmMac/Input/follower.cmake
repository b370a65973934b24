# The window follower: pure rules over the WindowList platform interface, which each desktop
# backend implements (X11: the EWMH window list, tested against a real X server there).
add_library(vantrel_follower ${CMAKE_CURRENT_LIST_DIR}/WindowFollower.cpp)
add_library(vantrel::follower ALIAS vantrel_follower)
target_include_directories(vantrel_follower PUBLIC ${PROJECT_SOURCE_DIR}/BrisholmMac)
vantrel_set_warnings(vantrel_follower)

if(VANTREL_BUILD_TESTS)
  add_executable(vantrel_follower_tests ${CMAKE_CURRENT_LIST_DIR}/tests/WindowFollowerTests.cpp)
  target_link_libraries(vantrel_follower_tests PRIVATE vantrel::follower vantrel_fakes GTest::gtest_main)
  vantrel_set_warnings(vantrel_follower_tests)
  vantrel_add_tests(vantrel_follower_tests LABELS unit tsan)
endif()
