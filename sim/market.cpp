#include "market.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <utility>

#include "ansi_text.h"
#include "vxsim.h"

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

std::uint64_t Bits(std::uint64_t a, std::uint64_t b) { return Mix(a ^ Mix(b + kSeed)); }

// Uniform in [0, 1).
double Unit(std::uint64_t a, std::uint64_t b) {
  return static_cast<double>(Bits(a, b) >> 11) / 9007199254740992.0;
}

// Uniform in [-1, 1).
double Noise(std::uint64_t a, std::uint64_t b) { return 2.0 * Unit(a, b) - 1.0; }

// Close to a standard normal variate: a scaled sum of four uniforms.
double Normal(std::uint64_t a, std::uint64_t b) {
  double sum = 0.0;
  for (std::uint64_t i = 0; i < 4; ++i) sum += Unit(a + i * 0x9E37, b);
  return (sum - 2.0) * std::sqrt(3.0);
}

double Round(double value, int decimals) {
  const double scale = std::pow(10.0, decimals);
  return std::round(value * scale) / scale;
}

double Cents(double value) { return Round(value, 2); }

std::string Upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

bool Contains(std::string_view upperText, std::string_view word) {
  return upperText.find(word) != std::string_view::npos;
}

std::string Trim(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
    text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
    text.remove_suffix(1);
  return std::string(text);
}

std::vector<std::string> SplitList(std::string_view text, std::vector<std::string> fallback,
                                   std::size_t limit) {
  std::vector<std::string> items;
  std::size_t start = 0;
  while (start <= text.size() && items.size() < limit) {
    std::size_t end = text.find(',', start);
    if (end == std::string_view::npos) end = text.size();
    std::string item = Trim(text.substr(start, end - start));
    if (!item.empty()) items.push_back(std::move(item));
    start = end + 1;
  }
  return items.empty() ? fallback : items;
}

std::string Arg(const Args& args, std::size_t index) {
  return index < args.size() ? args[index] : std::string();
}

// The value of "key=value" in an option string ("a=1,b=2" or "a=1;b=2"), keys in any case.
std::string Option(std::string_view options, std::string_view key) {
  std::size_t start = 0;
  while (start <= options.size()) {
    std::size_t end = options.find_first_of(",;", start);
    if (end == std::string_view::npos) end = options.size();
    const std::string_view item = options.substr(start, end - start);
    const std::size_t equals = item.find('=');
    if (equals != std::string_view::npos && Upper(Trim(item.substr(0, equals))) == Upper(key)) {
      return Trim(item.substr(equals + 1));
    }
    start = end + 1;
  }
  return std::string();
}

// ---- Calendar ------------------------------------------------------------------------------

struct Holiday {
  unsigned month;
  unsigned first;
  unsigned last;
};

// New Year's Day, Labour Day and National Day: the exchanges close on these weekdays.
constexpr Holiday kHolidays[] = {{1, 1, 1}, {5, 1, 3}, {10, 1, 7}};

bool IsWeekday(std::int64_t day) {
  const std::int64_t weekday = ((day % 7) + 7 + 3) % 7;  // 0 = Monday; 1970-01-01 was a Thursday
  return weekday < 5;
}

bool IsHoliday(int civil) {
  const auto month = static_cast<unsigned>(civil / 100 % 100);
  const auto dayOfMonth = static_cast<unsigned>(civil % 100);
  return std::any_of(std::begin(kHolidays), std::end(kHolidays), [&](const Holiday& holiday) {
    return holiday.month == month && dayOfMonth >= holiday.first && dayOfMonth <= holiday.last;
  });
}

// Which days a date range lists, from the options: "Days=Alldays" every calendar day,
// "Days=Weekdays" every weekday, otherwise trading days.
enum class DayRule { Trading, Weekdays, All };

DayRule RuleOf(std::string_view options) {
  const std::string days = Upper(Option(options, "Days"));
  if (days == "ALLDAYS" || days == "ALL") return DayRule::All;
  if (days == "WEEKDAYS") return DayRule::Weekdays;
  return DayRule::Trading;
}

bool Listed(std::int64_t day, DayRule rule) {
  switch (rule) {
    case DayRule::All:
      return true;
    case DayRule::Weekdays:
      return IsWeekday(day);
    case DayRule::Trading:
      break;
  }
  return IsTradingDay(day);
}

// The days from begin to end inclusive. A begin that does not parse is the fifth trading day
// before the end; an end that does not parse is the reference day.
std::vector<std::int64_t> DateRange(std::string_view begin, std::string_view end,
                                    std::string_view options) {
  const DayRule rule = RuleOf(options);
  std::int64_t last = ReferenceDay();
  std::int64_t first = 0;
  if (!ParseDate(end, last)) last = ReferenceDay();
  if (!ParseDate(begin, first)) first = ShiftTradingDays(last, -4);
  std::vector<std::int64_t> days;
  for (std::int64_t day = first; day <= last && days.size() < kMaxDates; ++day) {
    if (Listed(day, rule)) days.push_back(day);
  }
  return days;
}

std::string DateText(std::int64_t day) { return std::to_string(CivilFromDays(day)); }

// ---- Instruments ------------------------------------------------------------------------------

struct Listing {
  const char* code;
  const char* name;  // UTF-8
  const char* sector;
  double price;       // close on the reference day
  double volatility;  // of the daily log return
  double shares;      // millions
  float pe;
  int listed;
  int lot;
};

// The universe: fictitious companies under exchange-style codes.
const Listing kUniverse[] = {
    {"600000.SH", u8"浦江发展银行", "Banks", 7.85, 0.012, 29352.0, 4.6f, 19991110, 100},
    {"600030.SH", u8"中瑞证券", "Brokers", 19.80, 0.021, 14821.0, 14.2f, 20030106, 100},
    {"600036.SH", u8"招海银行", "Banks", 33.20, 0.015, 25220.0, 5.9f, 20020409, 100},
    {"600276.SH", u8"恒安医药", "Pharma", 41.90, 0.022, 6380.0, 52.3f, 20001018, 100},
    {"600519.SH", u8"赤水酒业", "Beverages", 1468.00, 0.016, 1256.0, 24.8f, 20010827, 100},
    {"600900.SH", u8"长河水电", "Utilities", 28.70, 0.011, 24468.0, 22.1f, 20031118, 100},
    {"601012.SH", u8"隆光能源", "Energy", 16.40, 0.029, 7578.0, 11.7f, 20120411, 100},
    {"601318.SH", u8"平和保险", "Insurance", 42.60, 0.017, 18280.0, 7.3f, 20070301, 100},
    {"601888.SH", u8"中旅免税", "Retail", 72.40, 0.025, 2069.0, 23.9f, 20091015, 100},
    {"688981.SH", u8"芯海半导体", "Semiconductors", 48.20, 0.031, 7949.0, 87.5f, 20200716, 200},
    {"510300.SH", "Harbour 300 ETF", "Funds", 3.52, 0.010, 91560.0, 0.0f, 20120528, 100},
    {"000001.SZ", u8"深发银行", "Banks", 10.25, 0.013, 19406.0, 4.4f, 19910403, 100},
    {"000002.SZ", u8"万家地产", "Real Estate", 7.10, 0.028, 11930.0, 9.8f, 19910129, 100},
    {"000333.SZ", u8"美家电器", "Appliances", 64.10, 0.017, 7000.0, 13.2f, 20130918, 100},
    {"000858.SZ", u8"五谷佳酿", "Beverages", 126.30, 0.020, 3882.0, 17.6f, 19980427, 100},
    {"002415.SZ", u8"海视科技", "Technology", 28.60, 0.021, 9333.0, 19.4f, 20100528, 100},
    {"002594.SZ", u8"比安汽车", "Autos", 248.50, 0.024, 2911.0, 22.7f, 20110630, 100},
    {"300750.SZ", u8"宁泰新能源", "Energy", 176.80, 0.026, 4399.0, 19.9f, 20180611, 100},
    {"00700.HK", "Lotus Digital Holdings", "Technology", 368.20, 0.019, 9392.0, 18.3f, 20040616,
     100},
    {"01299.HK", u8"Crédit Lumière Asia", "Insurance", 57.35, 0.018, 11490.0, 13.1f, 20101029, 200},
};

struct Instrument {
  std::string code;  // as the caller spelled it
  std::string name;  // ANSI code page
  std::string sector;
  std::string exchange;
  std::string currency;
  double price = 0.0;
  double volatility = 0.0;
  double shares = 0.0;  // millions
  float pe = 0.0f;
  int listed = 0;
  int lot = 100;
  bool limited = true;  // daily price limit of +-10%
  std::uint64_t seed = 0;
};

const Listing* FindListing(std::string_view code) {
  const std::string upper = Upper(Trim(code));
  for (const Listing& listing : kUniverse) {
    if (upper == listing.code) return &listing;
  }
  return nullptr;
}

std::string ExchangeOf(const std::string& upperCode) {
  auto endsWith = [&](const char* suffix) {
    const std::string_view s(suffix);
    return upperCode.size() >= s.size() &&
           upperCode.compare(upperCode.size() - s.size(), s.size(), s) == 0;
  };
  if (endsWith(".SH")) return "SSE";
  if (endsWith(".SZ")) return "SZSE";
  if (endsWith(".HK")) return "HKEX";
  return "OTC";
}

Instrument Lookup(const std::string& code) {
  Instrument in;
  in.code = code;
  const std::string upper = Upper(Trim(code));
  in.exchange = ExchangeOf(upper);
  in.limited = in.exchange != "HKEX" && in.exchange != "OTC";
  in.currency = in.exchange == "HKEX" ? "HKD" : "CNY";
  if (const Listing* listing = FindListing(code)) {
    in.name = Utf8ToAnsiText(listing->name);
    in.sector = listing->sector;
    in.price = listing->price;
    in.volatility = listing->volatility;
    in.shares = listing->shares;
    in.pe = listing->pe;
    in.listed = listing->listed;
    in.lot = listing->lot;
    in.seed = Hash(listing->code);
    return in;
  }
  // Anything else trades too, under its own code as its name.
  const std::uint64_t h = Hash(upper);
  in.name = code;
  in.sector = "Unclassified";
  in.price = 5.0 + static_cast<double>(h % 9500) / 100.0;
  in.volatility = 0.012 + static_cast<double>((h >> 16) % 180) / 10000.0;
  in.shares = 200.0 + static_cast<double>((h >> 32) % 20000);
  in.pe = 5.0f + static_cast<float>((h >> 40) % 500) / 10.0f;
  in.listed = 20100104;
  in.seed = h;
  return in;
}

// ---- Daily series: a mean-reverting random walk of the log price ---------------------------

const std::int64_t kFirstDay = DaysFromCivil(2000, 1, 3);
const std::int64_t kLastDay = DaysFromCivil(2039, 12, 30);
constexpr double kReversion = 0.003;  // pull of the log price towards its level, per day

using Series = std::vector<double>;  // log price offset per calendar day from kFirstDay

std::shared_ptr<const Series> BuildSeries(const Instrument& in) {
  auto series = std::make_shared<Series>(static_cast<std::size_t>(kLastDay - kFirstDay + 1));
  const double limit = in.limited ? std::log(1.1) - 0.005 : 0.3;
  double level = 0.0;
  for (std::int64_t day = kFirstDay; day <= kLastDay; ++day) {
    if (day > kFirstDay && IsTradingDay(day)) {
      const double step =
          in.volatility * Normal(in.seed, static_cast<std::uint64_t>(day)) - kReversion * level;
      level += std::clamp(step, -limit, limit);
    }
    (*series)[static_cast<std::size_t>(day - kFirstDay)] = level;
  }
  return series;
}

// Series are kept for the instruments asked about lately, in a cache created on first use
// and freed by Shutdown.
using SeriesCache = std::unordered_map<std::uint64_t, std::shared_ptr<const Series>>;
std::mutex g_seriesMutex;
SeriesCache* g_seriesCache = nullptr;

std::shared_ptr<const Series> SeriesOf(const Instrument& in) {
  constexpr std::size_t kCacheSize = 64;
  {
    std::lock_guard<std::mutex> lock(g_seriesMutex);
    if (g_seriesCache != nullptr) {
      auto found = g_seriesCache->find(in.seed);
      if (found != g_seriesCache->end()) return found->second;
    }
  }
  std::shared_ptr<const Series> series = BuildSeries(in);
  std::lock_guard<std::mutex> lock(g_seriesMutex);
  if (g_seriesCache == nullptr) g_seriesCache = new SeriesCache();
  if (g_seriesCache->size() >= kCacheSize) g_seriesCache->clear();
  g_seriesCache->emplace(in.seed, series);
  return series;
}

std::int64_t ClampDay(std::int64_t day) { return std::clamp(day, kFirstDay, kLastDay); }

double LogLevel(const Series& series, std::int64_t day) {
  return series[static_cast<std::size_t>(ClampDay(day) - kFirstDay)];
}

double PriceOn(const Instrument& in, const Series& series, std::int64_t day) {
  return Cents(in.price * std::exp(LogLevel(series, day) - LogLevel(series, ReferenceDay())));
}

struct Bar {
  std::int64_t day = 0;
  bool trading = false;
  double open = 0.0;
  double high = 0.0;
  double low = 0.0;
  double close = 0.0;
  double preclose = 0.0;
  std::int64_t volume = 0;
  double amount = 0.0;
};

std::int64_t RoundToLots(double shares, int lot) {
  return static_cast<std::int64_t>(std::floor(shares / lot)) * lot;
}

Bar DailyBar(const Instrument& in, const Series& series, std::int64_t day) {
  Bar bar;
  bar.day = day;
  bar.trading = IsTradingDay(day);
  bar.close = PriceOn(in, series, day);
  if (!bar.trading) {  // the market is closed: the last close stands
    bar.open = bar.high = bar.low = bar.preclose = bar.close;
    return bar;
  }
  const std::int64_t previous = ShiftTradingDays(day - 1, 0);
  bar.preclose = PriceOn(in, series, previous);
  const auto when = static_cast<std::uint64_t>(day);
  const double gap = 0.35 * in.volatility * Noise(in.seed ^ 0x0FE1, when);
  bar.open = Cents(bar.preclose * std::exp(gap));
  bar.high = Cents(std::max(bar.open, bar.close) *
                   (1.0 + 0.6 * in.volatility * Unit(in.seed ^ 0x4161, when)));
  bar.low = Cents(std::min(bar.open, bar.close) *
                  (1.0 - 0.6 * in.volatility * Unit(in.seed ^ 0x1011, when)));
  if (in.limited) {
    bar.high = std::min(bar.high, Cents(bar.preclose * 1.1));
    bar.low = std::max(bar.low, Cents(bar.preclose * 0.9));
  }
  const double move = std::fabs(LogLevel(series, day) - LogLevel(series, previous));
  const double turnover = 0.001 + static_cast<double>(in.seed % 40) / 10000.0;  // of the shares
  const double shares = in.shares * 1e6 * turnover * (1.0 + 1.5 * move / in.volatility) *
                        (0.75 + 0.5 * Unit(in.seed ^ 0x5011, when));
  bar.volume = RoundToLots(shares, in.lot);
  bar.amount =
      Cents(static_cast<double>(bar.volume) * (bar.open + bar.high + bar.low + bar.close) / 4.0);
  return bar;
}

// ---- Intraday quotes: a replay of the reference day ---------------------------------------

// One quote every three seconds of the session, 09:30-11:30 and 13:00-15:00.
constexpr int kSessionSteps = 4800;

int SessionTime(int step) {  // hhmmss
  const int seconds = step <= kSessionSteps / 2 ? 9 * 3600 + 30 * 60 + 3 * step
                                                : 13 * 3600 + 3 * (step - kSessionSteps / 2);
  return seconds / 3600 * 10000 + seconds / 60 % 60 * 100 + seconds % 60;
}

std::string TimeText(int hhmmss) {
  char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", hhmmss / 10000, hhmmss / 100 % 100,
                hhmmss % 100);
  return text;
}

// Smooth noise over the session at several scales, each scale twice as long as the one
// before and sqrt(2) as strong, as the increments of a random walk are.
double SessionNoise(const Instrument& in, int step) {
  double sum = 0.0;
  const double base = in.volatility / std::sqrt(static_cast<double>(kSessionSteps));
  for (int octave = 0; octave <= 12; ++octave) {
    const int span = 1 << octave;
    const int cell = step / span;
    const double f = static_cast<double>(step % span) / span;
    const std::uint64_t salt = in.seed ^ (0xA11CEull + static_cast<std::uint64_t>(octave) * 977);
    const double a = Noise(salt, static_cast<std::uint64_t>(cell));
    const double b = Noise(salt, static_cast<std::uint64_t>(cell) + 1);
    sum += base * std::sqrt(static_cast<double>(span)) * (a + (b - a) * f);
  }
  return sum;
}

struct Tick {
  int date = 0;
  int time = 0;
  bool trading = false;
  double last = 0.0;
  double open = 0.0;
  double high = 0.0;
  double low = 0.0;
  double preclose = 0.0;
  std::int64_t volume = 0;
  double amount = 0.0;
  double bid = 0.0;
  double ask = 0.0;
  int bidSize = 0;
  int askSize = 0;
};

// The last prices of one day: from the open to the close of the day's bar along a random path
// that stays inside the bar's range.
class Path {
 public:
  Path(const Instrument& in, const Bar& bar)
      : m_in(in),
        m_bar(bar),
        m_first(SessionNoise(in, 0)),
        m_last(SessionNoise(in, kSessionSteps)),
        m_logOpen(std::log(bar.open)),
        m_logClose(std::log(bar.close)) {}

  double At(int step) const {
    const double u = static_cast<double>(step) / kSessionSteps;
    const double bridge = SessionNoise(m_in, step) - ((1.0 - u) * m_first + u * m_last);
    const double logPrice = m_logOpen + u * (m_logClose - m_logOpen);
    return std::clamp(Cents(std::exp(logPrice + bridge)), m_bar.low, m_bar.high);
  }

 private:
  const Instrument& m_in;
  const Bar& m_bar;
  double m_first;
  double m_last;
  double m_logOpen;
  double m_logClose;
};

Tick TickAt(const Instrument& in, const Bar& bar, int step, bool extremes) {
  Tick tick;
  tick.date = CivilFromDays(bar.day);
  tick.time = SessionTime(step);
  tick.trading = bar.trading;
  tick.open = bar.open;
  tick.preclose = bar.preclose;
  const auto when = static_cast<std::uint64_t>(step);
  if (!bar.trading || step >= kSessionSteps) {
    tick.last = bar.close;
    tick.high = bar.high;
    tick.low = bar.low;
    tick.volume = bar.volume;
    tick.amount = bar.amount;
  } else {
    const Path path(in, bar);
    tick.last = path.At(step);
    tick.high = std::max(tick.last, bar.open);
    tick.low = std::min(tick.last, bar.open);
    if (extremes) {  // the running high and low: every step so far
      for (int past = 0; past < step; ++past) {
        const double price = path.At(past);
        tick.high = std::max(tick.high, price);
        tick.low = std::min(tick.low, price);
      }
    }
    const double share = (step + 0.5 + 0.45 * Noise(in.seed ^ 0x7011, when)) / kSessionSteps;
    tick.volume =
        std::min(bar.volume, RoundToLots(static_cast<double>(bar.volume) * share, in.lot));
    tick.amount =
        bar.volume > 0
            ? Cents(bar.amount * static_cast<double>(tick.volume) / static_cast<double>(bar.volume))
            : 0.0;
  }
  const double tickSize = in.exchange == "HKEX" ? 0.05 : 0.01;
  tick.bid = Cents(tick.last - tickSize);
  tick.ask = Cents(tick.last + tickSize);
  tick.bidSize = in.lot * static_cast<int>(1 + Bits(in.seed ^ 0xB1D, when) % 60);
  tick.askSize = in.lot * static_cast<int>(1 + Bits(in.seed ^ 0xA5C, when) % 60);
  return tick;
}

// ---- Field values ----------------------------------------------------------------------------

float Percent(double part, double whole) {
  return whole == 0.0 ? 0.0f : static_cast<float>(Round(100.0 * part / whole, 2));
}

// The value of one field of one instrument at one tick (a closing tick for daily data).
// Field names are matched without regard to case, with or without an "RT_" prefix; a name
// that is not known is read by the words it contains, and as the last price at worst.
ValueModel FieldValue(const Instrument& in, const std::string& field, const Tick& tick) {
  std::string name = Upper(Trim(field));
  if (name.rfind("RT_", 0) == 0) name.erase(0, 3);
  const double change = Cents(tick.last - tick.preclose);
  const float pct = Percent(tick.last - tick.preclose, tick.preclose);
  auto is = [&](std::initializer_list<const char*> names) {
    return std::any_of(names.begin(), names.end(), [&](const char* n) { return name == n; });
  };
  if (is({"NAME", "SEC_NAME"})) return TextValue(in.name);
  if (is({"CODE", "SEC_CODE"})) return TextValue(in.code);
  if (is({"SECTOR", "INDUSTRY"})) return TextValue(in.sector);
  if (is({"EXCHANGE"})) return TextValue(in.exchange);
  if (is({"CURRENCY"})) return TextValue(in.currency);
  if (is({"LISTDATE", "LIST_DATE"})) return IntValue(6, in.listed);
  if (is({"TOTALSHARES", "TOTAL_SHARES", "SHARES"})) {
    return IntValue(8, static_cast<std::int64_t>(in.shares * 1e6));
  }
  if (is({"LOTSIZE", "LOT_SIZE", "LOT"})) return IntValue(4, in.lot);
  if (is({"DATE", "TRADEDATE", "TRADE_DATE"})) return IntValue(6, tick.date);
  if (is({"TIME"})) return IntValue(6, tick.time);
  if (is({"LAST", "CLOSE", "PRICE", "NOW"})) return DoubleValue(tick.last);
  if (is({"OPEN"})) return DoubleValue(tick.open);
  if (is({"HIGH"})) return DoubleValue(tick.high);
  if (is({"LOW"})) return DoubleValue(tick.low);
  if (is({"PRECLOSE", "PRE_CLOSE", "PREV_CLOSE"})) return DoubleValue(tick.preclose);
  if (is({"CHANGE", "CHG"})) return DoubleValue(change);
  if (is({"PCTCHG", "PCT_CHG", "CHG_PCT", "CHANGE_PCT"})) return FloatValue(pct);
  if (is({"VOLUME", "VOL"})) return IntValue(8, tick.volume);
  if (is({"AMOUNT", "AMT", "TURNOVER_VALUE"})) return DoubleValue(tick.amount);
  if (is({"TURN", "TURNOVER"})) {
    return FloatValue(Percent(static_cast<double>(tick.volume), in.shares * 1e6));
  }
  if (is({"MKTCAP", "MKT_CAP", "MARKETCAP", "MARKET_VALUE"})) {
    return DoubleValue(Round(tick.last * in.shares * 1e6, 0));
  }
  if (is({"PE", "PE_TTM"})) return FloatValue(in.pe);
  if (is({"BID", "BID1", "BIDPRICE1"})) return DoubleValue(tick.bid);
  if (is({"ASK", "ASK1", "ASKPRICE1"})) return DoubleValue(tick.ask);
  if (is({"BIDSIZE", "BIDSIZE1", "BSIZE1", "BIDVOLUME1"})) return IntValue(6, tick.bidSize);
  if (is({"ASKSIZE", "ASKSIZE1", "ASIZE1", "ASKVOLUME1"})) return IntValue(6, tick.askSize);
  if (is({"TRADESTATUS", "TRADE_STATUS", "TRADING"})) return IntValue(1, tick.trading ? 1 : 0);
  if (is({"LIMITSTATUS", "LIMIT_STATUS"})) {
    const int status = !in.limited ? 0 : pct >= 9.9f ? 1 : pct <= -9.9f ? -1 : 0;
    return IntValue(2, status);
  }
  if (is({"TRADES", "NUMTRADES", "TRADE_COUNT"})) {
    return IntValue(7, tick.volume / (in.lot * 12));
  }

  // Names not listed above, by the words they contain.
  const auto when =
      static_cast<std::uint64_t>(tick.date) * 1000000 + static_cast<unsigned>(tick.time);
  const std::uint64_t h = in.seed ^ Hash(name, 2);
  if (Contains(name, "NAME")) return TextValue(in.name);
  if (Contains(name, "CODE")) return TextValue(in.code);
  if (Contains(name, "DATE")) return IntValue(6, tick.date);
  if (Contains(name, "TIME")) return IntValue(6, tick.time);
  if (Contains(name, "VOL") || Contains(name, "SHARE")) return IntValue(8, tick.volume);
  if (Contains(name, "PCT") || Contains(name, "RATIO") || Contains(name, "CHG") ||
      Contains(name, "RATE")) {
    return FloatValue(static_cast<float>(Round(10.0 * Noise(h, when), 2)));
  }
  if (Contains(name, "FLAG") || Contains(name, "SUSPEND")) {
    return IntValue(1, static_cast<std::int64_t>(Bits(h, when) % 2));
  }
  if (Contains(name, "COUNT") || Contains(name, "NUM")) {
    return IntValue(7, static_cast<std::int64_t>(Bits(h, when) % 100000));
  }
  if (Contains(name, "RAW") || Contains(name, "BLOB")) {
    std::string bytes;
    for (std::uint64_t i = 0; i < 8; ++i) bytes += static_cast<char>(Bits(h, when + i) & 0xFF);
    return BytesValue(12, bytes);
  }
  if (Contains(name, "OPEN")) return DoubleValue(tick.open);
  if (Contains(name, "HIGH")) return DoubleValue(tick.high);
  if (Contains(name, "LOW")) return DoubleValue(tick.low);
  if (Contains(name, "AMT") || Contains(name, "AMOUNT")) return DoubleValue(tick.amount);
  return DoubleValue(tick.last);
}

std::vector<TextModel> Texts(const std::vector<std::string>& items) {
  return std::vector<TextModel>(items.begin(), items.end());
}

struct Row {
  Instrument instrument;
  std::shared_ptr<const Series> series;
};

std::vector<Row> Rows(const std::vector<std::string>& codes) {
  std::vector<Row> rows;
  rows.reserve(codes.size());
  for (const std::string& code : codes) {
    Row row{Lookup(code), nullptr};
    row.series = SeriesOf(row.instrument);
    rows.push_back(std::move(row));
  }
  return rows;
}

// lists[0] codes, lists[1] fields, lists[2] dates; values date-major, then field, then code.
RecordModel Table(const std::vector<std::string>& codes, const std::vector<std::string>& fields,
                  const std::vector<std::int64_t>& days) {
  RecordModel model;
  model.kind = RecordKind::Cube;
  model.lists[0] = Texts(codes);
  model.lists[1] = Texts(fields);
  for (const std::int64_t day : days) model.lists[2].emplace_back(DateText(day));
  const std::vector<Row> rows = Rows(codes);
  model.values.reserve(codes.size() * fields.size() * days.size());
  std::vector<Tick> ticks(rows.size());
  for (const std::int64_t day : days) {
    for (std::size_t i = 0; i < rows.size(); ++i) {
      const Bar bar = DailyBar(rows[i].instrument, *rows[i].series, day);
      ticks[i] = TickAt(rows[i].instrument, bar, kSessionSteps, false);
    }
    for (const std::string& field : fields) {
      for (std::size_t i = 0; i < rows.size(); ++i) {
        model.values.push_back(FieldValue(rows[i].instrument, field, ticks[i]));
      }
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

// Members of a sector, an exchange ("SSE", "SZSE", "HKEX", or "SH", "SZ", "HK") or of the
// whole universe ("ALL"); any other name draws six instruments of its own.
std::vector<std::string> Members(const std::string& name) {
  const std::string key = Upper(Trim(name));
  std::vector<std::string> members;
  for (const Listing& listing : kUniverse) {
    const std::string exchange = ExchangeOf(listing.code);
    const std::string suffix =
        std::string(listing.code).substr(std::string(listing.code).size() - 2);
    if (key == "ALL" || key == Upper(listing.sector) || key == exchange || key == suffix) {
      members.emplace_back(listing.code);
    }
  }
  if (!members.empty()) return members;
  const std::uint64_t h = Hash(key, 3);
  constexpr std::size_t kCount = std::size(kUniverse);
  const std::size_t start = static_cast<std::size_t>(h % kCount);
  const std::size_t stride = 1 + static_cast<std::size_t>((h >> 20) % 3) * 2;  // 1, 3 or 5
  for (std::size_t i = 0; i < 6; ++i)
    members.emplace_back(kUniverse[(start + i * stride) % kCount].code);
  return members;
}

std::vector<std::string> UniverseCodes() {
  std::vector<std::string> codes;
  for (const Listing& listing : kUniverse) codes.emplace_back(listing.code);
  return codes;
}

// Twelve month ends up to the reference day, for macro series.
std::vector<std::int64_t> MonthEnds() {
  std::vector<std::int64_t> days;
  const int reference = CivilFromDays(ReferenceDay());
  int year = reference / 10000;
  int month = reference / 100 % 100;
  for (int i = 0; i < 12; ++i) {
    if (--month == 0) {
      month = 12;
      --year;
    }
    const int nextYear = month == 12 ? year + 1 : year;
    const auto nextMonth = static_cast<unsigned>(month == 12 ? 1 : month + 1);
    days.push_back(DaysFromCivil(nextYear, nextMonth, 1) - 1);
  }
  std::reverse(days.begin(), days.end());
  return days;
}

RecordModel MacroTable(const std::vector<std::string>& ids) {
  RecordModel model;
  const std::vector<std::int64_t> days = MonthEnds();
  model.lists[0] = Texts(ids);
  model.lists[1] = {std::string("VALUE")};
  for (const std::int64_t day : days) model.lists[2].emplace_back(DateText(day));
  for (const std::int64_t day : days) {
    for (const std::string& id : ids) {
      const std::uint64_t h = Hash(Upper(id), 5);
      const double level = 50.0 + static_cast<double>(h % 15000) / 100.0;
      const double phase = static_cast<double>((h >> 24) % 628) / 100.0;
      const double month = static_cast<double>(day) / 30.44;
      model.values.push_back(
          DoubleValue(Round(level * (1.0 + 0.04 * std::sin(month / 4.0 + phase) +
                                     0.01 * Noise(h, static_cast<std::uint64_t>(day))),
                            2)));
    }
  }
  return model;
}

// ---- News --------------------------------------------------------------------------------

struct Headline {
  const char* text;  // UTF-8; %s is the company's name
  const char* source;
};

const Headline kHeadlines[] = {
    {u8"%s：董事会决议公告", u8"交易所公告"},
    {u8"%s：关于回购股份的进展公告", u8"交易所公告"},
    {u8"%s 2024年半年度业绩预告", u8"交易所公告"},
    {"%s: first-half results ahead of estimates", "Tarnwick Newswire"},
    {"%s shares active in morning trade", "Tarnwick Newswire"},
    {"Analysts raise their price target for %s", "Research Desk"},
    {"%s to hold investor briefing next week", "Tarnwick Newswire"},
};

std::string Fill(const char* pattern, const std::string& name) {
  std::string text(pattern);
  const std::size_t at = text.find("%s");
  if (at != std::string::npos) text.replace(at, 2, name);
  return text;
}

RecordModel NewsItem(int sequence, const Args& args) {
  const std::vector<std::string> codes = SplitList(Arg(args, 0), {"600000.SH"}, 50);
  const std::vector<std::string> fields = Fields(Arg(args, 1), {"TIME", "TITLE", "SOURCE"});
  const int step = sequence % (kSessionSteps + 1);
  const std::string& code = codes[static_cast<std::size_t>(sequence) % codes.size()];
  const Instrument in = Lookup(code);
  const std::uint64_t pick = Bits(in.seed, static_cast<std::uint64_t>(sequence));
  const Headline& headline = kHeadlines[pick % std::size(kHeadlines)];
  const Listing* listing = FindListing(code);
  const std::string utf8Name = listing != nullptr ? listing->name : code;

  RecordModel model;
  model.lists[0] = {code};
  model.lists[1] = Texts(fields);
  model.lists[2] = {TimeText(SessionTime(step))};
  const Bar bar = DailyBar(in, *SeriesOf(in), ReferenceDay());
  const Tick tick = TickAt(in, bar, step, false);
  for (const std::string& field : fields) {
    const std::string name = Upper(Trim(field));
    if (name == "TITLE" || name == "HEADLINE") {
      model.values.push_back(TextValue(Utf8ToAnsiText(Fill(headline.text, utf8Name))));
    } else if (name == "SOURCE") {
      model.values.push_back(TextValue(Utf8ToAnsiText(headline.source)));
    } else if (name == "ID" || name == "NEWS_ID") {
      model.values.push_back(IntValue(9, static_cast<std::int64_t>(pick >> 1)));
    } else {
      model.values.push_back(FieldValue(in, field, tick));
    }
  }
  return model;
}

}  // namespace

// ---- Calendar ------------------------------------------------------------------------------

std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

int CivilFromDays(std::int64_t z) {
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
  const std::int64_t parsed = DaysFromCivil(y, m, d);
  if (CivilFromDays(parsed) != y * 10000 + static_cast<int>(m * 100 + d)) return false;
  day = parsed;
  return true;
}

bool IsTradingDay(std::int64_t day) { return IsWeekday(day) && !IsHoliday(CivilFromDays(day)); }

std::int64_t ShiftTradingDays(std::int64_t day, int offset) {
  while (!IsTradingDay(day)) --day;
  const int step = offset < 0 ? -1 : 1;
  for (int left = offset < 0 ? -offset : offset; left > 0; --left) {
    do day += step;
    while (!IsTradingDay(day));
  }
  return day;
}

std::int64_t ReferenceDay() {
  static const std::int64_t day = DaysFromCivil(2024, 6, 28);  // a Friday
  return day;
}

// ---- Instruments ----------------------------------------------------------------------------

double ClosePrice(const std::string& code, std::int64_t day) {
  const Instrument in = Lookup(code);
  return PriceOn(in, *SeriesOf(in), day);
}

std::string InstrumentName(const std::string& code) { return Lookup(code).name; }

// ---- Queries ------------------------------------------------------------------------------

RecordModel QueryCube(std::string_view function, const Args& args) {
  const std::vector<std::string> price{"CLOSE"};
  if (function == "csd" || function == "csc" || function == "cmc" || function == "chmc" ||
      function == "cps") {
    return Table(Codes(Arg(args, 0)), Fields(Arg(args, 1), price),
                 DateRange(Arg(args, 2), Arg(args, 3), Arg(args, args.size() - 1)));
  }
  if (function == "css") {
    std::int64_t day = ReferenceDay();
    if (!ParseDate(Option(Arg(args, 2), "TradeDate"), day)) day = ReferenceDay();
    return Table(Codes(Arg(args, 0)), Fields(Arg(args, 1), {"NAME", "CLOSE"}), {day});
  }
  if (function == "csqsnapshot") {
    return Table(Codes(Arg(args, 0)), Fields(Arg(args, 1), {"RT_LAST", "RT_PCTCHG", "RT_VOL"}),
                 {ReferenceDay()});
  }
  if (function == "tradedates") {
    const std::vector<std::int64_t> days = DateRange(Arg(args, 0), Arg(args, 1), Arg(args, 2));
    RecordModel model;
    model.lists[0] = {std::string("CALENDAR")};
    model.lists[1] = {std::string("TRADE_DATE")};
    for (const std::int64_t day : days) {
      model.lists[2].emplace_back(DateText(day));
      model.values.push_back(IntValue(6, CivilFromDays(day)));
    }
    return model;
  }
  if (function == "sector") {
    std::int64_t day = ReferenceDay();
    if (!ParseDate(Arg(args, 1), day)) day = ReferenceDay();
    return Table(Members(Arg(args, 0)), {"CODE", "NAME"}, {day});
  }
  if (function == "getdate") {
    std::int64_t day = ReferenceDay();
    if (!ParseDate(Arg(args, 0), day)) day = ReferenceDay();
    const int offset = std::atoi(Arg(args, 1).c_str());
    RecordModel model;
    model.lists[0] = {std::string("DATE")};
    model.lists[1] = {std::string("OFFSET")};
    model.lists[2] = {DateText(day)};
    model.values = {IntValue(6, CivilFromDays(ShiftTradingDays(day, offset)))};
    return model;
  }
  if (function == "edb") return MacroTable(SplitList(Arg(args, 0), {"M0000001"}, kMaxCodes));
  if (function == "pquery") return PortfolioCube(args);
  if (function == "preport") return PortfolioReport(args);
  // edbquery, cfn, cfnquery: the first argument names the rows, the second (if any) the
  // fields, on the reference day.
  return Table(SplitList(Arg(args, 0), {"ALL"}, kMaxCodes),
               Fields(args.size() > 2 ? Arg(args, 1) : std::string(), {"VALUE"}), {ReferenceDay()});
}

RecordModel ReportGrid(const Args& args) {
  const std::string report = Upper(Trim(Arg(args, 0)));
  const std::vector<std::string> columns =
      Fields(Arg(args, 1), {"CODE", "NAME", "CLOSE", "PCTCHG", "VOLUME", "AMOUNT"});
  std::int64_t day = ReferenceDay();
  if (!ParseDate(Option(Arg(args, 2), "TradeDate"), day)) day = ReferenceDay();

  struct Line {
    Row row;
    Tick tick;
  };
  const bool ranked = report == "TOP_GAINERS" || report == "TOP_LOSERS" || report == "MOST_ACTIVE";
  std::vector<Line> lines;
  for (Row& row : Rows(ranked ? UniverseCodes() : Members(report.empty() ? "ALL" : report))) {
    const Bar bar = DailyBar(row.instrument, *row.series, day);
    const Tick tick = TickAt(row.instrument, bar, kSessionSteps, false);
    lines.push_back(Line{std::move(row), tick});
  }
  if (ranked) {
    auto pct = [](const Tick& t) { return t.preclose == 0.0 ? 0.0 : t.last / t.preclose; };
    std::stable_sort(lines.begin(), lines.end(), [&](const Line& a, const Line& b) {
      if (report == "TOP_GAINERS") return pct(a.tick) > pct(b.tick);
      if (report == "TOP_LOSERS") return pct(a.tick) < pct(b.tick);
      return a.tick.amount > b.tick.amount;
    });
    lines.resize(std::min<std::size_t>(lines.size(), 5));
  }

  RecordModel model;
  model.kind = RecordKind::Grid;
  model.d1 = static_cast<std::int32_t>(columns.size());
  model.d2 = static_cast<std::int32_t>(lines.size());
  model.lists[0] = Texts(columns);
  for (const Line& line : lines) {
    for (const std::string& column : columns) {
      model.values.push_back(FieldValue(line.row.instrument, column, line.tick));
    }
  }
  return model;
}

int TradeDateCount(const Args& args) {
  return static_cast<int>(DateRange(Arg(args, 0), Arg(args, 1), Arg(args, 2)).size());
}

RecordModel Quote(int kind, int /*request*/, int sequence, const Args& args) {
  if (kind == VXSIM_CNQ) return NewsItem(sequence, args);
  const std::vector<std::string> codes = SplitList(Arg(args, 0), {"600000.SH"}, 50);
  const std::vector<std::string> fields = Fields(Arg(args, 1), {"RT_LAST", "RT_PCTCHG", "RT_VOL"});
  const int step = sequence % (kSessionSteps + 1);
  bool extremes = false;
  for (const std::string& field : fields) {
    const std::string name = Upper(Trim(field));
    extremes = extremes || Contains(name, "HIGH") || Contains(name, "LOW");
  }
  RecordModel model;
  model.lists[0] = Texts(codes);
  model.lists[1] = Texts(fields);
  model.lists[2] = {TimeText(SessionTime(step))};
  std::vector<Tick> ticks;
  std::vector<Instrument> instruments;
  for (const std::string& code : codes) {
    Instrument in = Lookup(code);
    const Bar bar = DailyBar(in, *SeriesOf(in), ReferenceDay());
    ticks.push_back(TickAt(in, bar, step, extremes));
    instruments.push_back(std::move(in));
  }
  for (const std::string& field : fields) {
    for (std::size_t i = 0; i < codes.size(); ++i) {
      model.values.push_back(FieldValue(instruments[i], field, ticks[i]));
    }
  }
  return model;
}

void Shutdown() {
  {
    std::lock_guard<std::mutex> lock(g_seriesMutex);
    delete g_seriesCache;
    g_seriesCache = nullptr;
  }
  FreePortfolios();
}

const char* ErrorText(int code) {
  switch (code) {
    case 0:
      return "no error";
    case -1:
      return "operation failed";
    case VXSIM_CODE_UNKNOWN_REQUEST:
      return "unknown request number";
    case VXSIM_CODE_INVALID_ARGUMENT:
      return "invalid argument";
    case 10000003:
      return "out of memory";
    case 10000004:
      return "the order list is not valid JSON";
    case 10000007:
      return "function not available in the service library";
    case 10003003:
      return "the order list must be a non-empty JSON array";
    default:
      return "unknown error code";
  }
}

}  // namespace vx::sim::market
