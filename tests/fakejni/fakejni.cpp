// The fake VM: object model, threads, checks and the JNI function tables.
#include "fakejni.h"

#include "jni_slots.h"

#if defined(__MINGW32__)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <limits.h>
#include <pthread.h>
#endif

#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <type_traits>
#include <unordered_map>
#include <unordered_set>
#include <utility>

namespace vx::fakejni {
namespace detail {
namespace {

// ----------------------------------------------------------------------------------------
// Table slots and their names

constexpr std::size_t kNativeSlots = sizeof(JNINativeInterface_) / sizeof(void*);
constexpr std::size_t kInvokeSlots = sizeof(JNIInvokeInterface_) / sizeof(void*);

#define VX_NSLOT(name) (offsetof(JNINativeInterface_, name) / sizeof(void*))
#define VX_ISLOT(name) (offsetof(JNIInvokeInterface_, name) / sizeof(void*))

struct SlotName {
  std::size_t slot;
  const char* name;
};

#define VX_SLOT_NAME(name) {VX_NSLOT(name), #name},
const SlotName kNativeNames[] = {VX_FAKEJNI_NATIVE_FUNCTIONS(VX_SLOT_NAME)};
#undef VX_SLOT_NAME

const SlotName kInvokeNames[] = {
    {VX_ISLOT(DestroyJavaVM), "DestroyJavaVM"},
    {VX_ISLOT(AttachCurrentThread), "AttachCurrentThread"},
    {VX_ISLOT(DetachCurrentThread), "DetachCurrentThread"},
    {VX_ISLOT(GetEnv), "GetEnv"},
    {VX_ISLOT(AttachCurrentThreadAsDaemon), "AttachCurrentThreadAsDaemon"},
};

const char* NativeName(std::size_t slot) {
  for (const SlotName& n : kNativeNames) {
    if (n.slot == slot) return n.name;
  }
  return "(unnamed slot)";
}

const char* InvokeName(std::size_t slot) {
  for (const SlotName& n : kInvokeNames) {
    if (n.slot == slot) return n.name;
  }
  return "(unnamed slot)";
}

[[noreturn]] void TrapHit(const char* table, const char* name, std::size_t slot) {
  const std::string text = "fakejni: unimplemented JNI function " + std::string(table) +
                           "::" + name + " (slot " + std::to_string(slot) + ") called\n";
  std::fputs(text.c_str(), stderr);
  std::fflush(stderr);
  std::abort();
}

// Each trap knows its slot; the tables hold them through a memcpy, whatever the slot's type.
// Clang's -fsanitize=function would report the mismatched call before the trap could name the
// slot, so the traps carry no type signature for it to check.
#if defined(__clang__)
#define VX_NO_SANITIZE_FUNCTION __attribute__((no_sanitize("function")))
#else
#define VX_NO_SANITIZE_FUNCTION
#endif

using AnyFn = void (*)();

template <bool kNative, std::size_t I>
VX_NO_SANITIZE_FUNCTION void JNICALL Trap() {
  if constexpr (kNative) {
    TrapHit("JNIEnv", NativeName(I), I);
  } else {
    TrapHit("JavaVM", InvokeName(I), I);
  }
}

template <bool kNative, typename Table, std::size_t... I>
void FillWithTraps(Table& table, std::index_sequence<I...>) {
  const AnyFn traps[] = {&Trap<kNative, I>...};
  static_assert(sizeof(traps) == sizeof(Table), "one trap per slot");
  std::memcpy(static_cast<void*>(&table), traps, sizeof(Table));
}

// ----------------------------------------------------------------------------------------
// Object model

constexpr std::size_t kDefaultLocalCapacity = 16;  // what JNI guarantees without asking
constexpr std::size_t kHandlerFrameCapacity = 1024;
constexpr std::size_t kHandleQuarantine = 1 << 16;  // deleted handle cells kept to spot reuse
constexpr std::size_t kEnvQuarantine = 1024;        // dead envs kept before a cell is reused
constexpr std::size_t kMaxStoredErrors = 256;

enum class Kind { kClass, kInstance, kString, kByteArray };

struct ClassInfo;

struct Obj {
  Obj(Kind k, ClassInfo* c) : kind(k), cls(c) {}
  Kind kind;
  ClassInfo* cls;                  // the object's class
  ClassInfo* mirror_of = nullptr;  // kClass: the class this object stands for
  std::u16string chars;            // kString
  std::vector<jbyte> bytes;        // kByteArray
  std::string message;             // throwables
  std::size_t refs = 0;
};

struct Method {
  ClassInfo* owner = nullptr;
  std::string name;
  std::string sig;
  std::vector<std::string> arg_types;  // one JNI type descriptor per argument
  IntMethod fn;
  bool is_static = false;
  StaticObjectMethod object_fn;  // static methods returning an object
};

struct ClassInfo {
  ClassInfo(std::string n, ClassInfo* s, ClassInfo* class_class)
      : name(std::move(n)), super(s), mirror(Kind::kClass, class_class) {
    mirror.mirror_of = this;
  }
  std::string name;
  ClassInfo* super;
  Obj mirror;
  std::vector<Method*> methods;
};

struct Handle {
  Obj* obj = nullptr;
  bool global = false;
  bool deleted = false;
  std::uint64_t owner = 0;  // serial of the owning thread (locals)
  std::size_t frame = 0;
};

struct Frame {
  std::unordered_set<Handle*> locals;
  std::size_t capacity = kDefaultLocalCapacity;
};

struct ThreadState;

const JNINativeInterface_* NativeTable();

struct EnvCell {
  JNIEnv env;  // first: a JNIEnv* converts back to its EnvCell
  Vm* vm;
  ThreadState* state;  // null once the thread detached
};
static_assert(std::is_standard_layout_v<EnvCell>, "JNIEnv* must convert to EnvCell*");

struct VmCell {
  JavaVM jvm;  // first, as above
  Vm* vm;
};
static_assert(std::is_standard_layout_v<VmCell>, "JavaVM* must convert to VmCell*");

struct ThreadState {
  std::thread::id id;
  std::uint64_t serial = 0;
  EnvCell* cell = nullptr;
  bool java_thread = false;
  bool daemon = false;
  std::vector<Frame> frames;
  std::size_t floor = 1;  // frames below this index cannot be popped
  std::size_t live_locals = 0;
  std::size_t peak_locals = 0;
  Obj* pending = nullptr;
  const char* check_from = nullptr;  // a Call*Method whose exceptions are still unchecked
  int critical = 0;
  int java_depth = 0;  // Java method handlers running on this thread
};

enum class PinKind { kChars, kUtf, kCritical, kElements };

struct Pin {
  PinKind kind;
  Obj* obj;
  std::vector<jchar> chars;
  std::string utf;
  std::vector<jbyte> bytes;
};

struct FaultState {
  std::uint64_t seen = 0;
  std::vector<std::pair<std::uint64_t, jint>> at;  // call number, code
  bool always = false;
  jint always_code = kDefaultFailure;
};

constexpr std::size_t kFnCount = static_cast<std::size_t>(Fn::GetEnv) + 1;

jint DefaultFailureCode(Fn fn) {
  switch (fn) {
    case Fn::GetEnv:
      return JNI_EVERSION;
    default:
      return JNI_ERR;
  }
}

std::string Hex(const void* p) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%p", p);
  return buffer;
}

// Parses "(args)I" into argument type descriptors; false when malformed or not int-returning.
bool ParseSignature(const std::string& sig, std::vector<std::string>& args, std::string& ret) {
  args.clear();
  if (sig.size() < 3 || sig[0] != '(') return false;
  std::size_t i = 1;
  while (i < sig.size() && sig[i] != ')') {
    const std::size_t start = i;
    while (i < sig.size() && sig[i] == '[') ++i;
    if (i >= sig.size()) return false;
    if (sig[i] == 'L') {
      const std::size_t end = sig.find(';', i);
      if (end == std::string::npos || end == i + 1) return false;
      i = end + 1;
    } else if (std::strchr("ZBCSIJFD", sig[i]) != nullptr && sig[i] != '\0') {
      ++i;
    } else {
      return false;
    }
    args.push_back(sig.substr(start, i - start));
  }
  if (i >= sig.size() || sig[i] != ')') return false;
  ret = sig.substr(i + 1);
  return !ret.empty();
}

bool ParseIntSignature(const std::string& sig, std::vector<std::string>& args) {
  std::string ret;
  return ParseSignature(sig, args, ret) && ret == "I";
}

bool ParseObjectSignature(const std::string& sig, std::vector<std::string>& args) {
  std::string ret;
  return ParseSignature(sig, args, ret) && ret.size() > 2 && ret[0] == 'L' && ret.back() == ';' &&
         ret.find(';') == ret.size() - 1;
}

}  // namespace

// ----------------------------------------------------------------------------------------
// The VM. Every member is guarded by `mu` unless noted.

struct Vm {
  Vm();
  ~Vm();

  std::mutex mu;
  VmCell cell{};  // constant after construction
  std::uint64_t id = 0;

  std::vector<jint> versions;
  bool strict = false;
  std::map<std::string, std::unique_ptr<ClassInfo>> classes;
  std::deque<std::unique_ptr<Method>> all_methods;  // never freed: stale ids stay harmless
  std::unordered_set<const Method*> valid_methods;
  std::unordered_set<Obj*> objects;
  std::unordered_set<Handle*> handles;  // live and quarantined cells
  std::deque<Handle*> quarantine;
  std::size_t globals = 0;
  std::unordered_map<std::thread::id, std::unique_ptr<ThreadState>> threads;
  std::deque<std::unique_ptr<EnvCell>> cells;  // never freed while the VM lives
  std::deque<EnvCell*> dead_cells;
  std::unordered_map<const void*, std::unique_ptr<Pin>> pins;
  std::array<FaultState, kFnCount> faults{};
  std::array<std::uint64_t, kNativeSlots> native_calls{};
  std::array<std::uint64_t, kInvokeSlots> invoke_calls{};
  std::vector<std::string> errors;
  std::uint64_t error_total = 0;
  std::uint64_t next_serial = 1;
  std::uint64_t attaches = 0;
  std::uint64_t daemon_attaches = 0;
  std::uint64_t detaches = 0;
  std::uint64_t leaks = 0;
  std::uint64_t locals_freed_at_detach = 0;
  std::vector<std::string> attach_names;
  std::size_t max_peak = 0;

  // --- all below: called with `mu` held ---
  void Clear(bool destroying);
  void DefineBuiltins();
  ClassInfo* AddClass(const std::string& name, ClassInfo* super);
  ClassInfo* FindClassInfo(const std::string& name) const;
  ClassInfo* ExceptionClass(const std::string& name);

  void Error(const char* function, const std::string& text, const ThreadState* ts);
  bool Faulted(Fn fn, jint* code = nullptr);

  ThreadState* Current();
  ThreadState* NewThread(bool java_thread, bool daemon);
  void DestroyThread(ThreadState* ts);

  Obj* NewObj(Kind kind, ClassInfo* cls);
  void Ref(Obj* o) { ++o->refs; }
  void Unref(Obj* o);
  jobject NewLocal(ThreadState& ts, Obj* o, const char* function, bool counted = true);
  jobject NewGlobal(Obj* o);
  void FreeHandle(Handle* h);
  void PopFrame(ThreadState& ts);
  // Resolves a ref argument; null refs resolve to null. False (error recorded) when invalid.
  bool Resolve(const char* function, const ThreadState* ts, jobject ref, Obj*& out);
  void SetPending(ThreadState& ts, Obj* throwable);
  void Throw(ThreadState& ts, const std::string& class_name, const std::string& message);
  bool IsInstance(const Obj* o, const ClassInfo* cls) const;
  jint MaxVersion() const;
  bool Supported(jint version) const;
};

namespace {

// The registry of live VMs, for threads that exit while attached.
struct Registry {
  std::mutex mu;
  std::unordered_map<Vm*, std::uint64_t> live;
  std::uint64_t next_id = 1;
};

Registry& Reg() {
  static Registry* registry = new Registry;  // never destroyed: threads may outlive statics
  return *registry;
}

// Per thread: the VMs it attached to; when the thread ends, any still-attached state is
// cleaned up and recorded as a leak.
struct ThreadWatch {
  std::vector<std::pair<Vm*, std::uint64_t>> vms;
  int rounds = 0;  // destructor rounds seen (POSIX)
  ~ThreadWatch();
  void Add(Vm* vm) {
    for (const auto& entry : vms) {
      if (entry.first == vm && entry.second == vm->id) return;
    }
    vms.emplace_back(vm, vm->id);
  }
};

// A thread's watch must see the thread after every other thread-exit hook has run: a JNI
// library may detach a thread it attached from its own pthread key destructor or FLS
// callback, and HotSpot allows that (its own thread key hands the thread back for it).
#if defined(__MINGW32__)
// With MinGW-w64 a pthread key destructor runs when the thread function returns, before the
// FLS callbacks of ExitThread, and thread_local storage is freed before the destructors of
// thread_local objects run. The watch therefore lives in a Win32 TLS slot and is checked by
// a TLS callback on DLL_THREAD_DETACH, which comes after the FLS callbacks.
DWORD WatchSlot() {
  static const DWORD slot = [] {
    const DWORD made = ::TlsAlloc();
    if (made == TLS_OUT_OF_INDEXES) std::abort();
    return made;
  }();
  return slot;
}

ThreadWatch& Watch() {
  auto* watch = static_cast<ThreadWatch*>(::TlsGetValue(WatchSlot()));
  if (watch == nullptr) {
    watch = new ThreadWatch;
    ::TlsSetValue(WatchSlot(), watch);
  }
  return *watch;
}

void NTAPI WatchAtThreadDetach(PVOID, DWORD reason, PVOID) {
  if (reason != DLL_THREAD_DETACH) return;
  auto* watch = static_cast<ThreadWatch*>(::TlsGetValue(WatchSlot()));
  if (watch == nullptr) return;
  ::TlsSetValue(WatchSlot(), nullptr);
  delete watch;
}
#else
bool StillAttachedNatively(const ThreadWatch& watch);

// A pthread key whose destructor puts the watch back while the thread is still attached, for
// a round or two, so that the destructors of other keys (set once) run first.
pthread_key_t WatchKey() {
  static const pthread_key_t key = [] {
    pthread_key_t made;
    if (pthread_key_create(&made, [](void* value) {
          auto* watch = static_cast<ThreadWatch*>(value);
          // Done by the second-last round: ThreadSanitizer's runtime ends the thread in the
          // last one.
          if (++watch->rounds < PTHREAD_DESTRUCTOR_ITERATIONS - 1 &&
              StillAttachedNatively(*watch) && pthread_setspecific(WatchKey(), watch) == 0) {
            return;
          }
          delete watch;
        }) != 0) {
      std::abort();
    }
    return made;
  }();
  return key;
}

ThreadWatch& Watch() {
  auto* watch = static_cast<ThreadWatch*>(pthread_getspecific(WatchKey()));
  if (watch == nullptr) {
    watch = new ThreadWatch;
    pthread_setspecific(WatchKey(), watch);
  }
  return *watch;
}
#endif

ThreadWatch::~ThreadWatch() {
  Registry& reg = Reg();
  std::lock_guard<std::mutex> reg_lock(reg.mu);
  for (const auto& [vm, id] : vms) {
    auto it = reg.live.find(vm);
    if (it == reg.live.end() || it->second != id) continue;
    std::lock_guard<std::mutex> lock(vm->mu);
    ThreadState* ts = vm->Current();
    if (ts == nullptr) continue;
    if (!ts->java_thread) {
      ++vm->leaks;
      vm->Error("(thread exit)", "native thread exited while still attached (leaked)", ts);
    }
    vm->DestroyThread(ts);
  }
}

#if !defined(__MINGW32__)
bool StillAttachedNatively(const ThreadWatch& watch) {
  Registry& reg = Reg();
  std::lock_guard<std::mutex> reg_lock(reg.mu);
  for (const auto& [vm, id] : watch.vms) {
    auto it = reg.live.find(vm);
    if (it == reg.live.end() || it->second != id) continue;
    std::lock_guard<std::mutex> lock(vm->mu);
    const ThreadState* ts = vm->Current();
    if (ts != nullptr && !ts->java_thread) return true;
  }
  return false;
}
#endif

}  // namespace

Vm::Vm() {
  cell.vm = this;
  Registry& reg = Reg();
  std::lock_guard<std::mutex> reg_lock(reg.mu);
  id = reg.next_id++;
  reg.live.emplace(this, id);
}

Vm::~Vm() {
  {
    Registry& reg = Reg();
    std::lock_guard<std::mutex> reg_lock(reg.mu);
    reg.live.erase(this);
  }
  std::lock_guard<std::mutex> lock(mu);
  Clear(true);
}

// Drops all threads, refs, objects and classes. Until the VM is destroyed, the handle cells stay
// in quarantine, so refs kept from before are reported as deleted.
void Vm::Clear(bool destroying) {
  for (auto& [ptr, ts] : threads) {
    ts->cell->state = nullptr;
    dead_cells.push_back(ts->cell);
  }
  threads.clear();
  pins.clear();
  for (Obj* o : objects) delete o;
  objects.clear();
  quarantine.clear();
  for (auto it = handles.begin(); it != handles.end();) {
    Handle* h = *it;
    if (destroying || quarantine.size() >= kHandleQuarantine) {
      it = handles.erase(it);
      delete h;
    } else {
      h->deleted = true;
      h->obj = nullptr;
      quarantine.push_back(h);
      ++it;
    }
  }
  globals = 0;
  for (const auto& m : all_methods) {  // drop captured test state
    m->fn = nullptr;
    m->object_fn = nullptr;
  }
  valid_methods.clear();
  classes.clear();
}

ClassInfo* Vm::AddClass(const std::string& name, ClassInfo* super) {
  ClassInfo* class_class = FindClassInfo("java/lang/Class");
  auto info = std::make_unique<ClassInfo>(name, super, class_class);
  ClassInfo* raw = info.get();
  classes[name] = std::move(info);
  if (class_class == nullptr && name == "java/lang/Class") raw->mirror.cls = raw;
  return raw;
}

void Vm::DefineBuiltins() {
  ClassInfo* object = AddClass("java/lang/Object", nullptr);
  ClassInfo* class_class = AddClass("java/lang/Class", object);
  object->mirror.cls = class_class;
  AddClass("java/lang/String", object);
  AddClass("[B", object);
  ClassInfo* throwable = AddClass("java/lang/Throwable", object);
  ClassInfo* error = AddClass("java/lang/Error", throwable);
  ClassInfo* exception = AddClass("java/lang/Exception", throwable);
  ClassInfo* runtime = AddClass("java/lang/RuntimeException", exception);
  AddClass("java/lang/OutOfMemoryError", error);
  ClassInfo* linkage = AddClass("java/lang/LinkageError", error);
  AddClass("java/lang/NoClassDefFoundError", linkage);
  AddClass("java/lang/NoSuchMethodError", linkage);
  AddClass("java/lang/NullPointerException", runtime);
  AddClass("java/lang/IllegalArgumentException", runtime);
  AddClass("java/lang/IllegalStateException", runtime);
  AddClass("java/lang/NegativeArraySizeException", runtime);
  ClassInfo* index = AddClass("java/lang/IndexOutOfBoundsException", runtime);
  AddClass("java/lang/ArrayIndexOutOfBoundsException", index);
  AddClass("java/lang/StringIndexOutOfBoundsException", index);
}

ClassInfo* Vm::FindClassInfo(const std::string& name) const {
  auto it = classes.find(name);
  return it == classes.end() ? nullptr : it->second.get();
}

ClassInfo* Vm::ExceptionClass(const std::string& name) {
  ClassInfo* cls = FindClassInfo(name);
  if (cls == nullptr) cls = AddClass(name, FindClassInfo("java/lang/RuntimeException"));
  return cls;
}

void Vm::Error(const char* function, const std::string& text, const ThreadState* ts) {
  ++error_total;
  if (errors.size() >= kMaxStoredErrors) return;
  std::string line = std::string(function) + ": " + text;
  if (ts != nullptr) line += " [thread #" + std::to_string(ts->serial) + "]";
  errors.push_back(std::move(line));
}

bool Vm::Faulted(Fn fn, jint* code) {
  FaultState& f = faults[static_cast<std::size_t>(fn)];
  ++f.seen;
  jint chosen = kDefaultFailure;
  bool hit = false;
  auto it = std::find_if(f.at.begin(), f.at.end(), [&](const std::pair<std::uint64_t, jint>& e) {
    return e.first == f.seen;
  });
  if (it != f.at.end()) {
    hit = true;
    chosen = it->second;
    f.at.erase(it);
  } else if (f.always) {
    hit = true;
    chosen = f.always_code;
  }
  if (hit && code != nullptr) *code = chosen == kDefaultFailure ? DefaultFailureCode(fn) : chosen;
  return hit;
}

ThreadState* Vm::Current() {
  auto it = threads.find(std::this_thread::get_id());
  return it == threads.end() ? nullptr : it->second.get();
}

ThreadState* Vm::NewThread(bool java_thread, bool daemon) {
  EnvCell* env_cell = nullptr;
  if (dead_cells.size() > kEnvQuarantine) {
    env_cell = dead_cells.front();
    dead_cells.pop_front();
  } else {
    cells.push_back(std::make_unique<EnvCell>());
    env_cell = cells.back().get();
    env_cell->env.functions = NativeTable();
    env_cell->vm = this;
  }
  auto ts = std::make_unique<ThreadState>();
  ts->id = std::this_thread::get_id();
  ts->serial = next_serial++;
  ts->cell = env_cell;
  ts->java_thread = java_thread;
  ts->daemon = daemon;
  ts->frames.emplace_back();
  env_cell->state = ts.get();
  ThreadState* raw = ts.get();
  threads[ts->id] = std::move(ts);
  Watch().Add(this);
  return raw;
}

void Vm::DestroyThread(ThreadState* ts) {
  while (!ts->frames.empty()) PopFrame(*ts);
  if (ts->pending != nullptr) Unref(ts->pending);
  ts->cell->state = nullptr;
  dead_cells.push_back(ts->cell);
  threads.erase(ts->id);
}

Obj* Vm::NewObj(Kind kind, ClassInfo* cls) {
  Obj* o = new Obj(kind, cls);
  objects.insert(o);
  return o;
}

void Vm::Unref(Obj* o) {
  if (o->kind == Kind::kClass) return;  // classes live until Reset
  if (--o->refs == 0) {
    objects.erase(o);
    delete o;
  }
}

jobject Vm::NewLocal(ThreadState& ts, Obj* o, const char* function, bool counted) {
  auto* h = new Handle;
  h->obj = o;
  h->owner = ts.serial;
  h->frame = ts.frames.size() - 1;
  handles.insert(h);
  Ref(o);
  Frame& frame = ts.frames.back();
  frame.locals.insert(h);
  ++ts.live_locals;
  ts.peak_locals = std::max(ts.peak_locals, ts.live_locals);
  max_peak = std::max(max_peak, ts.peak_locals);
  if (!counted) {
    frame.capacity = std::max(frame.capacity, frame.locals.size());
  } else if (frame.locals.size() > frame.capacity) {
    Error(function,
          "JNI local refs: " + std::to_string(frame.locals.size()) +
              ", exceeds capacity: " + std::to_string(frame.capacity),
          &ts);
    frame.capacity = frame.locals.size() + kDefaultLocalCapacity;  // warn once, as HotSpot
  }
  return reinterpret_cast<jobject>(h);
}

jobject Vm::NewGlobal(Obj* o) {
  auto* h = new Handle;
  h->obj = o;
  h->global = true;
  handles.insert(h);
  Ref(o);
  ++globals;
  return reinterpret_cast<jobject>(h);
}

void Vm::FreeHandle(Handle* h) {
  h->deleted = true;
  Unref(h->obj);
  h->obj = nullptr;
  quarantine.push_back(h);
  if (quarantine.size() > kHandleQuarantine) {
    Handle* old = quarantine.front();
    quarantine.pop_front();
    handles.erase(old);
    delete old;
  }
}

void Vm::PopFrame(ThreadState& ts) {
  for (Handle* h : ts.frames.back().locals) FreeHandle(h);
  ts.live_locals -= ts.frames.back().locals.size();
  ts.frames.pop_back();
}

bool Vm::Resolve(const char* function, const ThreadState* ts, jobject ref, Obj*& out) {
  out = nullptr;
  if (ref == nullptr) return true;
  auto* h = reinterpret_cast<Handle*>(ref);
  if (handles.count(h) == 0) {
    Error(function, "invalid reference " + Hex(ref), ts);
    return false;
  }
  if (h->deleted) {
    Error(function, "use of a deleted reference " + Hex(ref), ts);
    return false;
  }
  if (!h->global && ts != nullptr && h->owner != ts->serial) {
    Error(function, "local reference " + Hex(ref) + " of another thread", ts);
    return false;
  }
  out = h->obj;
  return true;
}

void Vm::SetPending(ThreadState& ts, Obj* throwable) {
  Ref(throwable);
  if (ts.pending != nullptr) Unref(ts.pending);
  ts.pending = throwable;
}

void Vm::Throw(ThreadState& ts, const std::string& class_name, const std::string& message) {
  Obj* o = NewObj(Kind::kInstance, ExceptionClass(class_name));
  o->message = message;
  SetPending(ts, o);
}

bool Vm::IsInstance(const Obj* o, const ClassInfo* cls) const {
  for (const ClassInfo* c = o->cls; c != nullptr; c = c->super) {
    if (c == cls) return true;
  }
  return false;
}

jint Vm::MaxVersion() const {
  jint best = 0;
  for (jint v : versions) best = std::max(best, v);
  return best;
}

bool Vm::Supported(jint version) const {
  return std::find(versions.begin(), versions.end(), version) != versions.end();
}

// ----------------------------------------------------------------------------------------
// The JNIEnv functions

namespace {

enum class Rule {
  kNormal,   // no exception may be pending; unchecked Call*Method exceptions are reported
  kAllowed,  // may run with an exception pending (Delete*Ref, Release*, PopLocalFrame, ...)
  kCheck,    // ExceptionCheck, ExceptionOccurred
  kClear,    // ExceptionClear
};

EnvCell* CellOf(JNIEnv* env) { return reinterpret_cast<EnvCell*>(env); }

thread_local int t_insideJvm = 0;

// Marks the calling thread as running inside the VM for its lifetime.
struct InsideVm {
  InsideVm() { ++t_insideJvm; }
  ~InsideVm() { --t_insideJvm; }
  InsideVm(const InsideVm&) = delete;
  InsideVm& operator=(const InsideVm&) = delete;
};

// One JNI call: locks the VM, counts the call and applies the thread and -Xcheck:jni rules.
class Scope {
 public:
  Scope(JNIEnv* env, std::size_t slot, Rule rule)
      : cell_(CellOf(env)), vm_(*cell_->vm), lock_(vm_.mu), slot_(slot) {
    ++t_insideJvm;
    ++vm_.native_calls[slot];
    ts_ = cell_->state;
    if (ts_ == nullptr) {
      vm_.Error(name(), "JNIEnv used after its thread detached", nullptr);
      return;
    }
    if (ts_->id != std::this_thread::get_id()) {
      vm_.Error(name(), "JNIEnv used on a thread other than its own", ts_);
      ts_ = nullptr;
      return;
    }
    if (ts_->critical > 0 && slot != VX_NSLOT(GetStringCritical) &&
        slot != VX_NSLOT(ReleaseStringCritical)) {
      Error("JNI call made inside a GetStringCritical/ReleaseStringCritical region");
    }
    if (rule == Rule::kNormal && ts_->pending != nullptr) {
      Error("JNI call made with exception pending");
    }
    if (ts_->check_from != nullptr) {
      const bool checked = rule == Rule::kCheck || (rule == Rule::kClear && !vm_.strict);
      if (checked) {
        ts_->check_from = nullptr;
      } else if (rule == Rule::kNormal || vm_.strict) {
        Error(std::string("JNI call made without checking exceptions when required to from ") +
              ts_->check_from);
        ts_->check_from = nullptr;
      }
    }
  }

  bool ok() const { return ts_ != nullptr; }
  Vm& vm() { return vm_; }
  ThreadState& ts() { return *ts_; }
  EnvCell* cell() { return cell_; }
  const char* name() const { return NativeName(slot_); }
  void Error(const std::string& text) { vm_.Error(name(), text, ts_); }
  bool Resolve(jobject ref, Obj*& out) { return vm_.Resolve(name(), ts_, ref, out); }
  // A non-null ref of the given kind; records an error otherwise.
  Obj* Expect(jobject ref, Kind kind, const char* what) {
    Obj* o = nullptr;
    if (!Resolve(ref, o)) return nullptr;
    if (o == nullptr) {
      Error(std::string("null ") + what);
      return nullptr;
    }
    if (o->kind != kind) {
      Error(std::string("argument is not a ") + what + " but a " + o->cls->name);
      return nullptr;
    }
    return o;
  }
  jobject Local(Obj* o) { return vm_.NewLocal(*ts_, o, name()); }
  void Throw(const char* class_name, const std::string& message = "") {
    vm_.Throw(*ts_, class_name, message);
  }
  void Unlock() { lock_.unlock(); }
  void Relock() { lock_.lock(); }
  ~Scope() { --t_insideJvm; }
  Scope(const Scope&) = delete;
  Scope& operator=(const Scope&) = delete;

 private:
  EnvCell* cell_;
  Vm& vm_;
  std::unique_lock<std::mutex> lock_;
  std::size_t slot_;
  ThreadState* ts_ = nullptr;
};

#define VX_SCOPE(env, function, rule) Scope s(env, VX_NSLOT(function), rule)

jint JNICALL GetVersion(JNIEnv* env) {
  VX_SCOPE(env, GetVersion, Rule::kNormal);
  return s.ok() ? s.vm().MaxVersion() : 0;
}

jint JNICALL GetJavaVM(JNIEnv* env, JavaVM** out) {
  VX_SCOPE(env, GetJavaVM, Rule::kNormal);
  if (out == nullptr) {
    s.Error("null JavaVM** argument");
    return JNI_ERR;
  }
  *out = nullptr;
  if (!s.ok()) return JNI_ERR;
  jint code = JNI_ERR;
  if (s.vm().Faulted(Fn::GetJavaVM, &code)) return code;
  *out = &s.vm().cell.jvm;
  return JNI_OK;
}

jobject JNICALL NewGlobalRef(JNIEnv* env, jobject ref) {
  VX_SCOPE(env, NewGlobalRef, Rule::kNormal);
  Obj* o = nullptr;
  if (!s.ok() || !s.Resolve(ref, o) || o == nullptr) return nullptr;
  if (s.vm().Faulted(Fn::NewGlobalRef)) return nullptr;
  return s.vm().NewGlobal(o);
}

jobject JNICALL NewLocalRef(JNIEnv* env, jobject ref) {
  VX_SCOPE(env, NewLocalRef, Rule::kNormal);
  Obj* o = nullptr;
  if (!s.ok() || !s.Resolve(ref, o) || o == nullptr) return nullptr;
  if (s.vm().Faulted(Fn::NewLocalRef)) return nullptr;
  return s.Local(o);
}

void DeleteRef(Scope& s, jobject ref, bool global) {
  if (!s.ok() || ref == nullptr) return;
  Vm& vm = s.vm();
  auto* h = reinterpret_cast<Handle*>(ref);
  if (vm.handles.count(h) == 0) {
    s.Error("invalid reference " + Hex(ref));
    return;
  }
  if (h->deleted) {
    s.Error("reference " + Hex(ref) + " deleted twice");
    return;
  }
  if (h->global != global) {
    s.Error(std::string("called on a ") + (h->global ? "global" : "local") + " reference");
    return;
  }
  if (global) {
    --vm.globals;
    vm.FreeHandle(h);
    return;
  }
  ThreadState& ts = s.ts();
  if (h->owner != ts.serial || h->frame >= ts.frames.size()) {
    s.Error("local reference " + Hex(ref) + " of another thread");
    return;
  }
  ts.frames[h->frame].locals.erase(h);
  --ts.live_locals;
  vm.FreeHandle(h);
}

void JNICALL DeleteGlobalRef(JNIEnv* env, jobject ref) {
  VX_SCOPE(env, DeleteGlobalRef, Rule::kAllowed);
  DeleteRef(s, ref, true);
}

void JNICALL DeleteLocalRef(JNIEnv* env, jobject ref) {
  VX_SCOPE(env, DeleteLocalRef, Rule::kAllowed);
  DeleteRef(s, ref, false);
}

jboolean JNICALL IsSameObject(JNIEnv* env, jobject a, jobject b) {
  VX_SCOPE(env, IsSameObject, Rule::kNormal);
  Obj* oa = nullptr;
  Obj* ob = nullptr;
  if (!s.ok() || !s.Resolve(a, oa) || !s.Resolve(b, ob)) return JNI_FALSE;
  return oa == ob ? JNI_TRUE : JNI_FALSE;
}

jint JNICALL EnsureLocalCapacity(JNIEnv* env, jint capacity) {
  VX_SCOPE(env, EnsureLocalCapacity, Rule::kNormal);
  if (!s.ok()) return JNI_ERR;
  if (capacity < 0) {
    s.Error("negative capacity");
    return JNI_ERR;
  }
  if (s.vm().Faulted(Fn::EnsureLocalCapacity)) {
    s.Throw("java/lang/OutOfMemoryError", "could not ensure local capacity");
    return JNI_ERR;
  }
  Frame& frame = s.ts().frames.back();
  frame.capacity =
      std::max(frame.capacity, frame.locals.size() + static_cast<std::size_t>(capacity));
  return JNI_OK;
}

jint JNICALL PushLocalFrame(JNIEnv* env, jint capacity) {
  VX_SCOPE(env, PushLocalFrame, Rule::kNormal);
  if (!s.ok()) return JNI_ERR;
  if (capacity < 0) {
    s.Error("negative capacity");
    return JNI_ERR;
  }
  if (s.vm().Faulted(Fn::PushLocalFrame)) {
    s.Throw("java/lang/OutOfMemoryError", "could not push a local frame");
    return JNI_ERR;
  }
  Frame frame;
  frame.capacity = static_cast<std::size_t>(capacity);
  s.ts().frames.push_back(std::move(frame));
  return JNI_OK;
}

jobject JNICALL PopLocalFrame(JNIEnv* env, jobject result) {
  VX_SCOPE(env, PopLocalFrame, Rule::kAllowed);
  if (!s.ok()) return nullptr;
  ThreadState& ts = s.ts();
  if (ts.frames.size() <= ts.floor) {
    s.Error("PopLocalFrame without a matching PushLocalFrame");
    return nullptr;
  }
  Obj* o = nullptr;
  if (!s.Resolve(result, o)) o = nullptr;
  if (o != nullptr) s.vm().Ref(o);  // keep it alive across the pop
  s.vm().PopFrame(ts);
  if (o == nullptr) return nullptr;
  jobject local = s.Local(o);
  s.vm().Unref(o);
  return local;
}

jclass JNICALL GetObjectClass(JNIEnv* env, jobject object) {
  VX_SCOPE(env, GetObjectClass, Rule::kNormal);
  Obj* o = nullptr;
  if (!s.ok() || !s.Resolve(object, o)) return nullptr;
  if (o == nullptr) {
    s.Error("null object");
    return nullptr;
  }
  if (s.vm().Faulted(Fn::GetObjectClass)) return nullptr;
  return static_cast<jclass>(s.Local(&o->cls->mirror));
}

jclass JNICALL FindClass(JNIEnv* env, const char* name) {
  VX_SCOPE(env, FindClass, Rule::kNormal);
  if (!s.ok()) return nullptr;
  if (name == nullptr) {
    s.Error("null class name");
    return nullptr;
  }
  if (s.vm().Faulted(Fn::FindClass)) {
    s.Throw("java/lang/NoClassDefFoundError", name);
    return nullptr;
  }
  ClassInfo* cls = s.vm().FindClassInfo(name);
  if (cls == nullptr) {
    s.Throw("java/lang/NoClassDefFoundError", name);
    return nullptr;
  }
  return static_cast<jclass>(s.Local(&cls->mirror));
}

Method* FindMethod(ClassInfo* cls, const std::string& name, const std::string& sig,
                   bool is_static = false) {
  for (ClassInfo* c = cls; c != nullptr; c = c->super) {
    for (Method* m : c->methods) {
      if (m->name == name && m->sig == sig && m->is_static == is_static) return m;
    }
  }
  return nullptr;
}

jmethodID JNICALL GetMethodID(JNIEnv* env, jclass clazz, const char* name, const char* sig) {
  VX_SCOPE(env, GetMethodID, Rule::kNormal);
  if (!s.ok()) return nullptr;
  Obj* c = s.Expect(clazz, Kind::kClass, "class");
  if (c == nullptr) return nullptr;
  if (name == nullptr || sig == nullptr) {
    s.Error("null method name or signature");
    return nullptr;
  }
  if (s.vm().Faulted(Fn::GetMethodID)) {
    s.Throw("java/lang/NoSuchMethodError", name);
    return nullptr;
  }
  Method* m = FindMethod(c->mirror_of, name, sig);
  if (m == nullptr) {
    s.Throw("java/lang/NoSuchMethodError", name);
    return nullptr;
  }
  return reinterpret_cast<jmethodID>(m);
}

jmethodID JNICALL GetStaticMethodID(JNIEnv* env, jclass clazz, const char* name, const char* sig) {
  VX_SCOPE(env, GetStaticMethodID, Rule::kNormal);
  if (!s.ok()) return nullptr;
  Obj* c = s.Expect(clazz, Kind::kClass, "class");
  if (c == nullptr) return nullptr;
  if (name == nullptr || sig == nullptr) {
    s.Error("null method name or signature");
    return nullptr;
  }
  Method* m = FindMethod(c->mirror_of, name, sig, true);
  if (m == nullptr) {
    s.Throw("java/lang/NoSuchMethodError", name);
    return nullptr;
  }
  return reinterpret_cast<jmethodID>(m);
}

// Decoders of the arguments of a Call*Method variant.
struct VaArgs {
  va_list* ap;
  jvalue Next(const std::string& type) {
    jvalue v{};
    switch (type[0]) {
      case 'Z':
        v.z = static_cast<jboolean>(va_arg(*ap, int));
        break;
      case 'B':
        v.b = static_cast<jbyte>(va_arg(*ap, int));
        break;
      case 'C':
        v.c = static_cast<jchar>(va_arg(*ap, int));
        break;
      case 'S':
        v.s = static_cast<jshort>(va_arg(*ap, int));
        break;
      case 'I':
        v.i = va_arg(*ap, jint);
        break;
      case 'J':
        v.j = va_arg(*ap, jlong);
        break;
      case 'F':
        v.f = static_cast<jfloat>(va_arg(*ap, double));
        break;
      case 'D':
        v.d = va_arg(*ap, double);
        break;
      default:
        v.l = va_arg(*ap, jobject);
        break;
    }
    return v;
  }
};

struct ArrayArgs {
  const jvalue* args;
  std::size_t index = 0;
  jvalue Next(const std::string&) { return args[index++]; }
};

template <typename Args>
jint CallInt(JNIEnv* env, std::size_t slot, jobject object, jmethodID id, Args&& source,
             bool have_args) {
  Scope s(env, slot, Rule::kNormal);
  if (!s.ok()) return 0;
  Vm& vm = s.vm();
  Obj* self = nullptr;
  if (!s.Resolve(object, self)) return 0;
  if (self == nullptr) {
    s.Error("called with a null object");
    return 0;
  }
  if (id == nullptr) {
    s.Error("called with a null jmethodID");
    return 0;
  }
  const auto* named = reinterpret_cast<const Method*>(id);
  if (vm.valid_methods.count(named) == 0) {
    s.Error("invalid jmethodID " + Hex(named));
    return 0;
  }
  if (!vm.IsInstance(self, named->owner)) {
    s.Error("object of class " + self->cls->name + " has no method " + named->owner->name + "." +
            named->name);
    return 0;
  }
  // Virtual dispatch: an override in the object's class wins.
  const Method* m = FindMethod(self->cls, named->name, named->sig);
  if (!named->arg_types.empty() && !have_args) {
    s.Error("null argument array");
    return 0;
  }
  std::vector<jvalue> args;
  args.reserve(m->arg_types.size());
  for (const std::string& type : m->arg_types) args.push_back(source.Next(type));
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& type = m->arg_types[i];
    if (type[0] != 'L' && type[0] != '[') continue;
    Obj* arg = nullptr;
    if (!s.Resolve(args[i].l, arg)) return 0;
    if (arg == nullptr) continue;
    const ClassInfo* want =
        vm.FindClassInfo(type[0] == 'L' ? type.substr(1, type.size() - 2) : type);
    if (want != nullptr && !vm.IsInstance(arg, want)) {
      s.Error("argument " + std::to_string(i + 1) + " of " + m->name + " is a " + arg->cls->name +
              ", not a " + type);
      return 0;
    }
  }
  IntMethod fn = m->fn;  // a copy: Reset or a redefinition may replace it meanwhile
  ThreadState* ts = &s.ts();
  ts->frames.emplace_back();
  ts->frames.back().capacity = kHandlerFrameCapacity;
  const std::size_t depth = ts->frames.size();
  const std::size_t saved_floor = ts->floor;
  ts->floor = depth;
  ++ts->java_depth;

  // Runs after the handler, also when it throws a C++ exception.
  struct After {
    Scope& s;
    ThreadState* ts;
    std::size_t depth;
    std::size_t saved_floor;
    jint* result;
    ~After() {
      s.Relock();
      if (s.cell()->state != ts) return;  // Reset while the handler ran
      while (ts->frames.size() >= depth) s.vm().PopFrame(*ts);
      ts->floor = saved_floor;
      --ts->java_depth;
      ts->check_from = s.name();
      if (ts->pending != nullptr) *result = 0;
    }
  };
  jint result = 0;
  {
    s.Unlock();
    After after{s, ts, depth, saved_floor, &result};
    if (fn) result = fn(env, object, args);
  }
  return result;
}

jint JNICALL CallIntMethodV(JNIEnv* env, jobject object, jmethodID id, va_list args) {
  va_list copy;
  va_copy(copy, args);
  const jint result = CallInt(env, VX_NSLOT(CallIntMethodV), object, id, VaArgs{&copy}, true);
  va_end(copy);
  return result;
}

jint JNICALL CallIntMethod(JNIEnv* env, jobject object, jmethodID id, ...) {
  va_list args;
  va_start(args, id);
  const jint result = CallInt(env, VX_NSLOT(CallIntMethod), object, id, VaArgs{&args}, true);
  va_end(args);
  return result;
}

jint JNICALL CallIntMethodA(JNIEnv* env, jobject object, jmethodID id, const jvalue* args) {
  return CallInt(env, VX_NSLOT(CallIntMethodA), object, id, ArrayArgs{args}, args != nullptr);
}

template <typename Args>
jobject CallStaticObject(JNIEnv* env, std::size_t slot, jclass clazz, jmethodID id, Args&& source,
                         bool have_args) {
  Scope s(env, slot, Rule::kNormal);
  if (!s.ok()) return nullptr;
  Vm& vm = s.vm();
  Obj* c = s.Expect(clazz, Kind::kClass, "class");
  if (c == nullptr) return nullptr;
  if (id == nullptr) {
    s.Error("called with a null jmethodID");
    return nullptr;
  }
  const auto* m = reinterpret_cast<const Method*>(id);
  if (vm.valid_methods.count(m) == 0 || !m->is_static) {
    s.Error("invalid static jmethodID " + Hex(m));
    return nullptr;
  }
  bool owned = false;
  for (const ClassInfo* k = c->mirror_of; k != nullptr; k = k->super) owned |= k == m->owner;
  if (!owned) {
    s.Error("class " + c->mirror_of->name + " has no static method " + m->name);
    return nullptr;
  }
  if (!m->arg_types.empty() && !have_args) {
    s.Error("null argument array");
    return nullptr;
  }
  std::vector<jvalue> args;
  args.reserve(m->arg_types.size());
  for (const std::string& type : m->arg_types) args.push_back(source.Next(type));
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& type = m->arg_types[i];
    Obj* arg = nullptr;
    if ((type[0] == 'L' || type[0] == '[') && !s.Resolve(args[i].l, arg)) return nullptr;
  }
  StaticObjectMethod fn = m->object_fn;
  ThreadState* ts = &s.ts();
  ts->frames.emplace_back();
  ts->frames.back().capacity = kHandlerFrameCapacity;
  const std::size_t depth = ts->frames.size();
  const std::size_t saved_floor = ts->floor;
  ts->floor = depth;
  ++ts->java_depth;
  jobject returned = nullptr;
  {
    s.Unlock();
    struct Relock {
      Scope& s;
      ~Relock() { s.Relock(); }
    } relock{s};
    if (fn) returned = fn(env, args);
  }
  if (s.cell()->state != ts) return nullptr;  // Reset while the handler ran
  // The handler's result outlives its frame as a local of the caller's.
  Obj* result = nullptr;
  if (!vm.Resolve(s.name(), ts, returned, result)) result = nullptr;
  if (result != nullptr) vm.Ref(result);
  while (ts->frames.size() >= depth) vm.PopFrame(*ts);
  ts->floor = saved_floor;
  --ts->java_depth;
  ts->check_from = s.name();
  jobject local = nullptr;
  if (result != nullptr) {
    if (ts->pending == nullptr) local = s.Local(result);
    vm.Unref(result);
  }
  return local;
}

jobject JNICALL CallStaticObjectMethodV(JNIEnv* env, jclass clazz, jmethodID id, va_list args) {
  va_list copy;
  va_copy(copy, args);
  jobject result =
      CallStaticObject(env, VX_NSLOT(CallStaticObjectMethodV), clazz, id, VaArgs{&copy}, true);
  va_end(copy);
  return result;
}

jobject JNICALL CallStaticObjectMethod(JNIEnv* env, jclass clazz, jmethodID id, ...) {
  va_list args;
  va_start(args, id);
  jobject result =
      CallStaticObject(env, VX_NSLOT(CallStaticObjectMethod), clazz, id, VaArgs{&args}, true);
  va_end(args);
  return result;
}

jobject JNICALL CallStaticObjectMethodA(JNIEnv* env, jclass clazz, jmethodID id,
                                        const jvalue* args) {
  return CallStaticObject(env, VX_NSLOT(CallStaticObjectMethodA), clazz, id, ArrayArgs{args},
                          args != nullptr);
}

jboolean JNICALL ExceptionCheck(JNIEnv* env) {
  VX_SCOPE(env, ExceptionCheck, Rule::kCheck);
  return s.ok() && s.ts().pending != nullptr ? JNI_TRUE : JNI_FALSE;
}

jthrowable JNICALL ExceptionOccurred(JNIEnv* env) {
  VX_SCOPE(env, ExceptionOccurred, Rule::kCheck);
  if (!s.ok() || s.ts().pending == nullptr) return nullptr;
  return static_cast<jthrowable>(s.Local(s.ts().pending));
}

void JNICALL ExceptionClear(JNIEnv* env) {
  VX_SCOPE(env, ExceptionClear, Rule::kClear);
  if (!s.ok() || s.ts().pending == nullptr) return;
  s.vm().Unref(s.ts().pending);
  s.ts().pending = nullptr;
}

void JNICALL ExceptionDescribe(JNIEnv* env) {
  VX_SCOPE(env, ExceptionDescribe, Rule::kAllowed);
  if (!s.ok() || s.ts().pending == nullptr) return;
  Obj* e = s.ts().pending;
  std::string name = e->cls->name;
  std::replace(name.begin(), name.end(), '/', '.');
  std::string line =
      "Exception in thread \"fakejni #" + std::to_string(s.ts().serial) + "\" " + name;
  if (!e->message.empty()) line += ": " + e->message;
  line += '\n';
  std::fputs(line.c_str(), stderr);
  s.vm().Unref(e);
  s.ts().pending = nullptr;
}

bool IsThrowable(Vm& vm, const Obj* o) {
  const ClassInfo* throwable = vm.FindClassInfo("java/lang/Throwable");
  return o->kind == Kind::kInstance && vm.IsInstance(o, throwable);
}

jint JNICALL Throw(JNIEnv* env, jthrowable throwable) {
  VX_SCOPE(env, Throw, Rule::kNormal);
  if (!s.ok()) return JNI_ERR;
  Obj* o = s.Expect(throwable, Kind::kInstance, "throwable");
  if (o == nullptr) return JNI_ERR;
  if (!IsThrowable(s.vm(), o)) {
    s.Error("object of class " + o->cls->name + " is not a Throwable");
    return JNI_ERR;
  }
  s.vm().SetPending(s.ts(), o);
  return JNI_OK;
}

jint JNICALL ThrowNew(JNIEnv* env, jclass clazz, const char* message) {
  VX_SCOPE(env, ThrowNew, Rule::kNormal);
  if (!s.ok()) return JNI_ERR;
  Obj* c = s.Expect(clazz, Kind::kClass, "class");
  if (c == nullptr) return JNI_ERR;
  const ClassInfo* throwable = s.vm().FindClassInfo("java/lang/Throwable");
  bool is_throwable = false;
  for (const ClassInfo* k = c->mirror_of; k != nullptr; k = k->super) {
    if (k == throwable) is_throwable = true;
  }
  if (!is_throwable) {
    s.Error("class " + c->mirror_of->name + " is not a Throwable");
    return JNI_ERR;
  }
  s.Throw(c->mirror_of->name.c_str(), message == nullptr ? "" : message);
  return JNI_OK;
}

// --- Strings ---

jsize JNICALL GetStringLength(JNIEnv* env, jstring text) {
  VX_SCOPE(env, GetStringLength, Rule::kNormal);
  if (!s.ok()) return 0;
  Obj* o = s.Expect(text, Kind::kString, "java/lang/String");
  return o == nullptr ? 0 : static_cast<jsize>(o->chars.size());
}

bool InRange(jsize start, jsize len, std::size_t size) {
  return start >= 0 && len >= 0 &&
         static_cast<std::size_t>(start) + static_cast<std::size_t>(len) <= size;
}

void JNICALL GetStringRegion(JNIEnv* env, jstring text, jsize start, jsize len, jchar* buf) {
  VX_SCOPE(env, GetStringRegion, Rule::kNormal);
  if (!s.ok()) return;
  Obj* o = s.Expect(text, Kind::kString, "java/lang/String");
  if (o == nullptr) return;
  if (s.vm().Faulted(Fn::GetStringRegion)) {
    s.Throw("java/lang/StringIndexOutOfBoundsException", "injected failure");
    return;
  }
  if (!InRange(start, len, o->chars.size())) {
    s.Throw("java/lang/StringIndexOutOfBoundsException",
            "start " + std::to_string(start) + ", length " + std::to_string(len));
    return;
  }
  if (len > 0 && buf == nullptr) {
    s.Error("null buffer");
    return;
  }
  for (jsize i = 0; i < len; ++i) buf[i] = static_cast<jchar>(o->chars[start + i]);
}

const void* AddPin(Vm& vm, PinKind kind, Obj* o, std::unique_ptr<Pin> pin) {
  pin->kind = kind;
  pin->obj = o;
  const void* key = nullptr;
  switch (kind) {
    case PinKind::kChars:
    case PinKind::kCritical:
      key = pin->chars.data();
      break;
    case PinKind::kUtf:
      key = pin->utf.data();
      break;
    case PinKind::kElements:
      key = pin->bytes.data();
      break;
  }
  vm.Ref(o);
  vm.pins[key] = std::move(pin);
  return key;
}

const jchar* GetChars(Scope& s, jstring text, jboolean* is_copy, PinKind kind, Fn fn) {
  if (!s.ok()) return nullptr;
  Obj* o = s.Expect(text, Kind::kString, "java/lang/String");
  if (o == nullptr) return nullptr;
  if (s.vm().Faulted(fn)) {
    s.Throw("java/lang/OutOfMemoryError", "injected failure");
    return nullptr;
  }
  auto pin = std::make_unique<Pin>();
  pin->chars.assign(o->chars.begin(), o->chars.end());
  pin->chars.push_back(0);
  if (is_copy != nullptr) *is_copy = JNI_TRUE;
  if (kind == PinKind::kCritical) ++s.ts().critical;
  return static_cast<const jchar*>(AddPin(s.vm(), kind, o, std::move(pin)));
}

// Releases a buffer handed out for `object`; false (error recorded) when it is not one.
bool ReleasePin(Scope& s, jobject object, const void* key, PinKind kind, Kind object_kind,
                const char* what, Pin** out = nullptr) {
  if (!s.ok()) return false;
  Obj* o = s.Expect(object, object_kind, what);
  if (o == nullptr) return false;
  auto it = s.vm().pins.find(key);
  if (it == s.vm().pins.end() || it->second->kind != kind) {
    s.Error("pointer " + Hex(key) + " was not handed out by the matching Get function");
    return false;
  }
  if (it->second->obj != o) {
    s.Error("pointer " + Hex(key) + " belongs to another object");
    return false;
  }
  if (out != nullptr) {
    *out = it->second.get();
    return true;
  }
  s.vm().Unref(o);
  s.vm().pins.erase(it);
  return true;
}

const jchar* JNICALL GetStringChars(JNIEnv* env, jstring text, jboolean* is_copy) {
  VX_SCOPE(env, GetStringChars, Rule::kNormal);
  return GetChars(s, text, is_copy, PinKind::kChars, Fn::GetStringChars);
}

void JNICALL ReleaseStringChars(JNIEnv* env, jstring text, const jchar* chars) {
  VX_SCOPE(env, ReleaseStringChars, Rule::kAllowed);
  ReleasePin(s, text, chars, PinKind::kChars, Kind::kString, "java/lang/String");
}

const jchar* JNICALL GetStringCritical(JNIEnv* env, jstring text, jboolean* is_copy) {
  VX_SCOPE(env, GetStringCritical, Rule::kNormal);
  return GetChars(s, text, is_copy, PinKind::kCritical, Fn::GetStringCritical);
}

void JNICALL ReleaseStringCritical(JNIEnv* env, jstring text, const jchar* chars) {
  VX_SCOPE(env, ReleaseStringCritical, Rule::kAllowed);
  if (ReleasePin(s, text, chars, PinKind::kCritical, Kind::kString, "java/lang/String")) {
    --s.ts().critical;
  }
}

jsize JNICALL GetStringUTFLength(JNIEnv* env, jstring text) {
  VX_SCOPE(env, GetStringUTFLength, Rule::kNormal);
  if (!s.ok()) return 0;
  Obj* o = s.Expect(text, Kind::kString, "java/lang/String");
  return o == nullptr ? 0 : static_cast<jsize>(ToModifiedUtf8(o->chars).size());
}

const char* JNICALL GetStringUTFChars(JNIEnv* env, jstring text, jboolean* is_copy) {
  VX_SCOPE(env, GetStringUTFChars, Rule::kNormal);
  if (!s.ok()) return nullptr;
  Obj* o = s.Expect(text, Kind::kString, "java/lang/String");
  if (o == nullptr) return nullptr;
  if (s.vm().Faulted(Fn::GetStringUTFChars)) {
    s.Throw("java/lang/OutOfMemoryError", "injected failure");
    return nullptr;
  }
  auto pin = std::make_unique<Pin>();
  pin->utf = ToModifiedUtf8(o->chars);
  if (is_copy != nullptr) *is_copy = JNI_TRUE;
  return static_cast<const char*>(AddPin(s.vm(), PinKind::kUtf, o, std::move(pin)));
}

void JNICALL ReleaseStringUTFChars(JNIEnv* env, jstring text, const char* chars) {
  VX_SCOPE(env, ReleaseStringUTFChars, Rule::kAllowed);
  ReleasePin(s, text, chars, PinKind::kUtf, Kind::kString, "java/lang/String");
}

void JNICALL GetStringUTFRegion(JNIEnv* env, jstring text, jsize start, jsize len, char* buf) {
  VX_SCOPE(env, GetStringUTFRegion, Rule::kNormal);
  if (!s.ok()) return;
  Obj* o = s.Expect(text, Kind::kString, "java/lang/String");
  if (o == nullptr) return;
  if (!InRange(start, len, o->chars.size())) {
    s.Throw("java/lang/StringIndexOutOfBoundsException",
            "start " + std::to_string(start) + ", length " + std::to_string(len));
    return;
  }
  if (buf == nullptr) {
    s.Error("null buffer");
    return;
  }
  const std::string utf = ToModifiedUtf8(std::u16string_view(o->chars).substr(
      static_cast<std::size_t>(start), static_cast<std::size_t>(len)));
  std::memcpy(buf, utf.c_str(), utf.size() + 1);  // with the terminating NUL, as HotSpot
}

jstring NewStringObj(Scope& s, std::u16string chars) {
  Obj* o = s.vm().NewObj(Kind::kString, s.vm().FindClassInfo("java/lang/String"));
  o->chars = std::move(chars);
  return static_cast<jstring>(s.Local(o));
}

jstring JNICALL NewString(JNIEnv* env, const jchar* chars, jsize len) {
  VX_SCOPE(env, NewString, Rule::kNormal);
  if (!s.ok()) return nullptr;
  if (len < 0 || (len > 0 && chars == nullptr)) {
    s.Error("bad characters or length " + std::to_string(len));
    return nullptr;
  }
  if (s.vm().Faulted(Fn::NewString)) {
    s.Throw("java/lang/OutOfMemoryError", "injected failure");
    return nullptr;
  }
  std::u16string text(static_cast<std::size_t>(len), u'\0');
  for (jsize i = 0; i < len; ++i) text[static_cast<std::size_t>(i)] = chars[i];
  return NewStringObj(s, std::move(text));
}

jstring JNICALL NewStringUTF(JNIEnv* env, const char* utf) {
  VX_SCOPE(env, NewStringUTF, Rule::kNormal);
  if (!s.ok() || utf == nullptr) return nullptr;
  if (s.vm().Faulted(Fn::NewStringUTF)) {
    s.Throw("java/lang/OutOfMemoryError", "injected failure");
    return nullptr;
  }
  return NewStringObj(s, FromModifiedUtf8(utf));
}

// --- Byte arrays ---

jbyteArray JNICALL NewByteArray(JNIEnv* env, jsize len) {
  VX_SCOPE(env, NewByteArray, Rule::kNormal);
  if (!s.ok()) return nullptr;
  if (len < 0) {
    s.Throw("java/lang/NegativeArraySizeException", std::to_string(len));
    return nullptr;
  }
  if (s.vm().Faulted(Fn::NewByteArray)) {
    s.Throw("java/lang/OutOfMemoryError", "Java heap space");
    return nullptr;
  }
  Obj* o = s.vm().NewObj(Kind::kByteArray, s.vm().FindClassInfo("[B"));
  o->bytes.assign(static_cast<std::size_t>(len), 0);
  return static_cast<jbyteArray>(s.Local(o));
}

jsize JNICALL GetArrayLength(JNIEnv* env, jarray array) {
  VX_SCOPE(env, GetArrayLength, Rule::kNormal);
  if (!s.ok()) return 0;
  Obj* o = s.Expect(array, Kind::kByteArray, "byte[]");
  return o == nullptr ? 0 : static_cast<jsize>(o->bytes.size());
}

void JNICALL SetByteArrayRegion(JNIEnv* env, jbyteArray array, jsize start, jsize len,
                                const jbyte* buf) {
  VX_SCOPE(env, SetByteArrayRegion, Rule::kNormal);
  if (!s.ok()) return;
  Obj* o = s.Expect(array, Kind::kByteArray, "byte[]");
  if (o == nullptr) return;
  if (!InRange(start, len, o->bytes.size())) {
    s.Throw("java/lang/ArrayIndexOutOfBoundsException",
            "start " + std::to_string(start) + ", length " + std::to_string(len));
    return;
  }
  if (len > 0 && buf == nullptr) {
    s.Error("null buffer");
    return;
  }
  if (len > 0) std::memcpy(o->bytes.data() + start, buf, static_cast<std::size_t>(len));
}

void JNICALL GetByteArrayRegion(JNIEnv* env, jbyteArray array, jsize start, jsize len, jbyte* buf) {
  VX_SCOPE(env, GetByteArrayRegion, Rule::kNormal);
  if (!s.ok()) return;
  Obj* o = s.Expect(array, Kind::kByteArray, "byte[]");
  if (o == nullptr) return;
  if (!InRange(start, len, o->bytes.size())) {
    s.Throw("java/lang/ArrayIndexOutOfBoundsException",
            "start " + std::to_string(start) + ", length " + std::to_string(len));
    return;
  }
  if (len > 0 && buf == nullptr) {
    s.Error("null buffer");
    return;
  }
  if (len > 0) std::memcpy(buf, o->bytes.data() + start, static_cast<std::size_t>(len));
}

jbyte* JNICALL GetByteArrayElements(JNIEnv* env, jbyteArray array, jboolean* is_copy) {
  VX_SCOPE(env, GetByteArrayElements, Rule::kNormal);
  if (!s.ok()) return nullptr;
  Obj* o = s.Expect(array, Kind::kByteArray, "byte[]");
  if (o == nullptr) return nullptr;
  if (s.vm().Faulted(Fn::GetByteArrayElements)) {
    s.Throw("java/lang/OutOfMemoryError", "injected failure");
    return nullptr;
  }
  auto pin = std::make_unique<Pin>();
  pin->bytes.reserve(std::max<std::size_t>(o->bytes.size(), 1));  // a distinct non-null key
  pin->bytes.assign(o->bytes.begin(), o->bytes.end());
  if (is_copy != nullptr) *is_copy = JNI_TRUE;
  return const_cast<jbyte*>(
      static_cast<const jbyte*>(AddPin(s.vm(), PinKind::kElements, o, std::move(pin))));
}

void JNICALL ReleaseByteArrayElements(JNIEnv* env, jbyteArray array, jbyte* elems, jint mode) {
  VX_SCOPE(env, ReleaseByteArrayElements, Rule::kAllowed);
  Pin* pin = nullptr;
  if (!ReleasePin(s, array, elems, PinKind::kElements, Kind::kByteArray, "byte[]", &pin)) return;
  if (mode != 0 && mode != JNI_COMMIT && mode != JNI_ABORT) {
    s.Error("unknown release mode " + std::to_string(mode));
    return;
  }
  if (mode != JNI_ABORT) pin->obj->bytes.assign(pin->bytes.begin(), pin->bytes.end());
  if (mode == JNI_COMMIT) return;
  s.vm().Unref(pin->obj);
  s.vm().pins.erase(elems);
}

// ----------------------------------------------------------------------------------------
// The JavaVM functions

Vm& VmOf(JavaVM* vm) { return *reinterpret_cast<VmCell*>(vm)->vm; }

jint Attach(JavaVM* jvm, void** penv, void* args, bool daemon) {
  InsideVm inside;
  Vm& vm = VmOf(jvm);
  std::lock_guard<std::mutex> lock(vm.mu);
  const std::size_t slot =
      daemon ? VX_ISLOT(AttachCurrentThreadAsDaemon) : VX_ISLOT(AttachCurrentThread);
  ++vm.invoke_calls[slot];
  if (penv == nullptr) {
    vm.Error(InvokeName(slot), "null env pointer", nullptr);
    return JNI_ERR;
  }
  *penv = nullptr;
  if (args != nullptr && !vm.Supported(static_cast<JavaVMAttachArgs*>(args)->version)) {
    return JNI_EVERSION;
  }
  jint code = JNI_ERR;
  if (vm.Faulted(daemon ? Fn::AttachCurrentThreadAsDaemon : Fn::AttachCurrentThread, &code)) {
    return code;
  }
  ThreadState* ts = vm.Current();
  if (ts == nullptr) {
    ts = vm.NewThread(false, daemon);
    ++vm.attaches;
    if (daemon) ++vm.daemon_attaches;
    const char* name = args != nullptr ? static_cast<JavaVMAttachArgs*>(args)->name : nullptr;
    vm.attach_names.emplace_back(name != nullptr ? name : "");
  }
  *penv = &ts->cell->env;
  return JNI_OK;
}

jint JNICALL AttachCurrentThread(JavaVM* jvm, void** penv, void* args) {
  return Attach(jvm, penv, args, false);
}

jint JNICALL AttachCurrentThreadAsDaemon(JavaVM* jvm, void** penv, void* args) {
  return Attach(jvm, penv, args, true);
}

jint JNICALL DetachCurrentThread(JavaVM* jvm) {
  InsideVm inside;
  Vm& vm = VmOf(jvm);
  std::lock_guard<std::mutex> lock(vm.mu);
  ++vm.invoke_calls[VX_ISLOT(DetachCurrentThread)];
  ThreadState* ts = vm.Current();
  if (ts == nullptr) return JNI_OK;  // HotSpot: detaching a detached thread is a no-op
  if (ts->java_thread || ts->java_depth > 0) return JNI_ERR;  // Java frames on the stack
  if (ts->critical > 0) {
    vm.Error("DetachCurrentThread", "thread detached inside a critical region", ts);
  }
  vm.locals_freed_at_detach += ts->live_locals;
  vm.DestroyThread(ts);
  ++vm.detaches;
  return JNI_OK;
}

jint JNICALL GetEnv(JavaVM* jvm, void** penv, jint version) {
  InsideVm inside;
  Vm& vm = VmOf(jvm);
  std::lock_guard<std::mutex> lock(vm.mu);
  ++vm.invoke_calls[VX_ISLOT(GetEnv)];
  if (penv == nullptr) {
    vm.Error("GetEnv", "null env pointer", nullptr);
    return JNI_ERR;
  }
  *penv = nullptr;
  jint code = JNI_ERR;
  if (vm.Faulted(Fn::GetEnv, &code)) return code;
  ThreadState* ts = vm.Current();
  if (ts == nullptr) return JNI_EDETACHED;
  if (!vm.Supported(version)) return JNI_EVERSION;
  *penv = &ts->cell->env;
  return JNI_OK;
}

// ----------------------------------------------------------------------------------------
// The tables

const JNINativeInterface_* NativeTable() {
  static const JNINativeInterface_ table = [] {
    JNINativeInterface_ t;
    FillWithTraps<true>(t, std::make_index_sequence<kNativeSlots>());
    t.reserved0 = nullptr;
    t.reserved1 = nullptr;
    t.reserved2 = nullptr;
    t.reserved3 = nullptr;
    t.GetVersion = &GetVersion;
    t.GetJavaVM = &GetJavaVM;
    t.NewGlobalRef = &NewGlobalRef;
    t.DeleteGlobalRef = &DeleteGlobalRef;
    t.NewLocalRef = &NewLocalRef;
    t.DeleteLocalRef = &DeleteLocalRef;
    t.IsSameObject = &IsSameObject;
    t.EnsureLocalCapacity = &EnsureLocalCapacity;
    t.PushLocalFrame = &PushLocalFrame;
    t.PopLocalFrame = &PopLocalFrame;
    t.GetObjectClass = &GetObjectClass;
    t.FindClass = &FindClass;
    t.GetMethodID = &GetMethodID;
    t.CallIntMethod = &CallIntMethod;
    t.CallIntMethodV = &CallIntMethodV;
    t.CallIntMethodA = &CallIntMethodA;
    t.GetStaticMethodID = &GetStaticMethodID;
    t.CallStaticObjectMethod = &CallStaticObjectMethod;
    t.CallStaticObjectMethodV = &CallStaticObjectMethodV;
    t.CallStaticObjectMethodA = &CallStaticObjectMethodA;
    t.ExceptionCheck = &ExceptionCheck;
    t.ExceptionOccurred = &ExceptionOccurred;
    t.ExceptionClear = &ExceptionClear;
    t.ExceptionDescribe = &ExceptionDescribe;
    t.Throw = &Throw;
    t.ThrowNew = &ThrowNew;
    t.GetStringLength = &GetStringLength;
    t.GetStringRegion = &GetStringRegion;
    t.GetStringChars = &GetStringChars;
    t.ReleaseStringChars = &ReleaseStringChars;
    t.GetStringCritical = &GetStringCritical;
    t.ReleaseStringCritical = &ReleaseStringCritical;
    t.GetStringUTFLength = &GetStringUTFLength;
    t.GetStringUTFChars = &GetStringUTFChars;
    t.GetStringUTFRegion = &GetStringUTFRegion;
    t.ReleaseStringUTFChars = &ReleaseStringUTFChars;
    t.NewString = &NewString;
    t.NewStringUTF = &NewStringUTF;
    t.NewByteArray = &NewByteArray;
    t.GetArrayLength = &GetArrayLength;
    t.SetByteArrayRegion = &SetByteArrayRegion;
    t.GetByteArrayRegion = &GetByteArrayRegion;
    t.GetByteArrayElements = &GetByteArrayElements;
    t.ReleaseByteArrayElements = &ReleaseByteArrayElements;
    return t;
  }();
  return &table;
}

const JNIInvokeInterface_* InvokeTable() {
  static const JNIInvokeInterface_ table = [] {
    JNIInvokeInterface_ t;
    FillWithTraps<false>(t, std::make_index_sequence<kInvokeSlots>());
    t.reserved0 = nullptr;
    t.reserved1 = nullptr;
    t.reserved2 = nullptr;
    t.AttachCurrentThread = &AttachCurrentThread;
    t.AttachCurrentThreadAsDaemon = &AttachCurrentThreadAsDaemon;
    t.DetachCurrentThread = &DetachCurrentThread;
    t.GetEnv = &GetEnv;
    return t;
  }();
  return &table;
}

}  // namespace

}  // namespace detail

// ----------------------------------------------------------------------------------------
// FakeJvm

using detail::Kind;
using detail::ThreadState;

FakeJvm::FakeJvm() : vm_(std::make_unique<detail::Vm>()) {
  vm_->cell.jvm.functions = detail::InvokeTable();
  Reset();
}

FakeJvm::~FakeJvm() = default;

FakeJvm& FakeJvm::Shared() {
  static FakeJvm* shared = new FakeJvm;  // never destroyed, see the header
  return *shared;
}

JavaVM* FakeJvm::vm() { return &vm_->cell.jvm; }

void FakeJvm::Reset() {
  std::lock_guard<std::mutex> lock(vm_->mu);
  detail::Vm& vm = *vm_;
  vm.Clear(false);
  vm.DefineBuiltins();
  vm.versions = {JNI_VERSION_1_8, JNI_VERSION_1_6, JNI_VERSION_1_4, JNI_VERSION_1_2};
  vm.strict = false;
  vm.faults = {};
  vm.native_calls = {};
  vm.invoke_calls = {};
  vm.errors.clear();
  vm.error_total = 0;
  vm.attaches = vm.daemon_attaches = vm.detaches = vm.leaks = 0;
  vm.attach_names.clear();
  vm.locals_freed_at_detach = 0;
  vm.max_peak = 0;
}

void FakeJvm::SetSupportedVersions(std::vector<jint> versions) {
  std::lock_guard<std::mutex> lock(vm_->mu);
  vm_->versions = std::move(versions);
}

void FakeJvm::SetStrictExceptionChecks(bool strict) {
  std::lock_guard<std::mutex> lock(vm_->mu);
  vm_->strict = strict;
}

void FakeJvm::DefineClass(const std::string& name, const std::string& super) {
  std::lock_guard<std::mutex> lock(vm_->mu);
  if (vm_->FindClassInfo(name) != nullptr) {
    throw std::invalid_argument("fakejni: class " + name + " already defined");
  }
  detail::ClassInfo* parent = vm_->FindClassInfo(super);
  if (parent == nullptr) throw std::invalid_argument("fakejni: unknown superclass " + super);
  vm_->AddClass(name, parent);
}

namespace {
// The method of `cls` with that name, signature and kind, made when there is none yet (a
// defined method may be defined again with another handler). Called with the VM's lock held.
detail::Method* MethodSlot(detail::Vm& vm, detail::ClassInfo* cls, const std::string& name,
                           const std::string& signature, bool is_static,
                           std::vector<std::string> args) {
  for (detail::Method* m : cls->methods) {
    if (m->is_static == is_static && m->name == name && m->sig == signature) return m;
  }
  auto m = std::make_unique<detail::Method>();
  m->owner = cls;
  m->name = name;
  m->sig = signature;
  m->arg_types = std::move(args);
  m->is_static = is_static;
  detail::Method* slot = m.get();
  cls->methods.push_back(slot);
  vm.valid_methods.insert(slot);
  vm.all_methods.push_back(std::move(m));
  return slot;
}
}  // namespace

void FakeJvm::DefineIntMethod(const std::string& class_name, const std::string& name,
                              const std::string& signature, IntMethod handler) {
  std::lock_guard<std::mutex> lock(vm_->mu);
  detail::ClassInfo* cls = vm_->FindClassInfo(class_name);
  if (cls == nullptr) throw std::invalid_argument("fakejni: unknown class " + class_name);
  std::vector<std::string> args;
  if (!detail::ParseIntSignature(signature, args)) {
    throw std::invalid_argument("fakejni: not an int method signature: " + signature);
  }
  MethodSlot(*vm_, cls, name, signature, false, std::move(args))->fn = std::move(handler);
}

void FakeJvm::DefineStaticObjectMethod(const std::string& class_name, const std::string& name,
                                       const std::string& signature, StaticObjectMethod handler) {
  std::lock_guard<std::mutex> lock(vm_->mu);
  detail::ClassInfo* cls = vm_->FindClassInfo(class_name);
  if (cls == nullptr) throw std::invalid_argument("fakejni: unknown class " + class_name);
  std::vector<std::string> args;
  if (!detail::ParseObjectSignature(signature, args)) {
    throw std::invalid_argument("fakejni: not an object method signature: " + signature);
  }
  MethodSlot(*vm_, cls, name, signature, true, std::move(args))->object_fn = std::move(handler);
}

JNIEnv* FakeJvm::AttachAsJavaThread() {
  std::lock_guard<std::mutex> lock(vm_->mu);
  ThreadState* ts = vm_->Current();
  if (ts == nullptr) ts = vm_->NewThread(true, false);
  ts->java_thread = true;
  return &ts->cell->env;
}

void FakeJvm::DetachJavaThread() {
  std::lock_guard<std::mutex> lock(vm_->mu);
  if (ThreadState* ts = vm_->Current()) vm_->DestroyThread(ts);
}

JNIEnv* FakeJvm::CurrentEnv() {
  std::lock_guard<std::mutex> lock(vm_->mu);
  ThreadState* ts = vm_->Current();
  return ts == nullptr ? nullptr : &ts->cell->env;
}

namespace {

jobject NewHelperObject(detail::Vm& vm, const char* function, detail::Obj* o) {
  ThreadState* ts = vm.Current();
  if (ts == nullptr) {
    vm.Error(function, "calling thread is not attached", nullptr);
    if (o->refs == 0) {
      vm.objects.erase(o);
      delete o;
    }
    return nullptr;
  }
  return vm.NewLocal(*ts, o, function, false);
}

}  // namespace

std::size_t FakeJvm::EnterNativeMethod() {
  detail::InsideVm inside;  // not the bridge's allocations
  std::lock_guard<std::mutex> lock(vm_->mu);
  ThreadState* ts = vm_->Current();
  if (ts == nullptr) {
    vm_->Error("fakejni::EnterNativeMethod", "calling thread is not attached", nullptr);
    return 0;
  }
  ts->frames.emplace_back();
  ts->frames.back().capacity = 16;
  const std::size_t saved_floor = ts->floor;
  ts->floor = ts->frames.size();
  return saved_floor;
}

jobject FakeJvm::LeaveNativeMethod(std::size_t entered, jobject result) {
  detail::InsideVm inside;  // not the bridge's allocations
  std::lock_guard<std::mutex> lock(vm_->mu);
  ThreadState* ts = vm_->Current();
  if (ts == nullptr || entered == 0) return nullptr;
  if (ts->pending != nullptr) {
    vm_->Error("fakejni::LeaveNativeMethod", "native method returned with an exception pending",
               ts);
  }
  detail::Obj* o = nullptr;
  if (!vm_->Resolve("fakejni::LeaveNativeMethod", ts, result, o)) o = nullptr;
  if (o != nullptr) vm_->Ref(o);  // kept alive across the pop
  while (ts->frames.size() >= ts->floor && ts->frames.size() > 1) vm_->PopFrame(*ts);
  ts->floor = entered;
  if (o == nullptr) return nullptr;
  jobject local = vm_->NewLocal(*ts, o, "fakejni::LeaveNativeMethod", false);
  vm_->Unref(o);
  return local;
}

jobject FakeJvm::NewInstance(const std::string& class_name) {
  std::lock_guard<std::mutex> lock(vm_->mu);
  detail::ClassInfo* cls = vm_->FindClassInfo(class_name);
  if (cls == nullptr) {
    vm_->Error("fakejni::NewInstance", "unknown class " + class_name, nullptr);
    return nullptr;
  }
  return NewHelperObject(*vm_, "fakejni::NewInstance", vm_->NewObj(Kind::kInstance, cls));
}

jstring FakeJvm::NewJString(std::u16string_view text) {
  std::lock_guard<std::mutex> lock(vm_->mu);
  detail::Obj* o = vm_->NewObj(Kind::kString, vm_->FindClassInfo("java/lang/String"));
  o->chars = std::u16string(text);
  return static_cast<jstring>(NewHelperObject(*vm_, "fakejni::NewJString", o));
}

jstring FakeJvm::NewJStringUtf8(std::string_view utf8) { return NewJString(FromUtf8(utf8)); }

jbyteArray FakeJvm::NewJByteArray(const std::vector<std::uint8_t>& bytes) {
  std::lock_guard<std::mutex> lock(vm_->mu);
  detail::Obj* o = vm_->NewObj(Kind::kByteArray, vm_->FindClassInfo("[B"));
  o->bytes.assign(bytes.begin(), bytes.end());
  return static_cast<jbyteArray>(NewHelperObject(*vm_, "fakejni::NewJByteArray", o));
}

namespace {

// An object from a ref for the inspection helpers: any thread, no local-owner check.
detail::Obj* Inspect(detail::Vm& vm, const char* function, jobject ref, detail::Kind kind,
                     bool any_kind = false) {
  detail::Obj* o = nullptr;
  if (!vm.Resolve(function, nullptr, ref, o) || o == nullptr) {
    if (ref == nullptr) vm.Error(function, "null reference", nullptr);
    return nullptr;
  }
  if (!any_kind && o->kind != kind) {
    vm.Error(function, "object of class " + o->cls->name + " has the wrong type", nullptr);
    return nullptr;
  }
  return o;
}

}  // namespace

std::vector<std::uint8_t> FakeJvm::Bytes(jbyteArray array) {
  std::lock_guard<std::mutex> lock(vm_->mu);
  detail::Obj* o = Inspect(*vm_, "fakejni::Bytes", array, Kind::kByteArray);
  if (o == nullptr) return {};
  return std::vector<std::uint8_t>(o->bytes.begin(), o->bytes.end());
}

std::u16string FakeJvm::StringU16(jstring text) {
  std::lock_guard<std::mutex> lock(vm_->mu);
  detail::Obj* o = Inspect(*vm_, "fakejni::StringU16", text, Kind::kString);
  return o == nullptr ? std::u16string() : o->chars;
}

std::string FakeJvm::StringUtf8(jstring text) { return ToUtf8(StringU16(text)); }

std::string FakeJvm::ClassNameOf(jobject object) {
  std::lock_guard<std::mutex> lock(vm_->mu);
  detail::Obj* o = nullptr;
  if (!vm_->Resolve("fakejni::ClassNameOf", nullptr, object, o) || o == nullptr) return "";
  return o->cls->name;
}

std::string FakeJvm::MessageOf(jobject throwable) {
  std::lock_guard<std::mutex> lock(vm_->mu);
  detail::Obj* o = Inspect(*vm_, "fakejni::MessageOf", throwable, Kind::kInstance);
  return o == nullptr ? "" : o->message;
}

void FakeJvm::ThrowJava(JNIEnv* env, const std::string& class_name, const std::string& message) {
  detail::EnvCell* cell = detail::CellOf(env);
  detail::Vm& vm = *cell->vm;
  std::lock_guard<std::mutex> lock(vm.mu);
  if (cell->state == nullptr) {
    vm.Error("fakejni::ThrowJava", "JNIEnv of a detached thread", nullptr);
    return;
  }
  vm.Throw(*cell->state, class_name, message);
}

std::string FakeJvm::PendingExceptionClass() {
  std::lock_guard<std::mutex> lock(vm_->mu);
  ThreadState* ts = vm_->Current();
  return ts == nullptr || ts->pending == nullptr ? "" : ts->pending->cls->name;
}

std::string FakeJvm::PendingExceptionMessage() {
  std::lock_guard<std::mutex> lock(vm_->mu);
  ThreadState* ts = vm_->Current();
  return ts == nullptr || ts->pending == nullptr ? "" : ts->pending->message;
}

void FakeJvm::ClearPendingException() {
  std::lock_guard<std::mutex> lock(vm_->mu);
  ThreadState* ts = vm_->Current();
  if (ts == nullptr || ts->pending == nullptr) return;
  vm_->Unref(ts->pending);
  ts->pending = nullptr;
  ts->check_from = nullptr;
}

void FakeJvm::FailNth(Fn fn, int n, jint code) {
  std::lock_guard<std::mutex> lock(vm_->mu);
  if (n < 1) throw std::invalid_argument("fakejni: FailNth needs n >= 1");
  detail::FaultState& f = vm_->faults[static_cast<std::size_t>(fn)];
  f.at.emplace_back(f.seen + static_cast<std::uint64_t>(n), code);
}

void FakeJvm::FailAlways(Fn fn, jint code) {
  std::lock_guard<std::mutex> lock(vm_->mu);
  detail::FaultState& f = vm_->faults[static_cast<std::size_t>(fn)];
  f.always = true;
  f.always_code = code;
}

void FakeJvm::ClearFaults() {
  std::lock_guard<std::mutex> lock(vm_->mu);
  for (detail::FaultState& f : vm_->faults) {
    f.at.clear();
    f.always = false;
  }
}

std::size_t FakeJvm::LocalRefCount() {
  std::lock_guard<std::mutex> lock(vm_->mu);
  ThreadState* ts = vm_->Current();
  return ts == nullptr ? 0 : ts->live_locals;
}

std::size_t FakeJvm::PeakLocalRefCount() {
  std::lock_guard<std::mutex> lock(vm_->mu);
  ThreadState* ts = vm_->Current();
  return ts == nullptr ? 0 : ts->peak_locals;
}

std::size_t FakeJvm::MaxPeakLocalRefs() {
  std::lock_guard<std::mutex> lock(vm_->mu);
  return vm_->max_peak;
}

std::uint64_t FakeJvm::LocalRefsFreedAtDetach() {
  std::lock_guard<std::mutex> lock(vm_->mu);
  return vm_->locals_freed_at_detach;
}

std::size_t FakeJvm::GlobalRefCount() {
  std::lock_guard<std::mutex> lock(vm_->mu);
  return vm_->globals;
}

std::size_t FakeJvm::LiveObjectCount() {
  std::lock_guard<std::mutex> lock(vm_->mu);
  return vm_->objects.size();
}

std::size_t FakeJvm::OutstandingBuffers() {
  std::lock_guard<std::mutex> lock(vm_->mu);
  return vm_->pins.size();
}

std::uint64_t FakeJvm::AttachCount() {
  std::lock_guard<std::mutex> lock(vm_->mu);
  return vm_->attaches;
}

std::vector<std::string> FakeJvm::AttachNames() {
  std::lock_guard<std::mutex> lock(vm_->mu);
  return vm_->attach_names;
}

std::uint64_t FakeJvm::DaemonAttachCount() {
  std::lock_guard<std::mutex> lock(vm_->mu);
  return vm_->daemon_attaches;
}

std::uint64_t FakeJvm::DetachCount() {
  std::lock_guard<std::mutex> lock(vm_->mu);
  return vm_->detaches;
}

std::size_t FakeJvm::AttachedThreadCount() {
  std::lock_guard<std::mutex> lock(vm_->mu);
  std::size_t n = 0;
  for (const auto& entry : vm_->threads) {
    if (!entry.second->java_thread) ++n;
  }
  return n;
}

std::uint64_t FakeJvm::LeakedThreadCount() {
  std::lock_guard<std::mutex> lock(vm_->mu);
  return vm_->leaks;
}

std::uint64_t FakeJvm::CallCount(std::string_view function) {
  std::lock_guard<std::mutex> lock(vm_->mu);
  for (const detail::SlotName& n : detail::kNativeNames) {
    if (function == n.name) return vm_->native_calls[n.slot];
  }
  for (const detail::SlotName& n : detail::kInvokeNames) {
    if (function == n.name) return vm_->invoke_calls[n.slot];
  }
  return 0;
}

void FakeJvm::ResetCallCounts() {
  std::lock_guard<std::mutex> lock(vm_->mu);
  vm_->native_calls = {};
  vm_->invoke_calls = {};
}

std::vector<std::string> FakeJvm::Errors() {
  std::lock_guard<std::mutex> lock(vm_->mu);
  return vm_->errors;
}

std::vector<std::string> FakeJvm::TakeErrors() {
  std::lock_guard<std::mutex> lock(vm_->mu);
  std::vector<std::string> out = std::move(vm_->errors);
  vm_->errors.clear();
  vm_->error_total = 0;
  return out;
}

::testing::AssertionResult FakeJvm::NoErrors() {
  std::lock_guard<std::mutex> lock(vm_->mu);
  if (vm_->error_total == 0) return ::testing::AssertionSuccess();
  ::testing::AssertionResult result = ::testing::AssertionFailure();
  result << vm_->error_total << " JNI error(s) recorded by the fake VM:";
  for (const std::string& e : vm_->errors) result << "\n  " << e;
  if (vm_->error_total > vm_->errors.size()) result << "\n  ...";
  return result;
}

bool InsideJvm() { return detail::t_insideJvm > 0; }

void FakeJniTest::SetUp() {
  jvm().Reset();
  env_ = jvm().AttachAsJavaThread();
}

void FakeJniTest::TearDown() {
  EXPECT_EQ(jvm().PendingExceptionClass(), "") << "a Java exception is left pending";
  jvm().ClearPendingException();
  EXPECT_TRUE(jvm().NoErrors());
  jvm().DetachJavaThread();
}

}  // namespace vx::fakejni

#if defined(__MINGW32__)
// Runs for every thread of the executable on DLL_THREAD_DETACH (the CRT's TLS directory
// collects the .CRT$XL* entries).
extern "C" __attribute__((section(".CRT$XLB"), used))
const PIMAGE_TLS_CALLBACK vx_fakejni_watch_at_thread_detach =
    &vx::fakejni::detail::WatchAtThreadDetach;
#endif
