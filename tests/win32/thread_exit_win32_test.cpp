// The thread-exit hook on Windows (FLS callback): it runs on the ending thread, once, and
// never for the values FlsFree hands to the callback when the hook is removed.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/platform.h"

namespace {

std::atomic<int> g_calls{0};
std::atomic<DWORD> g_lastThread{0};
std::atomic<void*> g_lastValue{nullptr};

void CountExit(void* value) {
  g_lastThread.store(::GetCurrentThreadId());
  g_lastValue.store(value);
  ++g_calls;
}

int g_first = 1;
int g_second = 2;

class ThreadExitHook : public ::testing::Test {
 protected:
  void SetUp() override {
    g_calls = 0;
    g_lastThread = 0;
    ASSERT_TRUE(vx::platform::InstallThreadExitHook(&CountExit));
  }
  void TearDown() override { vx::platform::RemoveThreadExitHook(); }
};

TEST_F(ThreadExitHook, RunsOnceOnTheEndingThread) {
  DWORD id = 0;
  std::thread([&] {
    id = ::GetCurrentThreadId();
    EXPECT_TRUE(vx::platform::RunAtThreadExit(&g_first));
    EXPECT_TRUE(vx::platform::RunAtThreadExit(&g_second));  // asking again replaces the value
  }).join();
  EXPECT_EQ(g_calls.load(), 1);
  EXPECT_EQ(g_lastThread.load(), id);
  EXPECT_EQ(g_lastValue.load(), &g_second);
  std::thread([] {}).join();  // a thread that did not ask
  EXPECT_EQ(g_calls.load(), 1);
}

TEST_F(ThreadExitHook, RemovingItRunsNothingNowOrAtALaterExit) {
  std::mutex lock;
  std::condition_variable wake;
  int step = 0;
  std::thread waiting([&] {
    EXPECT_TRUE(vx::platform::RunAtThreadExit(&g_first));
    std::unique_lock<std::mutex> guard(lock);
    step = 1;
    wake.notify_all();
    wake.wait(guard, [&] { return step == 2; });
  });
  {
    std::unique_lock<std::mutex> guard(lock);
    wake.wait(guard, [&] { return step == 1; });
  }
  EXPECT_TRUE(vx::platform::RunAtThreadExit(&g_second));  // this thread's own value too
  // FlsFree hands both values to the callback, here: neither may count.
  vx::platform::RemoveThreadExitHook();
  EXPECT_EQ(g_calls.load(), 0);
  {
    std::lock_guard<std::mutex> guard(lock);
    step = 2;
  }
  wake.notify_all();
  waiting.join();
  EXPECT_EQ(g_calls.load(), 0);
  EXPECT_FALSE(vx::platform::RunAtThreadExit(&g_first));
}

}  // namespace
