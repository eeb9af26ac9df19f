// A JVM library for the launch tests: it implements JNI_CreateJavaVM and the JNI functions
// the launchers call, records every call, and fails whichever step a test asks for.
//
// Environment:
//   JNI_STAND_IN_RECORD=PATH   append one JSON object per call to PATH (UTF-8, ASCII JSON)
//   JNI_STAND_IN_FAIL=A,B,...  steps to fail:
//       create               JNI_CreateJavaVM returns JNI_ERR
//       launcher-class       FindClass of a launcher class finds nothing
//       main-method          GetStaticMethodID of "main" finds nothing
//       main-exception       main ends with an exception pending
//       first-run-class      FindClass of the first-run class finds nothing
//       first-run-method     GetStaticMethodID of "firstRun" finds nothing
//       first-run-false      firstRun returns false
//       first-run-exception  firstRun ends with an exception pending
//       param-array          NewObjectArray is out of memory
//       jstr[:N]             NewString is out of memory (the Nth call, counted from 0;
//                            without N every call)
//       trace-writer         NewObject of java/io/StringWriter is out of memory
//       trace-method         GetMethodID of "printStackTrace" finds nothing
//       trace-print          printStackTrace ends with an exception pending
//       trace-chars          GetStringChars is out of memory
//
// Records: {"call": NAME, ...} with the call's arguments. JNI_CreateJavaVM: "version",
// "ignoreUnrecognized", "options", "extraInfoNull". FindClass: "name", "found".
// GetStaticMethodID: "class", "name", "signature", "found". CallStaticBooleanMethod and
// CallStaticVoidMethod: "class", "method", and for main "args" (the String[] it received).
// NewObjectArray: "length", "elementClass". NewString: "text". SetObjectArrayElement:
// "index". ExceptionOccurred, ExceptionCheck: "pending". ExceptionDescribe: "exception".
// NewObject: "class", "found". GetMethodID: "class", "name", "signature", "found".
// CallVoidMethod, CallObjectMethod: "object", "method". GetStringChars: "found". The stack
// trace a throwable prints into a java/io/PrintWriter over a java/io/StringWriter is its
// class and message in one line and two lines of frames. DestroyJavaVM,
// AttachCurrentThread(AsDaemon) and DetachCurrentThread carry nothing else; the VM is also
// found through JNI_GetCreatedJavaVMs. A JNI slot the stand-in does not implement records
// {"call": "unexpected", "slot": N} and ends the process with exit code 70, so a call
// through a wrong slot never goes unnoticed.
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "jni_slot_numbers.h"
#include "jvm/jni_interface.h"

// The opaque JNI object and method types, completed here.
struct JniObject {
    enum Kind { Class, String, Array, Throwable, Object } kind;
    std::string name;           // class or throwable class
    std::wstring text;          // string contents, throwable message, what a writer holds
    std::vector<JniObject*> elements;  // array elements; the writer under a print writer
};

struct JniMethod {
    std::string className;
    std::string name;
    std::string signature;
};

namespace {

constexpr UINT kUnexpectedSlotExit = 70;

JNIEnv environment;
JavaVM virtualMachine;
JNINativeInterface* nativeTable;
JNIInvokeInterface* invokeTable;
JniObject* pendingException = nullptr;
int newStringCalls = 0;

std::wstring variable(const wchar_t* name) {
    wchar_t buffer[4096];
    DWORD length = GetEnvironmentVariableW(name, buffer, 4096);
    return length > 0 && length < 4096 ? std::wstring(buffer, length) : std::wstring();
}

bool failing(const std::string& step) {
    std::wstring list = L"," + variable(L"JNI_STAND_IN_FAIL") + L",";
    std::wstring wanted(step.begin(), step.end());
    return list.find(L"," + wanted + L",") != std::wstring::npos ||
           list.find(L"," + wanted + L":") != std::wstring::npos;
}

// "jstr:3" fails only the call with that index; "jstr" fails every call.
bool failingAt(const std::string& step, int index) {
    std::wstring list = L"," + variable(L"JNI_STAND_IN_FAIL") + L",";
    std::wstring wanted(step.begin(), step.end());
    if (list.find(L"," + wanted + L",") != std::wstring::npos)
        return true;
    return list.find(L"," + wanted + L":" + std::to_wstring(index) + L",") != std::wstring::npos;
}

std::string json(const std::wstring& text) {
    std::string out = "\"";
    for (wchar_t c : text) {
        if (c == L'"' || c == L'\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c > 0x7e) {
            char escaped[8];
            snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

// Narrow texts from the launcher are in the ANSI code page.
std::string json(const char* text) {
    if (text == nullptr)
        return "null";
    int length = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    std::wstring wide(length > 0 ? length - 1 : 0, L'\0');
    if (length > 1)
        MultiByteToWideChar(CP_ACP, 0, text, -1, &wide[0], length);
    return json(wide);
}

std::string json(const std::string& text) { return json(text.c_str()); }
std::string json(bool value) { return value ? "true" : "false"; }

void record(const std::string& call, const std::string& fields = "") {
    std::wstring path = variable(L"JNI_STAND_IN_RECORD");
    if (path.empty())
        return;
    std::string line = "{\"call\": " + json(call) + fields + "}\n";
    HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(file);
}

JniObject* throwable(const char* className, const wchar_t* message) {
    return new JniObject{JniObject::Throwable, className, message, {}};
}

template <size_t Slot>
void JNICALL unexpectedSlot() {
    record("unexpected", ", \"slot\": " + std::to_string(Slot));
    fflush(nullptr);
    ExitProcess(kUnexpectedSlotExit);
}

template <size_t... Slots>
void fillWithTraps(void** slots, std::index_sequence<Slots...>) {
    ((slots[Slots] = reinterpret_cast<void*>(&unexpectedSlot<Slots>)), ...);
}

bool isLauncherClass(const std::string& name) {
    return name == "com/quillon/runtime/launcher/WinLauncher" ||
           name == "com/tarvo/runtime/WinLauncher";
}

jclass JNICALL findClass(JNIEnv*, const char* name) {
    std::string className = name ? name : "";
    bool found = !(isLauncherClass(className) && failing("launcher-class")) &&
                 !(className == "com/quillon/runtime/launcher/FirstRun" &&
                   failing("first-run-class"));
    record("FindClass", ", \"name\": " + json(name) + ", \"found\": " + json(found));
    if (!found) {
        pendingException = throwable("java/lang/NoClassDefFoundError",
                                     std::wstring(className.begin(), className.end()).c_str());
        return nullptr;
    }
    return new JniObject{JniObject::Class, className, L"", {}};
}

jthrowable JNICALL exceptionOccurred(JNIEnv*) {
    record("ExceptionOccurred", ", \"pending\": " + json(pendingException != nullptr));
    return pendingException;
}

void JNICALL exceptionDescribe(JNIEnv*) {
    record("ExceptionDescribe",
           ", \"exception\": " + json(pendingException ? pendingException->name : ""));
    if (pendingException) {
        std::string name = pendingException->name;
        for (char& c : name)
            if (c == '/')
                c = '.';
        fprintf(stderr, "Exception in thread \"main\" %s: %ls\n", name.c_str(),
                pendingException->text.c_str());
        fflush(stderr);
    }
    pendingException = nullptr;
}

void JNICALL exceptionClear(JNIEnv*) {
    record("ExceptionClear");
    pendingException = nullptr;
}

jboolean JNICALL exceptionCheck(JNIEnv*) {
    record("ExceptionCheck", ", \"pending\": " + json(pendingException != nullptr));
    return pendingException != nullptr ? JNI_TRUE : JNI_FALSE;
}

void JNICALL deleteLocalRef(JNIEnv*, jobject) { record("DeleteLocalRef"); }

jobject JNICALL newObject(JNIEnv*, jclass type, jmethodID constructor, ...) {
    std::string className = type ? type->name : "";
    bool found = type != nullptr && constructor != nullptr &&
                 !(className == "java/io/StringWriter" && failing("trace-writer"));
    record("NewObject", ", \"class\": " + json(className) + ", \"found\": " + json(found));
    if (!found) {
        pendingException = throwable("java/lang/OutOfMemoryError", L"stand-in");
        return nullptr;
    }
    JniObject* object = new JniObject{JniObject::Object, className, L"", {}};
    if (className == "java/io/PrintWriter") {
        va_list arguments;
        va_start(arguments, constructor);
        object->elements.push_back(va_arg(arguments, jobject));
        va_end(arguments);
    }
    return object;
}

// Both method lookups record the same fields and fail the same way.
jmethodID lookUpMethod(const char* call, jclass owner, const char* name, const char* signature,
                       bool found) {
    std::string methodName = name ? name : "";
    record(call, ", \"class\": " + json(owner ? owner->name : "") +
                     ", \"name\": " + json(name) +
                     ", \"signature\": " + json(signature) +
                     ", \"found\": " + json(found));
    if (!found) {
        pendingException = throwable("java/lang/NoSuchMethodError",
                                     std::wstring(methodName.begin(), methodName.end()).c_str());
        return nullptr;
    }
    return new JniMethod{owner->name, methodName, signature ? signature : ""};
}

jmethodID JNICALL getMethodID(JNIEnv*, jclass owner, const char* name, const char* signature) {
    std::string methodName = name ? name : "";
    bool found = owner != nullptr && !(methodName == "printStackTrace" && failing("trace-method"));
    return lookUpMethod("GetMethodID", owner, name, signature, found);
}

std::string objectFields(jobject object, jmethodID method) {
    return ", \"object\": " + json(object ? object->name : "") +
           ", \"method\": " + json(method ? method->name : "");
}

void JNICALL callVoidMethod(JNIEnv*, jobject object, jmethodID method, ...) {
    record("CallVoidMethod", objectFields(object, method));
    if (object == nullptr || method == nullptr || object->kind != JniObject::Throwable ||
        method->name != "printStackTrace")
        return;
    if (failing("trace-print")) {
        pendingException = throwable("java/lang/OutOfMemoryError", L"stand-in");
        return;
    }
    va_list arguments;
    va_start(arguments, method);
    jobject printer = va_arg(arguments, jobject);
    va_end(arguments);
    if (printer == nullptr || printer->elements.empty() || printer->elements[0] == nullptr)
        return;
    std::string name = object->name;
    for (char& c : name)
        if (c == '/')
            c = '.';
    printer->elements[0]->text += std::wstring(name.begin(), name.end()) + L": " +
                                  object->text + L"\r\n\tat stand.in.Frame.first(Frame.java:1)"
                                  L"\r\n\tat stand.in.Frame.second(Frame.java:2)\r\n";
}

jobject JNICALL callObjectMethod(JNIEnv*, jobject object, jmethodID method, ...) {
    record("CallObjectMethod", objectFields(object, method));
    if (object == nullptr || method == nullptr || method->name != "toString")
        return nullptr;
    return new JniObject{JniObject::String, "java/lang/String", object->text, {}};
}

jsize JNICALL getStringLength(JNIEnv*, jstring text) {
    record("GetStringLength");
    return text ? static_cast<jsize>(text->text.size()) : 0;
}

const jchar* JNICALL getStringChars(JNIEnv*, jstring text, jboolean* isCopy) {
    bool found = text != nullptr && !failing("trace-chars");
    record("GetStringChars", ", \"found\": " + json(found));
    if (!found) {
        pendingException = throwable("java/lang/OutOfMemoryError", L"stand-in");
        return nullptr;
    }
    if (isCopy)
        *isCopy = JNI_FALSE;
    return reinterpret_cast<const jchar*>(text->text.c_str());
}

void JNICALL releaseStringChars(JNIEnv*, jstring, const jchar*) {
    record("ReleaseStringChars");
}

jmethodID JNICALL getStaticMethodID(JNIEnv*, jclass owner, const char* name,
                                    const char* signature) {
    std::string methodName = name ? name : "";
    bool found = owner != nullptr && !(methodName == "main" && failing("main-method")) &&
                 !(methodName == "firstRun" && failing("first-run-method"));
    return lookUpMethod("GetStaticMethodID", owner, name, signature, found);
}

std::string callFields(jclass owner, jmethodID method) {
    return ", \"class\": " + json(owner ? owner->name : "") +
           ", \"method\": " + json(method ? method->name : "");
}

jboolean JNICALL callStaticBooleanMethod(JNIEnv*, jclass owner, jmethodID method, ...) {
    record("CallStaticBooleanMethod", callFields(owner, method));
    if (failing("first-run-exception")) {
        pendingException = throwable("java/lang/IllegalStateException", L"first run failed");
        return JNI_FALSE;
    }
    return failing("first-run-false") ? JNI_FALSE : JNI_TRUE;
}

void JNICALL callStaticVoidMethod(JNIEnv*, jclass owner, jmethodID method, ...) {
    va_list arguments;
    va_start(arguments, method);
    jobject array = va_arg(arguments, jobject);
    va_end(arguments);
    std::string args = "[";
    if (array != nullptr && array->kind == JniObject::Array) {
        for (size_t i = 0; i < array->elements.size(); ++i) {
            JniObject* element = array->elements[i];
            args += (i ? ", " : "") + (element ? json(element->text) : std::string("null"));
        }
    }
    record("CallStaticVoidMethod", callFields(owner, method) + ", \"args\": " + args + "]");
    if (failing("main-exception"))
        pendingException = throwable("java/lang/IllegalStateException", L"thrown by main");
}

jstring JNICALL newString(JNIEnv*, const jchar* text, jsize length) {
    std::wstring value(reinterpret_cast<const wchar_t*>(text), static_cast<size_t>(length));
    record("NewString", ", \"text\": " + json(value));
    if (failingAt("jstr", newStringCalls++)) {
        pendingException = throwable("java/lang/OutOfMemoryError", L"stand-in");
        return nullptr;
    }
    return new JniObject{JniObject::String, "java/lang/String", value, {}};
}

jobjectArray JNICALL newObjectArray(JNIEnv*, jsize length, jclass elementClass,
                                    jobject initial) {
    record("NewObjectArray", ", \"length\": " + std::to_string(length) +
                                 ", \"elementClass\": " +
                                 json(elementClass ? elementClass->name : ""));
    if (failing("param-array") || length < 0) {
        pendingException = throwable("java/lang/OutOfMemoryError", L"stand-in");
        return nullptr;
    }
    return new JniObject{JniObject::Array, "[Ljava/lang/String;", L"",
                         std::vector<JniObject*>(static_cast<size_t>(length), initial)};
}

void JNICALL setObjectArrayElement(JNIEnv*, jobjectArray array, jsize index, jobject value) {
    record("SetObjectArrayElement", ", \"index\": " + std::to_string(index));
    if (array && index >= 0 && static_cast<size_t>(index) < array->elements.size())
        array->elements[static_cast<size_t>(index)] = value;
}

jint JNICALL destroyJavaVM(JavaVM*) {
    record("DestroyJavaVM");
    return JNI_OK;
}

jint JNICALL attachCurrentThread(JavaVM*, void** env, void*) {
    record("AttachCurrentThread");
    *env = &environment;
    return JNI_OK;
}

jint JNICALL attachCurrentThreadAsDaemon(JavaVM*, void** env, void*) {
    record("AttachCurrentThreadAsDaemon");
    *env = &environment;
    return JNI_OK;
}

jint JNICALL detachCurrentThread(JavaVM*) {
    record("DetachCurrentThread");
    return JNI_OK;
}

bool vmCreated = false;

// The tables are filled by the slot numbers of jni_slot_numbers.h, never through the members
// of the launchers' own table types, so a member in the wrong slot there calls a trap here.
template <class Function>
void put(void** slots, size_t count, size_t slot, Function function) {
    if (slot >= count)
        ExitProcess(kUnexpectedSlotExit);
    slots[slot] = reinterpret_cast<void*>(function);
}

void buildTables() {
    static void* nativeSlots[jni_spec::kNativeSlotCount];
    static void* invokeSlots[jni_spec::kInvokeSlotCount];
    fillWithTraps(nativeSlots, std::make_index_sequence<jni_spec::kNativeSlotCount>());
    fillWithTraps(invokeSlots, std::make_index_sequence<jni_spec::kInvokeSlotCount>());
    auto native = [](std::string_view name, auto function) {
        put(nativeSlots, jni_spec::kNativeSlotCount, jni_spec::nativeSlot(name), function);
    };
    auto invoke = [](std::string_view name, auto function) {
        put(invokeSlots, jni_spec::kInvokeSlotCount, jni_spec::invokeSlot(name), function);
    };
    native("FindClass", findClass);
    native("ExceptionOccurred", exceptionOccurred);
    native("ExceptionDescribe", exceptionDescribe);
    native("ExceptionClear", exceptionClear);
    native("ExceptionCheck", exceptionCheck);
    native("DeleteLocalRef", deleteLocalRef);
    native("NewObject", newObject);
    native("GetMethodID", getMethodID);
    native("CallVoidMethod", callVoidMethod);
    native("CallObjectMethod", callObjectMethod);
    native("GetStringLength", getStringLength);
    native("GetStringChars", getStringChars);
    native("ReleaseStringChars", releaseStringChars);
    native("GetStaticMethodID", getStaticMethodID);
    native("CallStaticBooleanMethod", callStaticBooleanMethod);
    native("CallStaticVoidMethod", callStaticVoidMethod);
    native("NewString", newString);
    native("NewObjectArray", newObjectArray);
    native("SetObjectArrayElement", setObjectArrayElement);
    invoke("DestroyJavaVM", destroyJavaVM);
    invoke("AttachCurrentThread", attachCurrentThread);
    invoke("DetachCurrentThread", detachCurrentThread);
    invoke("AttachCurrentThreadAsDaemon", attachCurrentThreadAsDaemon);
    nativeTable = reinterpret_cast<JNINativeInterface*>(nativeSlots);
    invokeTable = reinterpret_cast<JNIInvokeInterface*>(invokeSlots);
    environment.functions = nativeTable;
    virtualMachine.functions = invokeTable;
}

} // namespace

extern "C" __declspec(dllexport) jint JNICALL JNI_CreateJavaVM(JavaVM** vm, void** env,
                                                              void* arguments) {
    const JavaVMInitArgs* initArgs = static_cast<const JavaVMInitArgs*>(arguments);
    std::string options = "[";
    bool extraInfoNull = true;
    for (jint i = 0; initArgs && i < initArgs->nOptions; ++i) {
        options += (i ? ", " : "") + json(initArgs->options[i].optionString);
        extraInfoNull = extraInfoNull && initArgs->options[i].extraInfo == nullptr;
    }
    options += "]";
    record("JNI_CreateJavaVM",
           ", \"version\": " + std::to_string(initArgs ? initArgs->version : 0) +
               ", \"ignoreUnrecognized\": " +
               json(initArgs != nullptr && initArgs->ignoreUnrecognized == JNI_TRUE) +
               ", \"options\": " + options + ", \"extraInfoNull\": " + json(extraInfoNull));
    if (failing("create"))
        return JNI_ERR;
    buildTables();
    vmCreated = true;
    *vm = &virtualMachine;
    *env = &environment;
    return JNI_OK;
}

extern "C" __declspec(dllexport) jint JNICALL JNI_GetCreatedJavaVMs(JavaVM** vms, jsize size,
                                                                   jsize* count) {
    *count = vmCreated ? 1 : 0;
    if (vmCreated && size > 0)
        vms[0] = &virtualMachine;
    return JNI_OK;
}
