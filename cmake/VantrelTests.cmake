# GoogleTest programs and their labels. vantrel_add_tests(target LABELS ...) discovers a program's
# tests and gives each the labels. The label "tsan" marks the programs whose threads
# ThreadSanitizer can follow: ours alone, with no Qt, GLib or D-Bus underneath, whose own locks it
# cannot see. `make test` builds just those in the tsan preset (target vantrel_tsan_suite) and runs
# them (`ctest -L tsan`), so the ThreadSanitizer run costs a fraction of a whole build.
function(vantrel_add_tests target)
  cmake_parse_arguments(PARSE_ARGV 1 ARG "" "" "LABELS;PROPERTIES")
  set(properties "")
  if(ARG_PROPERTIES)
    set(properties PROPERTIES ${ARG_PROPERTIES})
  endif()
  gtest_discover_tests(${target} DISCOVERY_TIMEOUT 60 TEST_LIST ${target}_TESTS ${properties})
  # gtest_discover_tests flattens a property's list value into separate arguments, so a second
  # label would be lost: the labels are set by a file of our own, read by ctest after the
  # discovered tests.
  set(labels_file "${CMAKE_CURRENT_BINARY_DIR}/${target}_labels.cmake")
  file(WRITE "${labels_file}"
    "if(DEFINED ${target}_TESTS)\n  set_tests_properties(\${${target}_TESTS} PROPERTIES LABELS \"${ARG_LABELS}\")\nendif()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${labels_file}")
  if("tsan" IN_LIST ARG_LABELS)
    set_property(GLOBAL APPEND PROPERTY VANTREL_TSAN_PROGRAMS ${target})
  endif()
endfunction()

# After every program is declared: the ThreadSanitizer suite's build target.
function(vantrel_add_tsan_suite)
  get_property(programs GLOBAL PROPERTY VANTREL_TSAN_PROGRAMS)
  add_custom_target(vantrel_tsan_suite DEPENDS ${programs})
endfunction()
