# Warnings for the project's own targets: on, and fatal.
function(vx_warnings target)
  # C4324 ("structure was padded due to alignment specifier") reports what alignas(64) is
  # there for (LogQueue's flag on a cache line of its own), in every class that holds one.
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4 /WX /permissive- /utf-8 /wd4324)
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
  # Tests use the C library as the standard gives it (getenv, strcpy, sscanf), which MSVC
  # flags as deprecated (C4996) in favour of its own variants.
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4 /WX /utf-8 /wd4324)
    target_compile_definitions(${target} PRIVATE _CRT_SECURE_NO_WARNINGS)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra -Werror -Wno-missing-field-initializers)
  endif()
endfunction()
