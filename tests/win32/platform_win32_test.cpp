// The Win32 platform layer, run under Wine by the MinGW build. The code-page suites need
// the process's ANSI code page set from outside: CodePage936 runs with LC_ALL=zh_CN.UTF-8,
// CodePage1252 with LC_ALL=en_US.UTF-8 (see CMakeLists.txt).
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <chrono>
#include <clocale>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <deque>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"

namespace vx::platform {
namespace {

// ---- Threads -----------------------------------------------------------------------------

struct ThreadProbe {
  std::atomic<int> gate{0};
  std::atomic<int> seenGate{-1};
  std::atomic<int> runs{0};
};

unsigned ProbeEntry(void* argument) {
  auto* probe = static_cast<ThreadProbe*>(argument);
  probe->seenGate.store(probe->gate.load());
  probe->runs.fetch_add(1);
  return 7;
}

TEST(Threads, CreatedSuspendedRunsOnlyAfterResume) {
  ThreadProbe probe;
  std::uint32_t id = 0;
  ThreadHandle thread = CreateThread(&ProbeEntry, &probe, &id);
  ASSERT_NE(thread, nullptr);
  EXPECT_NE(id, 0u);
  // A thread that started at once would have had this window to run in.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(probe.runs.load(), 0);
  probe.gate.store(1);
  ResumeThread(thread);
  WaitThread(thread);
  EXPECT_EQ(probe.runs.load(), 1);
  EXPECT_EQ(probe.seenGate.load(), 1);
  CloseThread(thread);
}

TEST(Threads, ClosingWithoutWaitingLeavesTheThreadRunning) {
  ThreadProbe probe;
  ThreadHandle thread = CreateThread(&ProbeEntry, &probe, nullptr);
  ASSERT_NE(thread, nullptr);
  ResumeThread(thread);
  CloseThread(thread);
  while (probe.runs.load() == 0) std::this_thread::yield();
  EXPECT_EQ(probe.runs.load(), 1);
}

// ---- Mutex and critical section --------------------------------------------------------

struct Counter {
  Mutex mutex;
  CriticalSection section;
  long value = 0;
};

constexpr int kWorkers = 4;
constexpr int kRounds = 20000;

unsigned MutexWorker(void* argument) {
  auto* counter = static_cast<Counter*>(argument);
  for (int i = 0; i < kRounds; ++i) {
    ScopedLock lock(counter->mutex);
    const long seen = counter->value;
    if (i % 64 == 0) std::this_thread::yield();  // widen the window a lost update needs
    counter->value = seen + 1;
  }
  return 0;
}

unsigned SectionWorker(void* argument) {
  auto* counter = static_cast<Counter*>(argument);
  for (int i = 0; i < kRounds; ++i) {
    counter->section.Enter();
    counter->section.Enter();  // recursive for its owner
    const long seen = counter->value;
    if (i % 64 == 0) std::this_thread::yield();
    counter->value = seen + 1;
    counter->section.Leave();
    counter->section.Leave();
  }
  return 0;
}

void RunWorkers(ThreadEntry entry, Counter& counter) {
  std::vector<ThreadHandle> threads;
  for (int i = 0; i < kWorkers; ++i) {
    ThreadHandle thread = CreateThread(entry, &counter, nullptr);
    ASSERT_NE(thread, nullptr);
    threads.push_back(thread);
  }
  for (ThreadHandle thread : threads) ResumeThread(thread);
  for (ThreadHandle thread : threads) {
    WaitThread(thread);
    CloseThread(thread);
  }
}

TEST(Sync, MutexExcludesOtherThreads) {
  Counter counter;
  ASSERT_TRUE(counter.mutex.Valid());
  RunWorkers(&MutexWorker, counter);
  EXPECT_EQ(counter.value, long{kWorkers} * kRounds);
}

TEST(Sync, CriticalSectionExcludesOtherThreadsAndNestsForItsOwner) {
  Counter counter;
  RunWorkers(&SectionWorker, counter);
  EXPECT_EQ(counter.value, long{kWorkers} * kRounds);
}

// ---- The C runtime's locale, per thread or under exclusion -------------------------------

// Where the runtime has _configthreadlocale, the scope must use it: a scope that fell back to
// excluding other scopes would still show other threads the "C" locale of every double read.
// Wine's msvcrt.dll has no such function, so under Wine this checks the fallback is taken;
// on Windows (which has it from Vista on) it checks the per-thread path is.
TEST(ThreadLocale, PerThreadExactlyWhereTheRuntimeOffersIt) {
#if defined(_MSC_VER) || defined(_UCRT)
  EXPECT_TRUE(ThreadLocaleScope::PerThread());
#else
  const HMODULE crt = ::GetModuleHandleW(L"msvcrt.dll");
  ASSERT_NE(crt, nullptr) << "msvcrt.dll is not loaded";
  const bool offered = ::GetProcAddress(crt, "_configthreadlocale") != nullptr;
  EXPECT_EQ(ThreadLocaleScope::PerThread(), offered);
  if (!offered) {
    std::printf(
        "note: msvcrt.dll has no _configthreadlocale (Wine): order-list parses exclude "
        "one another and still switch the process locale for a moment\n");
  }
#endif
}

// With per-thread locales a switch inside a scope stays on its thread and ends with the
// scope; without them, a second scope waits until the first one ends.
TEST(ThreadLocale, ScopeKeepsItsSwitchesFromOtherThreads) {
  const std::string before = std::setlocale(LC_ALL, nullptr);
  const char* named = std::setlocale(LC_NUMERIC, "");
  ASSERT_NE(named, nullptr);
  const std::string numeric = named;
  ASSERT_NE(numeric, "C") << "the user's default locale is needed to see a switch to \"C\"";
  const bool perThread = ThreadLocaleScope::PerThread();

  std::atomic<bool> switched{false};
  std::atomic<bool> release{false};
  std::atomic<bool> secondEntered{false};
  std::thread first([&] {
    const ThreadLocaleScope scope;
    std::setlocale(LC_NUMERIC, "C");
    switched = true;
    while (!release) std::this_thread::yield();
    std::setlocale(LC_NUMERIC, numeric.c_str());
  });
  while (!switched) std::this_thread::yield();
  std::thread second([&] {
    const ThreadLocaleScope scope;
    secondEntered = true;
  });
  if (perThread) {
    EXPECT_EQ(std::setlocale(LC_NUMERIC, nullptr), numeric) << "the switch reached this thread";
    second.join();
    EXPECT_TRUE(secondEntered);
  } else {
    // A scope that let the second one in would show here; the wait cannot make it fail.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(secondEntered) << "two scopes were held at once";
  }
  release = true;
  first.join();
  if (!perThread) second.join();
  EXPECT_TRUE(secondEntered);
  EXPECT_EQ(std::setlocale(LC_NUMERIC, nullptr), numeric);
  std::setlocale(LC_ALL, before.c_str());
}

// ---- Auto-reset event and signal-and-wait ------------------------------------------------

TEST(Sync, EventSetWithNobodyWaitingStaysSetForOneWait) {
  AutoResetEvent event;
  ASSERT_TRUE(event.Valid());
  event.Set();
  event.Set();   // still one signal: the event is set or not, it does not count
  event.Wait();  // returns at once: the signal was kept

  std::atomic<int> woken{0};
  std::thread waiter([&] {
    event.Wait();
    woken.store(1);
  });
  // The first Wait consumed the signal: the waiter must still be blocked.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(woken.load(), 0);
  event.Set();
  waiter.join();
  EXPECT_EQ(woken.load(), 1);
}

// The log queue's protocol: a consumer holding the mutex waits with UnlockAndWait while
// the queue is empty; producers push under the mutex and Set. A wake lost between the
// unlock and the wait would hang the consumer (the CTest time-out fails it).
struct Queue {
  Mutex mutex;
  AutoResetEvent event;
  std::deque<int> items;
};

constexpr int kProducers = 3;
constexpr int kItemsEach = 5000;

unsigned Producer(void* argument) {
  auto* queue = static_cast<Queue*>(argument);
  for (int i = 0; i < kItemsEach; ++i) {
    ScopedLock lock(queue->mutex);
    queue->items.push_back(i);
    queue->event.Set();
  }
  return 0;
}

TEST(Sync, UnlockAndWaitLosesNoWakeAndReleasesTheMutex) {
  Queue queue;
  ASSERT_TRUE(queue.mutex.Valid());
  ASSERT_TRUE(queue.event.Valid());
  std::vector<ThreadHandle> producers;
  for (int i = 0; i < kProducers; ++i) {
    ThreadHandle thread = CreateThread(&Producer, &queue, nullptr);
    ASSERT_NE(thread, nullptr);
    producers.push_back(thread);
  }
  for (ThreadHandle thread : producers) ResumeThread(thread);

  long sum = 0;
  int received = 0;
  while (received < kProducers * kItemsEach) {
    queue.mutex.Lock();
    while (queue.items.empty()) {
      // Returns with the mutex released: producers could not push otherwise.
      queue.event.UnlockAndWait(queue.mutex);
      queue.mutex.Lock();
    }
    sum += queue.items.front();
    queue.items.pop_front();
    ++received;
    queue.mutex.Unlock();
  }
  for (ThreadHandle thread : producers) {
    WaitThread(thread);
    CloseThread(thread);
  }
  EXPECT_EQ(sum, long{kProducers} * (kItemsEach - 1) * kItemsEach / 2);
}

// ---- Dynamic libraries ------------------------------------------------------------------

TEST(DynLib, MissingLibraryReportsTheWindowsCodeWithoutText) {
  EXPECT_EQ(OpenLibrary("C:\\no\\such\\dir\\VeltrixAPI_x64.dll"), nullptr);
  LoadError error = LastLoadError();
  EXPECT_EQ(error.code, 126);  // ERROR_MOD_NOT_FOUND
  EXPECT_EQ(error.text, "");
}

TEST(DynLib, FileThatIsNoLibraryFailsWithItsOwnCode) {
  const std::string path = "not_a_library_test.dll";
  {
    std::ofstream file(path, std::ios::binary);
    file << "this is text, not a PE image";
  }
  EXPECT_EQ(OpenLibrary(path.c_str()), nullptr);
  const LoadError error = LastLoadError();
  EXPECT_NE(error.code, 0);
  EXPECT_NE(error.code, 126);
  std::remove(path.c_str());
}

TEST(DynLib, ResolvesExportedNamesOnly) {
  LibraryHandle kernel = OpenLibrary("kernel32.dll");
  ASSERT_NE(kernel, nullptr);
  EXPECT_NE(FindSymbol(kernel, "GetACP"), nullptr);
  EXPECT_EQ(FindSymbol(kernel, "csd"), nullptr);
  EXPECT_EQ(FindSymbol(kernel, nullptr), nullptr);
  EXPECT_EQ(FindSymbol(nullptr, "GetACP"), nullptr);
  CloseLibrary(kernel);
}

// ---- Local time ------------------------------------------------------------------------

TEST(LocalTimeTest, MatchesTheRuntimesLocalTime) {
  const std::time_t before = std::time(nullptr);
  const LocalTime now = GetLocalTime();
  const std::time_t after = std::time(nullptr);
  std::tm parts{};
  parts.tm_year = now.year - 1900;
  parts.tm_mon = now.month - 1;
  parts.tm_mday = now.day;
  parts.tm_hour = now.hour;
  parts.tm_min = now.minute;
  parts.tm_sec = now.second;
  parts.tm_isdst = -1;
  const std::time_t read = std::mktime(&parts);
  EXPECT_GE(read, before - 1);
  EXPECT_LE(read, after + 1);
}

// ---- Code pages -----------------------------------------------------------------------

std::u16string ToWide(CodePage page, const std::string& text) {
  const int length = static_cast<int>(text.size());
  const int units = MultiByteToWide(page, text.data(), length, nullptr, 0);
  std::u16string wide(static_cast<std::size_t>(units), u'\0');
  const int written = MultiByteToWide(page, text.data(), length, wide.data(), units);
  EXPECT_EQ(written, units);
  return wide;
}

std::string ToNarrow(CodePage page, const std::u16string& text) {
  const int length = static_cast<int>(text.size());
  const int bytes = WideToMultiByte(page, text.data(), length, nullptr, 0);
  std::string narrow(static_cast<std::size_t>(bytes), '\0');
  const int written = WideToMultiByte(page, text.data(), length, narrow.data(), bytes);
  EXPECT_EQ(written, bytes);
  return narrow;
}

const std::string kChineseUtf8 = "\xE4\xB8\xAD\xE6\x96\x87";  // 中文
const std::string kChinese936 = "\xD6\xD0\xCE\xC4";
const std::u16string kChineseWide = u"\u4E2D\u6587";

TEST(CodePageUtf8, MeasuresAndConvertsWithoutTerminator) {
  EXPECT_EQ(MultiByteToWide(CodePage::Utf8, kChineseUtf8.data(), 6, nullptr, 0), 2);
  EXPECT_EQ(ToWide(CodePage::Utf8, kChineseUtf8), kChineseWide);
  EXPECT_EQ(WideToMultiByte(CodePage::Utf8, kChineseWide.data(), 2, nullptr, 0), 6);
  EXPECT_EQ(ToNarrow(CodePage::Utf8, kChineseWide), kChineseUtf8);
  // Only the given length counts: the bytes after it are not read.
  EXPECT_EQ(MultiByteToWide(CodePage::Utf8, "abc", 2, nullptr, 0), 2);
  // -1 reads up to the terminator and counts it, as Windows does.
  EXPECT_EQ(MultiByteToWide(CodePage::Utf8, "abc", -1, nullptr, 0), 4);
  EXPECT_EQ(WideToMultiByte(CodePage::Utf8, kChineseWide.c_str(), -1, nullptr, 0), 7);
}

TEST(CodePageUtf8, TooSmallOutputAndEmptyInputGiveZero) {
  char16_t one[1] = {u'x'};
  EXPECT_EQ(MultiByteToWide(CodePage::Utf8, kChineseUtf8.data(), 6, one, 1), 0);
  char five[5] = {};
  EXPECT_EQ(WideToMultiByte(CodePage::Utf8, kChineseWide.data(), 2, five, 5), 0);
  EXPECT_EQ(MultiByteToWide(CodePage::Utf8, "", 0, nullptr, 0), 0);
  EXPECT_EQ(MultiByteToWide(CodePage::Utf8, nullptr, 3, nullptr, 0), 0);
  EXPECT_EQ(WideToMultiByte(CodePage::Utf8, u"", 0, nullptr, 0), 0);
  // Only -1 means "up to the terminator".
  EXPECT_EQ(MultiByteToWide(CodePage::Utf8, "abc", -2, nullptr, 0), 0);
  EXPECT_EQ(WideToMultiByte(CodePage::Utf8, u"abc", -2, nullptr, 0), 0);
}

TEST(CodePageUtf8, InvalidBytesBecomeReplacementCharacters) {
  EXPECT_EQ(ToWide(CodePage::Utf8,
                   "a\xFF"
                   "b"),
            std::u16string(u"a\uFFFDb"));
}

TEST(CodePage936, ChineseTextRoundTrips) {
  ASSERT_FALSE(AnsiIsUtf8());
  ASSERT_EQ(WideToMultiByte(CodePage::Ansi, kChineseWide.data(), 2, nullptr, 0), 4)
      << "the ANSI code page is not 936: run with LC_ALL=zh_CN.UTF-8";
  EXPECT_EQ(ToNarrow(CodePage::Ansi, kChineseWide), kChinese936);
  EXPECT_EQ(ToWide(CodePage::Ansi, kChinese936), kChineseWide);
  // Through UTF-16, as the bridge's conversions go: UTF-8 -> 936 -> UTF-8.
  EXPECT_EQ(ToNarrow(CodePage::Ansi, ToWide(CodePage::Utf8, kChineseUtf8)), kChinese936);
  EXPECT_EQ(ToNarrow(CodePage::Utf8, ToWide(CodePage::Ansi, kChinese936)), kChineseUtf8);
  // ASCII is shared by both.
  EXPECT_EQ(ToNarrow(CodePage::Ansi, u"ab1"), "ab1");
}

TEST(CodePage936, UnmappableCharacterBecomesTheDefaultCharacter) {
  // U+0E01 (Thai) has no place in code page 936.
  EXPECT_EQ(ToNarrow(CodePage::Ansi, u"a\u0E01b"), "a?b");
}

TEST(CodePage1252, WesternTextRoundTripsAndChineseIsReplaced) {
  ASSERT_FALSE(AnsiIsUtf8());
  const std::u16string wide = u"\u00E9\u20AC";  // é €
  ASSERT_EQ(ToNarrow(CodePage::Ansi, wide), "\xE9\x80")
      << "the ANSI code page is not 1252: run with LC_ALL=en_US.UTF-8";
  EXPECT_EQ(ToWide(CodePage::Ansi, "\xE9\x80"), wide);
  EXPECT_EQ(ToNarrow(CodePage::Ansi, kChineseWide), "??");
  EXPECT_EQ(ToNarrow(CodePage::Utf8, ToWide(CodePage::Ansi, "\xE9")), "\xC3\xA9");
}

}  // namespace
}  // namespace vx::platform
