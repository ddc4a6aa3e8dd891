// The thread-exit hook on POSIX: one pthread key whose destructor runs the hook's function.
#include <pthread.h>

#include <atomic>
#include <mutex>

#include "platform/platform.h"

namespace vx::platform {

namespace {

// Guards the key's life: a request never lands on a key that was deleted (and perhaps
// handed to someone else since).
std::mutex g_hookLock;
pthread_key_t g_key;
bool g_installed = false;
std::atomic<ThreadExitFunction> g_onExit{nullptr};

// The key's value is the request's: not null, so the destructor runs and hands it back.
void AtThreadExit(void* value) {
  const ThreadExitFunction onExit = g_onExit.load(std::memory_order_acquire);
  if (onExit != nullptr) onExit(value);
}

}  // namespace

bool InstallThreadExitHook(ThreadExitFunction onExit) {
  std::lock_guard<std::mutex> guard(g_hookLock);
  if (g_installed) return true;
  if (pthread_key_create(&g_key, &AtThreadExit) != 0) return false;
  g_onExit.store(onExit, std::memory_order_release);
  g_installed = true;
  return true;
}

bool RunAtThreadExit(void* value) {
  if (value == nullptr) return false;
  std::lock_guard<std::mutex> guard(g_hookLock);
  return g_installed && pthread_setspecific(g_key, value) == 0;
}

void RemoveThreadExitHook() {
  std::lock_guard<std::mutex> guard(g_hookLock);
  if (!g_installed) return;
  // pthread_key_delete runs no destructor, and none runs for the key after it.
  g_onExit.store(nullptr, std::memory_order_release);
  pthread_key_delete(g_key);
  g_installed = false;
}

}  // namespace vx::platform
