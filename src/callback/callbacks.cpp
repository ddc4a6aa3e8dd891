#include "callback/callbacks.h"

#include "base/alloc.h"
#include "base/boundary.h"
#include "base/byte_order.h"
#include "base/jni_util.h"
#include "bridge/state.h"
#include "callback/callback_target.h"
#include "callback/callback_threads.h"
#include "log/log_lines.h"
#include "marshal/result_writer.h"
#include "marshal/serialize.h"
#include "text/text.h"

namespace vx {

namespace {

void WriteMessageHeader(unsigned char* at, const VXMSG* message, std::int32_t code,
                        std::int64_t payloadLength) {
  StoreLE32(at, message != nullptr ? static_cast<std::uint32_t>(message->word1) : 0);
  StoreLE32(at + 4, message != nullptr ? static_cast<std::uint32_t>(message->word2) : 0);
  StoreLE32(at + 8, static_cast<std::uint32_t>(code));
  StoreLE32(at + 12, message != nullptr ? static_cast<std::uint32_t>(message->word4) : 0);
  StoreLE32(at + 16, message != nullptr ? static_cast<std::uint32_t>(message->word5) : 0);
  StoreLE64(at + 20, static_cast<std::uint64_t>(payloadLength));
}

jbyteArray HeaderOnly(JNIEnv* env, const VXMSG* message, std::int32_t code) {
  unsigned char header[kMessageHeaderSize];
  WriteMessageHeader(header, message, code, 0);
  return NewJavaByteArray(env, header, kMessageHeaderSize);
}

// Whatever throws on the way ends the delivery: the service's thread gets 0 all the same.
int Receive(VXMSG* message, jint kind) {
  Guarded([message, kind] {
    logline::ReceivedCallback(kind);
    DeliverMessage(message, kind);
  });
  return 0;
}

}  // namespace

jbyteArray BuildCallbackMessage(JNIEnv* env, const VXMSG* message) {
  if (message == nullptr) {
    logline::MessageIsNull();
    return HeaderOnly(env, nullptr, kCodeMissing);
  }
  // A message that reports an error never carries data: its cube is not read.
  if (message->data == nullptr || message->errorCode != 0) {
    return HeaderOnly(env, message, message->errorCode);
  }
  const ResultCube& cube = *message->data;
  if (!CubeValuesReadable(cube)) {
    logline::NoResultRecord();
    return HeaderOnly(env, message, kCodeMissing);
  }

  // Most messages are short: written once on the stack, they need no allocation and read the
  // service's record only once. A long text ends the trial before it is converted.
  {
    unsigned char onStack[kStackMessageBytes];
    PoisonUnallocated(onStack, sizeof onStack);
    StackResultWriter writer(onStack + kMessageHeaderSize, onStack + sizeof onStack);
    EncodeCubePayload(writer, cube);
    if (!writer.Overflowed()) {
      WriteMessageHeader(onStack, message, 0, writer.Written());
      return NewJavaByteArray(env, onStack,
                              static_cast<std::int32_t>(kMessageHeaderSize + writer.Written()));
    }
  }

  SizeCounter counter;
  EncodeCubePayload(counter, cube);
  if (counter.size() > kMaxReplyBytes - kMessageHeaderSize) {
    return HeaderOnly(env, message, kCodeOutOfMemory);
  }
  const std::int64_t payloadLength = counter.size();
  // Header and payload are written in full before the buffer is read (see ResultReply).
  BridgeBuffer buffer(static_cast<std::size_t>(kMessageHeaderSize + payloadLength), Fill::kNone);
  if (!buffer) return HeaderOnly(env, message, kCodeOutOfMemory);

  unsigned char* payload = buffer.get() + kMessageHeaderSize;
  ResultWriter writer(payload, payload + payloadLength);
  EncodeCubePayload(writer, cube);
  if (writer.Overflowed() || writer.Written() != payloadLength) {
    logline::DataCopyError();
    return HeaderOnly(env, message, kCodeMissing);
  }
  WriteMessageHeader(buffer.get(), message, 0, payloadLength);
  return NewJavaByteArray(env, buffer.get(),
                          static_cast<std::int32_t>(kMessageHeaderSize + payloadLength));
}

void DeliverMessage(const VXMSG* message, jint kind) {
  JavaVM* vm = g_jvm.load();
  jobject callbackObject = g_callbackObject.load();
  if (vm == nullptr || callbackObject == nullptr) {
    logline::JvmOrObjectIsNull();
    return;
  }

  // A thread that is attached already (a Java thread calling back synchronously, or one
  // another library attached) is used as it is and never detached here.
  DeliveryEnv attachment(vm);
  JNIEnv* env = attachment.get();
  if (env == nullptr) {
    logline::EnvIsNull();
    return;
  }

  // Every local reference made here is gone before the delivery ends: a service thread
  // that stays attached must not pile them up.
  jmethodID method = DataMethodOf(env, callbackObject);
  if (method == nullptr) {
    logline::CallbackMethodMissing();
    return;
  }
  LocalRef<jbyteArray> bytes(env, BuildCallbackMessage(env, message));
  if (!bytes) ClearPendingException(env);  // no array: Java receives null
  CallJavaIntMethod(env, callbackObject, method, bytes.get(), kind);
  if (ClearPendingException(env)) logline::CallbackThrew(kind);
}

int MainCallback(VXMSG* message) { return Receive(message, kKindMain); }
int CsqDataCallback(VXMSG* message) { return Receive(message, kKindCsq); }
int CstDataCallback(VXMSG* message) { return Receive(message, kKindCst); }
int CnqDataCallback(VXMSG* message) { return Receive(message, kKindCnq); }

}  // namespace vx
