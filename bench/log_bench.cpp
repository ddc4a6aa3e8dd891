// The producers' side of the log road, from 1 and 4 threads, while one consumer thread
// drains g_logThread's queue as the log thread does (minus the call into Java):
//   log/WriteLog              format one line into the shared buffer and queue it;
//   log/Push                  queue a service line as it stands (NativeLogCallBack);
//   log/Push_slow_consumer    the same while the consumer spends 50 us on every line,
//                             with each push timed: counters p50_ns, p99_ns, p999_ns, max_ns
//                             (with 4 producers, the mean of the producers' own figures).
// The counter `backlog` is the number of lines still queued when the producers stop.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "log/log_thread.h"

namespace vxbench {
namespace {

using Clock = std::chrono::steady_clock;

// A line as the service library hands them to NativeLogCallBack.
constexpr char kServiceLine[] =
    "[Vx_Debug][2024-01-02 09:30:00]:quote session 3 connected to server 2, latency 12ms\n";

// Takes every line off g_logThread's queue on a thread of its own, spending `lineCost` on
// each one afterwards. Stopping it drops whatever is still queued.
class Consumer {
 public:
  explicit Consumer(std::chrono::microseconds lineCost)
      : m_lineCost(lineCost), m_thread([this] { Run(); }) {}
  ~Consumer() {
    vx::CLogQueue& queue = vx::g_logThread.Queue();
    m_stop.store(true);
    queue.SetActive(false);  // wakes a waiting Pop; later ones return at once
    m_thread.join();
    queue.SetActive(true);
    queue.Clear();
  }
  Consumer(const Consumer&) = delete;
  Consumer& operator=(const Consumer&) = delete;

 private:
  void Run() {
    std::string line;
    while (!m_stop.load()) {
      if (vx::g_logThread.Queue().Pop(line) < 0) continue;
      if (m_lineCost.count() > 0) std::this_thread::sleep_for(m_lineCost);
    }
  }

  const std::chrono::microseconds m_lineCost;
  std::atomic<bool> m_stop{false};
  std::thread m_thread;
};

std::unique_ptr<Consumer> g_consumer;

void StartFastConsumer(const benchmark::State&) {
  g_consumer = std::make_unique<Consumer>(std::chrono::microseconds(0));
}
void StartSlowConsumer(const benchmark::State&) {
  g_consumer = std::make_unique<Consumer>(std::chrono::microseconds(50));
}
void StopConsumer(const benchmark::State&) { g_consumer.reset(); }

void ReportBacklog(benchmark::State& state) {
  if (state.thread_index() == 0) {
    state.counters["backlog"] = static_cast<double>(vx::g_logThread.Queue().Size());
  }
}

void WriteLog(benchmark::State& state) {
  const std::string stamp = vx::GetTimeStamp();
  for (auto _ : state) {
    vx::g_logThread.WriteLog("[Vx_Debug][%s]:recv csq datacallback\n", stamp.c_str());
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
  ReportBacklog(state);
}

void Push(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(NativeLogCallBack(kServiceLine));
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
  ReportBacklog(state);
}

void PushTimed(benchmark::State& state) {
  std::vector<std::int64_t> latencies;
  latencies.reserve(static_cast<std::size_t>(state.max_iterations));
  for (auto _ : state) {
    const Clock::time_point start = Clock::now();
    NativeLogCallBack(kServiceLine);
    latencies.push_back(std::chrono::nanoseconds(Clock::now() - start).count());
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
  ReportBacklog(state);
  if (latencies.empty()) return;

  std::sort(latencies.begin(), latencies.end());
  const auto percentile = [&](double p) {
    const auto rank = static_cast<std::size_t>(p * static_cast<double>(latencies.size() - 1));
    return benchmark::Counter(static_cast<double>(latencies[rank]),
                              benchmark::Counter::kAvgThreads);
  };
  state.counters["p50_ns"] = percentile(0.50);
  state.counters["p99_ns"] = percentile(0.99);
  state.counters["p999_ns"] = percentile(0.999);
  state.counters["max_ns"] = percentile(1.0);
}

BENCHMARK(WriteLog)
    ->Name("log/WriteLog")
    ->Setup(StartFastConsumer)
    ->Teardown(StopConsumer)
    ->Threads(1)
    ->Threads(4)
    ->UseRealTime();
BENCHMARK(Push)
    ->Name("log/Push")
    ->Setup(StartFastConsumer)
    ->Teardown(StopConsumer)
    ->Threads(1)
    ->Threads(4)
    ->UseRealTime();
// A fixed count of pushes per thread, so the backlog the slow consumer leaves stays bounded.
BENCHMARK(PushTimed)
    ->Name("log/Push_slow_consumer")
    ->Setup(StartSlowConsumer)
    ->Teardown(StopConsumer)
    ->Iterations(200000)
    ->Threads(1)
    ->Threads(4)
    ->UseRealTime();

// The time stamp every log line of the bridge starts with.
void TimeStamp(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(vx::GetTimeStamp());
}
BENCHMARK(TimeStamp)->Name("log/GetTimeStamp");

}  // namespace
}  // namespace vxbench
