# Warnings are errors in our own code only; third-party headers come in as SYSTEM includes.
function(vantrel_set_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Werror)
endfunction()
