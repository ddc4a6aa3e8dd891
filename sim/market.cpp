#include "market.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>

namespace vx::sim::market {

namespace {

constexpr std::size_t kMaxCodes = 500;
constexpr std::size_t kMaxFields = 100;
constexpr std::size_t kMaxDates = 5000;

// ---- Deterministic noise ---------------------------------------------------------------

std::uint64_t Mix(std::uint64_t x) {  // splitmix64 finaliser
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

std::uint64_t Hash(std::string_view text, std::uint64_t salt = 0) {
  std::uint64_t h = 0xCBF29CE484222325ull ^ Mix(kSeed + salt);
  for (const char c : text) {
    h ^= static_cast<unsigned char>(c);
    h *= 0x100000001B3ull;
  }
  return Mix(h);
}

// Uniform in [-1, 1).
double Noise(std::uint64_t a, std::uint64_t b) {
  const std::uint64_t bits = Mix(a ^ Mix(b + kSeed));
  return static_cast<double>(bits >> 11) / 4503599627370496.0 - 1.0;
}

double Cents(double value) { return std::round(value * 100.0) / 100.0; }

// ---- Calendar (proleptic Gregorian, days since 1970-01-01) -------------------------------

std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

int CivilFromDays(std::int64_t z) {  // as yyyymmdd
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2);
  return static_cast<int>(y * 10000 + m * 100 + d);
}

bool IsWeekday(std::int64_t day) {
  const std::int64_t weekday = ((day % 7) + 7 + 3) % 7;  // 0 = Monday; 1970-01-01 was a Thursday
  return weekday < 5;
}

// The date every snapshot is taken on: Friday 2024-06-28.
const std::int64_t kReferenceDay = DaysFromCivil(2024, 6, 28);

// "20240131", "2024-01-31" or "2024/01/31"; false for anything else.
bool ParseDate(std::string_view text, std::int64_t& day) {
  std::string digits;
  for (const char c : text) {
    if (std::isdigit(static_cast<unsigned char>(c))) {
      digits += c;
    } else if (c != '-' && c != '/' && c != ' ') {
      return false;
    }
  }
  if (digits.size() != 8) return false;
  const int y = std::stoi(digits.substr(0, 4));
  const auto m = static_cast<unsigned>(std::stoi(digits.substr(4, 2)));
  const auto d = static_cast<unsigned>(std::stoi(digits.substr(6, 2)));
  if (y < 1900 || y > 2200 || m < 1 || m > 12 || d < 1 || d > 31) return false;
  day = DaysFromCivil(y, m, d);
  return CivilFromDays(day) == y * 10000 + static_cast<int>(m * 100 + d);
}

bool ContainsNoCase(std::string_view text, std::string_view word) {
  auto lower = [](char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  };
  return std::search(text.begin(), text.end(), word.begin(), word.end(),
                     [&](char a, char b) { return lower(a) == lower(b); }) != text.end();
}

// Weekdays from begin to end inclusive ("Days=Alldays" in the options keeps weekends).
// Dates that do not parse give the week up to the reference date.
std::vector<std::int64_t> DateRange(std::string_view begin, std::string_view end,
                                    std::string_view options) {
  const bool allDays = ContainsNoCase(options, "Days=Alldays");
  std::int64_t first = 0;
  std::int64_t last = 0;
  if (!ParseDate(begin, first) || !ParseDate(end, last)) {
    first = kReferenceDay - 4;
    last = kReferenceDay;
  }
  std::vector<std::int64_t> days;
  for (std::int64_t day = first; day <= last && days.size() < kMaxDates; ++day) {
    if (allDays || IsWeekday(day)) days.push_back(day);
  }
  return days;
}

std::string DateText(std::int64_t day) { return std::to_string(CivilFromDays(day)); }

// Trading day `offset` away from `day` (0: the day itself, or the weekday before it).
std::int64_t ShiftTradingDays(std::int64_t day, int offset) {
  while (!IsWeekday(day)) --day;
  const int step = offset < 0 ? -1 : 1;
  for (int left = offset < 0 ? -offset : offset; left > 0; --left) {
    do day += step;
    while (!IsWeekday(day));
  }
  return day;
}

std::vector<std::string> SplitList(std::string_view text, std::vector<std::string> fallback,
                                   std::size_t limit) {
  std::vector<std::string> items;
  std::size_t start = 0;
  while (start <= text.size() && items.size() < limit) {
    std::size_t end = text.find(',', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view item = text.substr(start, end - start);
    while (!item.empty() && item.front() == ' ') item.remove_prefix(1);
    while (!item.empty() && item.back() == ' ') item.remove_suffix(1);
    if (!item.empty()) items.emplace_back(item);
    start = end + 1;
  }
  return items.empty() ? fallback : items;
}

std::string Arg(const Args& args, std::size_t index) {
  return index < args.size() ? args[index] : std::string();
}

// ---- Values ----------------------------------------------------------------------------

double ClosePrice(const std::string& code, std::int64_t day) {
  const std::uint64_t h = Hash(code);
  const double base = 5.0 + static_cast<double>(h % 9500) / 100.0;
  const double phase = static_cast<double>((h >> 20) % 628) / 100.0;
  const double trend = 0.15 * std::sin(static_cast<double>(day) / 17.0 + phase);
  return Cents(base * (1.0 + trend + 0.02 * Noise(h, static_cast<std::uint64_t>(day))));
}

ValueModel FieldValue(const std::string& code, const std::string& field, std::int64_t day,
                      std::uint64_t tick) {
  const std::uint64_t h = Hash(code, 1) ^ Hash(field, 2);
  const auto when = static_cast<std::uint64_t>(day) * 100000 + tick;
  const double close = ClosePrice(code, day);
  if (ContainsNoCase(field, "NAME")) return TextValue("Name " + code);
  if (ContainsNoCase(field, "CODE")) return TextValue(code);
  if (ContainsNoCase(field, "DATE")) return IntValue(6, CivilFromDays(day));
  if (ContainsNoCase(field, "TIME")) {
    return IntValue(6, 93000 + static_cast<std::int64_t>(tick % 60) * 100);
  }
  if (ContainsNoCase(field, "VOL") || ContainsNoCase(field, "SHARE")) {
    return IntValue(8, 100000 + static_cast<std::int64_t>(Mix(h ^ when) % 9900000));
  }
  if (ContainsNoCase(field, "PCT") || ContainsNoCase(field, "RATIO") ||
      ContainsNoCase(field, "CHG") || ContainsNoCase(field, "RATE")) {
    return FloatValue(static_cast<float>(Cents(10.0 * Noise(h, when))));
  }
  if (ContainsNoCase(field, "FLAG") || ContainsNoCase(field, "SUSPEND")) {
    return IntValue(1, static_cast<std::int64_t>(Mix(h ^ when) % 2));
  }
  if (ContainsNoCase(field, "COUNT") || ContainsNoCase(field, "NUM")) {
    return IntValue(7, static_cast<std::int64_t>(Mix(h ^ when) % 100000));
  }
  if (ContainsNoCase(field, "RAW") || ContainsNoCase(field, "BLOB")) {
    std::string bytes;
    for (std::uint64_t i = 0; i < 8; ++i) bytes += static_cast<char>(Mix(h ^ when ^ i) & 0xFF);
    return BytesValue(14, bytes);
  }
  if (ContainsNoCase(field, "OPEN"))
    return DoubleValue(Cents(close * (1.0 + 0.01 * Noise(h, when))));
  if (ContainsNoCase(field, "HIGH"))
    return DoubleValue(Cents(close * (1.0 + 0.015 * std::fabs(Noise(h, when)))));
  if (ContainsNoCase(field, "LOW"))
    return DoubleValue(Cents(close * (1.0 - 0.015 * std::fabs(Noise(h, when)))));
  if (ContainsNoCase(field, "AMT") || ContainsNoCase(field, "AMOUNT")) {
    return DoubleValue(Cents(close * static_cast<double>(100000 + Mix(h ^ when) % 9900000)));
  }
  // Prices: close, last, and anything unnamed.
  return DoubleValue(Cents(close * (1.0 + 0.002 * Noise(h, tick))));
}

std::vector<TextModel> Texts(const std::vector<std::string>& items) {
  return std::vector<TextModel>(items.begin(), items.end());
}

RecordModel Table(const std::vector<std::string>& codes, const std::vector<std::string>& fields,
                  const std::vector<std::int64_t>& days, std::uint64_t tick = 0) {
  RecordModel model;
  model.kind = RecordKind::Cube;
  model.lists[0] = Texts(codes);
  model.lists[1] = Texts(fields);
  for (const std::int64_t day : days) model.lists[2].emplace_back(DateText(day));
  model.values.reserve(codes.size() * fields.size() * days.size());
  for (const std::int64_t day : days) {
    for (const std::string& field : fields) {
      for (const std::string& code : codes)
        model.values.push_back(FieldValue(code, field, day, tick));
    }
  }
  return model;
}

std::vector<std::string> Codes(const std::string& text) {
  return SplitList(text, {"600000.SH"}, kMaxCodes);
}

std::vector<std::string> Fields(const std::string& text, std::vector<std::string> fallback) {
  return SplitList(text, std::move(fallback), kMaxFields);
}

std::vector<std::string> SectorMembers(const std::string& sector) {
  std::vector<std::string> members;
  const std::uint64_t h = Hash(sector, 3);
  for (std::uint64_t i = 0; i < 6; ++i) {
    const std::uint64_t number = 600000 + (Mix(h + i) % 4000);
    members.push_back(std::to_string(number) + ".SH");
  }
  return members;
}

}  // namespace

RecordModel QueryCube(std::string_view function, const Args& args) {
  const std::vector<std::string> price{"CLOSE"};
  if (function == "csd" || function == "csc" || function == "cmc" || function == "chmc" ||
      function == "cps") {
    return Table(Codes(Arg(args, 0)), Fields(Arg(args, 1), price),
                 DateRange(Arg(args, 2), Arg(args, 3), Arg(args, args.size() - 1)));
  }
  if (function == "css" || function == "csqsnapshot") {
    return Table(Codes(Arg(args, 0)), Fields(Arg(args, 1), price), {kReferenceDay});
  }
  if (function == "tradedates") {
    RecordModel model =
        Table({"CALENDAR"}, {"TRADE_DATE"}, DateRange(Arg(args, 0), Arg(args, 1), Arg(args, 2)));
    return model;
  }
  if (function == "sector") {
    std::int64_t day = kReferenceDay;
    ParseDate(Arg(args, 1), day);
    return Table(SectorMembers(Arg(args, 0)), {"CODE", "NAME"}, {day});
  }
  if (function == "getdate") {
    std::int64_t day = kReferenceDay;
    ParseDate(Arg(args, 0), day);
    const int offset = std::atoi(Arg(args, 1).c_str());
    RecordModel model;
    model.lists[0] = {std::string("DATE")};
    model.lists[1] = {std::string("OFFSET")};
    model.lists[2] = {DateText(day)};
    model.values = {IntValue(6, CivilFromDays(ShiftTradingDays(day, offset)))};
    return model;
  }
  if (function == "edb") {
    return Table(
        Codes(Arg(args, 0)), {"VALUE"},
        DateRange(DateText(ShiftTradingDays(kReferenceDay, -4)), DateText(kReferenceDay), ""));
  }
  // pquery, preport, edbquery, cfn, cfnquery: the first argument names the rows, the
  // second (if any) the fields.
  return Table(SplitList(Arg(args, 0), {"ALL"}, kMaxCodes),
               Fields(args.size() > 2 ? Arg(args, 1) : std::string(), {"VALUE"}), {kReferenceDay});
}

RecordModel ReportGrid(const Args& args) {
  const std::vector<std::string> columns = Fields(Arg(args, 1), {"CODE", "VOLUME", "PRICE"});
  const int rows = 1 + static_cast<int>(Hash(Arg(args, 0), 4) % 5);
  RecordModel model;
  model.kind = RecordKind::Grid;
  model.d1 = static_cast<std::int32_t>(columns.size());
  model.d2 = rows;
  model.lists[0] = Texts(columns);
  for (int row = 0; row < rows; ++row) {
    const std::string code = std::to_string(600000 + row * 3) + ".SH";
    for (const std::string& column : columns) {
      model.values.push_back(
          FieldValue(code, column, kReferenceDay, static_cast<std::uint64_t>(row)));
    }
  }
  return model;
}

int TradeDateCount(const Args& args) {
  return static_cast<int>(DateRange(Arg(args, 0), Arg(args, 1), Arg(args, 2)).size());
}

RecordModel Quote(int kind, int request, int sequence, const Args& args) {
  const std::vector<std::string> codes = SplitList(Arg(args, 0), {"600000.SH"}, 50);
  const std::vector<std::string> fields = Fields(Arg(args, 1), {"RT_LAST", "RT_VOL"});
  const auto tick = static_cast<std::uint64_t>(sequence) +
                    (static_cast<std::uint64_t>(kind) << 40) +
                    (static_cast<std::uint64_t>(static_cast<std::uint32_t>(request)) << 20);
  RecordModel model = Table(codes, fields, {kReferenceDay}, tick);
  // The third list is the quote's time: 09:30:00 plus three seconds per message.
  const int seconds = 9 * 3600 + 30 * 60 + 3 * (sequence % 7200);
  model.lists[2] = {
      std::to_string(seconds / 3600 * 10000 + seconds / 60 % 60 * 100 + seconds % 60)};
  return model;
}

}  // namespace vx::sim::market
