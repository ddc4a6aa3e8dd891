/*
 * Machine-dependent JNI types and linkage for Windows x64, for building the bridge with a
 * cross compiler whose JDK carries only its own platform's jni_md.h. Same ABI as the
 * Windows JDK: jint is a 32-bit long, jlong a 64-bit integer, jbyte a signed char.
 */
#ifndef VX_JNI_MD_WIN32_H
#define VX_JNI_MD_WIN32_H

#ifndef JNIEXPORT
#define JNIEXPORT __declspec(dllexport)
#endif
#define JNIIMPORT __declspec(dllimport)
#define JNICALL __stdcall

typedef long jint;
#if defined(_MSC_VER)
typedef __int64 jlong;
#else
typedef long long jlong;
#endif
typedef signed char jbyte;

#endif /* VX_JNI_MD_WIN32_H */
