// The four callbacks the service library calls on its own threads, and their delivery to
// Java's dataAPICallBack as a callback message.
#pragma once

#include <jni.h>

#include <cstdint>

#include "bridge/service_api.h"

namespace vx {

// Callback message: five int32 words of the VXMSG (word1, word2, error code, word4, word5),
// an int64 payload length at offset 20, then the ResultCube payload.
constexpr std::int32_t kMessageHeaderSize = 28;
// A message of at most this many bytes, header included, is written on the stack in one pass;
// a longer one is measured first and written into a buffer of its size.
constexpr std::int32_t kStackMessageBytes = 2048;

enum CallbackKind : jint { kKindMain = 0, kKindCsq = 1, kKindCst = 2, kKindCnq = 3 };

// Each logs its line, delivers the message with its kind, and returns 0.
int MainCallback(VXMSG* message);
int CsqDataCallback(VXMSG* message);
int CstDataCallback(VXMSG* message);
int CnqDataCallback(VXMSG* message);

// Attaches the calling thread if it is not attached yet (see callback_threads.h), calls
// dataAPICallBack with the message and the kind, and detaches only what it attached for
// this delivery.
void DeliverMessage(const VXMSG* message, jint kind);

// New local byte[] with the callback message for `message` (null message: 10000007).
// Messages up to kStackMessageBytes need no allocation.
jbyteArray BuildCallbackMessage(JNIEnv* env, const VXMSG* message);

}  // namespace vx
