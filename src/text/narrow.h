// Narrowing of UTF-16 units that are expected to be ASCII, the common case of every Java string
// that reaches the service.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define VX_NARROW_SSE2 1
#endif

namespace vx {

// What NarrowUnits saw.
struct NarrowScan {
  bool ascii;   // every unit was below 0x80: the bytes are the text in every code page
  bool hasNul;  // some unit was U+0000 (meaningful only when ascii)
};

// Writes the low byte of each of `count` units to `out` and reports whether all of them were
// ASCII and whether one was U+0000. When a unit is beyond ASCII, what was written is
// unspecified and the caller converts the units instead.
inline NarrowScan NarrowUnits(const char16_t* units, std::size_t count, char* out) {
  std::size_t i = 0;
  bool ascii = true;
  bool hasNul = false;
#if defined(VX_NARROW_SSE2)
  if (count >= 16) {
    // The OR of every unit shows any beyond ASCII; the units are packed to bytes with
    // unsigned saturation (exact for ASCII), and the smallest byte shows U+0000.
    __m128i orAll = _mm_setzero_si128();
    __m128i minAll = _mm_set1_epi8(-1);  // every byte 0xFF
    const auto load = [units](std::size_t at) {
      return _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + at));
    };
    for (; i + 32 <= count; i += 32) {
      const __m128i a = load(i), b = load(i + 8), c = load(i + 16), d = load(i + 24);
      orAll = _mm_or_si128(orAll, _mm_or_si128(_mm_or_si128(a, b), _mm_or_si128(c, d)));
      const __m128i ab = _mm_packus_epi16(a, b);
      const __m128i cd = _mm_packus_epi16(c, d);
      minAll = _mm_min_epu8(minAll, _mm_min_epu8(ab, cd));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), ab);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 16), cd);
    }
    for (; i + 16 <= count; i += 16) {
      const __m128i a = load(i), b = load(i + 8);
      orAll = _mm_or_si128(orAll, _mm_or_si128(a, b));
      const __m128i ab = _mm_packus_epi16(a, b);
      minAll = _mm_min_epu8(minAll, ab);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), ab);
    }
    const __m128i zero = _mm_setzero_si128();
    const __m128i high = _mm_and_si128(orAll, _mm_set1_epi16(-0x80));  // 0xFF80
    ascii = _mm_movemask_epi8(_mm_cmpeq_epi16(high, zero)) == 0xFFFF;
    hasNul = _mm_movemask_epi8(_mm_cmpeq_epi8(minAll, zero)) != 0;
  }
#endif
  std::uint16_t bits = 0;
  for (; i < count; ++i) {
    const std::uint16_t unit = units[i];
    bits = static_cast<std::uint16_t>(bits | unit);
    hasNul = hasNul || unit == 0;
    out[i] = static_cast<char>(unit);
  }
  return NarrowScan{ascii && bits < 0x80, hasNul};
}

}  // namespace vx
