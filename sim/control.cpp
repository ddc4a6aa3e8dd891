// The control API of vxsim.h.
#include <string>

#include "dsl.h"
#include "state.h"
#include "vxsim.h"

namespace {

using vx::sim::MessageModel;
using vx::sim::RecordKind;
using vx::sim::RecordModel;
using vx::sim::ScriptedRecord;
using vx::sim::State;

thread_local std::string t_dslError;

// Text handed back to C callers, valid until the same function is called again on the
// same thread.
const char* Keep(std::string& slot, std::string text) {
  slot = std::move(text);
  return slot.c_str();
}

int ScriptRecord(RecordKind kind, const char* dsl) {
  RecordModel model;
  if (dsl == nullptr || !vx::sim::ParseRecord(dsl, kind, model, t_dslError)) {
    if (dsl == nullptr) t_dslError = "null description";
    return VXSIM_ERR_BAD_SCRIPT;
  }
  ScriptedRecord record;
  record.model = std::move(model);
  State::Get().PushRecord(kind, std::move(record));
  return 0;
}

void ScriptPointer(RecordKind kind, void* record, vxsim_release_fn onRelease, void* user) {
  ScriptedRecord scripted;
  scripted.raw = record;
  scripted.onRelease = onRelease;
  scripted.user = user;
  State::Get().PushRecord(kind, std::move(scripted));
}

bool ParseMessageOrFail(const char* text, MessageModel& message) {
  if (!vx::sim::ParseMessage(text != nullptr ? text : "", message, t_dslError)) return false;
  return true;
}

bool IsServiceFunction(const std::string& name) {
#define VXSIM_NAME_MATCHES(function, type) name == #function ||
  return VX_SERVICE_FUNCTIONS(VXSIM_NAME_MATCHES) false;
#undef VXSIM_NAME_MATCHES
}

}  // namespace

extern "C" {

VXSIM_API void vxsim_reset(void) { State::Get().Reset(); }

VXSIM_API void vxsim_set_streaming(int enabled, int interval_ms) {
  State::Get().SetStreaming(enabled != 0, interval_ms);
}

VXSIM_API int vxsim_active_streams(void) { return State::Get().ActiveStreams(); }

VXSIM_API void vxsim_set_next_code(int code) { State::Get().PushCode(code); }

VXSIM_API void vxsim_set_next_out_int(int value, int store) {
  State::Get().PushOutInt(vx::sim::OutInt{value, store != 0});
}

VXSIM_API int vxsim_script_cube(const char* dsl) { return ScriptRecord(RecordKind::Cube, dsl); }

VXSIM_API int vxsim_script_grid(const char* dsl) { return ScriptRecord(RecordKind::Grid, dsl); }

VXSIM_API const char* vxsim_dsl_error(void) { return t_dslError.c_str(); }

VXSIM_API void vxsim_set_next_cube_ptr(void* cube, vxsim_release_fn on_release, void* user) {
  ScriptPointer(RecordKind::Cube, cube, on_release, user);
}

VXSIM_API void vxsim_set_next_grid_ptr(void* grid, vxsim_release_fn on_release, void* user) {
  ScriptPointer(RecordKind::Grid, grid, on_release, user);
}

VXSIM_API void vxsim_script_errstring(const char* text) {
  State::Get().PushErrString(text != nullptr ? std::optional<std::string>(text) : std::nullopt);
}

VXSIM_API void* vxsim_last_record(void) { return State::Get().LastRecord(); }

VXSIM_API int vxsim_last_record_id(void) { return State::Get().LastRecordId(); }

VXSIM_API int vxsim_record_id(const void* record) { return State::Get().RecordId(record); }

VXSIM_API const char* vxsim_last_record_description(void) {
  thread_local std::string text;
  return Keep(text, State::Get().LastRecordDescription());
}

VXSIM_API void vxsim_set_record_descriptions(int enabled) {
  State::Get().SetDescriptions(enabled != 0);
}

VXSIM_API const char* vxsim_describe_cube(const void* cube) {
  thread_local std::string text;
  return Keep(text, vx::sim::DescribeRecord(cube, RecordKind::Cube));
}

VXSIM_API const char* vxsim_describe_grid(const void* grid) {
  thread_local std::string text;
  return Keep(text, vx::sim::DescribeRecord(grid, RecordKind::Grid));
}

VXSIM_API int vxsim_release_count_for(const void* record) {
  return State::Get().ReleaseCountFor(record);
}

VXSIM_API int vxsim_release_count_for_id(int id) { return State::Get().ReleaseCountForId(id); }

VXSIM_API int vxsim_release_total(void) { return State::Get().ReleaseTotal(); }

VXSIM_API const void* vxsim_last_released(void) { return State::Get().LastReleased(); }

VXSIM_API int vxsim_last_released_id(void) { return State::Get().LastReleasedId(); }

VXSIM_API int vxsim_outstanding_records(void) { return State::Get().Outstanding(); }

VXSIM_API int vxsim_error_count(void) { return State::Get().ErrorCount(); }

VXSIM_API const char* vxsim_error(int index) { return State::Get().Error(index); }

VXSIM_API const char* vxsim_errors_joined(void) {
  thread_local std::string text;
  return Keep(text, State::Get().ErrorsJoined());
}

VXSIM_API int vxsim_call_count(void) { return State::Get().CallCount(); }

VXSIM_API const char* vxsim_call(int index) { return State::Get().Call(index); }

VXSIM_API const char* vxsim_calls_joined(void) {
  thread_local std::string text;
  return Keep(text, State::Get().CallsJoined());
}

VXSIM_API void vxsim_clear_calls(void) { State::Get().ClearCalls(); }

VXSIM_API int vxsim_has_callback(int kind) { return State::Get().HasCallback(kind) ? 1 : 0; }

VXSIM_API int vxsim_fire(int kind, int threads, int per_thread, const char* message) {
  MessageModel model;
  if (!ParseMessageOrFail(message, model)) return VXSIM_ERR_BAD_SCRIPT;
  return State::Get().Fire(kind, threads, per_thread, model);
}

VXSIM_API int vxsim_fire_wait(void) { return State::Get().FireWait(); }

VXSIM_API int vxsim_fire_inside_next(const char* function, int count, const char* message) {
  if (function == nullptr || !IsServiceFunction(function) || count < 0) {
    return VXSIM_ERR_BAD_ARGUMENT;
  }
  MessageModel model;
  if (!ParseMessageOrFail(message, model)) return VXSIM_ERR_BAD_SCRIPT;
  State::Get().PushInsideFire(function, count, std::move(model));
  return 0;
}

VXSIM_API int vxsim_emit_log(const char* text, int count, int threads) {
  return State::Get().EmitLog(text, count, threads, true);
}

VXSIM_API int vxsim_emit_log_raw(const char* text, int count, int threads) {
  return State::Get().EmitLog(text, count, threads, false);
}

}  // extern "C"
