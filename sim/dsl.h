// The description language of records and callback messages (grammar in vxsim.h).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "records.h"

namespace vx::sim {

// Parses a record description of the given kind. On failure returns false and says why
// (with the offset of the problem) in `error`.
bool ParseRecord(std::string_view text, RecordKind kind, RecordModel& out, std::string& error);

struct MessageModel {
  bool nullMessage = false;
  std::int32_t word1 = 0;
  std::int32_t word2 = 0;
  std::int32_t errorCode = 0;
  std::int32_t word4 = 0;
  std::int32_t word5 = 0;
  bool tagWords = false;
  bool tagCube = false;
  bool linger = false;              // firing threads stay alive after their messages
  std::optional<RecordModel> data;  // a cube
};

bool ParseMessage(std::string_view text, MessageModel& out, std::string& error);

// The cube that identifies message `sequence` of firing thread `thread`.
RecordModel IdentityCube(int thread, int sequence);

}  // namespace vx::sim
