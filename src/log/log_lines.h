// Every line the bridge writes, each format written once. Each queues one line on
// g_logThread with the current time stamp.
#pragma once

namespace vx::logline {

void OnLoadStartup();             // "JNI_OnLoad startup ..."
void CatchJniVersion(int minor);  // "Catch JNI_VERSION_1_<minor>" for 8, 6, 4
void DefaultJniVersion();         // "Default JNI_VERSION_1_2"
void OnUnloadStartup();           // "JNI_OnUnload startup ..."
void DirIs(const char* directory);
void LoadLibraryFail(int code, const char* reason);  // reason: "" on Windows
void MissingEntry(const char* label);                // "function address of <label> is null."
void NoResultRecord();                               // success reported without a record
void DataCopyError();                                // encoded length differs from the measured one
void MessageIsNull();                                // "VXMSG is null."
void JvmOrObjectIsNull();
void EnvIsNull();
void ReceivedCallback(int kind);  // kind 0 main, 1 csq, 2 cst, 3 cnq
void CallbackMethodMissing();     // dataAPICallBack not found on the callback object
void CallbackThrew(int kind);     // dataAPICallBack threw; cleared
void JsonParseError(const char* json);
void JsonParamError(const char* json);
void OrderAllocFail(int count);
// veltrix.callbackThreads holds a value other than perMessage and attached.
void UnknownCallbackThreads(const char* value);

}  // namespace vx::logline
