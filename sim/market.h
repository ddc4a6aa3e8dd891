// The default-mode data of the simulated library: deterministic synthetic market data
// derived from the arguments of each call and a fixed seed.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "records.h"

namespace vx::sim::market {

// Every value is a function of this seed and the call's arguments.
constexpr std::uint64_t kSeed = 0x5EED'0D47'A11C'E5A7ull;

// The arguments of a call as received; a null string arrives as "".
using Args = std::vector<std::string>;

// The cube a query function returns: lists[0] codes, lists[1] fields, lists[2] dates,
// values ordered date-major, then field, then code.
RecordModel QueryCube(std::string_view function, const Args& args);

// The grid of ctr(name, fields, options): one column per field, a few rows.
RecordModel ReportGrid(const Args& args);

// tradedatesnum(begin, end, options): the number of dates tradedates lists.
int TradeDateCount(const Args& args);

// Message `sequence` of a stream opened by csq / cst / cnq with these arguments.
RecordModel Quote(int kind, int request, int sequence, const Args& args);

}  // namespace vx::sim::market
