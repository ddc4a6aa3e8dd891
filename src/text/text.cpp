#include "text/text.h"

#include <climits>
#include <cstring>
#include <vector>

#include "base/alloc.h"
#include "base/jni_util.h"
#include "platform/platform.h"
#include "text/narrow.h"

namespace vx {

namespace {

using platform::CodePage;

static_assert(sizeof(jchar) == sizeof(char16_t), "jchar is one UTF-16 unit");

// Text that is not ASCII is converted this many UTF-16 units at a time, on the stack.
constexpr jsize kChunkUnits = 512;
// Java strings are fetched this many UTF-16 units at a time, on the stack.
constexpr jsize kFetchUnits = 2048;
// Bytes one UTF-16 unit can need in any ANSI codeset: UTF-8 needs 3 (4 for a pair),
// GB18030 needs 4; the default character needs 1.
constexpr int kMaxBytesPerUnit = 4;

// A noncharacter, preset where a fetch will write (see JStringToNative).
constexpr jchar kFetchSentinel = 0xFFFF;

bool IsHighSurrogate(jchar unit) { return unit >= 0xD800 && unit <= 0xDBFF; }

// UTF-8 text of at most kStackTextBytes through UTF-16 on the stack, with one converting
// call each way, into `out` (room for `capacity` bytes); *written is its length up to the
// first NUL, as the long road reads its zero-filled buffer. False when either step needs
// more room than it has.
bool Utf8ToAnsiOnStack(const char* input, int length, char* out, int capacity,
                       std::size_t* written) {
  char16_t wide[kStackTextBytes];
  const int units = platform::MultiByteToWide(CodePage::Utf8, input, length, wide,
                                              static_cast<int>(kStackTextBytes));
  if (units == 0) return false;
  const int bytes = platform::WideToMultiByte(CodePage::Ansi, wide, units, out, capacity);
  if (bytes == 0) return false;
  const void* nul = std::memchr(out, 0, static_cast<std::size_t>(bytes));
  *written = nul != nullptr ? static_cast<std::size_t>(static_cast<const char*>(nul) - out)
                            : static_cast<std::size_t>(bytes);
  return true;
}

// Appends `count` UTF-16 units, converted to `page`, to `out`.
void AppendConverted(CodePage page, const jchar* units, jsize count, std::string& out) {
  jsize ascii = 0;
  while (ascii < count && units[ascii] < 0x80) ++ascii;
  const std::size_t start = out.size();
  if (ascii == count) {
    out.resize(start + static_cast<std::size_t>(count));
    for (jsize i = 0; i < count; ++i)
      out[start + static_cast<std::size_t>(i)] = static_cast<char>(units[i]);
    return;
  }
  char16_t wide[kChunkUnits];
  std::memcpy(wide, units, static_cast<std::size_t>(count) * sizeof(char16_t));
  char narrow[kChunkUnits * kMaxBytesPerUnit];
  const int written =
      platform::WideToMultiByte(page, wide, count, narrow, static_cast<int>(sizeof(narrow)));
  if (written > 0) {
    out.append(narrow, static_cast<std::size_t>(written));
    return;
  }
  // A codeset with longer sequences than any known: measure and convert in place.
  const int needed = platform::WideToMultiByte(page, wide, count, nullptr, 0);
  if (needed <= 0) return;
  out.resize(start + static_cast<std::size_t>(needed));
  platform::WideToMultiByte(page, wide, count, &out[start], needed);
}

}  // namespace

bool ConvertThroughScratch(CodePage from, CodePage to, const char* input, std::size_t size,
                           std::string& out) {
  if (size > static_cast<std::size_t>(INT_MAX)) {
    out.clear();
    return true;
  }
  const int length = static_cast<int>(size);
  const int units = platform::MultiByteToWide(from, input, length, nullptr, 0);
  BridgeBuffer wideBlock((static_cast<std::size_t>(units) + 1) * sizeof(char16_t));
  if (!wideBlock) return false;
  auto* wide = reinterpret_cast<char16_t*>(wideBlock.get());
  platform::MultiByteToWide(from, input, length, wide, units);

  const int bytes = platform::WideToMultiByte(to, wide, units, nullptr, 0);
  BridgeBuffer narrowBlock(static_cast<std::size_t>(bytes) + 1);
  if (!narrowBlock) return false;
  auto* narrow = reinterpret_cast<char*>(narrowBlock.get());
  platform::WideToMultiByte(to, wide, units, narrow, bytes);

  out.assign(narrow);  // up to the first NUL
  return true;
}

std::size_t AnsiToUtf8Converter::MeasureThroughScratch(const char* ansi, std::size_t length) {
  std::string utf8;  // a failed conversion leaves it empty
  ConvertThroughScratch(CodePage::Ansi, CodePage::Utf8, ansi, length, utf8);
  return utf8.size();
}

std::size_t AnsiToUtf8Converter::WriteThroughScratch(const char* ansi, std::size_t length,
                                                     unsigned char* out, std::size_t capacity) {
  std::string utf8;  // a failed conversion leaves it empty
  ConvertThroughScratch(CodePage::Ansi, CodePage::Utf8, ansi, length, utf8);
  if (utf8.size() > capacity) return kNoRoom;
  std::memcpy(out, utf8.data(), utf8.size());
  return utf8.size();
}

bool AnsiToUtf8(const char* ansi, std::string& out) {
  if (ansi == nullptr || *ansi == '\0') {
    out.clear();
    return true;
  }
  return AnsiToUtf8Converter().WriteString(ansi, ScanText(ansi), out);
}

bool Utf8ToAnsi(const char* utf8, std::string& out) {
  if (utf8 == nullptr || *utf8 == '\0') {
    out.clear();
    return true;
  }
  const TextScan scan = ScanText(utf8);
  if (scan.ascii) {
    out.assign(utf8, scan.length);
    return true;
  }
  if (scan.length <= kStackTextBytes) {
    char converted[kStackTextBytes * kMaxBytesPerUnit];
    std::size_t written = 0;
    if (Utf8ToAnsiOnStack(utf8, static_cast<int>(scan.length), converted,
                          static_cast<int>(sizeof(converted)), &written)) {
      out.assign(converted, written);
      return true;
    }
  }
  return ConvertThroughScratch(CodePage::Utf8, CodePage::Ansi, utf8, scan.length, out);
}

namespace {

// Strings up to this many UTF-16 units (nearly every argument: codes, fields, dates,
// options) are fetched and narrowed in one step into buffers of this size.
constexpr jsize kShortUnits = 128;

// GetStringRegion throws only for bounds outside the string, and then leaves the buffer as
// it was: the last unit is preset to a rare value, and only when it is still there
// afterwards is the exception checked. False, with the exception cleared, when the units
// cannot be fetched.
bool FetchUnits(JNIEnv* env, jstring text, jsize start, jsize count, jchar* units) {
  units[count - 1] = kFetchSentinel;
  env->GetStringRegion(text, start, count, units);
  return units[count - 1] != kFetchSentinel || !ClearPendingException(env);
}

// U+0000 in a Java string stands for the two bytes C0 80 of the VM's modified UTF-8, which
// decode as two invalid bytes: two U+FFFD. It never ends the text, so the service never
// sees a prefix of what Java sent.
constexpr jchar kNulReplacement[] = {0xFFFD, 0xFFFD};

// Appends `count` units without U+0000 to `native`, converted to `page` a piece at a
// time, no piece ending inside a surrogate pair.
void AppendRun(CodePage page, const jchar* units, jsize count, std::string& native) {
  for (jsize at = 0; at < count;) {
    jsize piece = count - at < kChunkUnits ? count - at : kChunkUnits;
    if (at + piece < count && IsHighSurrogate(units[at + piece - 1])) --piece;
    AppendConverted(page, units + at, piece, native);
    at += piece;
  }
}

// Appends `count` fetched units to `native`: narrowed when they are ASCII, else converted
// to `page`, each U+0000 as two U+FFFD. When `more` units follow, a high surrogate at the
// end is left unused (it is fetched again with its partner). Returns the units used.
jsize AppendUnits(CodePage page, const jchar* units, jsize count, bool more, std::string& native) {
  const std::size_t start = native.size();
  native.resize(start + static_cast<std::size_t>(count));
  const NarrowScan scan = NarrowUnits(reinterpret_cast<const char16_t*>(units),
                                      static_cast<std::size_t>(count), &native[start]);
  if (scan.ascii && !scan.hasNul) return count;
  native.resize(start);
  jsize usable = count;
  if (more && IsHighSurrogate(units[count - 1])) --usable;
  for (jsize at = 0; at < usable;) {
    jsize end = at;
    while (end < usable && units[end] != 0) ++end;
    AppendRun(page, units + at, end - at, native);
    if (end == usable) break;
    AppendConverted(page, kNulReplacement, 2, native);
    at = end + 1;
  }
  return usable;
}

// Strings longer than kShortUnits: fetched kFetchUnits at a time.
std::string LongJStringToPage(JNIEnv* env, jstring text, jsize length, CodePage page) {
  std::string native;
  native.reserve(static_cast<std::size_t>(length));
  jchar units[kFetchUnits];
  jsize position = 0;
  while (position < length) {
    const jsize count = length - position < kFetchUnits ? length - position : kFetchUnits;
    if (!FetchUnits(env, text, position, count, units)) return std::string();
    position += AppendUnits(page, units, count, position + count < length, native);
  }
  return native;
}

// The string is read as UTF-16 with GetStringRegion into a buffer on the stack, and
// converted once to `page`. No allocation besides the result, no critical section, no JNI
// call between fetching and converting. ASCII units (the common case) are narrowed and
// checked in one pass; others go through the code page.
std::string JStringToPage(JNIEnv* env, jstring text, CodePage page) {
  if (env == nullptr || text == nullptr) return std::string();
  // GetStringLength cannot throw for a live string.
  const jsize length = env->GetStringLength(text);
  if (length <= 0) {
    if (length < 0) ClearPendingException(env);
    return std::string();
  }
  if (length > kShortUnits) return LongJStringToPage(env, text, length, page);

  jchar units[kShortUnits];
  if (!FetchUnits(env, text, 0, length, units)) return std::string();
  std::string native;
  AppendUnits(page, units, length, false, native);
  return native;
}

}  // namespace

std::string JStringToNative(JNIEnv* env, jstring text) {
  return JStringToPage(env, text, CodePage::Ansi);
}

std::string JStringToUtf8(JNIEnv* env, jstring text) {
  return JStringToPage(env, text, CodePage::Utf8);
}

jbyteArray NewJavaByteArray(JNIEnv* env, const void* data, std::int32_t length) {
  if (env == nullptr || data == nullptr || length < 1) return nullptr;
  jbyteArray array = env->NewByteArray(length);
  if (array == nullptr) return nullptr;  // its OutOfMemoryError stays pending for Java
  env->SetByteArrayRegion(array, 0, length, static_cast<const jbyte*>(data));
  return array;
}

jbyteArray StringToUtf8ByteArray(JNIEnv* env, const std::string& ansi) {
  std::string utf8;
  // Without memory for the conversion, the ANSI bytes go as they are.
  if (!AnsiToUtf8(ansi.c_str(), utf8)) utf8 = ansi;
  if (utf8.size() > static_cast<std::size_t>(INT32_MAX)) return nullptr;
  return NewJavaByteArray(env, utf8.data(), static_cast<std::int32_t>(utf8.size()));
}

jstring NativeToJString(JNIEnv* env, const char* ansi) {
  if (env == nullptr) return nullptr;
  if (ansi == nullptr) ansi = "";
  std::size_t size = std::strlen(ansi);
  if (size > static_cast<std::size_t>(INT_MAX)) size = static_cast<std::size_t>(INT_MAX);
  const int length = static_cast<int>(size);

  if (length <= kChunkUnits && IsAscii(ansi, size)) {
    jchar units[kChunkUnits];
    for (int i = 0; i < length; ++i) units[i] = static_cast<unsigned char>(ansi[i]);
    return env->NewString(units, length);
  }

  const int count = platform::MultiByteToWide(CodePage::Ansi, ansi, length, nullptr, 0);
  BridgeBuffer block((static_cast<std::size_t>(count) + 1) * sizeof(char16_t));
  if (!block) {
    // No memory for the conversion: the bytes as they are, one character each.
    std::vector<jchar> widened(size);
    for (std::size_t i = 0; i < size; ++i) widened[i] = static_cast<unsigned char>(ansi[i]);
    return env->NewString(widened.data(), length);
  }
  auto* wide = reinterpret_cast<char16_t*>(block.get());
  platform::MultiByteToWide(CodePage::Ansi, ansi, length, wide, count);
  return env->NewString(reinterpret_cast<const jchar*>(wide), count);
}

}  // namespace vx
