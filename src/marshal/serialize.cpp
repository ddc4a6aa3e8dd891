#include "marshal/serialize.h"

#include "bridge/function_table.h"
#include "log/log_lines.h"
#include "marshal/alloc.h"
#include "marshal/result_writer.h"
#include "marshal/text.h"

namespace vx {

namespace {

void WriteHeader(unsigned char* at, std::int32_t code, std::int64_t payloadLength) {
  StoreLE32(at, static_cast<std::uint32_t>(code));
  StoreLE32(at + 4, 0);
  StoreLE64(at + 8, static_cast<std::uint64_t>(payloadLength));
}

// Measures, allocates once, encodes and checks; returns the array (or null) and leaves the
// record untouched. `encode` runs the record's payload encoding over a sink.
template <typename Record, typename Encode>
jbyteArray BuildReply(JNIEnv* env, const Record& record, bool valuesReadable, Encode encode) {
  if (!valuesReadable) {
    // Success claimed with a positive value count but no values array.
    logline::NoResultRecord();
    return ResultHeaderOnly(env, kCodeMissing);
  }
  SizeCounter counter;
  encode(counter, record);
  if (counter.size() > kMaxReplyBytes - kResultHeaderSize) {
    return ResultHeaderOnly(env, kCodeOutOfMemory);
  }
  const std::int64_t payloadLength = counter.size();
  BridgeBuffer buffer(static_cast<std::size_t>(kResultHeaderSize + payloadLength));
  if (!buffer) return ResultHeaderOnly(env, kCodeOutOfMemory);

  unsigned char* payload = buffer.get() + kResultHeaderSize;
  ResultWriter writer(payload, payload + payloadLength);
  encode(writer, record);
  if (writer.Overflowed() || writer.Written() != payloadLength) {
    logline::DataCopyError();
    WriteHeader(buffer.get(), kCodeMissing, 0);
    return NewJavaByteArray(env, buffer.get(), kResultHeaderSize);
  }
  WriteHeader(buffer.get(), 0, payloadLength);
  return NewJavaByteArray(env, buffer.get(),
                          static_cast<std::int32_t>(kResultHeaderSize + payloadLength));
}

struct CubeEncoding {
  template <typename Sink>
  void operator()(Sink& sink, const ResultCube& cube) const {
    EncodeCubePayload(sink, cube);
  }
};

struct GridEncoding {
  template <typename Sink>
  void operator()(Sink& sink, const ResultGrid& grid) const {
    EncodeGridPayload(sink, grid);
  }
};

}  // namespace

jbyteArray ResultHeaderOnly(JNIEnv* env, std::int32_t code) {
  unsigned char header[kResultHeaderSize];
  WriteHeader(header, code, 0);
  return NewJavaByteArray(env, header, kResultHeaderSize);
}

jbyteArray SerializeCubeResult(JNIEnv* env, std::int32_t code, ResultCube** cube) {
  // A record that came with a non-zero code is neither read nor released.
  if (code != 0) return ResultHeaderOnly(env, code);
  ResultCube* record = cube != nullptr ? *cube : nullptr;
  if (record == nullptr) {
    logline::NoResultRecord();
    return ResultHeaderOnly(env, kCodeMissing);
  }
  jbyteArray reply = BuildReply(env, *record, CubeValuesReadable(*record), CubeEncoding{});
  if (g_functions.releasedata != nullptr) {
    g_functions.releasedata(record);
    *cube = nullptr;
  }
  return reply;
}

jbyteArray SerializeGridResult(JNIEnv* env, std::int32_t code, ResultGrid* grid) {
  if (code != 0) return ResultHeaderOnly(env, code);
  if (grid == nullptr) {
    logline::NoResultRecord();
    return ResultHeaderOnly(env, kCodeMissing);
  }
  jbyteArray reply = BuildReply(env, *grid, GridValuesReadable(*grid), GridEncoding{});
  if (g_functions.releasedata != nullptr) g_functions.releasedata(grid);
  return reply;
}

}  // namespace vx
