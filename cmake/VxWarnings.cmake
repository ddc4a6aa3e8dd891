# Warnings for the project's own targets: on, and fatal.
function(vx_warnings target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4 /WX /permissive- /utf-8)
  else()
    target_compile_options(${target} PRIVATE
      -Wall -Wextra -Wpedantic -Werror
      -Wshadow -Wconversion -Wsign-conversion -Wold-style-cast
      -Wnon-virtual-dtor -Woverloaded-virtual -Wnull-dereference
      -Wformat=2 -Wimplicit-fallthrough)
  endif()
endfunction()

# Tests and test doubles: warnings fatal too, minus the noisiest conversions.
function(vx_test_warnings target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4 /WX /utf-8)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra -Werror -Wno-missing-field-initializers)
  endif()
endfunction()
