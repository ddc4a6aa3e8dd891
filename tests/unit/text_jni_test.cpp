// The JNI side of text conversion: Java strings in, byte arrays and strings out, and the
// base JNI helpers (the int method call, local references, the attach guard), against the
// fake VM.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "base/alloc.h"
#include "base/boundary.h"
#include "base/jni_util.h"
#include "ctype_locale.h"
#include "fakejni/fakejni.h"
#include "text/text.h"

namespace vx {
namespace {

using fakejni::Fn;
using testlocale::kGbk;
using testlocale::kUtf8;
using Bytes = std::vector<std::uint8_t>;

struct AllocationFaultsOff {
  ~AllocationFaultsOff() {
    testing::FailAllocationAfter(0);
    testing::FailAllAllocations(false);
  }
};

// What U+0000 becomes in a UTF-8 code page.
const std::string kTwoReplacements = "\xEF\xBF\xBD\xEF\xBF\xBD";

Bytes BytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

// Helpers that read a result and drop its local reference, so no test outgrows the 16
// local references a native method may hold.
class TextJniTest : public fakejni::FakeJniTest {
 protected:
  std::string Native(std::u16string_view text) {
    LocalRef<jstring> string(env(), jvm().NewJString(text));
    return JStringToNative(env(), string.get());
  }
  Bytes Take(jbyteArray array) {
    LocalRef<jbyteArray> ref(env(), array);
    return jvm().Bytes(array);
  }
  std::u16string Take(jstring text) {
    LocalRef<jstring> ref(env(), text);
    return jvm().StringU16(text);
  }
};

// ---- JStringToNative -----------------------------------------------------------------

TEST_F(TextJniTest, ReadsUtf16NotModifiedUtf8) {
  VX_USE_LOCALE(kUtf8);
  // A supplementary character arrives as real UTF-8, not as two encoded surrogates.
  EXPECT_EQ(Native(u"\U0001F600"), "\xF0\x9F\x98\x80");
  EXPECT_EQ(Native(u"x\u00E9\u4E2D\U0001F600y"), "x\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80y");
  // U+0000 does not end the native string: it becomes two U+FFFD, as its modified UTF-8
  // form C0 80 would, and the rest follows.
  EXPECT_EQ(Native(std::u16string(u"ab\0cd", 5)), "ab" + kTwoReplacements + "cd");
  EXPECT_EQ(Native(std::u16string(u"\0cd", 3)), kTwoReplacements + "cd");
  EXPECT_EQ(Native(std::u16string(u"\0", 1)), kTwoReplacements);
  EXPECT_EQ(Native(std::u16string(u"\u4E2D\0\0", 3)),
            "\xE4\xB8\xAD" + kTwoReplacements + kTwoReplacements);
  // A lone surrogate is no character: U+FFFD.
  EXPECT_EQ(Native(std::u16string{u'a', 0xD800, u'z'}), "a\xEF\xBF\xBDz");
  EXPECT_EQ(Native(u""), "");
  EXPECT_EQ(jvm().CallCount("GetStringUTFChars"), 0u);
  EXPECT_EQ(jvm().OutstandingBuffers(), 0u);
}

TEST_F(TextJniTest, ConvertsToTheAnsiCodePage) {
  VX_USE_LOCALE(kGbk);
  EXPECT_EQ(Native(u"\u4E2D\u6587"), "\xD6\xD0\xCE\xC4");
  EXPECT_EQ(Native(u"600000.SH,\u4E2D"), "600000.SH,\xD6\xD0");
  // A default character for each (kUnmappedNonBmp for the emoji).
  EXPECT_EQ(Native(u"a\U0001F600b\u0E10c"), "a" + std::string(testlocale::kUnmappedNonBmp) + "b?c");
  // U+0000 as two U+FFFD, which GBK lacks.
  EXPECT_EQ(Native(std::u16string(u"a\0b", 3)), "a??b");
  EXPECT_EQ(Native(std::u16string(u"\u4E2D\0", 2)), "\xD6\xD0??");
}

// Windows would "best fit" these into 1252 as '"', '8' and 'c' (a quote that closes a JSON
// string, a name of another file): each must become the default character instead, on the
// short road, on the long one (beyond one fetch) and through Utf8ToAnsi.
TEST_F(TextJniTest, CharactersOutsideTheCodePageGetNoLookAlike) {
  using testlocale::kCp1252;
  VX_USE_LOCALE(kCp1252);
  EXPECT_EQ(Native(u"\uFF02"), "?");
  EXPECT_EQ(Native(u"\u221E"), "?");
  EXPECT_EQ(Native(u"\u010B"), "?");
  EXPECT_EQ(Native(u"{\"code\":\"a\uFF02,\uFF02volume\uFF02:9\"}"), "{\"code\":\"a?,?volume?:9\"}");
  const std::u16string longText = std::u16string(3000, u'x') + u"\uFF02\u221E\u010B\u00E9";
  EXPECT_EQ(Native(longText), std::string(3000, 'x') + "???\xE9");
  std::string ansi;
  ASSERT_TRUE(Utf8ToAnsi("\xEF\xBC\x82\xE2\x88\x9E\xC4\x8B\xC3\xA9", ansi));
  EXPECT_EQ(ansi, "???\xE9");
}

TEST_F(TextJniTest, NullStringOrEnvGivesEmpty) {
  EXPECT_EQ(JStringToNative(env(), nullptr), "");
  EXPECT_EQ(JStringToNative(nullptr, jvm().NewJString(u"abc")), "");
  EXPECT_EQ(jvm().PendingExceptionClass(), "");
}

TEST_F(TextJniTest, FetchFailureGivesEmptyAndClearsTheException) {
  VX_USE_LOCALE(kGbk);
  jstring text = jvm().NewJString(u"\u4E2D\u6587");
  jvm().FailNth(Fn::GetStringRegion);
  EXPECT_EQ(JStringToNative(env(), text), "");
  EXPECT_EQ(jvm().PendingExceptionClass(), "");
  // The next call is unaffected.
  EXPECT_EQ(JStringToNative(env(), text), "\xD6\xD0\xCE\xC4");
}

// Longer strings are read in pieces; none of the pieces may split a character or lose one.
TEST_F(TextJniTest, LongStringsConvertWhole) {
  VX_USE_LOCALE(kUtf8);
  std::u16string text;
  std::string expected;
  for (int i = 0; i < 3000; ++i) {
    // Pairs land on every offset, chunk boundaries included.
    if (i % 7 == 3) {
      text += u"\U0001F600";
      expected += "\xF0\x9F\x98\x80";
    } else if (i % 5 == 0) {
      text += u"\u4E2D";
      expected += "\xE4\xB8\xAD";
    } else {
      text += static_cast<char16_t>(u'a' + i % 26);
      expected += static_cast<char>('a' + i % 26);
    }
  }
  EXPECT_EQ(Native(text), expected);

  // A pair exactly across every position near a power-of-two boundary.
  for (std::size_t at = 500; at < 530; ++at) {
    std::u16string around(at, u'x');
    around += u"\U0001F600";
    around += std::u16string(40, u'y');
    const std::string want = std::string(at, 'x') + "\xF0\x9F\x98\x80" + std::string(40, 'y');
    EXPECT_EQ(Native(around), want) << "pair at " << at;
  }

  // U+0000 far into a long string, in the first and a later fetch, at a fetch's end.
  std::u16string withNul(5000, u'z');
  for (std::size_t at : {1500u, 2047u, 4000u}) withNul[at] = u'\0';
  std::string wantNul(5000, 'z');
  for (std::size_t at : {4000u, 2047u, 1500u}) wantNul.replace(at, 1, kTwoReplacements);
  EXPECT_EQ(Native(withNul), wantNul);
  withNul[3000] = u'\u00E9';
  wantNul.replace(3000 + 2 * 5, 1, "\xC3\xA9");
  EXPECT_EQ(Native(withNul), wantNul);
}

// Around the length where strings stop being fetched in one step: U+0000 and characters
// beyond ASCII at either end, in short and long strings alike.
TEST_F(TextJniTest, LengthsAroundTheOneFetchLimit) {
  VX_USE_LOCALE(kUtf8);
  for (std::size_t length = 120; length <= 136; ++length) {
    std::u16string ascii(length, u'k');
    EXPECT_EQ(Native(ascii), std::string(length, 'k')) << length;

    std::u16string accented = ascii;
    accented.back() = u'\u00E9';
    EXPECT_EQ(Native(accented), std::string(length - 1, 'k') + "\xC3\xA9") << length;

    std::u16string nul = accented;
    nul[length / 2] = u'\0';
    EXPECT_EQ(Native(nul), std::string(length / 2, 'k') + kTwoReplacements +
                               std::string(length - length / 2 - 2, 'k') + "\xC3\xA9")
        << length;
    nul = ascii;
    nul[length - 1] = u'\0';
    EXPECT_EQ(Native(nul), std::string(length - 1, 'k') + kTwoReplacements) << length;

    std::u16string pairAtEnd(length - 2, u'k');
    pairAtEnd += u"\U0001F600";
    EXPECT_EQ(Native(pairAtEnd), std::string(length - 2, 'k') + "\xF0\x9F\x98\x80") << length;
  }
  EXPECT_EQ(Native(std::u16string(u"\u00E9x\0y", 4)), "\xC3\xA9x" + kTwoReplacements + "y");
  // Units whose low byte is 0 or ASCII are no U+0000 and no ASCII, wherever they stand.
  for (std::size_t at : {0u, 5u, 17u, 35u, 39u}) {
    for (char16_t unit : {u'\u0100', u'\u0141', u'\u0080'}) {
      std::u16string text(40, u'k');
      text[at] = unit;
      std::string want(40, 'k');
      want.replace(at, 1,
                   unit == u'\u0100'   ? "\xC4\x80"
                   : unit == u'\u0141' ? "\xC5\x81"
                                       : "\xC2\x80");
      EXPECT_EQ(Native(text), want) << at << " " << static_cast<int>(unit);
    }
  }
}

TEST_F(TextJniTest, LongStringInGbk) {
  VX_USE_LOCALE(kGbk);
  std::u16string text;
  std::string expected;
  for (int i = 0; i < 1500; ++i) {
    text += u"\u4E2D\u6587";
    expected += "\xD6\xD0\xCE\xC4";
  }
  EXPECT_EQ(Native(text), expected);
}

TEST_F(TextJniTest, FetchFailureLaterInALongStringGivesEmpty) {
  jstring text = jvm().NewJString(std::u16string(3000, u'q'));
  jvm().FailNth(Fn::GetStringRegion, 2);
  EXPECT_EQ(JStringToNative(env(), text), "");
  EXPECT_EQ(jvm().PendingExceptionClass(), "");
}

TEST_F(TextJniTest, JStringToNativeNeedsNoBridgeAllocation) {
  VX_USE_LOCALE(kGbk);
  AllocationFaultsOff disarm;
  testing::FailAllAllocations(true);
  EXPECT_EQ(Native(u"\u4E2D\u6587"), "\xD6\xD0\xCE\xC4");
  EXPECT_EQ(Native(std::u16string(2000, u'\u6587')).size(), 4000u);
}

// ---- NewJavaByteArray ----------------------------------------------------------------

TEST_F(TextJniTest, NewJavaByteArrayCopiesTheBytes) {
  const std::uint8_t data[] = {0x00, 0x7F, 0x80, 0xFF, 0x10};
  const std::size_t locals = jvm().LocalRefCount();
  jbyteArray array = NewJavaByteArray(env(), data, 5);
  ASSERT_NE(array, nullptr);
  EXPECT_EQ(jvm().Bytes(array), Bytes(data, data + 5));
  EXPECT_EQ(jvm().LocalRefCount(), locals + 1);
  EXPECT_EQ(Take(NewJavaByteArray(env(), data, 1)), Bytes{0x00});
  env()->DeleteLocalRef(array);
}

TEST_F(TextJniTest, NewJavaByteArrayRefusesWhatCannotBeAnArray) {
  const char data[] = "abc";
  jvm().ResetCallCounts();
  EXPECT_EQ(NewJavaByteArray(env(), data, 0), nullptr);
  EXPECT_EQ(NewJavaByteArray(env(), data, -1), nullptr);
  EXPECT_EQ(NewJavaByteArray(env(), nullptr, 3), nullptr);
  EXPECT_EQ(NewJavaByteArray(nullptr, data, 3), nullptr);
  EXPECT_EQ(jvm().CallCount("NewByteArray"), 0u);  // no zero-length array either
}

TEST_F(TextJniTest, NewJavaByteArrayFailureLeavesTheExceptionPending) {
  jvm().FailNth(Fn::NewByteArray);
  EXPECT_EQ(NewJavaByteArray(env(), "abc", 3), nullptr);
  EXPECT_EQ(jvm().PendingExceptionClass(), "java/lang/OutOfMemoryError");
  EXPECT_EQ(jvm().CallCount("SetByteArrayRegion"), 0u);
  jvm().ClearPendingException();
}

// ---- StringToUtf8ByteArray -----------------------------------------------------------

TEST_F(TextJniTest, StringToUtf8ByteArray) {
  VX_USE_LOCALE(kGbk);
  EXPECT_EQ(Take(StringToUtf8ByteArray(env(), "\xD6\xD0\xCE\xC4")),
            BytesOf("\xE4\xB8\xAD\xE6\x96\x87"));
  EXPECT_EQ(Take(StringToUtf8ByteArray(env(), "plain")), BytesOf("plain"));
  // No terminator, and the text ends at an embedded NUL.
  EXPECT_EQ(Take(StringToUtf8ByteArray(env(), std::string("a\xD6\xD0\0b", 5))),
            BytesOf("a\xE4\xB8\xAD"));
  jvm().ResetCallCounts();
  EXPECT_EQ(StringToUtf8ByteArray(env(), ""), nullptr);
  EXPECT_EQ(StringToUtf8ByteArray(env(), std::string("\0abc", 4)), nullptr);
  EXPECT_EQ(StringToUtf8ByteArray(nullptr, "abc"), nullptr);
  EXPECT_EQ(jvm().CallCount("NewByteArray"), 0u);
}

TEST_F(TextJniTest, StringToUtf8ByteArraySendsAnsiBytesWithoutMemory) {
  VX_USE_LOCALE(kGbk);
  AllocationFaultsOff disarm;
  // Long enough to go through the two scratch buffers, which can fail.
  std::string text = "a";
  while (text.size() <= kStackTextBytes) text += "\xD6\xD0";
  for (std::uint64_t failing = 1; failing <= 2; ++failing) {
    testing::FailAllocationAfter(failing);
    EXPECT_EQ(Take(StringToUtf8ByteArray(env(), text)), BytesOf(text))
        << "allocation " << failing << " failing";
  }
}

// ---- NativeToJString -----------------------------------------------------------------

TEST_F(TextJniTest, NativeToJStringWithoutText) {
  jstring empty = NativeToJString(env(), nullptr);
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(Take(empty), u"");
  EXPECT_EQ(Take(NativeToJString(env(), "")), u"");
  EXPECT_EQ(NativeToJString(nullptr, "abc"), nullptr);
}

TEST_F(TextJniTest, NativeToJStringInGbk) {
  VX_USE_LOCALE(kGbk);
  EXPECT_EQ(Take(NativeToJString(env(), "\xD6\xD0\xCE\xC4")), u"\u4E2D\u6587");
  // Windows' table for 936 gives 0xFF a private-use character; POSIX follows it.
  EXPECT_EQ(Take(NativeToJString(env(), "err \xD6\xD0 \xFF")), u"err \u4E2D \uF8F5");
  std::string longText(3000, 'k');
  longText += "\xD6\xD0";
  EXPECT_EQ(Take(NativeToJString(env(), longText.c_str())), std::u16string(3000, u'k') + u"\u4E2D");
  EXPECT_EQ(Take(NativeToJString(env(), std::string(600, 'm').c_str())), std::u16string(600, u'm'));
}

TEST_F(TextJniTest, NativeToJStringInUtf8) {
  VX_USE_LOCALE(kUtf8);
  EXPECT_EQ(Take(NativeToJString(env(), "\xF0\x9F\x98\x80")), u"\U0001F600");
}

TEST_F(TextJniTest, NativeToJStringWithoutMemoryWidensTheBytes) {
  VX_USE_LOCALE(kGbk);
  AllocationFaultsOff disarm;
  testing::FailAllAllocations(true);
  EXPECT_EQ(Take(NativeToJString(env(), "a\xD6\xD0")), u"a\u00D6\u00D0");
  EXPECT_EQ(Take(NativeToJString(env(), "ascii only")), u"ascii only");
}

TEST_F(TextJniTest, NativeToJStringFailureLeavesTheExceptionPending) {
  jvm().FailNth(Fn::NewString);
  EXPECT_EQ(NativeToJString(env(), "abc"), nullptr);
  EXPECT_EQ(jvm().PendingExceptionClass(), "java/lang/OutOfMemoryError");
  jvm().ClearPendingException();
}

// ---- CallJavaIntMethod ---------------------------------------------------------------

TEST_F(TextJniTest, CallJavaIntMethodPassesArgumentsAndResult) {
  jvm().DefineClass("com/example/Sink");
  std::vector<std::uint8_t> seenBytes;
  jint seenKind = -1;
  jvm().DefineIntMethod("com/example/Sink", "take", "([BI)I",
                        [&](JNIEnv*, jobject, const std::vector<jvalue>& args) {
                          seenBytes = jvm().Bytes(static_cast<jbyteArray>(args[0].l));
                          seenKind = args[1].i;
                          return 77;
                        });
  jobject sink = jvm().NewInstance("com/example/Sink");
  jclass type = env()->GetObjectClass(sink);
  jmethodID take = env()->GetMethodID(type, "take", "([BI)I");
  ASSERT_NE(take, nullptr);
  jbyteArray array = NewJavaByteArray(env(), "xyz", 3);
  EXPECT_EQ(CallJavaIntMethod(env(), sink, take, array, jint{5}), 77);
  EXPECT_FALSE(env()->ExceptionCheck());
  EXPECT_EQ(seenBytes, BytesOf("xyz"));
  EXPECT_EQ(seenKind, 5);

  // A Java exception: 0 comes back and the exception is left for the caller to handle.
  jvm().DefineIntMethod("com/example/Sink", "take", "([BI)I",
                        [](JNIEnv* env, jobject, const std::vector<jvalue>&) {
                          fakejni::FakeJvm::ThrowJava(env, "java/lang/IllegalStateException");
                          return 1;
                        });
  EXPECT_EQ(CallJavaIntMethod(env(), sink, take, array, jint{6}), 0);
  EXPECT_TRUE(ClearPendingException(env()));
}

// ---- LocalRef ------------------------------------------------------------------------

TEST_F(TextJniTest, LocalRefDeletesWhatItHeldWhenAssignedOverOrReset) {
  const std::size_t before = jvm().LocalRefCount();
  jstring a = jvm().NewJString(u"a");
  jstring b = jvm().NewJString(u"b");
  jstring c = jvm().NewJString(u"c");
  ASSERT_EQ(jvm().LocalRefCount(), before + 3);
  {
    LocalRef<jstring> first(env(), a);
    LocalRef<jstring> second(env(), b);
    first = std::move(second);  // a goes, b moves over
    EXPECT_EQ(jvm().LocalRefCount(), before + 2);
    EXPECT_EQ(first.get(), b);
    EXPECT_FALSE(second);
    LocalRef<jstring>& same = first;
    first = std::move(same);  // onto itself: b stays
    EXPECT_EQ(first.get(), b);
    EXPECT_EQ(jvm().LocalRefCount(), before + 2);

    first.reset(c);  // b goes, c is held
    EXPECT_EQ(first.get(), c);
    EXPECT_EQ(jvm().LocalRefCount(), before + 1);
    first.reset(c);  // the one it holds: kept
    EXPECT_EQ(jvm().LocalRefCount(), before + 1);
    first.reset();
    EXPECT_FALSE(first);
    EXPECT_EQ(jvm().LocalRefCount(), before);
  }
  // Nothing deleted twice (the fake JVM reports that as an error at the test's end).
  EXPECT_EQ(jvm().LocalRefCount(), before);
}

TEST_F(TextJniTest, LocalRefReleaseHandsTheReferenceOver) {
  const std::size_t before = jvm().LocalRefCount();
  jstring kept = nullptr;
  {
    LocalRef<jstring> ref(env(), jvm().NewJString(u"kept"));
    kept = ref.release();
    EXPECT_FALSE(ref);
  }
  ASSERT_EQ(jvm().LocalRefCount(), before + 1);
  EXPECT_EQ(jvm().StringU16(kept), u"kept");
  env()->DeleteLocalRef(kept);
  EXPECT_EQ(jvm().LocalRefCount(), before);
}

// ---- The attach guard and the attach-now, detach-later pair --------------------------

TEST_F(TextJniTest, DaemonAttachGuardDetachesOnlyWhatItAttached) {
  JavaVM* vm = jvm().vm();
  // An unattached thread: attached as a named daemon, detached when the guard ends.
  std::thread([&] {
    ScopedAttach attach(vm, ScopedAttach::Daemon{"vx-test-daemon"});
    ASSERT_NE(attach.env(), nullptr);
    EXPECT_TRUE(attach.attachedHere());
    EXPECT_EQ(jvm().CurrentEnv(), attach.env());
  }).join();
  EXPECT_EQ(jvm().AttachCount(), 1u);
  EXPECT_EQ(jvm().DaemonAttachCount(), 1u);
  EXPECT_EQ(jvm().AttachNames(), std::vector<std::string>{"vx-test-daemon"});
  EXPECT_EQ(jvm().DetachCount(), 1u);

  // The test thread (a Java thread) and a thread another library attached are used as
  // they are, and stay attached.
  {
    ScopedAttach attach(vm, ScopedAttach::Daemon{"unused"});
    EXPECT_EQ(attach.env(), env());
    EXPECT_FALSE(attach.attachedHere());
  }
  std::thread([&] {
    JNIEnv* own = nullptr;
    ASSERT_EQ(vm->AttachCurrentThread(reinterpret_cast<void**>(&own), nullptr), JNI_OK);
    {
      ScopedAttach attach(vm, ScopedAttach::Daemon{});
      EXPECT_EQ(attach.env(), own);
      EXPECT_FALSE(attach.attachedHere());
    }
    EXPECT_EQ(jvm().CurrentEnv(), own);
    vm->DetachCurrentThread();
  }).join();
  EXPECT_EQ(jvm().DaemonAttachCount(), 1u);
  EXPECT_EQ(jvm().CallCount("DetachCurrentThread"), 2u);  // the first guard's, the owner's

  // No attachment: no env, and nothing is detached.
  jvm().FailNth(Fn::AttachCurrentThreadAsDaemon);
  std::thread([&] {
    ScopedAttach attach(vm, ScopedAttach::Daemon{});
    EXPECT_EQ(attach.env(), nullptr);
    EXPECT_FALSE(attach.attachedHere());
  }).join();
  EXPECT_EQ(jvm().CallCount("DetachCurrentThread"), 2u);
  EXPECT_EQ(jvm().AttachedThreadCount(), 0u);
  EXPECT_EQ(jvm().LeakedThreadCount(), 0u);
}

TEST_F(TextJniTest, DaemonAttachedNowIsDetachedLaterOnlyWhileAttached) {
  JavaVM* vm = jvm().vm();
  std::thread([&] {
    JNIEnv* attached = AttachDaemonThread(vm, "vx-test-lasting");
    ASSERT_NE(attached, nullptr);
    EXPECT_EQ(AttachedEnv(vm), attached);
    EXPECT_EQ(jvm().DetachCount(), 0u);
    DetachIfStillAttached(vm, attached);  // as the thread-exit hook does
    EXPECT_EQ(AttachedEnv(vm), nullptr);
    DetachIfStillAttached(vm, attached);  // nothing left to detach
  }).join();
  EXPECT_EQ(jvm().DaemonAttachCount(), 1u);
  EXPECT_EQ(jvm().AttachNames(), std::vector<std::string>{"vx-test-lasting"});
  EXPECT_EQ(jvm().DetachCount(), 1u);
  EXPECT_EQ(jvm().CallCount("DetachCurrentThread"), 1u);

  // Detached from its own path, with an exception pending: cleared first.
  std::thread([&] {
    JNIEnv* attached = AttachDaemonThread(vm, nullptr);
    ASSERT_NE(attached, nullptr);
    fakejni::FakeJvm::ThrowJava(attached, "java/lang/RuntimeException");
    const std::uint64_t clears = jvm().CallCount("ExceptionClear");
    DetachThread(vm, attached);
    EXPECT_EQ(jvm().CallCount("ExceptionClear"), clears + 1);
    EXPECT_EQ(AttachedEnv(vm), nullptr);
  }).join();
  EXPECT_EQ(jvm().AttachNames(), (std::vector<std::string>{"vx-test-lasting", ""}));
  EXPECT_EQ(jvm().DetachCount(), 2u);
  EXPECT_EQ(jvm().LeakedThreadCount(), 0u);
}

}  // namespace
}  // namespace vx
