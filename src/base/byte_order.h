// Little-endian stores for the replies, messages and records the bridge builds.
#pragma once

#include <cstdint>

namespace vx {

inline void StoreLE32(unsigned char* at, std::uint32_t value) {
  at[0] = static_cast<unsigned char>(value);
  at[1] = static_cast<unsigned char>(value >> 8);
  at[2] = static_cast<unsigned char>(value >> 16);
  at[3] = static_cast<unsigned char>(value >> 24);
}

inline void StoreLE64(unsigned char* at, std::uint64_t value) {
  StoreLE32(at, static_cast<std::uint32_t>(value));
  StoreLE32(at + 4, static_cast<std::uint32_t>(value >> 32));
}

}  // namespace vx
