// The service library's contract as the bridge uses it: its records, its callback types
// and the types of its 34 functions. The records are a wire format shared with a closed
// x64 library; every size and offset is pinned below.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vx {

// ---- Result records ----------------------------------------------------------------------

struct TextListEntry {
  const char* text;  // NUL-terminated, ANSI code page
  std::uint64_t reserved;
};

struct TextList {
  TextListEntry* entries;
  std::uint32_t count;
  std::uint32_t reserved;
};

// Value types of a ResultVariant, by width. Only the width matters to the bridge.
enum VariantType : std::int32_t {
  kVariantNone = 0,
  kVariantBytes = 12,  // pointer + byte count
  kVariantText = 13,   // pointer to NUL-terminated ANSI text; sent as kVariantBlob
  kVariantBlob = 14,   // pointer + byte count
};

struct ResultVariant {
  std::int32_t type;
  std::int32_t reserved0;
  unsigned char value[8];   // types 1 to 11: 1, 2, 4 or 8 bytes, low-order first
  const void* data;         // types 12, 13, 14
  std::uint32_t byteCount;  // types 12, 14
  std::uint32_t reserved1;
};

// The bridge reads the first 56 bytes of a cube.
struct ResultCube {
  TextList lists[3];
  ResultVariant* values;  // lists[2].count x lists[1].count x lists[0].count values
};

// The bridge reads the first 32 bytes of a grid.
struct ResultGrid {
  std::int32_t d1;
  std::int32_t d2;
  TextList list;
  ResultVariant* values;  // d2 x d1 values
};

// ---- Messages and orders -----------------------------------------------------------------

struct VXMSG {
  std::int32_t word1;
  std::int32_t word2;
  std::int32_t errorCode;
  std::int32_t word4;
  std::int32_t word5;
  std::int32_t reserved;
  ResultCube* data;
};

struct OrderInfo {
  char code[24];
  double volume;
  float price;
  std::int32_t date;
  std::int32_t time;
  std::int32_t optype;
  float cost;
  float rate;
  std::int32_t reserve;
  std::int32_t reserved;
};

static_assert(sizeof(void*) == 8, "the service records are the x64 layout");
static_assert(sizeof(TextListEntry) == 16 && offsetof(TextListEntry, text) == 0);
static_assert(sizeof(TextList) == 16 && offsetof(TextList, entries) == 0 &&
              offsetof(TextList, count) == 8);
static_assert(sizeof(ResultVariant) == 32 && offsetof(ResultVariant, type) == 0 &&
              offsetof(ResultVariant, value) == 8 && offsetof(ResultVariant, data) == 16 &&
              offsetof(ResultVariant, byteCount) == 24);
static_assert(sizeof(ResultCube) == 56 && offsetof(ResultCube, lists) == 0 &&
              offsetof(ResultCube, values) == 48);
static_assert(sizeof(ResultGrid) == 32 && offsetof(ResultGrid, d1) == 0 &&
              offsetof(ResultGrid, d2) == 4 && offsetof(ResultGrid, list) == 8 &&
              offsetof(ResultGrid, values) == 24);
static_assert(sizeof(VXMSG) == 32 && offsetof(VXMSG, word1) == 0 && offsetof(VXMSG, word2) == 4 &&
              offsetof(VXMSG, errorCode) == 8 && offsetof(VXMSG, word4) == 12 &&
              offsetof(VXMSG, word5) == 16 && offsetof(VXMSG, data) == 24);
static_assert(sizeof(OrderInfo) == 64 && offsetof(OrderInfo, code) == 0 &&
              offsetof(OrderInfo, volume) == 24 && offsetof(OrderInfo, price) == 32 &&
              offsetof(OrderInfo, date) == 36 && offsetof(OrderInfo, time) == 40 &&
              offsetof(OrderInfo, optype) == 44 && offsetof(OrderInfo, cost) == 48 &&
              offsetof(OrderInfo, rate) == 52 && offsetof(OrderInfo, reserve) == 56);

// ---- Callbacks -------------------------------------------------------------------------------

extern "C" {
// The service's log sink: one NUL-terminated line. Returns 1 for null, else 0.
typedef int (*VxLogCallback)(const char* line);
// Main and data callbacks: the message record, owned by the service, valid during the call.
typedef int (*VxMessageCallback)(VXMSG* message);
}

// ---- Functions ---------------------------------------------------------------------------

using Str = const char*;

namespace fn {
using start = int (*)(void* reserved, Str options, VxLogCallback log);
using stop = int (*)();
using geterrstring = const char* (*)(int code, int flag);
using setserverlistdir = int (*)(Str directory);
using setcallback = int (*)(VxMessageCallback callback);
using setproxy = int (*)(int kind, Str host, std::uint16_t port, bool flag, Str text1, Str text2);
using query5 = int (*)(Str, Str, Str, Str, Str, ResultCube**);
using query4 = int (*)(Str, Str, Str, Str, ResultCube**);
using query3 = int (*)(Str, Str, Str, ResultCube**);
using query2 = int (*)(Str, Str, ResultCube**);
using query1 = int (*)(Str, ResultCube**);
using getdate = int (*)(Str, int, Str, ResultCube**);
using cfn = int (*)(Str, Str, int, Str, ResultCube**);
using ctr = int (*)(Str, Str, Str, ResultGrid**);
using tradedatesnum = int (*)(Str, Str, Str, int* count);
using subscribe3 = int (*)(Str, Str, Str, VxMessageCallback, void* user, int* request);
using subscribe5 = int (*)(Str, Str, Str, Str, Str, VxMessageCallback, void* user, int* request);
using cancel = int (*)(int request);
using pcreate = int (*)(Str, Str, std::int64_t, Str, Str);
using pdelete = int (*)(Str, Str);
using pctransfer = int (*)(Str, Str, Str, double, Str, Str);
using porder = int (*)(OrderInfo* orders, int count, Str, Str, Str);
using releasedata = int (*)(void* record);
}  // namespace fn

// The 34 functions in resolution order: X(name, type).
#define VX_SERVICE_FUNCTIONS(X)             \
  X(start, fn::start)                       \
  X(stop, fn::stop)                         \
  X(geterrstring, fn::geterrstring)         \
  X(csd, fn::query5)                        \
  X(css, fn::query3)                        \
  X(tradedates, fn::query3)                 \
  X(sector, fn::query3)                     \
  X(getdate, fn::getdate)                   \
  X(setcallback, fn::setcallback)           \
  X(csq, fn::subscribe3)                    \
  X(csqcancel, fn::cancel)                  \
  X(releasedata, fn::releasedata)           \
  X(csc, fn::query5)                        \
  X(cmc, fn::query5)                        \
  X(chmc, fn::query5)                       \
  X(cst, fn::subscribe5)                    \
  X(ctr, fn::ctr)                           \
  X(csqsnapshot, fn::query3)                \
  X(cps, fn::query4)                        \
  X(setproxy, fn::setproxy)                 \
  X(pquery, fn::query1)                     \
  X(porder, fn::porder)                     \
  X(edb, fn::query2)                        \
  X(edbquery, fn::query3)                   \
  X(setserverlistdir, fn::setserverlistdir) \
  X(pcreate, fn::pcreate)                   \
  X(pdelete, fn::pdelete)                   \
  X(preport, fn::query3)                    \
  X(tradedatesnum, fn::tradedatesnum)       \
  X(cfn, fn::cfn)                           \
  X(cfnquery, fn::query1)                   \
  X(cnq, fn::subscribe3)                    \
  X(cnqcancel, fn::cancel)                  \
  X(pctransfer, fn::pctransfer)

}  // namespace vx
