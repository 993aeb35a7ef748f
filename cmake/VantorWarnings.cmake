# Warning set for the project's own targets (third-party code is not built with it).
function(vantor_warnings target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Werror
    -Wshadow -Wnon-virtual-dtor -Wformat=2 -Wcast-align -Wundef)
endfunction()
