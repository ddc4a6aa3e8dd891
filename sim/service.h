// The 34 service functions of the simulated library, behind the exported C names (see
// service_exports.cpp). Includes nothing but the record types, so the exporting unit can
// stay free of system headers.
#pragma once

#include "bridge/service_api.h"

namespace vx::sim {

int Start(void* reserved, Str options, VxLogCallback log);
int Stop();
const char* GetErrString(int code, int flag);
int SetServerListDir(Str directory);
int SetCallback(VxMessageCallback callback);
int SetProxy(int kind, Str host, std::uint16_t port, bool flag, Str text1, Str text2);

int Csd(Str, Str, Str, Str, Str, ResultCube**);
int Css(Str, Str, Str, ResultCube**);
int TradeDates(Str, Str, Str, ResultCube**);
int Sector(Str, Str, Str, ResultCube**);
int GetDate(Str, int, Str, ResultCube**);
int Csc(Str, Str, Str, Str, Str, ResultCube**);
int Cmc(Str, Str, Str, Str, Str, ResultCube**);
int Chmc(Str, Str, Str, Str, Str, ResultCube**);
int CsqSnapshot(Str, Str, Str, ResultCube**);
int Cps(Str, Str, Str, Str, ResultCube**);
int PQuery(Str, ResultCube**);
int Edb(Str, Str, ResultCube**);
int EdbQuery(Str, Str, Str, ResultCube**);
int PReport(Str, Str, Str, ResultCube**);
int Cfn(Str, Str, int, Str, ResultCube**);
int CfnQuery(Str, ResultCube**);
int Ctr(Str, Str, Str, ResultGrid**);
int TradeDatesNum(Str, Str, Str, int* count);

int Csq(Str, Str, Str, VxMessageCallback, void* user, int* request);
int Cst(Str, Str, Str, Str, Str, VxMessageCallback, void* user, int* request);
int Cnq(Str, Str, Str, VxMessageCallback, void* user, int* request);
int CsqCancel(int request);
int CnqCancel(int request);

int PCreate(Str, Str, std::int64_t, Str, Str);
int PDelete(Str, Str);
int PCTransfer(Str, Str, Str, double, Str, Str);
int POrder(OrderInfo* orders, int count, Str, Str, Str);

int ReleaseData(void* record);

}  // namespace vx::sim
