#pragma once

// The part of the JNI invocation interface and the JNI function table that the launchers
// call, binary-compatible with what every JVM library exports. Only the slots in use carry
// names; the others are padding, and every named slot's position is checked below, since a
// slot one off calls a different JNI function without any complaint.

#include <cstddef>
#include <cstdint>

#if defined(_WIN32) && !defined(_WIN64)
#define JNICALL __stdcall
#else
#define JNICALL
#endif

#if defined(_WIN32)
typedef long jint; // 32 bits on Windows, where long is always 32 bits
#else
typedef int32_t jint;
#endif
typedef int64_t jlong;
typedef unsigned char jboolean;
typedef unsigned short jchar;
typedef jint jsize;

struct JniObject;
typedef JniObject* jobject;
typedef jobject jclass;
typedef jobject jstring;
typedef jobject jthrowable;
typedef jobject jarray;
typedef jarray jobjectArray;
struct JniMethod;
typedef JniMethod* jmethodID;

constexpr jint JNI_OK = 0;
constexpr jint JNI_ERR = -1;
constexpr jint JNI_VERSION_1_2 = 0x00010002;
constexpr jboolean JNI_FALSE = 0;
constexpr jboolean JNI_TRUE = 1;

struct JNINativeInterface;
struct JNIInvokeInterface;

struct JNIEnv {
    const JNINativeInterface* functions;
};
struct JavaVM {
    const JNIInvokeInterface* functions;
};

struct JavaVMOption {
    char* optionString;
    void* extraInfo;
};

struct JavaVMInitArgs {
    jint version;
    jint nOptions;
    JavaVMOption* options;
    jboolean ignoreUnrecognized;
};

// Slot numbers of the JNI function table, counted from its first reserved entry.
namespace jni_slot {
constexpr size_t kFindClass = 6;
constexpr size_t kExceptionOccurred = 15;
constexpr size_t kExceptionDescribe = 16;
constexpr size_t kExceptionClear = 17;
constexpr size_t kDeleteLocalRef = 23;
constexpr size_t kNewObject = 28;
constexpr size_t kGetMethodID = 33;
constexpr size_t kCallObjectMethod = 34;
constexpr size_t kCallVoidMethod = 61;
constexpr size_t kGetStaticMethodID = 113;
constexpr size_t kCallStaticObjectMethod = 114;
constexpr size_t kCallStaticBooleanMethod = 117;
constexpr size_t kCallStaticIntMethod = 129;
constexpr size_t kCallStaticVoidMethod = 141;
constexpr size_t kNewString = 163;
constexpr size_t kGetStringLength = 164;
constexpr size_t kGetStringChars = 165;
constexpr size_t kReleaseStringChars = 166;
constexpr size_t kNewObjectArray = 172;
constexpr size_t kSetObjectArrayElement = 174;
constexpr size_t kExceptionCheck = 228;
// Slots of a Java 8 table; later releases only append.
constexpr size_t kCount = 233;

constexpr size_t kDestroyJavaVM = 3;
constexpr size_t kAttachCurrentThread = 4;
constexpr size_t kDetachCurrentThread = 5;
constexpr size_t kGetEnv = 6;
constexpr size_t kAttachCurrentThreadAsDaemon = 7;
constexpr size_t kInvokeCount = 8;
} // namespace jni_slot

struct JNINativeInterface {
    void* unused0[jni_slot::kFindClass];
    jclass(JNICALL* FindClass)(JNIEnv*, const char* name);
    void* unused7[jni_slot::kExceptionOccurred - jni_slot::kFindClass - 1];
    jthrowable(JNICALL* ExceptionOccurred)(JNIEnv*);
    void(JNICALL* ExceptionDescribe)(JNIEnv*);
    void(JNICALL* ExceptionClear)(JNIEnv*);
    void* unused18[jni_slot::kDeleteLocalRef - jni_slot::kExceptionClear - 1];
    void(JNICALL* DeleteLocalRef)(JNIEnv*, jobject);
    void* unused24[jni_slot::kNewObject - jni_slot::kDeleteLocalRef - 1];
    jobject(JNICALL* NewObject)(JNIEnv*, jclass, jmethodID constructor, ...);
    void* unused29[jni_slot::kGetMethodID - jni_slot::kNewObject - 1];
    jmethodID(JNICALL* GetMethodID)(JNIEnv*, jclass, const char* name, const char* signature);
    jobject(JNICALL* CallObjectMethod)(JNIEnv*, jobject, jmethodID, ...);
    void* unused35[jni_slot::kCallVoidMethod - jni_slot::kCallObjectMethod - 1];
    void(JNICALL* CallVoidMethod)(JNIEnv*, jobject, jmethodID, ...);
    void* unused62[jni_slot::kGetStaticMethodID - jni_slot::kCallVoidMethod - 1];
    jmethodID(JNICALL* GetStaticMethodID)(JNIEnv*, jclass, const char* name,
                                          const char* signature);
    jobject(JNICALL* CallStaticObjectMethod)(JNIEnv*, jclass, jmethodID, ...);
    void* unused115[jni_slot::kCallStaticBooleanMethod - jni_slot::kCallStaticObjectMethod - 1];
    jboolean(JNICALL* CallStaticBooleanMethod)(JNIEnv*, jclass, jmethodID, ...);
    void* unused118[jni_slot::kCallStaticIntMethod - jni_slot::kCallStaticBooleanMethod - 1];
    jint(JNICALL* CallStaticIntMethod)(JNIEnv*, jclass, jmethodID, ...);
    void* unused130[jni_slot::kCallStaticVoidMethod - jni_slot::kCallStaticIntMethod - 1];
    void(JNICALL* CallStaticVoidMethod)(JNIEnv*, jclass, jmethodID, ...);
    void* unused142[jni_slot::kNewString - jni_slot::kCallStaticVoidMethod - 1];
    jstring(JNICALL* NewString)(JNIEnv*, const jchar* text, jsize length);
    jsize(JNICALL* GetStringLength)(JNIEnv*, jstring);
    const jchar*(JNICALL* GetStringChars)(JNIEnv*, jstring, jboolean* isCopy);
    void(JNICALL* ReleaseStringChars)(JNIEnv*, jstring, const jchar* chars);
    void* unused167[jni_slot::kNewObjectArray - jni_slot::kReleaseStringChars - 1];
    jobjectArray(JNICALL* NewObjectArray)(JNIEnv*, jsize length, jclass elementClass,
                                          jobject initialElement);
    void* unused173[jni_slot::kSetObjectArrayElement - jni_slot::kNewObjectArray - 1];
    void(JNICALL* SetObjectArrayElement)(JNIEnv*, jobjectArray, jsize index, jobject value);
    void* unused175[jni_slot::kExceptionCheck - jni_slot::kSetObjectArrayElement - 1];
    jboolean(JNICALL* ExceptionCheck)(JNIEnv*);
    void* unused229[jni_slot::kCount - jni_slot::kExceptionCheck - 1];
};

struct JNIInvokeInterface {
    void* unused0[jni_slot::kDestroyJavaVM];
    jint(JNICALL* DestroyJavaVM)(JavaVM*);
    jint(JNICALL* AttachCurrentThread)(JavaVM*, void** env, void* args);
    jint(JNICALL* DetachCurrentThread)(JavaVM*);
    jint(JNICALL* GetEnv)(JavaVM*, void** env, jint version);
    // A daemon thread does not keep DestroyJavaVM waiting.
    jint(JNICALL* AttachCurrentThreadAsDaemon)(JavaVM*, void** env, void* args);
};

#define JNI_SLOT_AT(table, member, slot)                                                       \
    static_assert(offsetof(table, member) == jni_slot::slot * sizeof(void*),                  \
                  #member " is not in its slot")
JNI_SLOT_AT(JNINativeInterface, FindClass, kFindClass);
JNI_SLOT_AT(JNINativeInterface, ExceptionOccurred, kExceptionOccurred);
JNI_SLOT_AT(JNINativeInterface, ExceptionDescribe, kExceptionDescribe);
JNI_SLOT_AT(JNINativeInterface, ExceptionClear, kExceptionClear);
JNI_SLOT_AT(JNINativeInterface, DeleteLocalRef, kDeleteLocalRef);
JNI_SLOT_AT(JNINativeInterface, NewObject, kNewObject);
JNI_SLOT_AT(JNINativeInterface, GetMethodID, kGetMethodID);
JNI_SLOT_AT(JNINativeInterface, CallObjectMethod, kCallObjectMethod);
JNI_SLOT_AT(JNINativeInterface, CallVoidMethod, kCallVoidMethod);
JNI_SLOT_AT(JNINativeInterface, GetStaticMethodID, kGetStaticMethodID);
JNI_SLOT_AT(JNINativeInterface, CallStaticObjectMethod, kCallStaticObjectMethod);
JNI_SLOT_AT(JNINativeInterface, CallStaticBooleanMethod, kCallStaticBooleanMethod);
JNI_SLOT_AT(JNINativeInterface, CallStaticIntMethod, kCallStaticIntMethod);
JNI_SLOT_AT(JNINativeInterface, CallStaticVoidMethod, kCallStaticVoidMethod);
JNI_SLOT_AT(JNINativeInterface, NewString, kNewString);
JNI_SLOT_AT(JNINativeInterface, GetStringLength, kGetStringLength);
JNI_SLOT_AT(JNINativeInterface, GetStringChars, kGetStringChars);
JNI_SLOT_AT(JNINativeInterface, ReleaseStringChars, kReleaseStringChars);
JNI_SLOT_AT(JNINativeInterface, NewObjectArray, kNewObjectArray);
JNI_SLOT_AT(JNINativeInterface, SetObjectArrayElement, kSetObjectArrayElement);
JNI_SLOT_AT(JNINativeInterface, ExceptionCheck, kExceptionCheck);
JNI_SLOT_AT(JNIInvokeInterface, DestroyJavaVM, kDestroyJavaVM);
JNI_SLOT_AT(JNIInvokeInterface, AttachCurrentThread, kAttachCurrentThread);
JNI_SLOT_AT(JNIInvokeInterface, DetachCurrentThread, kDetachCurrentThread);
JNI_SLOT_AT(JNIInvokeInterface, GetEnv, kGetEnv);
JNI_SLOT_AT(JNIInvokeInterface, AttachCurrentThreadAsDaemon, kAttachCurrentThreadAsDaemon);
static_assert(sizeof(JNINativeInterface) == jni_slot::kCount * sizeof(void*));
static_assert(sizeof(JNIInvokeInterface) == jni_slot::kInvokeCount * sizeof(void*));
#undef JNI_SLOT_AT
