# Warnings for the project's own targets; MIRTLE_WERROR makes them errors.
option(MIRTLE_WERROR "Treat warnings as errors" OFF)

function(mirtle_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wshadow -Wconversion -Wno-sign-conversion)
  if(MIRTLE_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
