# Warnings for the project's own targets: call vantera_warnings(target).
function(vantera_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor
                                           -Wold-style-cast -Wcast-align -Woverloaded-virtual
                                           -Wimplicit-fallthrough)
  if(VANTERA_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
