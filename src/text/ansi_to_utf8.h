// The one road from ANSI text to UTF-8, with a measure step and a write step.
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "platform/ascii.h"
#include "platform/platform.h"

namespace vx {

// Texts of at most this many bytes are converted on the stack, without allocating, so their
// conversions cannot fail; longer ones through two zero-filled scratch buffers from
// BridgeAlloc. ASCII text of any length is copied as it is.
constexpr std::size_t kStackTextBytes = 512;
static_assert(kStackTextBytes <= static_cast<std::size_t>(platform::kAnsiToUtf8RouteBytes),
              "the platform's route takes every text kept on the stack");

// `length` bytes (no terminator implied) from code page `from` to `to` through UTF-16, each
// step measured and converted into a zero-filled scratch buffer from BridgeAlloc; `out` is
// the result up to its first NUL. False, with `out` untouched, when a buffer cannot be
// allocated. A text longer than INT_MAX bytes, beyond what the conversions take, gives ""
// and true.
bool ConvertThroughScratch(platform::CodePage from, platform::CodePage to, const char* input,
                           std::size_t length, std::string& out);

// ANSI text to UTF-8 for every caller: AnsiToUtf8, and the two passes over a Result record
// (SizeCounter measures each text, ResultWriter writes it). Which road a text takes is
// decided in RoadFor alone:
// - ASCII text is copied as it is;
// - other text up to kStackTextBytes goes through the platform's route (a table, or the
//   two steps through UTF-16 on the stack), looked up on the first such text and kept, for
//   a caller converting many under one locale; it does not allocate;
// - longer text, or text the route gives back, goes through scratch memory, and a
//   conversion that fails for lack of it gives empty text (false from WriteString).
// All three give the bytes of MultiByteToWide and WideToMultiByte through UTF-16, up to
// the first NUL. Copyable: copies share nothing.
class AnsiToUtf8Converter {
 public:
  // Write's answer when the bytes do not fit.
  static constexpr std::size_t kNoRoom = SIZE_MAX;

  // The measure step: the size of the UTF-8 form of a text, scanned with ScanText.
  std::size_t Measure(const char* ansi, TextScan scan) {
    switch (RoadFor(scan)) {
      case Road::kCopy:
        return scan.length;
      case Road::kStack: {
        const platform::AnsiToUtf8Route route = Route();
        const int size = route.convert(route.state, ansi, Length(scan), nullptr, 0);
        if (size > 0) return static_cast<std::size_t>(size);
        break;
      }
      case Road::kScratch:
        break;
    }
    return MeasureThroughScratch(ansi, scan.length);
  }

  // Whether a text takes the copying road (it is ASCII, the same in UTF-8), and that road
  // alone: what Write does for such a text, without a converter. For a sink whose loops keep
  // it in registers: the converter's address is then never taken for the commonest texts.
  static bool Copies(TextScan scan) { return RoadFor(scan) == Road::kCopy; }
  static std::size_t Copy(const char* ansi, TextScan scan, unsigned char* out,
                          std::size_t capacity) {
    if (scan.length > capacity) return kNoRoom;
    CopyShort(out, ansi, scan.length);
    return scan.length;
  }

  // The write step: the UTF-8 form of a text scanned with ScanText into `out`, which has
  // room for `capacity` bytes. Returns the bytes written, or kNoRoom when they do not fit.
  std::size_t Write(const char* ansi, TextScan scan, unsigned char* out, std::size_t capacity) {
    switch (RoadFor(scan)) {
      case Road::kCopy:
        return Copy(ansi, scan, out, capacity);
      case Road::kStack: {
        if (capacity == 0) return kNoRoom;  // a text that is not ASCII takes a byte at least
        const platform::AnsiToUtf8Route route = Route();
        const int size = route.convert(route.state, ansi, Length(scan),
                                       reinterpret_cast<char*>(out), Room(capacity));
        if (size > 0) return static_cast<std::size_t>(size);
        if (size == 0) return kNoRoom;
        break;
      }
      case Road::kScratch:
        break;
    }
    return WriteThroughScratch(ansi, scan.length, out, capacity);
  }

  // As Write, without scratch memory: a text that would need it answers kNoRoom.
  std::size_t WriteWithoutScratch(const char* ansi, TextScan scan, unsigned char* out,
                                  std::size_t capacity) {
    if (RoadFor(scan) != Road::kStack) {
      return scan.ascii ? Write(ansi, scan, out, capacity) : kNoRoom;
    }
    if (capacity == 0) return kNoRoom;
    const platform::AnsiToUtf8Route route = Route();
    const int size = route.convert(route.state, ansi, Length(scan), reinterpret_cast<char*>(out),
                                   Room(capacity));
    return size > 0 ? static_cast<std::size_t>(size) : kNoRoom;
  }

  // The write step into a string: false, with `out` untouched, when scratch memory cannot
  // be allocated.
  bool WriteString(const char* ansi, TextScan scan, std::string& out) {
    switch (RoadFor(scan)) {
      case Road::kCopy:
        out.assign(ansi, scan.length);
        return true;
      case Road::kStack: {
        char utf8[3 * kStackTextBytes];  // the most a text kept on the stack can take
        const platform::AnsiToUtf8Route route = Route();
        const int size =
            route.convert(route.state, ansi, Length(scan), utf8, static_cast<int>(sizeof(utf8)));
        if (size > 0) {
          out.assign(utf8, static_cast<std::size_t>(size));
          return true;
        }
        break;
      }
      case Road::kScratch:
        break;
    }
    return ConvertThroughScratch(platform::CodePage::Ansi, platform::CodePage::Utf8, ansi,
                                 scan.length, out);
  }

 private:
  enum class Road { kCopy, kStack, kScratch };

  static Road RoadFor(TextScan scan) {
    if (scan.ascii) return Road::kCopy;
    return scan.length <= kStackTextBytes ? Road::kStack : Road::kScratch;
  }

  // The platform's route, fetched for the first text that takes it.
  platform::AnsiToUtf8Route Route() {
    if (m_route.convert == nullptr) m_route = platform::AnsiToUtf8RouteForThread();
    return m_route;
  }
  // A text on the stack road as the route takes it, and a room as an int.
  static int Length(TextScan scan) { return static_cast<int>(scan.length); }
  static int Room(std::size_t capacity) {
    return capacity < static_cast<std::size_t>(INT_MAX) ? static_cast<int>(capacity) : INT_MAX;
  }

  // The scratch road, out of line (and without `this`, so that a sink holding the converter
  // can stay in registers): a text whose memory cannot be allocated measures and writes as
  // empty.
  static std::size_t MeasureThroughScratch(const char* ansi, std::size_t length);
  static std::size_t WriteThroughScratch(const char* ansi, std::size_t length, unsigned char* out,
                                         std::size_t capacity);

  // memcpy, with the short copies that texts mostly need done inline: for 4 to 16 bytes,
  // two words that overlap in the middle.
  static void CopyShort(unsigned char* to, const char* from, std::size_t length) {
    if (length > 16) {
      std::memcpy(to, from, length);
    } else if (length >= 8) {
      CopyOverlapping<std::uint64_t>(to, from, length);
    } else if (length >= 4) {
      CopyOverlapping<std::uint32_t>(to, from, length);
    } else {
      for (std::size_t i = 0; i < length; ++i) to[i] = static_cast<unsigned char>(from[i]);
    }
  }
  template <typename Word>
  static void CopyOverlapping(unsigned char* to, const char* from, std::size_t length) {
    Word head;
    Word tail;
    std::memcpy(&head, from, sizeof(Word));
    std::memcpy(&tail, from + length - sizeof(Word), sizeof(Word));
    std::memcpy(to, &head, sizeof(Word));
    std::memcpy(to + length - sizeof(Word), &tail, sizeof(Word));
  }

  platform::AnsiToUtf8Route m_route{nullptr, nullptr};
};

}  // namespace vx
