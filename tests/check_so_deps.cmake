# Checks that a Linux shared library needs nothing beyond the C library at run time: its
# dynamic section names only glibc's own libraries, no symbol it imports carries a version
# of libstdc++ (GLIBCXX_, CXXABI_) or libgcc (GCC_), and ldd resolves it to glibc alone.
#   cmake -DLIB=<library> [-DREADELF=readelf] [-DLDD=ldd] -P check_so_deps.cmake
cmake_minimum_required(VERSION 3.25)

if(NOT LIB OR NOT EXISTS "${LIB}")
  message(FATAL_ERROR "check_so_deps: LIB not given or missing: '${LIB}'")
endif()
if(NOT READELF)
  find_program(READELF NAMES readelf REQUIRED)
endif()
if(NOT LDD)
  find_program(LDD NAMES ldd REQUIRED)
endif()

# What glibc itself consists of (its libraries and the dynamic loader).
set(glibc_names
  "libc\\.so\\.6" "libm\\.so\\.6" "libpthread\\.so\\.0" "libdl\\.so\\.2" "librt\\.so\\.1"
  "ld-linux-x86-64\\.so\\.2" "linux-vdso\\.so\\.1")
list(JOIN glibc_names "|" glibc_regex)
set(failures "")

execute_process(COMMAND "${READELF}" -d -W "${LIB}"
  OUTPUT_VARIABLE dynamic RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "check_so_deps: ${READELF} -d failed on ${LIB}")
endif()
string(REGEX MATCHALL "\\(NEEDED\\)[^\n]*\\[[^]\n]+\\]" needed_lines "${dynamic}")
set(needed "")
foreach(line IN LISTS needed_lines)
  string(REGEX REPLACE ".*\\[([^]]+)\\]$" "\\1" name "${line}")
  list(APPEND needed "${name}")
  if(NOT name MATCHES "^(${glibc_regex})$")
    string(APPEND failures "  NEEDED ${name}\n")
  endif()
endforeach()
if(NOT needed MATCHES "libc\\.so\\.6")
  string(APPEND failures "  no NEEDED libc.so.6: not a dynamically linked glibc library?\n")
endif()

execute_process(COMMAND "${READELF}" --dyn-syms -W "${LIB}"
  OUTPUT_VARIABLE symbols RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "check_so_deps: ${READELF} --dyn-syms failed on ${LIB}")
endif()
string(REGEX MATCHALL "[^ \n]+@(GLIBCXX|CXXABI|GCC)_[0-9.]+" runtime_symbols "${symbols}")
if(runtime_symbols)
  list(REMOVE_DUPLICATES runtime_symbols)
  list(JOIN runtime_symbols "\n    " text)
  string(APPEND failures "  imports from the C++ runtime:\n    ${text}\n")
endif()

execute_process(COMMAND "${LDD}" "${LIB}" OUTPUT_VARIABLE resolved RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "check_so_deps: ${LDD} failed on ${LIB}")
endif()
string(REPLACE "\n" ";" resolved_lines "${resolved}")
foreach(line IN LISTS resolved_lines)
  string(STRIP "${line}" line)
  if(line STREQUAL "")
    continue()
  endif()
  string(REGEX MATCH "^[^ ]+" name "${line}")
  get_filename_component(name "${name}" NAME)
  if(NOT name MATCHES "^(${glibc_regex})$" OR line MATCHES "not found")
    string(APPEND failures "  ldd: ${line}\n")
  endif()
endforeach()

if(failures)
  message(FATAL_ERROR "${LIB} needs more than glibc at run time:\n${failures}")
endif()
list(JOIN needed ", " needed_text)
message(STATUS "${LIB}: needs glibc only (${needed_text})")
