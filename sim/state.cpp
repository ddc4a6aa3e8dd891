#include "state.h"

#include <chrono>
#include <cstdio>
#include <system_error>
#include <utility>

namespace vx::sim {

namespace {

constexpr std::size_t kMaxCalls = 1'000'000;  // the log keeps the latest calls
constexpr std::size_t kMaxErrors = 10'000;
constexpr std::size_t kMaxRecords = 65'536;  // registry entries kept for their counts
constexpr std::size_t kQuarantine = 4'096;   // released records whose memory is kept
constexpr std::uint64_t kDescriptionLimit = 4'096;
constexpr int kMaxThreads = 256;
constexpr std::int32_t kUnreadWord = static_cast<std::int32_t>(0xA5A5A5A5u);

// Lets every thread of a batch start at once.
class Gate {
 public:
  void Wait() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_wake.wait(lock, [this] { return m_open; });
  }
  void Open() {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_open = true;
    }
    m_wake.notify_all();
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_wake;
  bool m_open = false;
};

std::string Expand(const std::string& text, int thread, int sequence) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 1 < text.size() && (text[i + 1] == 'd' || text[i + 1] == 't')) {
      out += std::to_string(text[i + 1] == 'd' ? sequence : thread);
      ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::string PointerText(const void* pointer) {
  char text[32];
  std::snprintf(text, sizeof text, "%p", pointer);
  return text;
}

const char* KindName(int kind) {
  static const char* const kNames[] = {"main", "csq", "cst", "cnq"};
  return kind >= 0 && kind < 4 ? kNames[kind] : "?";
}

// Threads still running when the library is unloaded (or the process exits) are ended
// and joined first.
struct ShutdownAtUnload {
  ShutdownAtUnload() = default;
  ShutdownAtUnload(const ShutdownAtUnload&) = delete;
  ShutdownAtUnload& operator=(const ShutdownAtUnload&) = delete;
  ~ShutdownAtUnload();
};

// Created on first use; freed when the library is unloaded, once every sim thread has
// been joined, so that loading and unloading the library repeatedly leaks nothing.
State* g_state = nullptr;

ShutdownAtUnload::~ShutdownAtUnload() {
  if (g_state != nullptr) {
    g_state->Shutdown();
    delete g_state;
    g_state = nullptr;
  }
  market::Shutdown();
}
ShutdownAtUnload g_shutdownAtUnload;

}  // namespace

State& State::Get() {
  static State* const state = g_state = new State();
  return *state;
}

// ---- Lifecycle -----------------------------------------------------------------------

std::vector<std::thread> State::TakeThreadsLocked() {
  std::vector<std::thread> threads = std::move(m_fireThreads);
  m_fireThreads.clear();
  for (auto& thread : m_leftovers) threads.push_back(std::move(thread));
  m_leftovers.clear();
  return threads;
}

void State::JoinOrKeep(std::thread& thread) {
  if (!thread.joinable()) return;
  if (thread.get_id() == std::this_thread::get_id()) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_leftovers.push_back(std::move(thread));
    return;
  }
  thread.join();
}

void State::JoinAll(std::vector<std::thread> threads) {
  for (auto& thread : threads) JoinOrKeep(thread);
}

void State::StopRequests(std::vector<std::unique_ptr<Request>> requests) {
  for (auto& request : requests) {
    if (!request->control) continue;
    {
      std::lock_guard<std::mutex> lock(request->control->mutex);
      request->control->stop = true;
    }
    request->control->wake.notify_all();
  }
  for (auto& request : requests) JoinOrKeep(request->thread);
}

void State::StopStreams() {
  std::vector<std::unique_ptr<Request>> requests;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    requests = std::move(m_requests);
    m_requests.clear();
  }
  StopRequests(std::move(requests));
}

void State::Shutdown() {
  StopStreams();
  {
    std::lock_guard<std::mutex> lock(m_lingerMutex);
    ++m_lingerGeneration;
  }
  m_lingerWake.notify_all();
  std::vector<std::thread> threads;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    threads = TakeThreadsLocked();
  }
  JoinAll(std::move(threads));
}

void State::Reset() {
  Shutdown();
  market::ResetPortfolios();
  std::lock_guard<std::mutex> lock(m_mutex);
  m_calls.clear();
  m_errors.clear();
  m_codes.clear();
  m_outInts.clear();
  m_cubes.clear();
  m_grids.clear();
  m_errStrings.clear();
  m_errStringsGiven.clear();
  m_insideFires.clear();
  m_streaming = true;
  m_intervalMs = 100;
  m_describe = true;
  m_quarantine.clear();
  m_byAddress.clear();
  m_records.clear();
  m_firstId = 1;
  m_nextId = 1;
  m_lastRecord = nullptr;
  m_lastRecordId = 0;
  m_releaseTotal = 0;
  m_lastReleased = nullptr;
  m_lastReleasedId = 0;
  m_outstanding = 0;
  m_nextRequest = 1;
  m_fired = 0;
}

// ---- Call log and errors ----------------------------------------------------------------

void State::LogCall(std::string line) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_calls.size() >= kMaxCalls) m_calls.pop_front();
  m_calls.push_back(std::move(line));
}

void State::AddErrorLocked(std::string error) {
  if (m_errors.size() >= kMaxErrors) return;
  m_errors.push_back(std::move(error));
}

void State::AddError(std::string error) {
  std::lock_guard<std::mutex> lock(m_mutex);
  AddErrorLocked(std::move(error));
}

int State::CallCount() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return static_cast<int>(m_calls.size());
}

const char* State::Call(int index) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (index < 0 || static_cast<std::size_t>(index) >= m_calls.size()) return nullptr;
  return m_calls[static_cast<std::size_t>(index)].c_str();
}

std::string State::CallsJoined() {
  std::lock_guard<std::mutex> lock(m_mutex);
  std::string joined;
  for (const auto& call : m_calls) joined += call + "\n";
  return joined;
}

void State::ClearCalls() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_calls.clear();
}

int State::ErrorCount() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return static_cast<int>(m_errors.size());
}

const char* State::Error(int index) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (index < 0 || static_cast<std::size_t>(index) >= m_errors.size()) return nullptr;
  return m_errors[static_cast<std::size_t>(index)].c_str();
}

std::string State::ErrorsJoined() {
  std::lock_guard<std::mutex> lock(m_mutex);
  std::string joined;
  for (const auto& error : m_errors) joined += error + "\n";
  return joined;
}

// ---- Scripts -------------------------------------------------------------------------------

void State::PushCode(int code) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_codes.push_back(code);
}

std::optional<int> State::TakeCode() {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_codes.empty()) return std::nullopt;
  const int code = m_codes.front();
  m_codes.pop_front();
  return code;
}

void State::PushOutInt(OutInt out) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_outInts.push_back(out);
}

std::optional<OutInt> State::TakeOutInt() {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_outInts.empty()) return std::nullopt;
  const OutInt out = m_outInts.front();
  m_outInts.pop_front();
  return out;
}

void State::PushRecord(RecordKind kind, ScriptedRecord record) {
  std::lock_guard<std::mutex> lock(m_mutex);
  (kind == RecordKind::Cube ? m_cubes : m_grids).push_back(std::move(record));
}

std::optional<ScriptedRecord> State::TakeRecord(RecordKind kind) {
  std::lock_guard<std::mutex> lock(m_mutex);
  auto& queue = kind == RecordKind::Cube ? m_cubes : m_grids;
  if (queue.empty()) return std::nullopt;
  ScriptedRecord record = std::move(queue.front());
  queue.pop_front();
  return record;
}

void State::PushErrString(std::optional<std::string> text) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_errStrings.push_back(std::move(text));
}

const char* State::ErrString(int code, int flag) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (!m_errStrings.empty()) {
    std::optional<std::string> text = std::move(m_errStrings.front());
    m_errStrings.pop_front();
    if (!text) return nullptr;
    return m_errStringsGiven.emplace_back(std::move(*text)).c_str();
  }
  const char* text = market::ErrorText(code);
  if (flag != 1) return text;
  // The detailed form, built once per code and kept for the process's life.
  auto found = m_errTexts.try_emplace(code, "code " + std::to_string(code) + ": " + text).first;
  return found->second.c_str();
}

void State::SetStreaming(bool enabled, int intervalMs) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_streaming = enabled;
  if (intervalMs >= 1) m_intervalMs = intervalMs;
}

void State::SetDescriptions(bool enabled) { m_describe = enabled; }

// ---- Records -------------------------------------------------------------------------------

std::string State::RecordNameLocked(const Record& record) const {
  return (record.kind == RecordKind::Cube ? "cube#" : "grid#") + std::to_string(record.id);
}

State::Record* State::FindRecordLocked(int id) {
  if (id < m_firstId || id >= m_nextId) return nullptr;
  return m_records[static_cast<std::size_t>(id - m_firstId)].get();
}

void State::EvictLocked() {
  while (m_quarantine.size() > kQuarantine) {
    Record* record = m_quarantine.front();
    m_quarantine.pop_front();
    record->quarantined = false;
    record->storage.reset();
    record->description = std::string();
    auto found = m_byAddress.find(record->address);
    if (found != m_byAddress.end() && found->second == record) m_byAddress.erase(found);
  }
  // Forget the oldest records once they are done with, so that a long run stays small.
  while (m_records.size() > kMaxRecords) {
    Record* oldest = m_records.front().get();
    const bool done = oldest->releases > 0 || oldest->code != 0;
    if (!done || oldest->quarantined) break;
    auto found = m_byAddress.find(oldest->address);
    if (found != m_byAddress.end() && found->second == oldest) m_byAddress.erase(found);
    m_records.pop_front();
    ++m_firstId;
  }
}

void* State::HandOut(RecordKind kind, int code, ScriptedRecord scripted) {
  std::unique_ptr<RecordStorage> storage;
  void* address = scripted.raw;
  if (scripted.model) {
    if (scripted.model->none) return nullptr;
    storage = Build(*scripted.model);
    address = storage->Address();
  }
  if (address == nullptr) return nullptr;
  std::string description;
  if (storage && m_describe && RecordSize(address, kind) <= kDescriptionLimit) {
    description = DescribeRecord(address, kind);
  }

  std::lock_guard<std::mutex> lock(m_mutex);
  auto record = std::make_unique<Record>();
  record->id = m_nextId++;
  record->kind = kind;
  record->address = address;
  record->storage = std::move(storage);
  record->onRelease = scripted.onRelease;
  record->user = scripted.user;
  record->code = code;
  record->description = std::move(description);
  Record*& slot = m_byAddress[address];
  if (slot != nullptr && slot->releases == 0 && slot->code == 0) {
    --m_outstanding;  // the same test-built record handed out again: the older hand-out is over
  }
  slot = record.get();
  if (code == 0) ++m_outstanding;
  m_lastRecord = address;
  m_lastRecordId = record->id;
  m_records.push_back(std::move(record));
  EvictLocked();
  return address;
}

void State::Release(void* pointer) {
  vxsim_release_fn onRelease = nullptr;
  void* user = nullptr;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_releaseTotal;
    m_lastReleased = pointer;
    m_lastReleasedId = 0;
    auto log = [this](const std::string& what) {
      if (m_calls.size() >= kMaxCalls) m_calls.pop_front();
      m_calls.push_back("releasedata|" + what);
    };
    if (pointer == nullptr) {
      log("\\N");
      AddErrorLocked("releasedata: null pointer");
      return;
    }
    auto found = m_byAddress.find(pointer);
    if (found == m_byAddress.end()) {
      log("unknown");
      AddErrorLocked("releasedata: unknown pointer " + PointerText(pointer));
      return;
    }
    Record& record = *found->second;
    const std::string name = RecordNameLocked(record);
    log(name);
    ++record.releases;
    m_lastReleasedId = record.id;
    if (record.releases > 1) {
      AddErrorLocked("releasedata: " + name + " released " + std::to_string(record.releases) +
                     " times");
      return;
    }
    if (record.code != 0) {
      AddErrorLocked("releasedata: " + name + " came with code " + std::to_string(record.code) +
                     " and must not be released");
    } else {
      --m_outstanding;
    }
    if (record.storage) {
      record.storage->Poison();
      record.quarantined = true;
      m_quarantine.push_back(&record);
      EvictLocked();
    }
    onRelease = record.onRelease;
    user = record.user;
  }
  if (onRelease != nullptr) onRelease(pointer, user);
}

void* State::LastRecord() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_lastRecord;
}

int State::LastRecordId() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_lastRecordId;
}

int State::RecordId(const void* record) {
  std::lock_guard<std::mutex> lock(m_mutex);
  auto found = m_byAddress.find(record);
  return found == m_byAddress.end() ? 0 : found->second->id;
}

std::string State::LastRecordDescription() {
  std::lock_guard<std::mutex> lock(m_mutex);
  const Record* record = FindRecordLocked(m_lastRecordId);
  return record == nullptr ? std::string() : record->description;
}

int State::ReleaseCountFor(const void* record) {
  std::lock_guard<std::mutex> lock(m_mutex);
  auto found = m_byAddress.find(record);
  return found == m_byAddress.end() ? 0 : found->second->releases;
}

int State::ReleaseCountForId(int id) {
  std::lock_guard<std::mutex> lock(m_mutex);
  const Record* record = FindRecordLocked(id);
  return record == nullptr ? 0 : record->releases;
}

int State::ReleaseTotal() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_releaseTotal;
}

const void* State::LastReleased() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_lastReleased;
}

int State::LastReleasedId() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_lastReleasedId;
}

int State::Outstanding() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_outstanding;
}

// ---- Callbacks, requests, streams ----------------------------------------------------------

void State::SetMainCallback(VxMessageCallback callback) { SetDataCallback(VXSIM_MAIN, callback); }

void State::SetLogSink(VxLogCallback sink) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_logSink = sink;
}

void State::SetDataCallback(int kind, VxMessageCallback callback) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (kind >= 0 && kind < 4) m_callbacks[kind] = callback;
}

VxMessageCallback State::Callback(int kind) {
  std::lock_guard<std::mutex> lock(m_mutex);
  return kind >= 0 && kind < 4 ? m_callbacks[kind] : nullptr;
}

bool State::HasCallback(int kind) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (kind == VXSIM_LOG_SINK) return m_logSink != nullptr;
  return kind >= 0 && kind < 4 && m_callbacks[kind] != nullptr;
}

int State::OpenRequest(int kind, VxMessageCallback callback, market::Args args,
                       std::optional<int> number) {
  std::lock_guard<std::mutex> lock(m_mutex);
  auto request = std::make_unique<Request>();
  request->kind = kind;
  request->number = number ? *number : m_nextRequest++;
  if (m_streaming && callback != nullptr) {
    auto control = std::make_shared<StreamControl>();
    try {
      request->thread = std::thread(&State::RunStream, this, kind, request->number, callback,
                                    std::move(args), control, m_intervalMs);
      request->control = std::move(control);
      ++m_activeStreams;
    } catch (const std::system_error& failure) {
      AddErrorLocked(std::string("stream: cannot start a thread: ") + failure.what());
    }
  }
  const int opened = request->number;
  m_requests.push_back(std::move(request));
  return opened;
}

int State::CancelRequest(int kind, int number) {
  std::vector<std::unique_ptr<Request>> closing;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto it = m_requests.begin(); it != m_requests.end();) {
      if ((*it)->kind == kind && (*it)->number == number) {
        closing.push_back(std::move(*it));
        it = m_requests.erase(it);
      } else {
        ++it;
      }
    }
  }
  if (closing.empty()) return VXSIM_CODE_UNKNOWN_REQUEST;
  StopRequests(std::move(closing));
  return 0;
}

int State::ActiveStreams() { return m_activeStreams; }

void State::RunStream(int kind, int request, VxMessageCallback callback, market::Args args,
                      std::shared_ptr<StreamControl> control, int intervalMs) {
  const std::string context =
      std::string("stream ") + KindName(kind) + "#" + std::to_string(request);
  for (int sequence = 0;; ++sequence) {
    {
      std::unique_lock<std::mutex> lock(control->mutex);
      if (control->wake.wait_for(lock, std::chrono::milliseconds(intervalMs),
                                 [&] { return control->stop; })) {
        break;
      }
    }
    const std::unique_ptr<RecordStorage> data = Build(market::Quote(kind, request, sequence, args));
    auto message = std::make_unique<VXMSG>();
    message->word1 = request;
    message->word2 = kind;
    message->errorCode = 0;
    message->word4 = sequence;
    message->word5 = 0;
    message->reserved = kUnreadWord;
    message->data = static_cast<ResultCube*>(data->Address());
    const int result = callback(message.get());
    if (result != 0) AddError(context + ": callback returned " + std::to_string(result));
  }
  --m_activeStreams;
}

// ---- Firing and log lines ------------------------------------------------------------------

void State::SendMessage(VxMessageCallback callback, const MessageModel& model, int thread,
                        int sequence, const char* context) {
  int result = 0;
  if (model.nullMessage) {
    result = callback(nullptr);
  } else {
    std::unique_ptr<RecordStorage> data;
    if (model.tagCube) {
      data = Build(IdentityCube(thread, sequence));
    } else if (model.data) {
      data = Build(*model.data);
    }
    auto message = std::make_unique<VXMSG>();
    message->word1 = model.word1;
    message->word2 = model.word2;
    message->errorCode = model.errorCode;
    message->word4 = model.tagWords ? thread : model.word4;
    message->word5 = model.tagWords ? sequence : model.word5;
    message->reserved = kUnreadWord;
    message->data = data ? static_cast<ResultCube*>(data->Address()) : nullptr;
    result = callback(message.get());
  }
  if (result != 0) AddError(std::string(context) + ": callback returned " + std::to_string(result));
}

int State::Fire(int kind, int threads, int perThread, const MessageModel& message) {
  if (kind < 0 || kind > 3 || threads < 0 || threads > kMaxThreads || perThread < 0) {
    return VXSIM_ERR_BAD_ARGUMENT;
  }
  const VxMessageCallback callback = Callback(kind);
  if (callback == nullptr) return VXSIM_ERR_NO_CALLBACK;
  const std::string context = std::string("fire ") + KindName(kind);
  if (threads == 0) {
    for (int sequence = 0; sequence < perThread; ++sequence) {
      SendMessage(callback, message, 0, sequence, context.c_str());
    }
    return 0;
  }
  auto gate = std::make_shared<Gate>();
  auto shared = std::make_shared<const MessageModel>(message);
  // Lingering threads end at the first Shutdown after this call.
  std::uint64_t generation = 0;
  {
    std::lock_guard<std::mutex> lock(m_lingerMutex);
    generation = m_lingerGeneration;
  }
  std::vector<std::thread> started;
  int result = 0;
  try {
    for (int thread = 0; thread < threads; ++thread) {
      started.emplace_back([this, gate, shared, callback, context, thread, perThread, generation] {
        gate->Wait();
        for (int sequence = 0; sequence < perThread; ++sequence) {
          SendMessage(callback, *shared, thread, sequence, context.c_str());
          ++m_fired;
        }
        if (shared->linger) {
          std::unique_lock<std::mutex> lock(m_lingerMutex);
          m_lingerWake.wait(lock, [&] { return m_lingerGeneration != generation; });
        }
      });
    }
  } catch (const std::system_error& failure) {
    AddError(context + ": cannot start a thread: " + failure.what());
    result = VXSIM_ERR_BAD_ARGUMENT;
  }
  gate->Open();
  std::lock_guard<std::mutex> lock(m_mutex);
  for (auto& thread : started) m_fireThreads.push_back(std::move(thread));
  return result;
}

int State::FireWait() {
  std::vector<std::thread> threads;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    threads = std::move(m_fireThreads);
    m_fireThreads.clear();
  }
  JoinAll(std::move(threads));
  return m_fired.exchange(0);
}

void State::PushInsideFire(std::string function, int count, MessageModel message) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_insideFires.push_back(InsideFire{std::move(function), count, std::move(message)});
}

void State::FireInside(const char* function, VxMessageCallback callback) {
  std::optional<InsideFire> fire;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto it = m_insideFires.begin(); it != m_insideFires.end(); ++it) {
      if (it->function == function) {
        fire = std::move(*it);
        m_insideFires.erase(it);
        break;
      }
    }
  }
  if (!fire) return;
  const std::string context = std::string("fire inside ") + function;
  if (callback == nullptr) {
    AddError(context + ": no callback to call");
    return;
  }
  for (int sequence = 0; sequence < fire->count; ++sequence) {
    SendMessage(callback, fire->message, 0, sequence, context.c_str());
  }
}

int State::EmitLog(const char* text, int count, int threads, bool expand) {
  if (count < 0 || threads < 0 || threads > kMaxThreads) return VXSIM_ERR_BAD_ARGUMENT;
  VxLogCallback sink = nullptr;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    sink = m_logSink;
  }
  if (sink == nullptr) return VXSIM_ERR_NO_CALLBACK;
  const std::optional<std::string> base =
      text == nullptr ? std::nullopt : std::optional<std::string>(text);
  std::atomic<int> nonZero{0};
  auto produce = [&](int thread) {
    for (int sequence = 0; sequence < count; ++sequence) {
      int result = 0;
      if (!base) {
        result = sink(nullptr);
      } else {
        const std::string line = expand ? Expand(*base, thread, sequence) : *base;
        result = sink(line.c_str());
      }
      if (result != 0) ++nonZero;
    }
  };
  if (threads == 0) {
    produce(0);
    return nonZero;
  }
  Gate gate;
  std::vector<std::thread> producers;
  try {
    for (int thread = 0; thread < threads; ++thread) {
      producers.emplace_back([&gate, &produce, thread] {
        gate.Wait();
        produce(thread);
      });
    }
  } catch (const std::system_error& failure) {
    AddError(std::string("emit log: cannot start a thread: ") + failure.what());
  }
  gate.Open();
  for (auto& producer : producers) producer.join();
  return nonZero;
}

}  // namespace vx::sim
