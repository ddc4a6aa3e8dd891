// Text that the simulated library hands out is in the process's ANSI code page, as the real
// library's is. Its built-in texts are written in UTF-8; this converts them.
#pragma once

#include <string>
#include <string_view>

namespace vx::sim {

// `utf8` in the ANSI code page of the calling thread: the codeset of its LC_CTYPE locale on
// POSIX hosts, CP_ACP on Windows. A character the code page cannot hold becomes '?', one per
// character; so does a byte that is not part of well-formed UTF-8. ASCII is returned as is.
std::string Utf8ToAnsiText(std::string_view utf8);

}  // namespace vx::sim
