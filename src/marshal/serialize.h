// The Result buffer: a 16-byte header (int32 code, 4 zero bytes, int64 payload length)
// followed by the payload of a ResultCube or ResultGrid, handed to Java as one byte[].
#pragma once

#include <jni.h>

#include <cstdint>

#include "base/alloc.h"
#include "bridge/service_api.h"

namespace vx {

constexpr std::int32_t kCodeOutOfMemory = 10000003;
constexpr std::int32_t kCodeBadJson = 10000004;
constexpr std::int32_t kCodeMissing = 10000007;
constexpr std::int32_t kCodeBadOrderList = 10003003;

constexpr std::int32_t kResultHeaderSize = 16;

// The bytes of one Result buffer, before they become a Java array. A header-only reply lives
// in the object itself, so building one cannot fail.
class ResultReply {
 public:
  const unsigned char* data() const { return m_block ? m_block.get() : m_header; }
  std::int32_t size() const { return m_size; }
  std::int32_t code() const { return m_code; }

  // The 16-byte reply with `code` and no payload; drops a payload built before.
  void SetHeaderOnly(std::int32_t code);
  // Room for the header and `payloadLength` bytes, not zero-filled (every byte is written
  // before any is read); false when it cannot be had.
  bool Allocate(std::int64_t payloadLength);
  unsigned char* payload() { return m_block.get() + kResultHeaderSize; }
  // Writes the success header over the allocated buffer.
  void SetSuccess(std::int64_t payloadLength);

 private:
  unsigned char m_header[kResultHeaderSize] = {};
  BridgeOwned<unsigned char[]> m_block;  // header and payload
  std::int32_t m_size = 0;
  std::int32_t m_code = 0;
};

// Builds the reply for a record that came with code 0, without any JNI call: measures,
// allocates once, encodes and checks. Logs as the serialisers do; the record is left as it is.
void BuildCubeReply(const ResultCube& cube, ResultReply& reply);
void BuildGridReply(const ResultGrid& grid, ResultReply& reply);

// Builds the reply for a cube-returning query and hands a record that came with code 0
// back to releasedata exactly once, clearing the caller's pointer. Null when no array
// could be created.
jbyteArray SerializeCubeResult(JNIEnv* env, std::int32_t code, ResultCube** cube);
jbyteArray SerializeGridResult(JNIEnv* env, std::int32_t code, ResultGrid* grid);

// The 16-byte header alone, with `code`.
jbyteArray ResultHeaderOnly(JNIEnv* env, std::int32_t code);

}  // namespace vx
