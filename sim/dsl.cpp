#include "dsl.h"

#include <cctype>
#include <charconv>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <system_error>
#include <type_traits>

namespace vx::sim {

namespace {

constexpr std::uint64_t kMaxRepeat = 10'000'000;
constexpr std::uint64_t kMaxItems = 10'000'000;  // texts or values in one record

struct ParseError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

bool IsWordChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; }

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

class Cursor {
 public:
  explicit Cursor(std::string_view text) : m_text(text) {}

  [[noreturn]] void Fail(const std::string& what) const {
    throw ParseError("at " + std::to_string(m_pos) + ": " + what);
  }

  void SkipSpaces() {
    while (m_pos < m_text.size() && (m_text[m_pos] == ' ' || m_text[m_pos] == '\t')) ++m_pos;
  }

  bool AtEnd() {
    SkipSpaces();
    return m_pos == m_text.size();
  }

  char Peek() {
    SkipSpaces();
    return m_pos < m_text.size() ? m_text[m_pos] : '\0';
  }

  bool Accept(char c) {
    if (Peek() != c || AtEnd()) return false;
    ++m_pos;
    return true;
  }

  void Expect(char c) {
    if (!Accept(c)) Fail(std::string("expected '") + c + "'");
  }

  // Accepts `word` when it stands alone (not followed by a letter or digit).
  bool AcceptWord(std::string_view word) {
    SkipSpaces();
    if (m_text.substr(m_pos, word.size()) != word) return false;
    const std::size_t end = m_pos + word.size();
    if (end < m_text.size() && IsWordChar(m_text[end])) return false;
    m_pos = end;
    return true;
  }

  std::string Word() {
    SkipSpaces();
    const std::size_t start = m_pos;
    while (m_pos < m_text.size() && IsWordChar(m_text[m_pos])) ++m_pos;
    return std::string(m_text.substr(start, m_pos - start));
  }

  // A token of number characters, up to a separator.
  std::string_view NumberToken() {
    SkipSpaces();
    const std::size_t start = m_pos;
    while (m_pos < m_text.size() && std::strchr(",;:=*/| \t", m_text[m_pos]) == nullptr) ++m_pos;
    if (m_pos == start) Fail("expected a number");
    return m_text.substr(start, m_pos - start);
  }

  template <typename T>
  T Integer() {
    std::string_view token = NumberToken();
    const bool negative = !token.empty() && token[0] == '-';
    if (negative || (!token.empty() && token[0] == '+')) token.remove_prefix(1);
    int base = 10;
    if (token.size() > 2 && token[0] == '0' && (token[1] == 'x' || token[1] == 'X')) {
      token.remove_prefix(2);
      base = 16;
    }
    std::uint64_t magnitude = 0;
    const auto [end, status] =
        std::from_chars(token.data(), token.data() + token.size(), magnitude, base);
    if (status != std::errc() || end != token.data() + token.size()) Fail("bad integer");
    return Narrow<T>(magnitude, negative, base == 16);
  }

  template <typename T>
  T Floating() {
    const std::string_view token = NumberToken();
    T value{};
    const auto [end, status] = std::from_chars(token.data(), token.data() + token.size(), value);
    if (status != std::errc() || end != token.data() + token.size()) Fail("bad number");
    return value;
  }

  std::uint64_t Count() {
    const auto count = Integer<std::int64_t>();
    if (count < 0 || static_cast<std::uint64_t>(count) > kMaxRepeat) Fail("count out of range");
    return static_cast<std::uint64_t>(count);
  }

  std::string Quoted() {
    Expect('"');
    std::string bytes;
    while (true) {
      if (m_pos >= m_text.size()) Fail("unterminated text");
      const char c = m_text[m_pos++];
      if (c == '"') return bytes;
      if (c != '\\') {
        bytes += c;
        continue;
      }
      if (m_pos >= m_text.size()) Fail("unterminated escape");
      const char escaped = m_text[m_pos++];
      if (escaped == '"' || escaped == '\\') {
        bytes += escaped;
      } else if (escaped == 'x') {
        const int high = m_pos < m_text.size() ? HexDigit(m_text[m_pos]) : -1;
        const int low = m_pos + 1 < m_text.size() ? HexDigit(m_text[m_pos + 1]) : -1;
        if (high < 0 || low < 0) Fail("\\x needs two hex digits");
        bytes += static_cast<char>(high * 16 + low);
        m_pos += 2;
      } else {
        Fail("unknown escape " + QuoteText(std::string("\\") + escaped));
      }
    }
  }

 private:
  template <typename T>
  T Narrow(std::uint64_t magnitude, bool negative, bool hex) const {
    using Wide = std::int64_t;
    if constexpr (std::is_same_v<T, std::int64_t>) {
      // Hex spells the bits: 0xFFFFFFFFFFFFFFFF is -1.
      if (hex && !negative) return static_cast<Wide>(magnitude);
      if (magnitude > (negative ? 0x8000000000000000ull : 0x7FFFFFFFFFFFFFFFull)) {
        Fail("integer out of range");
      }
      return negative ? static_cast<Wide>(0 - magnitude) : static_cast<Wide>(magnitude);
    } else {
      static_assert(std::is_same_v<T, std::int32_t> || std::is_same_v<T, std::uint32_t>);
      if (hex && !negative && magnitude <= 0xFFFFFFFFull) {
        return static_cast<T>(static_cast<std::uint32_t>(magnitude));
      }
      const Wide value = negative ? -static_cast<Wide>(magnitude) : static_cast<Wide>(magnitude);
      if (magnitude > 0xFFFFFFFFull || value < static_cast<Wide>(std::numeric_limits<T>::min()) ||
          value > static_cast<Wide>(std::numeric_limits<T>::max())) {
        Fail("integer out of range");
      }
      return static_cast<T>(value);
    }
  }

  std::string_view m_text;
  std::size_t m_pos = 0;
};

bool AtItemEnd(Cursor& in) { return in.AtEnd() || in.Peek() == ';'; }

std::uint64_t Repeat(Cursor& in) { return in.Accept('*') ? in.Count() : 1; }

void CheckTotal(Cursor& in, std::uint64_t total) {
  if (total > kMaxItems) in.Fail("too many items");
}

std::vector<TextModel> ParseTexts(Cursor& in) {
  std::vector<TextModel> texts;
  if (AtItemEnd(in)) return texts;
  do {
    TextModel text;
    if (!in.AcceptWord("null")) {
      if (in.Peek() != '"') in.Fail("expected a quoted text or null");
      text = in.Quoted();
    }
    const std::uint64_t repeat = Repeat(in);
    CheckTotal(in, texts.size() + repeat);
    texts.insert(texts.end(), repeat, text);
  } while (in.Accept(','));
  return texts;
}

std::optional<std::uint32_t> ByteCount(Cursor& in) {
  if (!in.Accept('/')) return std::nullopt;
  return in.Integer<std::uint32_t>();
}

ValueModel ParseValue(Cursor& in) {
  ValueModel value;
  value.type = in.Integer<std::int32_t>();
  if (!in.Accept(':')) return value;
  const char next = in.Peek();
  if (next == '"') {
    value.data = ValueModel::Data::Bytes;
    value.bytes = in.Quoted();
    value.count = ByteCount(in);
  } else if (in.AcceptWord("null")) {
    value.data = ValueModel::Data::Null;
    value.count = ByteCount(in);
  } else if (next == 'f' || next == 'd') {
    in.Accept(next);
    const ValueModel bits =
        next == 'f' ? FloatValue(in.Floating<float>()) : DoubleValue(in.Floating<double>());
    std::memcpy(value.value, bits.value, sizeof value.value);
  } else {
    const ValueModel bits = IntValue(value.type, in.Integer<std::int64_t>());
    std::memcpy(value.value, bits.value, sizeof value.value);
  }
  return value;
}

std::vector<ValueModel> ParseValues(Cursor& in) {
  std::vector<ValueModel> values;
  if (AtItemEnd(in)) return values;
  do {
    const ValueModel value = ParseValue(in);
    const std::uint64_t repeat = Repeat(in);
    CheckTotal(in, values.size() + repeat);
    values.insert(values.end(), repeat, value);
  } while (in.Accept(','));
  return values;
}

void ParseRecordItems(Cursor& in, RecordModel& model) {
  const bool cube = model.kind == RecordKind::Cube;
  bool seen[6] = {};  // L1 L2 L3 / L, D1, D2, V
  bool valuesGiven = false;
  if (in.AcceptWord("none")) {
    if (!in.AtEnd()) in.Fail("nothing may follow none");
    model.none = true;
    return;
  }
  while (!in.AtEnd()) {
    const std::string key = in.Word();
    int slot = -1;
    if (cube && (key == "L1" || key == "L2" || key == "L3")) slot = key[1] - '1';
    if (!cube && key == "L") slot = 0;
    if (!cube && key == "D1") slot = 3;
    if (!cube && key == "D2") slot = 4;
    if (key == "V") slot = 5;
    if (slot < 0) in.Fail("unknown key '" + key + "' for a " + (cube ? "cube" : "grid"));
    if (seen[slot]) in.Fail("key '" + key + "' given twice");
    seen[slot] = true;
    in.Expect('=');
    if (slot <= 2) {
      model.lists[slot] = ParseTexts(in);
    } else if (slot == 3) {
      model.d1 = in.Integer<std::int32_t>();
    } else if (slot == 4) {
      model.d2 = in.Integer<std::int32_t>();
    } else if (!in.AcceptWord("null")) {
      valuesGiven = true;
      model.values = ParseValues(in);
    }
    if (!in.AtEnd()) in.Expect(';');
  }
  model.valuesNull = !valuesGiven;
  const std::int64_t spanned = model.SpannedValues();
  if (spanned > 0 && model.valuesNull) {
    in.Fail("the lists span " + std::to_string(spanned) + " values but V is null");
  }
  if (spanned > static_cast<std::int64_t>(model.values.size())) {
    in.Fail("the lists span " + std::to_string(spanned) + " values but V has " +
            std::to_string(model.values.size()));
  }
}

void ParseMessageHeader(Cursor& in, MessageModel& model) {
  if (in.AtEnd()) return;
  do {
    const std::string flag = in.Word();
    if (flag == "null") {
      model.nullMessage = true;
    } else if (flag == "tagwords") {
      model.tagWords = true;
    } else if (flag == "tagcube") {
      model.tagCube = true;
    } else if (flag == "linger") {
      model.linger = true;
    } else {
      std::int32_t* word = flag == "w1"    ? &model.word1
                           : flag == "w2"  ? &model.word2
                           : flag == "err" ? &model.errorCode
                           : flag == "w4"  ? &model.word4
                           : flag == "w5"  ? &model.word5
                                           : nullptr;
      if (word == nullptr) in.Fail("unknown message flag '" + flag + "'");
      in.Expect('=');
      *word = in.Integer<std::int32_t>();
    }
  } while (in.Accept(','));
  if (!in.AtEnd()) in.Fail("expected ',' or '|'");
}

}  // namespace

bool ParseRecord(std::string_view text, RecordKind kind, RecordModel& out, std::string& error) {
  RecordModel model;
  model.kind = kind;
  try {
    Cursor in(text);
    ParseRecordItems(in, model);
  } catch (const ParseError& failure) {
    error = failure.what();
    return false;
  } catch (const std::bad_alloc&) {
    error = "out of memory";
    return false;
  }
  out = std::move(model);
  error.clear();
  return true;
}

bool ParseMessage(std::string_view text, MessageModel& out, std::string& error) {
  MessageModel model;
  const std::size_t bar = text.find('|');
  try {
    Cursor in(text.substr(0, bar));
    ParseMessageHeader(in, model);
  } catch (const ParseError& failure) {
    error = std::string("header ") + failure.what();
    return false;
  }
  if (bar != std::string_view::npos) {
    RecordModel data;
    if (!ParseRecord(text.substr(bar + 1), RecordKind::Cube, data, error)) {
      error = "record " + error;
      return false;
    }
    if (data.none) {
      error = "record: none is not a message record; leave the record out";
      return false;
    }
    model.data = std::move(data);
  }
  if (model.tagCube && model.data) {
    error = "tagcube and a record exclude each other";
    return false;
  }
  out = std::move(model);
  error.clear();
  return true;
}

RecordModel IdentityCube(int thread, int sequence) {
  RecordModel model;
  model.kind = RecordKind::Cube;
  model.lists[0] = {"t" + std::to_string(thread)};
  model.lists[1] = {"s" + std::to_string(sequence)};
  model.lists[2] = {std::string("thread"), std::string("seq"), std::string("tag"),
                    std::string("blob")};
  std::string blob;
  for (int i = 0; i < sequence % 7; ++i)
    blob += static_cast<char>((thread * 31 + sequence + i) & 0xFF);
  model.values = {IntValue(6, thread), IntValue(6, sequence),
                  TextValue("t" + std::to_string(thread) + "s" + std::to_string(sequence)),
                  BytesValue(14, blob)};
  return model;
}

}  // namespace vx::sim
