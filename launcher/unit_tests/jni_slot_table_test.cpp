// The launchers' JNI table layout against the stand-in jvm.dll's own numbering. Both sides
// of every launch test use one of them each, so this is where a slot that is one off shows.

#include <gtest/gtest.h>

#include <cstddef>
#include <string_view>

#include "../../tests/tools/jni_slot_numbers.h"
#include "jvm/jni_interface.h"

namespace {

struct SlotCase {
    std::string_view name;
    size_t launcherSlot;    // the launcher's jni_slot constant
    size_t memberOffset;    // where the launcher's table type puts the member
};

#define NATIVE(member, constant) {#member, jni_slot::constant, offsetof(JNINativeInterface, member)}
#define INVOKE(member, constant) {#member, jni_slot::constant, offsetof(JNIInvokeInterface, member)}

const SlotCase kNativeCases[] = {
    NATIVE(FindClass, kFindClass),
    NATIVE(ExceptionOccurred, kExceptionOccurred),
    NATIVE(ExceptionDescribe, kExceptionDescribe),
    NATIVE(ExceptionClear, kExceptionClear),
    NATIVE(DeleteLocalRef, kDeleteLocalRef),
    NATIVE(NewObject, kNewObject),
    NATIVE(GetMethodID, kGetMethodID),
    NATIVE(CallObjectMethod, kCallObjectMethod),
    NATIVE(CallVoidMethod, kCallVoidMethod),
    NATIVE(GetStaticMethodID, kGetStaticMethodID),
    NATIVE(CallStaticObjectMethod, kCallStaticObjectMethod),
    NATIVE(CallStaticBooleanMethod, kCallStaticBooleanMethod),
    NATIVE(CallStaticIntMethod, kCallStaticIntMethod),
    NATIVE(CallStaticVoidMethod, kCallStaticVoidMethod),
    NATIVE(NewString, kNewString),
    NATIVE(GetStringLength, kGetStringLength),
    NATIVE(GetStringChars, kGetStringChars),
    NATIVE(ReleaseStringChars, kReleaseStringChars),
    NATIVE(NewObjectArray, kNewObjectArray),
    NATIVE(SetObjectArrayElement, kSetObjectArrayElement),
    NATIVE(ExceptionCheck, kExceptionCheck),
};

const SlotCase kInvokeCases[] = {
    INVOKE(DestroyJavaVM, kDestroyJavaVM),
    INVOKE(AttachCurrentThread, kAttachCurrentThread),
    INVOKE(DetachCurrentThread, kDetachCurrentThread),
    INVOKE(GetEnv, kGetEnv),
    INVOKE(AttachCurrentThreadAsDaemon, kAttachCurrentThreadAsDaemon),
};

#undef NATIVE
#undef INVOKE

TEST(JniSlotTable, LauncherFunctionSlotsMatchTheStandInNumbering) {
    for (const SlotCase& c : kNativeCases) {
        SCOPED_TRACE(std::string(c.name));
        size_t own = jni_spec::nativeSlot(c.name);
        ASSERT_NE(own, jni_spec::kNoSlot);
        EXPECT_EQ(c.launcherSlot, own);
        EXPECT_EQ(c.memberOffset, own * sizeof(void*));
    }
}

TEST(JniSlotTable, LauncherInvokeSlotsMatchTheStandInNumbering) {
    for (const SlotCase& c : kInvokeCases) {
        SCOPED_TRACE(std::string(c.name));
        size_t own = jni_spec::invokeSlot(c.name);
        ASSERT_NE(own, jni_spec::kNoSlot);
        EXPECT_EQ(c.launcherSlot, own);
        EXPECT_EQ(c.memberOffset, own * sizeof(void*));
    }
}

// The launchers' tables span a Java 8 table; the stand-in's table must cover it.
TEST(JniSlotTable, TableSizes) {
    EXPECT_EQ(sizeof(JNINativeInterface), jni_slot::kCount * sizeof(void*));
    EXPECT_EQ(jni_slot::kCount, jni_spec::nativeSlot("GetModule"));
    EXPECT_EQ(sizeof(JNIInvokeInterface), jni_slot::kInvokeCount * sizeof(void*));
    EXPECT_EQ(jni_slot::kInvokeCount, jni_spec::kInvokeSlotCount);
}

// Each name once, so a lookup by name cannot land on a duplicate further down.
TEST(JniSlotTable, StandInNamesAreUnique) {
    for (size_t i = 0; i < jni_spec::kNativeSlotCount; ++i)
        EXPECT_EQ(jni_spec::nativeSlot(jni_spec::kNativeSlots[i]), i) << jni_spec::kNativeSlots[i];
    for (size_t i = 0; i < jni_spec::kInvokeSlotCount; ++i)
        EXPECT_EQ(jni_spec::invokeSlot(jni_spec::kInvokeSlots[i]), i) << jni_spec::kInvokeSlots[i];
}

} // namespace
