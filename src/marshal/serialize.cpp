#include "marshal/serialize.h"

#include "base/alloc.h"
#include "bridge/function_table.h"
#include "log/log_lines.h"
#include "marshal/result_writer.h"
#include "text/text.h"

namespace vx {

namespace {

void WriteHeader(unsigned char* at, std::int32_t code, std::int64_t payloadLength) {
  StoreLE32(at, static_cast<std::uint32_t>(code));
  StoreLE32(at + 4, 0);
  StoreLE64(at + 8, static_cast<std::uint64_t>(payloadLength));
}

// Measures, allocates once, encodes and checks. `encode` runs the record's payload
// encoding over a sink.
template <typename Record, typename Encode>
void BuildReply(const Record& record, bool valuesReadable, Encode encode, ResultReply& reply) {
  if (!valuesReadable) {
    // Success claimed with a positive value count but no values array.
    logline::NoResultRecord();
    reply.SetHeaderOnly(kCodeMissing);
    return;
  }
  SizeCounter counter;
  encode(counter, record);
  if (counter.size() > kMaxReplyBytes - kResultHeaderSize || !reply.Allocate(counter.size())) {
    reply.SetHeaderOnly(kCodeOutOfMemory);
    return;
  }
  const std::int64_t payloadLength = counter.size();
  ResultWriter writer(reply.payload(), reply.payload() + payloadLength);
  encode(writer, record);
  if (writer.Overflowed() || writer.Written() != payloadLength) {
    logline::DataCopyError();
    reply.SetHeaderOnly(kCodeMissing);
    return;
  }
  reply.SetSuccess(payloadLength);
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

jbyteArray NewReplyArray(JNIEnv* env, const ResultReply& reply) {
  return NewJavaByteArray(env, reply.data(), reply.size());
}

}  // namespace

void ResultReply::SetHeaderOnly(std::int32_t code) {
  m_block.reset();
  WriteHeader(m_header, code, 0);
  m_size = kResultHeaderSize;
  m_code = code;
}

bool ResultReply::Allocate(std::int64_t payloadLength) {
  m_block.reset();
  // Not zero-filled: the header and exactly the measured payload are written over it, and
  // a payload that does not match is discarded unread.
  m_block.reset(static_cast<unsigned char*>(
      BridgeAlloc(static_cast<std::size_t>(kResultHeaderSize + payloadLength), Fill::kNone)));
  return m_block != nullptr;
}

void ResultReply::SetSuccess(std::int64_t payloadLength) {
  WriteHeader(m_block.get(), 0, payloadLength);
  m_size = static_cast<std::int32_t>(kResultHeaderSize + payloadLength);
  m_code = 0;
}

void BuildCubeReply(const ResultCube& cube, ResultReply& reply) {
  BuildReply(cube, CubeValuesReadable(cube), CubeEncoding{}, reply);
}

void BuildGridReply(const ResultGrid& grid, ResultReply& reply) {
  BuildReply(grid, GridValuesReadable(grid), GridEncoding{}, reply);
}

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
  ResultReply bytes;
  BuildCubeReply(*record, bytes);
  jbyteArray reply = NewReplyArray(env, bytes);
  if (auto releasedata = g_functions.releasedata.load(std::memory_order_acquire)) {
    releasedata(record);
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
  ResultReply bytes;
  BuildGridReply(*grid, bytes);
  jbyteArray reply = NewReplyArray(env, bytes);
  if (auto releasedata = g_functions.releasedata.load(std::memory_order_acquire)) {
    releasedata(grid);
  }
  return reply;
}

}  // namespace vx
