// Portfolios of the simulated library's default mode: created, traded, funded, queried and
// deleted through pcreate, porder, pctransfer, pquery, preport and pdelete, and kept in
// memory until vxsim_reset or unload.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <iterator>
#include <map>
#include <mutex>

#include "market.h"
#include "vxsim.h"

namespace vx::sim::market {

namespace {

struct Position {
  double volume = 0.0;
  double cost = 0.0;  // what the volume held cost, fees included
};

struct Trade {
  int date = 0;
  int time = 0;
  std::string code;
  bool sell = false;
  double volume = 0.0;
  double price = 0.0;
  double fee = 0.0;
};

struct Portfolio {
  std::string name;
  std::int64_t initialCash = 0;
  double invested = 0.0;  // the initial cash plus transfers in, less transfers out
  double cash = 0.0;
  std::map<std::string, Position> positions;
  std::vector<Trade> trades;
};

struct Book {
  std::mutex mutex;
  std::map<std::string, Portfolio> portfolios;
};

Book* g_book = nullptr;
std::mutex g_bookMutex;

// The book, created on first use and freed by FreePortfolios.
Book& TheBook() {
  std::lock_guard<std::mutex> lock(g_bookMutex);
  if (g_book == nullptr) g_book = new Book();
  return *g_book;
}

std::string Trim(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// "P1", or an option string naming it: "PortfolioCode=P1" (also "Portfolio=" or "Code=").
std::string PortfolioOf(const std::string& text) {
  if (text.find('=') == std::string::npos) return Trim(text);
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find_first_of(",;", start);
    if (end == std::string::npos) end = text.size();
    const std::string item = text.substr(start, end - start);
    const std::size_t equals = item.find('=');
    if (equals != std::string::npos) {
      const std::string key = Upper(Trim(item.substr(0, equals)));
      if (key == "PORTFOLIOCODE" || key == "PORTFOLIO" || key == "CODE") {
        return Trim(item.substr(equals + 1));
      }
    }
    start = end + 1;
  }
  return std::string();
}

std::string Arg(const Args& args, std::size_t index) {
  return index < args.size() ? args[index] : std::string();
}

double Cents(double value) { return std::round(value * 100.0) / 100.0; }

struct Valuation {
  double marketValue = 0.0;
  double total = 0.0;
  double pnl = 0.0;
};

Valuation Value(const Portfolio& portfolio) {
  Valuation valuation;
  for (const auto& [code, position] : portfolio.positions) {
    valuation.marketValue += position.volume * ClosePrice(code, ReferenceDay());
  }
  valuation.total = valuation.marketValue + portfolio.cash;
  valuation.pnl = valuation.total - portfolio.invested;
  return valuation;
}

float Percent(double part, double whole) {
  return whole == 0.0 ? 0.0f : static_cast<float>(std::round(10000.0 * part / whole) / 100.0);
}

}  // namespace

int CreatePortfolio(const std::string& code, const std::string& name, std::int64_t cash) {
  const std::string key = Trim(code);
  if (key.empty()) return VXSIM_CODE_INVALID_ARGUMENT;
  Book& book = TheBook();
  std::lock_guard<std::mutex> lock(book.mutex);
  Portfolio& portfolio = book.portfolios[key] = Portfolio{};
  portfolio.name = name;
  portfolio.initialCash = cash;
  portfolio.invested = static_cast<double>(cash);
  portfolio.cash = static_cast<double>(cash);
  return 0;
}

int DeletePortfolio(const std::string& code) {
  Book& book = TheBook();
  std::lock_guard<std::mutex> lock(book.mutex);
  book.portfolios.erase(Trim(code));
  return 0;
}

int TransferCash(const std::string& code, const std::string& direction, double amount) {
  if (!std::isfinite(amount)) return VXSIM_CODE_INVALID_ARGUMENT;
  const double signedAmount = Upper(direction).find("OUT") != std::string::npos ? -amount : amount;
  Book& book = TheBook();
  std::lock_guard<std::mutex> lock(book.mutex);
  Portfolio& portfolio = book.portfolios[Trim(code)];
  portfolio.cash += signedAmount;
  portfolio.invested += signedAmount;
  return 0;
}

int PlaceOrders(const OrderInfo* orders, int count, const std::string& code) {
  if (orders == nullptr || count <= 0) return 0;
  Book& book = TheBook();
  std::lock_guard<std::mutex> lock(book.mutex);
  Portfolio& portfolio = book.portfolios[Trim(code)];
  for (int i = 0; i < count; ++i) {
    const OrderInfo& order = orders[i];
    const std::string instrument(order.code,
                                 std::find(std::begin(order.code), std::end(order.code), '\0'));
    if (Trim(instrument).empty() || !(order.volume > 0.0) || !std::isfinite(order.volume)) {
      continue;
    }
    std::int64_t day = ReferenceDay();
    if (!ParseDate(std::to_string(order.date), day)) day = ReferenceDay();
    const double price = order.price > 0.0f && std::isfinite(order.price)
                             ? static_cast<double>(order.price)
                             : ClosePrice(instrument, day);
    const double amount = Cents(order.volume * price);
    double fee = 0.0;
    if (order.cost > 0.0f && std::isfinite(order.cost)) fee += static_cast<double>(order.cost);
    if (order.rate > 0.0f && std::isfinite(order.rate))
      fee += amount * static_cast<double>(order.rate);
    fee = Cents(fee);
    Position& position = portfolio.positions[instrument];
    const bool sell = order.optype == 2;
    if (sell) {
      if (position.volume < order.volume) {  // nothing to sell short
        if (position.volume == 0.0) portfolio.positions.erase(instrument);
        continue;
      }
      position.cost -= position.cost * order.volume / position.volume;
      position.volume -= order.volume;
      portfolio.cash += amount - fee;
      if (position.volume <= 1e-9) portfolio.positions.erase(instrument);
    } else {
      position.volume += order.volume;
      position.cost += amount + fee;
      portfolio.cash -= amount + fee;
    }
    portfolio.trades.push_back(
        Trade{CivilFromDays(day), order.time, instrument, sell, order.volume, price, fee});
  }
  return 0;
}

RecordModel PortfolioCube(const Args& args) {
  const std::string code = PortfolioOf(Arg(args, 0));
  Portfolio portfolio;
  {
    Book& book = TheBook();
    std::lock_guard<std::mutex> lock(book.mutex);
    auto found = book.portfolios.find(code);
    if (found != book.portfolios.end()) portfolio = found->second;
  }
  const Valuation valuation = Value(portfolio);
  RecordModel model;
  model.lists[1] = {std::string("NAME"),  std::string("VOLUME"),       std::string("COST_PRICE"),
                    std::string("LAST"),  std::string("MARKET_VALUE"), std::string("PNL"),
                    std::string("WEIGHT")};
  model.lists[2] = {code};
  struct Line {
    std::string code;
    std::string name;
    double volume;
    double cost;
    double last;
  };
  std::vector<Line> lines;
  for (const auto& [instrument, position] : portfolio.positions) {
    lines.push_back(Line{instrument, InstrumentName(instrument), position.volume, position.cost,
                         ClosePrice(instrument, ReferenceDay())});
  }
  lines.push_back(Line{"CASH", "Cash", portfolio.cash, portfolio.cash, 1.0});
  for (const Line& line : lines) model.lists[0].emplace_back(line.code);
  // Values field by field, each over the lines.
  for (const Line& line : lines) model.values.push_back(TextValue(line.name));
  for (const Line& line : lines) model.values.push_back(DoubleValue(line.volume));
  for (const Line& line : lines) {
    model.values.push_back(DoubleValue(
        line.volume == 0.0 ? 0.0 : std::round(10000.0 * line.cost / line.volume) / 10000.0));
  }
  for (const Line& line : lines) model.values.push_back(DoubleValue(line.last));
  for (const Line& line : lines)
    model.values.push_back(DoubleValue(Cents(line.volume * line.last)));
  for (const Line& line : lines) {
    model.values.push_back(DoubleValue(Cents(line.volume * line.last - line.cost)));
  }
  for (const Line& line : lines) {
    model.values.push_back(FloatValue(Percent(line.volume * line.last, valuation.total)));
  }
  return model;
}

RecordModel PortfolioReport(const Args& args) {
  const std::string code = PortfolioOf(Arg(args, 0));
  const std::string report = Upper(Trim(Arg(args, 1)));
  Portfolio portfolio;
  {
    Book& book = TheBook();
    std::lock_guard<std::mutex> lock(book.mutex);
    auto found = book.portfolios.find(code);
    if (found != book.portfolios.end()) portfolio = found->second;
  }
  RecordModel model;
  if ((report.find("TRADE") != std::string::npos || report.find("ORDER") != std::string::npos) &&
      !portfolio.trades.empty()) {
    model.lists[1] = {std::string("DATE"),  std::string("TIME"),   std::string("CODE"),
                      std::string("NAME"),  std::string("SIDE"),   std::string("VOLUME"),
                      std::string("PRICE"), std::string("AMOUNT"), std::string("FEE")};
    model.lists[2] = {code};
    for (std::size_t i = 0; i < portfolio.trades.size(); ++i) {
      model.lists[0].emplace_back(std::to_string(i + 1));
    }
    const auto& trades = portfolio.trades;
    for (const Trade& t : trades) model.values.push_back(IntValue(6, t.date));
    for (const Trade& t : trades) model.values.push_back(IntValue(6, t.time));
    for (const Trade& t : trades) model.values.push_back(TextValue(t.code));
    for (const Trade& t : trades) model.values.push_back(TextValue(InstrumentName(t.code)));
    for (const Trade& t : trades) model.values.push_back(TextValue(t.sell ? "SELL" : "BUY"));
    for (const Trade& t : trades) model.values.push_back(DoubleValue(t.volume));
    for (const Trade& t : trades) model.values.push_back(DoubleValue(t.price));
    for (const Trade& t : trades) model.values.push_back(DoubleValue(Cents(t.volume * t.price)));
    for (const Trade& t : trades) model.values.push_back(DoubleValue(t.fee));
    return model;
  }
  const Valuation valuation = Value(portfolio);
  model.lists[0] = {code};
  model.lists[1] = {
      std::string("NAME"),         std::string("INITIAL_CASH"), std::string("CASH"),
      std::string("MARKET_VALUE"), std::string("TOTAL_VALUE"),  std::string("PNL"),
      std::string("RETURN_PCT"),   std::string("POSITIONS"),    std::string("TRADES")};
  model.lists[2] = {std::to_string(CivilFromDays(ReferenceDay()))};
  model.values = {TextValue(portfolio.name),
                  IntValue(8, portfolio.initialCash),
                  DoubleValue(Cents(portfolio.cash)),
                  DoubleValue(Cents(valuation.marketValue)),
                  DoubleValue(Cents(valuation.total)),
                  DoubleValue(Cents(valuation.pnl)),
                  FloatValue(Percent(valuation.pnl, portfolio.invested)),
                  IntValue(6, static_cast<std::int64_t>(portfolio.positions.size())),
                  IntValue(6, static_cast<std::int64_t>(portfolio.trades.size()))};
  return model;
}

void ResetPortfolios() {
  Book& book = TheBook();
  std::lock_guard<std::mutex> lock(book.mutex);
  book.portfolios.clear();
}

void FreePortfolios() {
  std::lock_guard<std::mutex> lock(g_bookMutex);
  delete g_book;
  g_book = nullptr;
}

}  // namespace vx::sim::market
