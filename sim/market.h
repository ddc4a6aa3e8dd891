// The default-mode data of the simulated library: a small, fixed market that behaves like a
// real one. Twenty instruments with names and reference data, a trading calendar (weekdays
// less a few fixed holidays), daily bars from a deterministic random walk per instrument,
// intraday quotes and news for the streams, report grids, and portfolios kept in memory.
// Every number is a function of a fixed seed and the call's arguments (portfolios aside,
// which depend on the calls made before). vxsim.h documents what each function returns.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "bridge/service_api.h"
#include "records.h"

namespace vx::sim::market {

// Every value is a function of this seed and the call's arguments.
constexpr std::uint64_t kSeed = 0x5EED'0D47'A11C'E5A7ull;

// The arguments of a call as received; a null string arrives as "".
using Args = std::vector<std::string>;

// ---- Calendar -----------------------------------------------------------------------------

// Days since 1970-01-01 (proleptic Gregorian).
std::int64_t DaysFromCivil(std::int64_t year, unsigned month, unsigned day);
// yyyymmdd.
int CivilFromDays(std::int64_t day);
// "20240131", "2024-01-31" or "2024/01/31"; false for anything else.
bool ParseDate(std::string_view text, std::int64_t& day);
// A weekday that is not one of the fixed holidays.
bool IsTradingDay(std::int64_t day);
// The trading day `offset` trading days away from `day` (offset 0: `day` itself when it
// is a trading day, else the trading day before it).
std::int64_t ShiftTradingDays(std::int64_t day, int offset);
// The day the market data stand at: the last bar, the snapshots and the quote replay.
std::int64_t ReferenceDay();

// ---- Instruments ----------------------------------------------------------------------------

// The closing price of an instrument on a day (the last close for a day without trading).
double ClosePrice(const std::string& code, std::int64_t day);
// The instrument's name in the ANSI code page; its code for an instrument outside the universe.
std::string InstrumentName(const std::string& code);

// ---- Queries ------------------------------------------------------------------------------

// The cube a query function returns (csd, css, tradedates, sector, getdate, csc, cmc,
// chmc, csqsnapshot, cps, edb, edbquery, cfn, cfnquery; pquery and preport go through the
// portfolio book).
RecordModel QueryCube(std::string_view function, const Args& args);

// The grid of ctr(report, fields, options).
RecordModel ReportGrid(const Args& args);

// tradedatesnum(begin, end, options): the number of dates tradedates lists.
int TradeDateCount(const Args& args);

// Message `sequence` of a stream opened by csq / cst (quotes) or cnq (news).
RecordModel Quote(int kind, int request, int sequence, const Args& args);

// The text geterrstring gives for a code.
const char* ErrorText(int code);

// ---- Portfolios ---------------------------------------------------------------------------

// pcreate(code, name, initial cash, remark, options): a new, empty portfolio (an existing one
// of the same code starts over). VXSIM_CODE_INVALID_ARGUMENT for an empty code.
int CreatePortfolio(const std::string& code, const std::string& name, std::int64_t cash);
// pdelete(code, options): 0, also when there was no such portfolio.
int DeletePortfolio(const std::string& code);
// pctransfer(code, direction, date, amount, remark, options): cash in, or out when the
// direction says "out". Opens the portfolio if needed. VXSIM_CODE_INVALID_ARGUMENT for an
// amount that is not a finite number.
int TransferCash(const std::string& code, const std::string& direction, double amount);
// porder(orders, count, code, remark, options): books the orders. Opens the portfolio if
// needed; orders without a code or with a volume that is not positive are skipped.
int PlaceOrders(const OrderInfo* orders, int count, const std::string& code);
// pquery(portfolio): positions and cash.
RecordModel PortfolioCube(const Args& args);
// preport(portfolio, report, options): a summary, or the trades for a "TRADES" report.
RecordModel PortfolioReport(const Args& args);
// Forgets every portfolio (vxsim_reset).
void ResetPortfolios();
// Frees the memory of the portfolios (Shutdown).
void FreePortfolios();

// Frees what the market keeps between calls (price series, portfolios). Called at unload,
// once no sim thread runs any more.
void Shutdown();

}  // namespace vx::sim::market
