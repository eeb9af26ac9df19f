#pragma once

// The JNI function table and the invocation interface as the JNI documentation numbers them,
// written out name by name for the stand-in jvm.dll. The launchers lay out their tables in
// launcher/jvm/jni_interface.h; the stand-in fills its tables from this list instead, so a
// slot that is wrong there shows up as a call the stand-in does not expect, and the host
// test jni_slot_table_test.cpp compares both lists directly.

#include <cstddef>
#include <string_view>

namespace jni_spec {

// Index i is slot i of the JNIEnv function table; 229 to 232 came with Java 6, GetModule
// with Java 9 and IsVirtualThread with Java 21.
constexpr std::string_view kNativeSlots[] = {
    /*   0 */ "reserved0", "reserved1", "reserved2", "reserved3",
    /*   4 */ "GetVersion", "DefineClass", "FindClass", "FromReflectedMethod",
    /*   8 */ "FromReflectedField", "ToReflectedMethod", "GetSuperclass", "IsAssignableFrom",
    /*  12 */ "ToReflectedField", "Throw", "ThrowNew", "ExceptionOccurred",
    /*  16 */ "ExceptionDescribe", "ExceptionClear", "FatalError", "PushLocalFrame",
    /*  20 */ "PopLocalFrame", "NewGlobalRef", "DeleteGlobalRef", "DeleteLocalRef",
    /*  24 */ "IsSameObject", "NewLocalRef", "EnsureLocalCapacity", "AllocObject",
    /*  28 */ "NewObject", "NewObjectV", "NewObjectA", "GetObjectClass",
    /*  32 */ "IsInstanceOf", "GetMethodID", "CallObjectMethod", "CallObjectMethodV",
    /*  36 */ "CallObjectMethodA", "CallBooleanMethod", "CallBooleanMethodV", "CallBooleanMethodA",
    /*  40 */ "CallByteMethod", "CallByteMethodV", "CallByteMethodA", "CallCharMethod",
    /*  44 */ "CallCharMethodV", "CallCharMethodA", "CallShortMethod", "CallShortMethodV",
    /*  48 */ "CallShortMethodA", "CallIntMethod", "CallIntMethodV", "CallIntMethodA",
    /*  52 */ "CallLongMethod", "CallLongMethodV", "CallLongMethodA", "CallFloatMethod",
    /*  56 */ "CallFloatMethodV", "CallFloatMethodA", "CallDoubleMethod", "CallDoubleMethodV",
    /*  60 */ "CallDoubleMethodA", "CallVoidMethod", "CallVoidMethodV", "CallVoidMethodA",
    /*  64 */ "CallNonvirtualObjectMethod", "CallNonvirtualObjectMethodV", "CallNonvirtualObjectMethodA", "CallNonvirtualBooleanMethod",
    /*  68 */ "CallNonvirtualBooleanMethodV", "CallNonvirtualBooleanMethodA", "CallNonvirtualByteMethod", "CallNonvirtualByteMethodV",
    /*  72 */ "CallNonvirtualByteMethodA", "CallNonvirtualCharMethod", "CallNonvirtualCharMethodV", "CallNonvirtualCharMethodA",
    /*  76 */ "CallNonvirtualShortMethod", "CallNonvirtualShortMethodV", "CallNonvirtualShortMethodA", "CallNonvirtualIntMethod",
    /*  80 */ "CallNonvirtualIntMethodV", "CallNonvirtualIntMethodA", "CallNonvirtualLongMethod", "CallNonvirtualLongMethodV",
    /*  84 */ "CallNonvirtualLongMethodA", "CallNonvirtualFloatMethod", "CallNonvirtualFloatMethodV", "CallNonvirtualFloatMethodA",
    /*  88 */ "CallNonvirtualDoubleMethod", "CallNonvirtualDoubleMethodV", "CallNonvirtualDoubleMethodA", "CallNonvirtualVoidMethod",
    /*  92 */ "CallNonvirtualVoidMethodV", "CallNonvirtualVoidMethodA", "GetFieldID", "GetObjectField",
    /*  96 */ "GetBooleanField", "GetByteField", "GetCharField", "GetShortField",
    /* 100 */ "GetIntField", "GetLongField", "GetFloatField", "GetDoubleField",
    /* 104 */ "SetObjectField", "SetBooleanField", "SetByteField", "SetCharField",
    /* 108 */ "SetShortField", "SetIntField", "SetLongField", "SetFloatField",
    /* 112 */ "SetDoubleField", "GetStaticMethodID", "CallStaticObjectMethod", "CallStaticObjectMethodV",
    /* 116 */ "CallStaticObjectMethodA", "CallStaticBooleanMethod", "CallStaticBooleanMethodV", "CallStaticBooleanMethodA",
    /* 120 */ "CallStaticByteMethod", "CallStaticByteMethodV", "CallStaticByteMethodA", "CallStaticCharMethod",
    /* 124 */ "CallStaticCharMethodV", "CallStaticCharMethodA", "CallStaticShortMethod", "CallStaticShortMethodV",
    /* 128 */ "CallStaticShortMethodA", "CallStaticIntMethod", "CallStaticIntMethodV", "CallStaticIntMethodA",
    /* 132 */ "CallStaticLongMethod", "CallStaticLongMethodV", "CallStaticLongMethodA", "CallStaticFloatMethod",
    /* 136 */ "CallStaticFloatMethodV", "CallStaticFloatMethodA", "CallStaticDoubleMethod", "CallStaticDoubleMethodV",
    /* 140 */ "CallStaticDoubleMethodA", "CallStaticVoidMethod", "CallStaticVoidMethodV", "CallStaticVoidMethodA",
    /* 144 */ "GetStaticFieldID", "GetStaticObjectField", "GetStaticBooleanField", "GetStaticByteField",
    /* 148 */ "GetStaticCharField", "GetStaticShortField", "GetStaticIntField", "GetStaticLongField",
    /* 152 */ "GetStaticFloatField", "GetStaticDoubleField", "SetStaticObjectField", "SetStaticBooleanField",
    /* 156 */ "SetStaticByteField", "SetStaticCharField", "SetStaticShortField", "SetStaticIntField",
    /* 160 */ "SetStaticLongField", "SetStaticFloatField", "SetStaticDoubleField", "NewString",
    /* 164 */ "GetStringLength", "GetStringChars", "ReleaseStringChars", "NewStringUTF",
    /* 168 */ "GetStringUTFLength", "GetStringUTFChars", "ReleaseStringUTFChars", "GetArrayLength",
    /* 172 */ "NewObjectArray", "GetObjectArrayElement", "SetObjectArrayElement", "NewBooleanArray",
    /* 176 */ "NewByteArray", "NewCharArray", "NewShortArray", "NewIntArray",
    /* 180 */ "NewLongArray", "NewFloatArray", "NewDoubleArray", "GetBooleanArrayElements",
    /* 184 */ "GetByteArrayElements", "GetCharArrayElements", "GetShortArrayElements", "GetIntArrayElements",
    /* 188 */ "GetLongArrayElements", "GetFloatArrayElements", "GetDoubleArrayElements", "ReleaseBooleanArrayElements",
    /* 192 */ "ReleaseByteArrayElements", "ReleaseCharArrayElements", "ReleaseShortArrayElements", "ReleaseIntArrayElements",
    /* 196 */ "ReleaseLongArrayElements", "ReleaseFloatArrayElements", "ReleaseDoubleArrayElements", "GetBooleanArrayRegion",
    /* 200 */ "GetByteArrayRegion", "GetCharArrayRegion", "GetShortArrayRegion", "GetIntArrayRegion",
    /* 204 */ "GetLongArrayRegion", "GetFloatArrayRegion", "GetDoubleArrayRegion", "SetBooleanArrayRegion",
    /* 208 */ "SetByteArrayRegion", "SetCharArrayRegion", "SetShortArrayRegion", "SetIntArrayRegion",
    /* 212 */ "SetLongArrayRegion", "SetFloatArrayRegion", "SetDoubleArrayRegion", "RegisterNatives",
    /* 216 */ "UnregisterNatives", "MonitorEnter", "MonitorExit", "GetJavaVM",
    /* 220 */ "GetStringRegion", "GetStringUTFRegion", "GetPrimitiveArrayCritical", "ReleasePrimitiveArrayCritical",
    /* 224 */ "GetStringCritical", "ReleaseStringCritical", "NewWeakGlobalRef", "DeleteWeakGlobalRef",
    /* 228 */ "ExceptionCheck", "NewDirectByteBuffer", "GetDirectBufferAddress", "GetDirectBufferCapacity",
    /* 232 */ "GetObjectRefType", "GetModule", "IsVirtualThread",
};

constexpr std::string_view kInvokeSlots[] = {
    /*   0 */ "reserved0", "reserved1", "reserved2", "DestroyJavaVM",
    /*   4 */ "AttachCurrentThread", "DetachCurrentThread", "GetEnv", "AttachCurrentThreadAsDaemon",
};

constexpr size_t kNativeSlotCount = sizeof kNativeSlots / sizeof kNativeSlots[0];
constexpr size_t kInvokeSlotCount = sizeof kInvokeSlots / sizeof kInvokeSlots[0];
constexpr size_t kNoSlot = static_cast<size_t>(-1);

template <size_t N>
constexpr size_t slotOf(const std::string_view (&slots)[N], std::string_view name) {
    for (size_t i = 0; i < N; ++i)
        if (slots[i] == name)
            return i;
    return kNoSlot;
}

constexpr size_t nativeSlot(std::string_view name) { return slotOf(kNativeSlots, name); }
constexpr size_t invokeSlot(std::string_view name) { return slotOf(kInvokeSlots, name); }

} // namespace jni_spec
