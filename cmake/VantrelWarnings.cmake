# Warnings are errors in our own code only; third-party headers come in as SYSTEM includes.
function(vantrel_set_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Werror)
  # gcc's flow analysis loses track of std::optional members in sanitizer-instrumented code at -O1
  # and reports them as maybe uninitialized; the uninstrumented builds keep the warning.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_FLAGS MATCHES "-fsanitize")
    target_compile_options(${target} PRIVATE -Wno-maybe-uninitialized)
  endif()
endfunction()
