# Checks the export and import tables of the Windows JNI library:
#   cmake -DDLL=path/veltrixjni.dll [-DOBJDUMP=x86_64-w64-mingw32-objdump]
#         [-DEXPECTED=expected_exports.txt] -P check_dll_exports.cmake
# Exports: exactly JNI_OnLoad, JNI_OnUnload and the 33 NativeAPI entry points, undecorated
# (x64 has one calling convention, so __stdcall adds no @N suffix). Imports: system DLLs
# only; the C++ runtime, libgcc and winpthread must be linked in, not imported.
cmake_minimum_required(VERSION 3.25)

if(NOT DLL OR NOT EXISTS "${DLL}")
  message(FATAL_ERROR "check_dll_exports: DLL not given or missing: '${DLL}'")
endif()
if(NOT OBJDUMP)
  find_program(OBJDUMP NAMES x86_64-w64-mingw32-objdump REQUIRED)
endif()

execute_process(COMMAND "${OBJDUMP}" -p "${DLL}"
  OUTPUT_VARIABLE dump ERROR_VARIABLE dump_error RESULT_VARIABLE dump_result)
if(NOT dump_result EQUAL 0)
  message(FATAL_ERROR "check_dll_exports: ${OBJDUMP} -p failed (${dump_result}): ${dump_error}")
endif()

set(failures "")

# ---- PE32+ for x86-64 ----
if(NOT dump MATCHES "file format pei-x86-64")
  string(APPEND failures "  not a PE32+ x86-64 image\n")
endif()

# ---- Exports ----
# The expected names, one a line: the same list the ELF check uses.
if(NOT EXPECTED)
  set(EXPECTED "${CMAKE_CURRENT_LIST_DIR}/expected_exports.txt")
endif()
file(STRINGS "${EXPECTED}" expected REGEX "^[A-Za-z_][A-Za-z0-9_]*$")
list(FILTER expected EXCLUDE REGEX "^(JNI_OnLoad|JNI_OnUnload)$")
list(FILTER expected INCLUDE REGEX "^Java_com_tarnwick_api_NativeAPI_[a-zA-Z]+$")
list(LENGTH expected method_count)
if(NOT method_count EQUAL 33)
  message(FATAL_ERROR "check_dll_exports: ${EXPECTED} names ${method_count} NativeAPI methods, not 33")
endif()
list(APPEND expected JNI_OnLoad JNI_OnUnload)

# objdump lists each exported name in the name pointer table as "\t[ N] name".
string(FIND "${dump}" "[Ordinal/Name Pointer] Table" table_at)
set(exported "")
if(table_at LESS 0)
  string(APPEND failures "  no export name table\n")
else()
  string(SUBSTRING "${dump}" ${table_at} -1 table)
  string(REPLACE "\n" ";" table_lines "${table}")
  list(REMOVE_AT table_lines 0)
  foreach(line IN LISTS table_lines)
    if(line MATCHES "^[ \t]*\\[ *[0-9]+\\] +([^ \t]+)")
      list(APPEND exported "${CMAKE_MATCH_1}")
    elseif(NOT line MATCHES "^[ \t]*$")
      break()
    endif()
  endforeach()
endif()

foreach(name IN LISTS expected)
  if(NOT name IN_LIST exported)
    string(APPEND failures "  missing export: ${name}\n")
  endif()
endforeach()
foreach(name IN LISTS exported)
  if(NOT name IN_LIST expected)
    string(APPEND failures "  unexpected export: ${name}\n")
  endif()
endforeach()
list(LENGTH exported export_count)
list(REMOVE_DUPLICATES exported)
list(LENGTH exported unique_count)
if(NOT export_count EQUAL unique_count)
  string(APPEND failures "  a name is exported twice\n")
endif()

# ---- Imports ----
string(REGEX MATCHALL "DLL Name: [^\n]+" import_lines "${dump}")
set(imports "")
foreach(line IN LISTS import_lines)
  string(REGEX REPLACE "^DLL Name: *" "" dll "${line}")
  string(STRIP "${dll}" dll)
  string(TOLOWER "${dll}" dll_lower)
  list(APPEND imports "${dll}")
  if(dll_lower MATCHES "^(kernel32|msvcrt|ucrtbase|user32|advapi32)\\.dll$"
     OR dll_lower MATCHES "^api-ms-win-[a-z0-9-]+\\.dll$")
    continue()
  endif()
  string(APPEND failures "  imports a non-system DLL: ${dll}\n")
endforeach()
if(NOT imports)
  string(APPEND failures "  no import table: an objdump format change?\n")
endif()

if(failures)
  message(FATAL_ERROR "check_dll_exports: ${DLL}\n${failures}"
    "exports: ${exported}\nimports: ${imports}")
endif()
list(LENGTH exported export_count)
message(STATUS "check_dll_exports: ${export_count} exports as expected; imports: ${imports}")
