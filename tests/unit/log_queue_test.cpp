// The log queue, the log formatter and the worker-thread base.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cstdint>
#include <deque>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "log/base_thread.h"
#include "log/log_lines.h"
#include "log/log_queue.h"
#include "log/log_thread.h"
#include "log_capture.h"

namespace {

using namespace std::chrono_literals;

// ---- CLogQueue ---------------------------------------------------------------------------

TEST(LogQueue, PopsInOrderAndCountsWhatIsLeft) {
  vx::CLogQueue queue;
  queue.Push("a");
  queue.Push("b");
  std::string line;
  EXPECT_EQ(queue.Pop(line), 1);
  EXPECT_EQ(line, "a");
  EXPECT_EQ(queue.Pop(line), 0);
  EXPECT_EQ(line, "b");
}

TEST(LogQueue, InactiveQueuePopsNothing) {
  vx::CLogQueue queue;
  queue.Push("kept");
  queue.SetActive(false);
  std::string line = "untouched";
  EXPECT_EQ(queue.Pop(line), -1);
  EXPECT_EQ(line, "untouched");
  EXPECT_EQ(queue.Size(), 1u);
  queue.SetActive(true);
  EXPECT_EQ(queue.Pop(line), 0);
  EXPECT_EQ(line, "kept");
}

TEST(LogQueue, DeactivatingWakesAWaitingPop) {
  vx::CLogQueue queue;
  std::atomic<int> result{99};
  std::thread consumer([&] {
    std::string line;
    result = queue.Pop(line);
  });
  std::this_thread::sleep_for(20ms);  // let the consumer block; the test holds either way
  queue.SetActive(false);
  consumer.join();
  EXPECT_EQ(result.load(), -1);
}

TEST(LogQueue, PushWakesAWaitingPop) {
  vx::CLogQueue queue;
  std::string received;
  std::thread consumer([&] { queue.Pop(received); });
  queue.Push("hello");
  consumer.join();
  EXPECT_EQ(received, "hello");
}

TEST(LogQueue, ManyProducersLoseNothingAndKeepTheirOrder) {
  constexpr int kProducers = 4;
  constexpr int kLines = 10000;
  vx::CLogQueue queue;
  std::vector<int> next(kProducers, 0);
  std::thread consumer([&] {
    std::string line;
    for (int i = 0; i < kProducers * kLines; ++i) {
      queue.Pop(line);
      const int producer = line[0] - 'a';
      ASSERT_EQ(std::stoi(line.substr(1)), next[producer]) << "producer " << producer;
      ++next[producer];
    }
  });
  std::vector<std::thread> producers;
  for (int p = 0; p < kProducers; ++p) {
    producers.emplace_back([&queue, p] {
      for (int i = 0; i < kLines; ++i)
        queue.Push(std::string(1, static_cast<char>('a' + p)) + std::to_string(i));
    });
  }
  for (auto& t : producers) t.join();
  consumer.join();
  for (int p = 0; p < kProducers; ++p) EXPECT_EQ(next[p], kLines);
  EXPECT_EQ(queue.Size(), 0u);
}

TEST(LogQueue, RecycledLinesCarryOnlyTheirNewText) {
  vx::CLogQueue queue;
  const std::string longer(200, 'L');
  queue.PushCopy(longer.data(), longer.size());
  queue.PushCopy("mid", 3);
  std::deque<std::string> batch;
  ASSERT_EQ(queue.PopAll(batch), 2);
  EXPECT_EQ(batch[0], longer);
  queue.Recycle(batch);
  EXPECT_TRUE(batch.empty());
  // Shorter texts (one with a zero byte inside) and an empty one, into the kept lines.
  queue.PushCopy("ab", 2);
  queue.PushCopy("x\0y", 3);
  queue.PushCopy("", 0);
  const std::string huge(100000, 'H');  // beyond what a kept line may hold
  queue.PushCopy(huge.data(), huge.size());
  ASSERT_EQ(queue.PopAll(batch), 4);
  EXPECT_EQ(batch[0], "ab");
  EXPECT_EQ(batch[1], std::string("x\0y", 3));
  EXPECT_EQ(batch[2], "");
  EXPECT_EQ(batch[3], huge);
}

TEST(LogQueue, LingerEndsWhenTheQueueIsDeactivated) {
  vx::CLogQueue queue;
  std::thread stopper([&] {
    std::this_thread::sleep_for(20ms);  // the test holds whether or not the linger began
    queue.SetActive(false);
  });
  queue.Linger(UINT32_MAX);  // about 71 minutes unless the deactivation ends it
  stopper.join();
  EXPECT_FALSE(queue.IsActive());
  queue.Linger(UINT32_MAX);  // inactive already: returns at once
}

TEST(AutoResetEvent, TimedWaitConsumesTheSignal) {
  vx::platform::AutoResetEvent event;
  EXPECT_FALSE(event.TimedWait(1000));
  event.Set();
  EXPECT_TRUE(event.TimedWait(0));
  EXPECT_FALSE(event.TimedWait(0));
  std::thread setter([&] { event.Set(); });
  EXPECT_TRUE(event.TimedWait(UINT32_MAX));
  setter.join();
}

// ---- WriteLog and NativeLogCallBack --------------------------------------------------------

class LogObject : public ::testing::Test {
 protected:
  std::string PopOne() {
    std::string line;
    EXPECT_GE(m_log.Queue().Pop(line), 0);
    return line;
  }
  vx::CLogThread m_log;
};

TEST_F(LogObject, MessageAtTheLimitIsMarkedAsCut) {
  const std::string exact(vx::CLogThread::kFormatLimit, 'x');
  m_log.WriteLog("%s", exact.c_str());
  const std::string line = PopOne();
  ASSERT_EQ(line.size(), 1023999u);
  EXPECT_EQ(line.substr(0, 1023996), exact);
  EXPECT_EQ(line.substr(1023996), "...");
}

TEST_F(LogObject, LongMessageIsCutToTheLimitPlusDots) {
  std::string huge(2000000, 'y');
  huge[1023995] = 'z';
  m_log.WriteLog("%s", huge.c_str());
  const std::string line = PopOne();
  ASSERT_EQ(line.size(), 1023999u);
  EXPECT_EQ(line[1023995], 'z');
  EXPECT_EQ(line.substr(1023996), "...");
  // The marker survives for the next, shorter line.
  m_log.WriteLog("%s", "short");
  EXPECT_EQ(PopOne(), "short");
  m_log.WriteLog("%s", huge.c_str());
  EXPECT_EQ(PopOne().substr(1023996), "...");
}

TEST_F(LogObject, MessageJustBelowTheLimitIsWhole) {
  const std::string text(vx::CLogThread::kFormatLimit - 1, 'w');
  m_log.WriteLog("%s", text.c_str());
  EXPECT_EQ(PopOne(), text);
}

TEST(LogLines, BridgeLinesCarryTagTimeStampAndNewline) {
  vxtest::TakeLogLines();
  vx::logline::MissingEntry("pfncsd");
  vx::logline::CatchJniVersion(6);
  std::string first, second;
  vx::g_logThread.Queue().Pop(first);
  vx::g_logThread.Queue().Pop(second);
  const std::regex stamp(
      R"(\[Vx_Error\]\[\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\]:function address of pfncsd is null\.\n)");
  EXPECT_TRUE(std::regex_match(first, stamp)) << first;
  EXPECT_TRUE(std::regex_match(
      second, std::regex(R"(\[Vx_Debug\]\[[-0-9: ]{19}\]:Catch JNI_VERSION_1_6\n)")))
      << second;
}

// The formatter has one buffer for the process: lines formatted from many threads at once
// each come out whole, each thread's in its order.
TEST(LogLines, ManyThreadsFormattingAtOnceKeepEveryLineWhole) {
  vxtest::TakeLogLines();
  constexpr int kThreads = 8;
  constexpr int kLines = 5000;
  std::vector<std::thread> writers;
  for (int t = 0; t < kThreads; ++t) {
    writers.emplace_back([t] {
      for (int i = 0; i < kLines; ++i) {
        vx::logline::MissingEntry(("t" + std::to_string(t) + "#" + std::to_string(i)).c_str());
      }
    });
  }
  for (auto& writer : writers) writer.join();
  const auto lines = vxtest::TakeLogLines();
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(kThreads * kLines));
  const std::string head = "[Vx_Error][";
  const std::string digits = "dddd-dd-dd dd:dd:dd";  // d: a digit, else the character
  const std::string middle = "]:function address of t";
  std::vector<int> next(kThreads, 0);
  for (const std::string& line : lines) {
    ASSERT_GT(line.size(), head.size() + digits.size() + 2) << line;
    ASSERT_EQ(line.compare(0, head.size(), head), 0) << line;
    for (std::size_t i = 0; i < digits.size(); ++i) {
      const char c = line[head.size() + i];
      ASSERT_TRUE(digits[i] == 'd' ? c >= '0' && c <= '9' : c == digits[i]) << line;
    }
    const std::string rest = line.substr(head.size() + digits.size());
    const std::size_t hash = rest.find('#');
    ASSERT_TRUE(rest.compare(0, middle.size(), middle) == 0 && hash != std::string::npos) << line;
    const int t = std::stoi(rest.substr(middle.size(), hash - middle.size()));
    ASSERT_TRUE(t >= 0 && t < kThreads) << line;
    ASSERT_EQ(rest, middle + std::to_string(t) + "#" + std::to_string(next[t]) + " is null.\n");
    ++next[t];
  }
}

// The callback lines are put together by hand: the same bytes as the formatter would give.
TEST(LogLines, CallbackLinesAreTheFormattedLines) {
  vxtest::TakeLogLines();
  const int kinds[] = {0, 1, 2, 3, 7};
  for (int kind : kinds) vx::logline::ReceivedCallback(kind);
  const auto lines = vxtest::TakeLogLines();
  ASSERT_EQ(lines.size(), 5u);
  const char* const texts[] = {"recv maincallback", "recv csq datacallback",
                               "recv cst datacallback", "recv cnq datacallback",
                               "recv cnq datacallback"};
  for (std::size_t i = 0; i < lines.size(); ++i) {
    EXPECT_TRUE(std::regex_match(
        lines[i],
        std::regex(std::string(R"(\[Vx_Debug\]\[\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\]:)") +
                   texts[i] + "\n")))
        << lines[i];
  }
}

TEST(NativeLogSink, QueuesLinesByteForByte) {
  vxtest::TakeLogLines();
  EXPECT_EQ(NativeLogCallBack(nullptr), 1);
  EXPECT_EQ(vx::g_logThread.Queue().Size(), 0u);
  EXPECT_EQ(NativeLogCallBack(""), 0);
  EXPECT_EQ(NativeLogCallBack("raw \xD6\xD0 %s %d"), 0);
  std::string line = "x";
  vx::g_logThread.Queue().Pop(line);
  EXPECT_EQ(line, "");
  vx::g_logThread.Queue().Pop(line);
  EXPECT_EQ(line, "raw \xD6\xD0 %s %d");
}

TEST(TimeStamp, IsNineteenCharactersOfLocalTime) {
  const std::string stamp = vx::GetTimeStamp();
  EXPECT_TRUE(std::regex_match(stamp, std::regex(R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2})")))
      << stamp;
}

// ---- CBaseThread -------------------------------------------------------------------------------

// A worker whose body waits until released (or stopped), counting its runs.
class GatedThread : public vx::CBaseThread {
 public:
  std::atomic<int> runs{0};
  std::atomic<bool> release{false};
  bool returnAtOnce = false;

 protected:
  std::uint32_t Run() override {
    ++runs;
    while (!returnAtOnce && !release && !ShouldStop()) std::this_thread::sleep_for(1ms);
    return 0;
  }
};

void WaitUntil(const std::function<bool()>& condition) {
  for (int i = 0; i < 5000 && !condition(); ++i) std::this_thread::sleep_for(1ms);
}

TEST(BaseThread, SecondStartWhileRunningMakesNoThread) {
  GatedThread worker;
  EXPECT_EQ(worker.Start(), 0);
  EXPECT_EQ(worker.Start(), 0);
  WaitUntil([&] { return worker.runs >= 1; });
  worker.release = true;
  worker.Join();
  EXPECT_EQ(worker.runs.load(), 1);
  EXPECT_FALSE(worker.IsStarted());
}

TEST(BaseThread, StartAfterTheBodyReturnedMakesANewThread) {
  GatedThread worker;
  worker.returnAtOnce = true;
  worker.Start();
  WaitUntil([&] { return !worker.IsStarted(); });
  EXPECT_FALSE(worker.IsStarted());  // a body that returns at once leaves it not started
  worker.Start();
  WaitUntil([&] { return worker.runs == 2 && !worker.IsStarted(); });
  EXPECT_EQ(worker.runs.load(), 2);
  worker.Join();
}

TEST(BaseThread, StopReportsThePreviousFlag) {
  GatedThread worker;
  EXPECT_FALSE(worker.ShouldStop());
  EXPECT_EQ(worker.Stop(), 1);
  EXPECT_EQ(worker.Stop(), 0);
  EXPECT_TRUE(worker.ShouldStop());
  worker.Start();  // Start sets the run flag again
  EXPECT_FALSE(worker.ShouldStop());
  worker.Stop();
  worker.Join();
  EXPECT_EQ(worker.runs.load(), 1);
}

TEST(BaseThread, JoinWithoutStartReturnsAtOnce) {
  GatedThread worker;
  worker.Join();
  EXPECT_FALSE(worker.IsStarted());
  EXPECT_EQ(vx::CBaseThread::ThreadProc(nullptr), 0u);
}

TEST(BaseThread, StopEndsABodyThatPolls) {
  GatedThread worker;
  worker.Start();
  WaitUntil([&] { return worker.runs >= 1; });
  worker.Stop();
  worker.Join();
  EXPECT_FALSE(worker.IsStarted());
}

}  // namespace
