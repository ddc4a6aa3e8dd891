#include "log/log_lines.h"

#include <cstring>
#include <string>
#include <string_view>

#include "log/log_thread.h"

namespace vx::logline {

// The time stamp, in a buffer of the calling thread that outlives the line's formatting; it
// takes no allocation, so it cannot fail.
#define VX_NOW CurrentTimeStamp()

void OnLoadStartup() {
  g_logThread.WriteLog("[Vx_Debug][%s]:%s\n", VX_NOW, "JNI_OnLoad startup ...");
}

void CatchJniVersion(int minor) {
  switch (minor) {
    case 8:
      g_logThread.WriteLog("[Vx_Debug][%s]:Catch JNI_VERSION_1_8\n", VX_NOW);
      break;
    case 6:
      g_logThread.WriteLog("[Vx_Debug][%s]:Catch JNI_VERSION_1_6\n", VX_NOW);
      break;
    default:
      g_logThread.WriteLog("[Vx_Debug][%s]:Catch JNI_VERSION_1_4\n", VX_NOW);
      break;
  }
}

void DefaultJniVersion() {
  g_logThread.WriteLog("[Vx_Debug][%s]:Default JNI_VERSION_1_2\n", VX_NOW);
}
void OnUnloadStartup() {
  g_logThread.WriteLog("[Vx_Debug][%s]:%s\n", VX_NOW, "JNI_OnUnload startup ...");
}
void DirIs(const char* directory) {
  g_logThread.WriteLog("[Vx_Debug][%s]:dir is %s\n", VX_NOW, directory);
}

void LoadLibraryFail(int code, const char* reason) {
  if (reason == nullptr || *reason == '\0') {
    g_logThread.WriteLog("[Vx_Error][%s]:LoadLibrary Fail %d\n", VX_NOW, code);
  } else {
    g_logThread.WriteLog("[Vx_Error][%s]:LoadLibrary Fail %d (%s)\n", VX_NOW, code, reason);
  }
}

void MissingEntry(const char* label) {
  g_logThread.WriteLog("[Vx_Error][%s]:function address of %s is null.\n", VX_NOW, label);
}

void NoResultRecord() {
  g_logThread.WriteLog("[Vx_Error][%s]:assert false int java wraper. \n", VX_NOW);
}
void DataCopyError() {
  g_logThread.WriteLog("[Vx_Error][%s]:assert false int java wraper. data copy error\n", VX_NOW);
}
void MessageIsNull() { g_logThread.WriteLog("[Vx_Error][%s]:VXMSG is null.\n", VX_NOW); }
void JvmOrObjectIsNull() {
  g_logThread.WriteLog("[Vx_Error][%s]:JavaVM or jobject is null.\n", VX_NOW);
}
void EnvIsNull() { g_logThread.WriteLog("[Vx_Error][%s]:JNIEnv is null.\n", VX_NOW); }

// One line per callback, so built without the formatter and without an allocation of its
// own: the same bytes as "[Vx_Debug][%s]:<text>\n" would give.
void ReceivedCallback(int kind) {
  static constexpr std::string_view kTexts[] = {"recv maincallback\n", "recv csq datacallback\n",
                                                "recv cst datacallback\n",
                                                "recv cnq datacallback\n"};
  const std::string_view text = kTexts[kind >= 0 && kind <= 3 ? kind : 3];
  const std::string_view stamp = CurrentTimeStamp();
  constexpr std::string_view kHead = "[Vx_Debug][";
  constexpr std::string_view kStampEnd = "]:";
  // Room for the parts: a stamp has at most 63 characters (CurrentTimeStamp's limit), a
  // text at most 22.
  char line[kHead.size() + 63 + kStampEnd.size() + 22];
  char* at = line;
  for (const std::string_view part : {kHead, stamp, kStampEnd, text}) {
    std::memcpy(at, part.data(), part.size());
    at += part.size();
  }
  g_logThread.WriteText(line, static_cast<std::size_t>(at - line));
}

void CallbackMethodMissing() {
  g_logThread.WriteLog("[Vx_Error][%s]:method dataAPICallBack ([BI)I not found.\n", VX_NOW);
}

void CallbackThrew(int kind) {
  g_logThread.WriteLog("[Vx_Error][%s]:dataAPICallBack threw an exception (kind %d); cleared.\n",
                       VX_NOW, kind);
}

void JsonParseError(const char* json) {
  g_logThread.WriteLog("[Vx_Error][%s]:json parse error : %s\n", VX_NOW, json);
}
void JsonParamError(const char* json) {
  g_logThread.WriteLog("[Vx_Error][%s]:json param error : %s\n", VX_NOW, json);
}
void OrderAllocFail(int count) {
  g_logThread.WriteLog("[Vx_Error][%s]:new %d size pOrderInfo fail\n", VX_NOW, count);
}

void UnknownCallbackThreads(const char* value) {
  g_logThread.WriteLog(
      "[Vx_Error][%s]:unknown veltrix.callbackThreads value \"%s\"; callbacks attach per "
      "message.\n",
      VX_NOW, value);
}

#undef VX_NOW

}  // namespace vx::logline
