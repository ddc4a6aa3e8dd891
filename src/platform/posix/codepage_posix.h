// What the POSIX code pages offer besides the platform interface: the one-step route of the
// double-byte codesets that are converted by table, and hooks for tests that hold the
// tables against iconv. Only src/platform/ and the tests include it.
#pragma once

#include "platform/platform.h"

namespace vx::platform {

// The table route to UTF-8 for the calling thread's ANSI codeset as it is now, or a route
// with a null `convert` when the codeset has no table. AnsiToUtf8RouteForThread hands it
// out where there is one.
AnsiToUtf8Route DirectAnsiToUtf8();

// For tests: the ANSI conversions of MultiByteToWide and WideToMultiByte, always through
// iconv even where the codeset is converted by table, and whether the current ANSI codeset
// has a table.
int AnsiToWideByIconv(const char* text, int length, char16_t* out, int capacity);
int WideToAnsiByIconv(const char16_t* text, int length, char* out, int capacity);
bool AnsiHasTable();

}  // namespace vx::platform
