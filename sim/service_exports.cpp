// The exported service functions: C names, native signatures, nothing else.
//
// This unit must not include any system header: <time.h> declares a getdate of its own,
// which would clash with the service function of that name. Each variant of the library
// compiles it with some of these switches:
//   VXSIM_WITHOUT_SERVICE            none of the 34 functions (only the control API)
//   VXSIM_WITHOUT_RELEASEDATA        no releasedata
//   VXSIM_WITHOUT_SETSERVERLISTDIR   no setserverlistdir
//   VXSIM_WITHOUT_GETDATE            no getdate
//   VXSIM_WITH_DEPENDENCY            also exports vxsim_dependency_check, which calls into
//                                    the DLL beside it (sim/dependency.cpp; Windows)
#include "bridge/service_api.h"
#include "service.h"
#include "vxsim.h"

#if !defined(VXSIM_WITHOUT_SERVICE)

using vx::OrderInfo;
using vx::ResultCube;
using vx::ResultGrid;
using vx::Str;
using vx::VxLogCallback;
using vx::VxMessageCallback;
namespace sim = vx::sim;

extern "C" {

VXSIM_API int start(void* reserved, Str options, VxLogCallback log) {
  return sim::Start(reserved, options, log);
}
VXSIM_API int stop() { return sim::Stop(); }
VXSIM_API const char* geterrstring(int code, int flag) { return sim::GetErrString(code, flag); }
VXSIM_API int csd(Str a, Str b, Str c, Str d, Str e, ResultCube** out) {
  return sim::Csd(a, b, c, d, e, out);
}
VXSIM_API int css(Str a, Str b, Str c, ResultCube** out) { return sim::Css(a, b, c, out); }
VXSIM_API int tradedates(Str a, Str b, Str c, ResultCube** out) {
  return sim::TradeDates(a, b, c, out);
}
VXSIM_API int sector(Str a, Str b, Str c, ResultCube** out) { return sim::Sector(a, b, c, out); }
#if !defined(VXSIM_WITHOUT_GETDATE)
VXSIM_API int getdate(Str a, int offset, Str b, ResultCube** out) {
  return sim::GetDate(a, offset, b, out);
}
#endif
VXSIM_API int setcallback(VxMessageCallback callback) { return sim::SetCallback(callback); }
VXSIM_API int csq(Str a, Str b, Str c, VxMessageCallback callback, void* user, int* request) {
  return sim::Csq(a, b, c, callback, user, request);
}
VXSIM_API int csqcancel(int request) { return sim::CsqCancel(request); }
#if !defined(VXSIM_WITHOUT_RELEASEDATA)
VXSIM_API int releasedata(void* record) { return sim::ReleaseData(record); }
#endif
VXSIM_API int csc(Str a, Str b, Str c, Str d, Str e, ResultCube** out) {
  return sim::Csc(a, b, c, d, e, out);
}
VXSIM_API int cmc(Str a, Str b, Str c, Str d, Str e, ResultCube** out) {
  return sim::Cmc(a, b, c, d, e, out);
}
VXSIM_API int chmc(Str a, Str b, Str c, Str d, Str e, ResultCube** out) {
  return sim::Chmc(a, b, c, d, e, out);
}
VXSIM_API int cst(Str a, Str b, Str c, Str d, Str e, VxMessageCallback callback, void* user,
                  int* request) {
  return sim::Cst(a, b, c, d, e, callback, user, request);
}
VXSIM_API int ctr(Str a, Str b, Str c, ResultGrid** out) { return sim::Ctr(a, b, c, out); }
VXSIM_API int csqsnapshot(Str a, Str b, Str c, ResultCube** out) {
  return sim::CsqSnapshot(a, b, c, out);
}
VXSIM_API int cps(Str a, Str b, Str c, Str d, ResultCube** out) {
  return sim::Cps(a, b, c, d, out);
}
VXSIM_API int setproxy(int kind, Str host, std::uint16_t port, bool flag, Str text1, Str text2) {
  return sim::SetProxy(kind, host, port, flag, text1, text2);
}
VXSIM_API int pquery(Str a, ResultCube** out) { return sim::PQuery(a, out); }
VXSIM_API int porder(OrderInfo* orders, int count, Str a, Str b, Str c) {
  return sim::POrder(orders, count, a, b, c);
}
VXSIM_API int edb(Str a, Str b, ResultCube** out) { return sim::Edb(a, b, out); }
VXSIM_API int edbquery(Str a, Str b, Str c, ResultCube** out) {
  return sim::EdbQuery(a, b, c, out);
}
#if !defined(VXSIM_WITHOUT_SETSERVERLISTDIR)
VXSIM_API int setserverlistdir(Str directory) { return sim::SetServerListDir(directory); }
#endif
VXSIM_API int pcreate(Str a, Str b, std::int64_t number, Str c, Str d) {
  return sim::PCreate(a, b, number, c, d);
}
VXSIM_API int pdelete(Str a, Str b) { return sim::PDelete(a, b); }
VXSIM_API int preport(Str a, Str b, Str c, ResultCube** out) { return sim::PReport(a, b, c, out); }
VXSIM_API int tradedatesnum(Str a, Str b, Str c, int* count) {
  return sim::TradeDatesNum(a, b, c, count);
}
VXSIM_API int cfn(Str a, Str b, int number, Str c, ResultCube** out) {
  return sim::Cfn(a, b, number, c, out);
}
VXSIM_API int cfnquery(Str a, ResultCube** out) { return sim::CfnQuery(a, out); }
VXSIM_API int cnq(Str a, Str b, Str c, VxMessageCallback callback, void* user, int* request) {
  return sim::Cnq(a, b, c, callback, user, request);
}
VXSIM_API int cnqcancel(int request) { return sim::CnqCancel(request); }
VXSIM_API int pctransfer(Str a, Str b, Str c, double amount, Str d, Str e) {
  return sim::PCTransfer(a, b, c, amount, d, e);
}

}  // extern "C"

// Every exported function has exactly the type the bridge calls it through.
template <typename A, typename B>
constexpr bool kSameType = false;
template <typename A>
constexpr bool kSameType<A, A> = true;

#define VXSIM_CHECK_TYPE(name, type) \
  static_assert(kSameType<decltype(&::name), ::vx::type>, #name " has the wrong type");
#if !defined(VXSIM_WITHOUT_RELEASEDATA) && !defined(VXSIM_WITHOUT_SETSERVERLISTDIR) && \
    !defined(VXSIM_WITHOUT_GETDATE)
VX_SERVICE_FUNCTIONS(VXSIM_CHECK_TYPE)
#endif
#undef VXSIM_CHECK_TYPE

#endif  // !VXSIM_WITHOUT_SERVICE

#if defined(VXSIM_WITH_DEPENDENCY)
extern "C" __declspec(dllimport) int vxsim_dependency_value();
extern "C" VXSIM_API int vxsim_dependency_check() { return vxsim_dependency_value(); }
#endif
