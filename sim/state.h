// Everything the simulated library remembers between calls: scripts, the call log, the
// record registry and release accounting, callbacks, streams and firing threads. One
// process-wide instance, guarded by one mutex; callbacks always run outside it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "bridge/service_api.h"
#include "dsl.h"
#include "market.h"
#include "records.h"
#include "vxsim.h"

namespace vx::sim {

// A record queued by a test for the next cube or grid call.
struct ScriptedRecord {
  std::optional<RecordModel> model;  // described; else `raw`
  void* raw = nullptr;
  vxsim_release_fn onRelease = nullptr;
  void* user = nullptr;
};

struct OutInt {
  int value = 0;
  bool store = true;
};

class State {
 public:
  static State& Get();

  State() = default;
  State(const State&) = delete;
  State& operator=(const State&) = delete;

  // Back to default mode (see vxsim_reset).
  void Reset();
  // Ends every stream and sim thread; used by stop() and at unload.
  void StopStreams();
  void Shutdown();

  // ---- Call log and errors ----
  void LogCall(std::string line);
  void AddError(std::string error);
  int CallCount();
  const char* Call(int index);
  std::string CallsJoined();
  void ClearCalls();
  int ErrorCount();
  const char* Error(int index);
  std::string ErrorsJoined();

  // ---- Scripts ----
  void PushCode(int code);
  std::optional<int> TakeCode();
  void PushOutInt(OutInt out);
  std::optional<OutInt> TakeOutInt();
  void PushRecord(RecordKind kind, ScriptedRecord record);
  std::optional<ScriptedRecord> TakeRecord(RecordKind kind);
  void PushErrString(std::optional<std::string> text);
  const char* ErrString(int code, int flag);
  void SetStreaming(bool enabled, int intervalMs);
  void SetDescriptions(bool enabled);

  // ---- Records ----
  // Registers and returns the record a call hands out (null for a "none" model).
  void* HandOut(RecordKind kind, int code, ScriptedRecord record);
  // releasedata: accounting, call log line and errors.
  void Release(void* record);
  void* LastRecord();
  int LastRecordId();
  int RecordId(const void* record);
  std::string LastRecordDescription();
  int ReleaseCountFor(const void* record);
  int ReleaseCountForId(int id);
  int ReleaseTotal();
  const void* LastReleased();
  int LastReleasedId();
  int Outstanding();

  // ---- Callbacks, requests, streams ----
  void SetMainCallback(VxMessageCallback callback);
  void SetLogSink(VxLogCallback sink);
  void SetDataCallback(int kind, VxMessageCallback callback);
  VxMessageCallback Callback(int kind);
  bool HasCallback(int kind);
  // Opens a request under `number` (or the next number from the counter) and, when
  // streams are on, starts its stream. Returns the number.
  int OpenRequest(int kind, VxMessageCallback callback, market::Args args,
                  std::optional<int> number);
  // Closes a csq / cnq request: 0, or VXSIM_CODE_UNKNOWN_REQUEST.
  int CancelRequest(int kind, int request);
  int ActiveStreams();

  // ---- Firing and log lines ----
  int Fire(int kind, int threads, int perThread, const MessageModel& message);
  int FireWait();
  void PushInsideFire(std::string function, int count, MessageModel message);
  // Sends the messages scripted for this call of `function`, if any.
  void FireInside(const char* function, VxMessageCallback callback);
  int EmitLog(const char* text, int count, int threads, bool expand);

 private:
  struct Record {
    int id = 0;
    RecordKind kind = RecordKind::Cube;
    const void* address = nullptr;
    std::unique_ptr<RecordStorage> storage;  // null for a test's own record
    vxsim_release_fn onRelease = nullptr;
    void* user = nullptr;
    int code = 0;
    int releases = 0;
    bool quarantined = false;
    std::string description;
  };

  struct StreamControl {
    std::mutex mutex;
    std::condition_variable wake;
    bool stop = false;
  };

  struct Request {
    int kind = 0;
    int number = 0;
    std::shared_ptr<StreamControl> control;  // null when no stream runs
    std::thread thread;
  };

  struct InsideFire {
    std::string function;
    int count = 0;
    MessageModel message;
  };

  Record* FindRecordLocked(int id);
  std::string RecordNameLocked(const Record& record) const;
  void EvictLocked();
  void SendMessage(VxMessageCallback callback, const MessageModel& message, int thread,
                   int sequence, const char* context);
  void RunStream(int kind, int request, VxMessageCallback callback, market::Args args,
                 std::shared_ptr<StreamControl> control, int intervalMs);
  // Joins a thread, or keeps it for later when it is the calling thread itself.
  void JoinOrKeep(std::thread& thread);
  void JoinAll(std::vector<std::thread> threads);
  void StopRequests(std::vector<std::unique_ptr<Request>> requests);
  void AddErrorLocked(std::string error);
  std::vector<std::thread> TakeThreadsLocked();

  std::mutex m_mutex;

  std::deque<std::string> m_calls;
  std::deque<std::string> m_errors;

  std::deque<int> m_codes;
  std::deque<OutInt> m_outInts;
  std::deque<ScriptedRecord> m_cubes;
  std::deque<ScriptedRecord> m_grids;
  std::deque<std::optional<std::string>> m_errStrings;
  std::deque<std::string> m_errStringsGiven;    // kept until reset
  std::map<long long, std::string> m_errTexts;  // detailed texts: never freed
  std::deque<InsideFire> m_insideFires;
  bool m_streaming = true;
  int m_intervalMs = 100;
  std::atomic<bool> m_describe{true};

  std::deque<std::unique_ptr<Record>> m_records;  // ids m_firstId, m_firstId + 1, ...
  int m_firstId = 1;
  int m_nextId = 1;
  std::unordered_map<const void*, Record*> m_byAddress;
  std::deque<Record*> m_quarantine;  // released records whose memory is kept
  int m_releaseTotal = 0;
  void* m_lastRecord = nullptr;
  int m_lastRecordId = 0;
  const void* m_lastReleased = nullptr;
  int m_lastReleasedId = 0;
  int m_outstanding = 0;

  VxMessageCallback m_callbacks[4] = {};
  VxLogCallback m_logSink = nullptr;
  int m_nextRequest = 1;
  std::vector<std::unique_ptr<Request>> m_requests;
  std::vector<std::thread> m_fireThreads;
  std::vector<std::thread> m_leftovers;  // threads that could not join themselves
  std::atomic<int> m_fired{0};
  // Lingering firing threads wait for the generation to change (Shutdown changes it).
  std::mutex m_lingerMutex;
  std::condition_variable m_lingerWake;
  std::uint64_t m_lingerGeneration = 0;
  std::atomic<int> m_activeStreams{0};
};

}  // namespace vx::sim
