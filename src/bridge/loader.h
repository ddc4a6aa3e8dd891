// Loads the service library once and resolves the Function table from it.
#pragma once

#include <cstdint>
#include <string>

namespace vx {

// Loads <directory> + the service library's file name unless a library is already
// loaded. True when a library is loaded (now or earlier).
bool LoadServiceLibrary(const std::string& directory);

// Frees the library, if loaded. The table keeps its entries.
void FreeServiceLibrary();

namespace testing {
// Loads LoadServiceLibrary has attempted since start.
std::uint64_t LibraryLoadCount();
}  // namespace testing

}  // namespace vx
