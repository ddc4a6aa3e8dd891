# Warnings for the project's own targets, C++ and Java.
#
# VX_WARNINGS_AS_ERRORS makes them fatal. Every preset, and so CI, turns it on; a build
# configured without a preset (a packager's, or one with a newer compiler or JDK that warns
# about more) gets the same warnings, reported but not fatal.
option(VX_WARNINGS_AS_ERRORS "Treat warnings in the project's own code as errors" OFF)

function(vx_warnings target)
  # C4324 ("structure was padded due to alignment specifier") reports what alignas(64) is
  # there for (LogQueue's flag on a cache line of its own), in every class that holds one.
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4 $<$<BOOL:${VX_WARNINGS_AS_ERRORS}>:/WX>
      /permissive- /utf-8 /wd4324)
  else()
    target_compile_options(${target} PRIVATE
      -Wall -Wextra -Wpedantic $<$<BOOL:${VX_WARNINGS_AS_ERRORS}>:-Werror>
      -Wshadow -Wconversion -Wsign-conversion -Wold-style-cast
      -Wnon-virtual-dtor -Woverloaded-virtual -Wnull-dereference
      -Wformat=2 -Wimplicit-fallthrough)
  endif()
endfunction()

# Tests and test doubles: the same switch, minus the noisiest conversions.
function(vx_test_warnings target)
  # Tests use the C library as the standard gives it (getenv, strcpy, sscanf), which MSVC
  # flags as deprecated (C4996) in favour of its own variants.
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4 $<$<BOOL:${VX_WARNINGS_AS_ERRORS}>:/WX>
      /utf-8 /wd4324)
    target_compile_definitions(${target} PRIVATE _CRT_SECURE_NO_WARNINGS)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra
      $<$<BOOL:${VX_WARNINGS_AS_ERRORS}>:-Werror> -Wno-missing-field-initializers)
  endif()
endfunction()

# vx_java_compile_flags(<javac option>...): sets CMAKE_JAVA_COMPILE_FLAGS, which add_jar()
# reads, for the calling directory: UTF-8 sources, the given options (--release, -Xlint),
# and -Werror with VX_WARNINGS_AS_ERRORS.
macro(vx_java_compile_flags)
  set(CMAKE_JAVA_COMPILE_FLAGS -encoding UTF-8 ${ARGN})
  if(VX_WARNINGS_AS_ERRORS)
    list(APPEND CMAKE_JAVA_COMPILE_FLAGS -Werror)
  endif()
endmacro()
