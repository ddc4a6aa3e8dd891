#include "service.h"

#include <charconv>
#include <string>
#include <utility>

#include "market.h"
#include "state.h"

namespace vx::sim {

namespace {

constexpr int kMaxLoggedOrders = 100'000;

// One line of the call log: "name|arg|arg...".
class CallLine {
 public:
  explicit CallLine(const char* name) : m_text(name) {}

  CallLine& Text(Str text) {
    static const char kHex[] = "0123456789ABCDEF";
    m_text += '|';
    if (text == nullptr) {
      m_text += "\\N";
      return *this;
    }
    for (const char* p = text; *p != '\0'; ++p) {
      const auto byte = static_cast<unsigned char>(*p);
      if (byte >= 0x20 && byte < 0x7F && byte != '\\' && byte != '|') {
        m_text += *p;
      } else {
        m_text += "\\x";
        m_text += kHex[byte >> 4];
        m_text += kHex[byte & 0xF];
      }
    }
    return *this;
  }

  CallLine& Int(long long value) { return Raw(std::to_string(value)); }

  CallLine& Real(double value) {
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return Raw(std::string(text, result.ptr));
  }

  CallLine& Callback(bool present) { return Raw(present ? "cb" : "\\N"); }
  CallLine& Pointer(const void* pointer) { return Raw(pointer != nullptr ? "ptr" : "\\N"); }

  CallLine& Raw(const std::string& text) {
    m_text += '|';
    m_text += text;
    return *this;
  }

  std::string Take() { return std::move(m_text); }

 private:
  std::string m_text;
};

State& Sim() { return State::Get(); }

market::Args ArgsOf(std::initializer_list<Str> texts) {
  market::Args args;
  for (Str text : texts) args.emplace_back(text != nullptr ? text : "");
  return args;
}

// Contract of out arguments: a valid address of a variable the caller cleared.
template <typename T>
bool CheckOut(const char* function, T* out) {
  if (out == nullptr) {
    Sim().AddError(std::string(function) + ": null out argument");
    return false;
  }
  if (*out != T{}) {
    Sim().AddError(std::string(function) + ": out argument not cleared before the call");
  }
  return true;
}

int Finish(const char* function, int code, VxMessageCallback callback) {
  Sim().FireInside(function, callback);
  return code;
}

int MainFinish(const char* function, int code) {
  return Finish(function, code, Sim().Callback(VXSIM_MAIN));
}

int Plain(const char* function, CallLine& line) {
  Sim().LogCall(line.Take());
  return MainFinish(function, Sim().TakeCode().value_or(0));
}

std::string TextOf(Str text) { return text != nullptr ? std::string(text) : std::string(); }

// A portfolio operation: a scripted code stands for the result, and only a scripted 0 lets the
// operation take place; without a script the operation's own code is the result.
template <typename Operation>
int Portfolio(const char* function, CallLine& line, Operation operation) {
  Sim().LogCall(line.Take());
  const std::optional<int> scripted = Sim().TakeCode();
  int code = scripted.value_or(0);
  if (code == 0) {
    const int own = operation();
    if (!scripted) code = own;
  }
  return MainFinish(function, code);
}

template <typename Record>
int Query(const char* function, RecordKind kind, CallLine& line, const market::Args& args,
          Record** out) {
  State& state = Sim();
  state.LogCall(line.Take());
  const int code = state.TakeCode().value_or(0);
  std::optional<ScriptedRecord> scripted = state.TakeRecord(kind);
  if (CheckOut(function, out) && (scripted || code == 0)) {
    ScriptedRecord record;
    if (scripted) {
      record = std::move(*scripted);
    } else {
      record.model =
          kind == RecordKind::Cube ? market::QueryCube(function, args) : market::ReportGrid(args);
    }
    *out = static_cast<Record*>(state.HandOut(kind, code, std::move(record)));
  }
  return MainFinish(function, code);
}

int CubeQuery(const char* function, std::initializer_list<Str> texts, ResultCube** out) {
  CallLine line(function);
  for (Str text : texts) line.Text(text);
  return Query(function, RecordKind::Cube, line, ArgsOf(texts), out);
}

int Subscribe(const char* function, int kind, std::initializer_list<Str> texts,
              VxMessageCallback callback, void* user, int* request) {
  State& state = Sim();
  CallLine line(function);
  for (Str text : texts) line.Text(text);
  state.LogCall(line.Callback(callback != nullptr).Pointer(user).Take());
  state.SetDataCallback(kind, callback);
  const int code = state.TakeCode().value_or(0);
  const std::optional<OutInt> scripted = state.TakeOutInt();
  const bool writable = CheckOut(function, request);
  const bool store = !scripted || scripted->store;
  if (code == 0) {
    std::optional<int> number;
    if (scripted && scripted->store) number = scripted->value;
    const int opened = state.OpenRequest(kind, callback, ArgsOf(texts), number);
    if (writable && store) *request = opened;
  } else if (writable && scripted && scripted->store) {
    *request = scripted->value;
  }
  return Finish(function, code, callback);
}

int Cancel(const char* function, int kind, int request) {
  State& state = Sim();
  CallLine line(function);
  state.LogCall(line.Int(request).Take());
  const std::optional<int> scripted = state.TakeCode();
  const int code = state.CancelRequest(kind, request);
  return MainFinish(function, scripted.value_or(code));
}

std::string HexBytes(const void* data, std::size_t size) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string hex;
  hex.reserve(size * 2);
  const auto* bytes = static_cast<const unsigned char*>(data);
  for (std::size_t i = 0; i < size; ++i) {
    hex += kHex[bytes[i] >> 4];
    hex += kHex[bytes[i] & 0xF];
  }
  return hex;
}

}  // namespace

// ---- Control ------------------------------------------------------------------------------

int Start(void* reserved, Str options, VxLogCallback log) {
  CallLine line("start");
  Sim().LogCall(line.Pointer(reserved).Text(options).Callback(log != nullptr).Take());
  Sim().SetLogSink(log);
  return MainFinish("start", Sim().TakeCode().value_or(0));
}

int Stop() {
  Sim().LogCall("stop");
  const int code = Sim().TakeCode().value_or(0);
  Sim().StopStreams();
  return MainFinish("stop", code);
}

const char* GetErrString(int code, int flag) {
  CallLine line("geterrstring");
  Sim().LogCall(line.Int(code).Int(flag).Take());
  const char* text = Sim().ErrString(code, flag);
  MainFinish("geterrstring", 0);
  return text;
}

int SetServerListDir(Str directory) {
  CallLine line("setserverlistdir");
  Sim().LogCall(line.Text(directory).Take());
  return MainFinish("setserverlistdir", 0);
}

int SetCallback(VxMessageCallback callback) {
  CallLine line("setcallback");
  Sim().LogCall(line.Callback(callback != nullptr).Take());
  Sim().SetMainCallback(callback);
  return MainFinish("setcallback", 0);
}

int SetProxy(int kind, Str host, std::uint16_t port, bool flag, Str text1, Str text2) {
  CallLine line("setproxy");
  line.Int(kind).Text(host).Int(port).Int(flag ? 1 : 0).Text(text1).Text(text2);
  return Plain("setproxy", line);
}

// ---- Queries ------------------------------------------------------------------------------

int Csd(Str a, Str b, Str c, Str d, Str e, ResultCube** out) {
  return CubeQuery("csd", {a, b, c, d, e}, out);
}
int Css(Str a, Str b, Str c, ResultCube** out) { return CubeQuery("css", {a, b, c}, out); }
int TradeDates(Str a, Str b, Str c, ResultCube** out) {
  return CubeQuery("tradedates", {a, b, c}, out);
}
int Sector(Str a, Str b, Str c, ResultCube** out) { return CubeQuery("sector", {a, b, c}, out); }

int GetDate(Str a, int offset, Str b, ResultCube** out) {
  CallLine line("getdate");
  line.Text(a).Int(offset).Text(b);
  const std::string number = std::to_string(offset);
  return Query("getdate", RecordKind::Cube, line, ArgsOf({a, number.c_str(), b}), out);
}

int Csc(Str a, Str b, Str c, Str d, Str e, ResultCube** out) {
  return CubeQuery("csc", {a, b, c, d, e}, out);
}
int Cmc(Str a, Str b, Str c, Str d, Str e, ResultCube** out) {
  return CubeQuery("cmc", {a, b, c, d, e}, out);
}
int Chmc(Str a, Str b, Str c, Str d, Str e, ResultCube** out) {
  return CubeQuery("chmc", {a, b, c, d, e}, out);
}
int CsqSnapshot(Str a, Str b, Str c, ResultCube** out) {
  return CubeQuery("csqsnapshot", {a, b, c}, out);
}
int Cps(Str a, Str b, Str c, Str d, ResultCube** out) {
  return CubeQuery("cps", {a, b, c, d}, out);
}
int PQuery(Str a, ResultCube** out) { return CubeQuery("pquery", {a}, out); }
int Edb(Str a, Str b, ResultCube** out) { return CubeQuery("edb", {a, b}, out); }
int EdbQuery(Str a, Str b, Str c, ResultCube** out) {
  return CubeQuery("edbquery", {a, b, c}, out);
}
int PReport(Str a, Str b, Str c, ResultCube** out) { return CubeQuery("preport", {a, b, c}, out); }

int Cfn(Str a, Str b, int number, Str c, ResultCube** out) {
  CallLine line("cfn");
  line.Text(a).Text(b).Int(number).Text(c);
  const std::string text = std::to_string(number);
  return Query("cfn", RecordKind::Cube, line, ArgsOf({a, b, text.c_str(), c}), out);
}

int CfnQuery(Str a, ResultCube** out) { return CubeQuery("cfnquery", {a}, out); }

int Ctr(Str a, Str b, Str c, ResultGrid** out) {
  CallLine line("ctr");
  line.Text(a).Text(b).Text(c);
  return Query("ctr", RecordKind::Grid, line, ArgsOf({a, b, c}), out);
}

int TradeDatesNum(Str a, Str b, Str c, int* count) {
  State& state = Sim();
  CallLine line("tradedatesnum");
  state.LogCall(line.Text(a).Text(b).Text(c).Take());
  const int code = state.TakeCode().value_or(0);
  const std::optional<OutInt> scripted = state.TakeOutInt();
  if (CheckOut("tradedatesnum", count)) {
    if (scripted) {
      if (scripted->store) *count = scripted->value;
    } else if (code == 0) {
      *count = market::TradeDateCount(ArgsOf({a, b, c}));
    }
  }
  return MainFinish("tradedatesnum", code);
}

// ---- Subscriptions ------------------------------------------------------------------------

int Csq(Str a, Str b, Str c, VxMessageCallback callback, void* user, int* request) {
  return Subscribe("csq", VXSIM_CSQ, {a, b, c}, callback, user, request);
}
int Cst(Str a, Str b, Str c, Str d, Str e, VxMessageCallback callback, void* user, int* request) {
  return Subscribe("cst", VXSIM_CST, {a, b, c, d, e}, callback, user, request);
}
int Cnq(Str a, Str b, Str c, VxMessageCallback callback, void* user, int* request) {
  return Subscribe("cnq", VXSIM_CNQ, {a, b, c}, callback, user, request);
}
int CsqCancel(int request) { return Cancel("csqcancel", VXSIM_CSQ, request); }
int CnqCancel(int request) { return Cancel("cnqcancel", VXSIM_CNQ, request); }

// ---- Portfolios ---------------------------------------------------------------------------

int PCreate(Str a, Str b, std::int64_t number, Str c, Str d) {
  CallLine line("pcreate");
  line.Text(a).Text(b).Int(number).Text(c).Text(d);
  return Portfolio("pcreate", line,
                   [&] { return market::CreatePortfolio(TextOf(a), TextOf(b), number); });
}

int PDelete(Str a, Str b) {
  CallLine line("pdelete");
  line.Text(a).Text(b);
  return Portfolio("pdelete", line, [&] { return market::DeletePortfolio(TextOf(a)); });
}

int PCTransfer(Str a, Str b, Str c, double amount, Str d, Str e) {
  CallLine line("pctransfer");
  line.Text(a).Text(b).Text(c).Real(amount).Text(d).Text(e);
  return Portfolio("pctransfer", line,
                   [&] { return market::TransferCash(TextOf(a), TextOf(b), amount); });
}

int POrder(OrderInfo* orders, int count, Str a, Str b, Str c) {
  CallLine line("porder");
  if (orders == nullptr) {
    line.Raw("\\N");
  } else if (count > kMaxLoggedOrders) {
    Sim().AddError("porder: " + std::to_string(count) + " orders are too many to log");
    line.Raw("");
  } else {
    line.Raw(HexBytes(orders, count > 0 ? static_cast<std::size_t>(count) * sizeof(OrderInfo) : 0));
  }
  line.Int(count).Text(a).Text(b).Text(c);
  return Portfolio("porder", line, [&] { return market::PlaceOrders(orders, count, TextOf(a)); });
}

// ---- Records ------------------------------------------------------------------------------

int ReleaseData(void* record) {
  Sim().Release(record);
  return MainFinish("releasedata", 0);
}

}  // namespace vx::sim
