// The Result buffer: a 16-byte header (int32 code, 4 zero bytes, int64 payload length)
// followed by the payload of a ResultCube or ResultGrid, handed to Java as one byte[].
#pragma once

#include <jni.h>

#include <cstdint>

#include "bridge/service_api.h"

namespace vx {

constexpr std::int32_t kCodeOutOfMemory = 10000003;
constexpr std::int32_t kCodeBadJson = 10000004;
constexpr std::int32_t kCodeMissing = 10000007;
constexpr std::int32_t kCodeBadOrderList = 10003003;

constexpr std::int32_t kResultHeaderSize = 16;

// Builds the reply for a cube-returning query and hands a record that came with code 0
// back to releasedata exactly once, clearing the caller's pointer. Null when no array
// could be created.
jbyteArray SerializeCubeResult(JNIEnv* env, std::int32_t code, ResultCube** cube);
jbyteArray SerializeGridResult(JNIEnv* env, std::int32_t code, ResultGrid* grid);

// The 16-byte header alone, with `code`.
jbyteArray ResultHeaderOnly(JNIEnv* env, std::int32_t code);

}  // namespace vx
