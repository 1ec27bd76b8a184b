// The fake JNIEnv: the JNI functions the library may call (the thirteen it reads, checks and
// builds with, and DeleteLocalRef), over objects held here, and
// a stub in every other slot that ends the process with the function's name.

#include "tests/jnihost/fake_jni.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace {

// A forbidden call cannot be answered the way the VM would, so the run ends where it happened.
[[noreturn]] void failForbidden(const char* name) {
    std::fprintf(stderr, "fake JNIEnv: the library called %s, which it must not call\n", name);
    std::fflush(stderr);
    std::abort();
}

// Every function slot of the JNI table, by member name, so that each gets a stub that knows
// its own name whatever the order of the table.
// clang-format off
#define BRISVANDER_JNI_SLOTS(X) \
    X(GetVersion) X(DefineClass) X(FindClass) X(FromReflectedMethod) X(FromReflectedField) \
    X(ToReflectedMethod) X(GetSuperclass) X(IsAssignableFrom) X(ToReflectedField) X(Throw) \
    X(ThrowNew) X(ExceptionOccurred) X(ExceptionDescribe) X(ExceptionClear) X(FatalError) \
    X(PushLocalFrame) X(PopLocalFrame) X(NewGlobalRef) X(DeleteGlobalRef) X(DeleteLocalRef) \
    X(IsSameObject) X(NewLocalRef) X(EnsureLocalCapacity) X(AllocObject) X(NewObject) \
    X(NewObjectV) X(NewObjectA) X(GetObjectClass) X(IsInstanceOf) X(GetMethodID) \
    X(CallObjectMethod) X(CallObjectMethodV) X(CallObjectMethodA) X(CallBooleanMethod) \
    X(CallBooleanMethodV) X(CallBooleanMethodA) X(CallByteMethod) X(CallByteMethodV) \
    X(CallByteMethodA) X(CallCharMethod) X(CallCharMethodV) X(CallCharMethodA) X(CallShortMethod) \
    X(CallShortMethodV) X(CallShortMethodA) X(CallIntMethod) X(CallIntMethodV) X(CallIntMethodA) \
    X(CallLongMethod) X(CallLongMethodV) X(CallLongMethodA) X(CallFloatMethod) X(CallFloatMethodV) \
    X(CallFloatMethodA) X(CallDoubleMethod) X(CallDoubleMethodV) X(CallDoubleMethodA) \
    X(CallVoidMethod) X(CallVoidMethodV) X(CallVoidMethodA) X(CallNonvirtualObjectMethod) \
    X(CallNonvirtualObjectMethodV) X(CallNonvirtualObjectMethodA) X(CallNonvirtualBooleanMethod) \
    X(CallNonvirtualBooleanMethodV) X(CallNonvirtualBooleanMethodA) X(CallNonvirtualByteMethod) \
    X(CallNonvirtualByteMethodV) X(CallNonvirtualByteMethodA) X(CallNonvirtualCharMethod) \
    X(CallNonvirtualCharMethodV) X(CallNonvirtualCharMethodA) X(CallNonvirtualShortMethod) \
    X(CallNonvirtualShortMethodV) X(CallNonvirtualShortMethodA) X(CallNonvirtualIntMethod) \
    X(CallNonvirtualIntMethodV) X(CallNonvirtualIntMethodA) X(CallNonvirtualLongMethod) \
    X(CallNonvirtualLongMethodV) X(CallNonvirtualLongMethodA) X(CallNonvirtualFloatMethod) \
    X(CallNonvirtualFloatMethodV) X(CallNonvirtualFloatMethodA) X(CallNonvirtualDoubleMethod) \
    X(CallNonvirtualDoubleMethodV) X(CallNonvirtualDoubleMethodA) X(CallNonvirtualVoidMethod) \
    X(CallNonvirtualVoidMethodV) X(CallNonvirtualVoidMethodA) X(GetFieldID) X(GetObjectField) \
    X(GetBooleanField) X(GetByteField) X(GetCharField) X(GetShortField) X(GetIntField) \
    X(GetLongField) X(GetFloatField) X(GetDoubleField) X(SetObjectField) X(SetBooleanField) \
    X(SetByteField) X(SetCharField) X(SetShortField) X(SetIntField) X(SetLongField) \
    X(SetFloatField) X(SetDoubleField) X(GetStaticMethodID) X(CallStaticObjectMethod) \
    X(CallStaticObjectMethodV) X(CallStaticObjectMethodA) X(CallStaticBooleanMethod) \
    X(CallStaticBooleanMethodV) X(CallStaticBooleanMethodA) X(CallStaticByteMethod) \
    X(CallStaticByteMethodV) X(CallStaticByteMethodA) X(CallStaticCharMethod) \
    X(CallStaticCharMethodV) X(CallStaticCharMethodA) X(CallStaticShortMethod) \
    X(CallStaticShortMethodV) X(CallStaticShortMethodA) X(CallStaticIntMethod) \
    X(CallStaticIntMethodV) X(CallStaticIntMethodA) X(CallStaticLongMethod) \
    X(CallStaticLongMethodV) X(CallStaticLongMethodA) X(CallStaticFloatMethod) \
    X(CallStaticFloatMethodV) X(CallStaticFloatMethodA) X(CallStaticDoubleMethod) \
    X(CallStaticDoubleMethodV) X(CallStaticDoubleMethodA) X(CallStaticVoidMethod) \
    X(CallStaticVoidMethodV) X(CallStaticVoidMethodA) X(GetStaticFieldID) X(GetStaticObjectField) \
    X(GetStaticBooleanField) X(GetStaticByteField) X(GetStaticCharField) X(GetStaticShortField) \
    X(GetStaticIntField) X(GetStaticLongField) X(GetStaticFloatField) X(GetStaticDoubleField) \
    X(SetStaticObjectField) X(SetStaticBooleanField) X(SetStaticByteField) X(SetStaticCharField) \
    X(SetStaticShortField) X(SetStaticIntField) X(SetStaticLongField) X(SetStaticFloatField) \
    X(SetStaticDoubleField) X(NewString) X(GetStringLength) X(GetStringChars) \
    X(ReleaseStringChars) X(NewStringUTF) X(GetStringUTFLength) X(GetStringUTFChars) \
    X(ReleaseStringUTFChars) X(GetArrayLength) X(NewObjectArray) X(GetObjectArrayElement) \
    X(SetObjectArrayElement) X(NewBooleanArray) X(NewByteArray) X(NewCharArray) X(NewShortArray) \
    X(NewIntArray) X(NewLongArray) X(NewFloatArray) X(NewDoubleArray) X(GetBooleanArrayElements) \
    X(GetByteArrayElements) X(GetCharArrayElements) X(GetShortArrayElements) \
    X(GetIntArrayElements) X(GetLongArrayElements) X(GetFloatArrayElements) \
    X(GetDoubleArrayElements) X(ReleaseBooleanArrayElements) X(ReleaseByteArrayElements) \
    X(ReleaseCharArrayElements) X(ReleaseShortArrayElements) X(ReleaseIntArrayElements) \
    X(ReleaseLongArrayElements) X(ReleaseFloatArrayElements) X(ReleaseDoubleArrayElements) \
    X(GetBooleanArrayRegion) X(GetByteArrayRegion) X(GetCharArrayRegion) X(GetShortArrayRegion) \
    X(GetIntArrayRegion) X(GetLongArrayRegion) X(GetFloatArrayRegion) X(GetDoubleArrayRegion) \
    X(SetBooleanArrayRegion) X(SetByteArrayRegion) X(SetCharArrayRegion) X(SetShortArrayRegion) \
    X(SetIntArrayRegion) X(SetLongArrayRegion) X(SetFloatArrayRegion) X(SetDoubleArrayRegion) \
    X(RegisterNatives) X(UnregisterNatives) X(MonitorEnter) X(MonitorExit) X(GetJavaVM) \
    X(GetStringRegion) X(GetStringUTFRegion) X(GetPrimitiveArrayCritical) \
    X(ReleasePrimitiveArrayCritical) X(GetStringCritical) X(ReleaseStringCritical) \
    X(NewWeakGlobalRef) X(DeleteWeakGlobalRef) X(ExceptionCheck) X(NewDirectByteBuffer) \
    X(GetDirectBufferAddress) X(GetDirectBufferCapacity) X(GetObjectRefType) X(GetModule)
// clang-format on

// The stubs take no parameters: they never return, so the arguments the caller set up for the
// real signature do not matter.
#define BRISVANDER_FORBIDDEN_STUB(name) \
    [[noreturn]] void JNICALL forbidden##name() { failForbidden(#name); }
BRISVANDER_JNI_SLOTS(BRISVANDER_FORBIDDEN_STUB)
#undef BRISVANDER_FORBIDDEN_STUB

constexpr size_t kReservedSlots = 4;  // reserved0..3, null as in the VM

const char* const kStringClass = "java/lang/String";
const char* const kByteArrayClass = "[B";

std::string hexOf(const char* bytes, size_t length) {
    std::string hex;
    char digits[4];
    for (size_t i = 0; i < length; ++i) {
        std::snprintf(digits, sizeof(digits), i == 0 ? "%02X" : " %02X",
                      static_cast<unsigned char>(bytes[i]));
        hex += digits;
    }
    return hex;
}

}  // namespace

bool isModifiedUtf8(const char* text) {
    const auto* at = reinterpret_cast<const unsigned char*>(text);
    while (*at != 0) {
        const unsigned char lead = *at;
        if (lead < 0x80) {
            ++at;
            continue;
        }
        if ((lead & 0xE0) == 0xC0) {
            if ((at[1] & 0xC0) != 0x80) {
                return false;
            }
            // C0 80 is how NUL is written; every other two-byte form below U+0080 is too long.
            if (lead < 0xC2 && !(lead == 0xC0 && at[1] == 0x80)) {
                return false;
            }
            at += 2;
            continue;
        }
        if ((lead & 0xF0) == 0xE0) {
            if ((at[1] & 0xC0) != 0x80 || (at[2] & 0xC0) != 0x80) {
                return false;
            }
            if (lead == 0xE0 && at[1] < 0xA0) {
                return false;  // below U+0800, too long
            }
            at += 3;
            continue;
        }
        return false;  // a stray continuation byte, or a four-byte form
    }
    return true;
}

FakeJni::FakeJni() {
#define BRISVANDER_FORBID(name) \
    table_.name = reinterpret_cast<decltype(table_.name)>(&forbidden##name);
    BRISVANDER_JNI_SLOTS(BRISVANDER_FORBID)
#undef BRISVANDER_FORBID
    table_.FindClass = &findClass;
    table_.IsInstanceOf = &isInstanceOf;
    table_.NewStringUTF = &newStringUtf;
    table_.GetStringUTFChars = &getStringUtfChars;
    table_.ReleaseStringUTFChars = &releaseStringUtfChars;
    table_.GetArrayLength = &getArrayLength;
    table_.DeleteLocalRef = &deleteLocalRef;
    table_.NewObjectArray = &newObjectArrayOf;
    table_.GetObjectArrayElement = &getObjectArrayElement;
    table_.SetObjectArrayElement = &setObjectArrayElement;
    table_.NewByteArray = &newByteArrayOf;
    table_.GetByteArrayElements = &getByteArrayElements;
    table_.ReleaseByteArrayElements = &releaseByteArrayElements;
    table_.SetByteArrayRegion = &setByteArrayRegion;
    // A jni.h with slots this list does not name would leave them null, and a call there would
    // crash without a name.
    for (size_t slot = kReservedSlots; slot < sizeof(table_) / sizeof(void*); ++slot) {
        void* entry = nullptr;
        std::memcpy(&entry, reinterpret_cast<const char*>(&table_) + slot * sizeof(void*),
                    sizeof(void*));
        if (entry == nullptr) {
            std::fprintf(stderr, "fake JNIEnv: JNI table slot %lu has no stub\n",
                         static_cast<unsigned long>(slot));
            std::abort();
        }
    }
    block_.env.functions = &table_;
    block_.owner = this;
}

FakeJni::~FakeJni() = default;

jobject FakeJni::adopt(std::unique_ptr<Object> object) {
    Object* raw = object.get();
    objects_.push_back(std::move(object));
    known_.insert(raw);
    return reinterpret_cast<jobject>(raw);
}

FakeJni::Object* FakeJni::find(jobject reference, const char* call) {
    if (reference == nullptr) {
        addProblem(std::string(call) + ": null reference");
        return nullptr;
    }
    if (known_.count(reference) == 0) {
        addProblem(std::string(call) + ": a reference this VM never made");
        return nullptr;
    }
    return reinterpret_cast<Object*>(reference);
}

FakeJni::Object* FakeJni::find(jobject reference, Kind kind, const char* call) {
    Object* object = find(reference, call);
    if (object != nullptr && object->kind != kind) {
        addProblem(std::string(call) + ": a reference of the wrong kind");
        return nullptr;
    }
    return object;
}

jstring FakeJni::newString(const std::string& modifiedUtf8) {
    auto object = std::make_unique<Object>();
    object->kind = Kind::String;
    object->text = modifiedUtf8;
    return static_cast<jstring>(adopt(std::move(object)));
}

jbyteArray FakeJni::newByteArray(const std::vector<unsigned char>& bytes) {
    auto object = std::make_unique<Object>();
    object->kind = Kind::ByteArray;
    object->bytes.assign(bytes.begin(), bytes.end());
    return static_cast<jbyteArray>(adopt(std::move(object)));
}

jobjectArray FakeJni::newObjectArray(const std::string& elementClass,
                                     const std::vector<jobject>& elements) {
    auto object = std::make_unique<Object>();
    object->kind = Kind::ObjectArray;
    object->text = elementClass;
    object->elements = elements;
    return static_cast<jobjectArray>(adopt(std::move(object)));
}

std::string FakeJni::textOf(jstring text) {
    const Object* object = find(text, Kind::String, "textOf");
    return object ? object->text : std::string();
}

std::vector<unsigned char> FakeJni::bytesOf(jbyteArray array) {
    const Object* object = find(array, Kind::ByteArray, "bytesOf");
    if (object == nullptr) {
        return {};
    }
    return std::vector<unsigned char>(object->bytes.begin(), object->bytes.end());
}

std::vector<jobject> FakeJni::elementsOf(jobjectArray array) {
    const Object* object = find(array, Kind::ObjectArray, "elementsOf");
    return object ? object->elements : std::vector<jobject>();
}

std::string FakeJni::elementClassOf(jobjectArray array) {
    const Object* object = find(array, Kind::ObjectArray, "elementClassOf");
    return object ? object->text : std::string();
}

std::vector<std::string> FakeJni::bookProblems() const {
    std::vector<std::string> problems = problems_;
    for (const auto& [chars, loan] : stringLoans_) {
        problems.push_back("GetStringUTFChars: \"" + std::string(chars) +
                           "\" was never given back");
    }
    for (const auto& [elements, loan] : byteLoans_) {
        problems.push_back("GetByteArrayElements: the elements of a byte[" +
                           std::to_string(loan.length) + "] were never given back");
    }
    return problems;
}

jclass JNICALL FakeJni::findClass(JNIEnv* env, const char* name) {
    FakeJni& self = of(env);
    if (name == nullptr ||
        (std::strcmp(name, kStringClass) != 0 && std::strcmp(name, kByteArrayClass) != 0)) {
        self.addProblem(std::string("FindClass: no class ") + (name ? name : "(null)"));
        return nullptr;
    }
    auto known = self.classes_.find(name);
    if (known != self.classes_.end()) {
        return known->second;
    }
    auto object = std::make_unique<Object>();
    object->kind = Kind::Class;
    object->text = name;
    jclass type = static_cast<jclass>(self.adopt(std::move(object)));
    self.classes_.emplace(name, type);
    return type;
}

// Only the two classes FindClass gives are known; null is an instance of either, as in the VM.
jboolean JNICALL FakeJni::isInstanceOf(JNIEnv* env, jobject object, jclass type) {
    FakeJni& self = of(env);
    const Object* typeObject = self.find(type, Kind::Class, "IsInstanceOf");
    if (typeObject == nullptr) {
        return JNI_FALSE;
    }
    if (object == nullptr) {
        return JNI_TRUE;
    }
    const Object* instance = self.find(object, "IsInstanceOf");
    if (instance == nullptr) {
        return JNI_FALSE;
    }
    const Kind wanted = typeObject->text == kStringClass ? Kind::String : Kind::ByteArray;
    return instance->kind == wanted ? JNI_TRUE : JNI_FALSE;
}

jstring JNICALL FakeJni::newStringUtf(JNIEnv* env, const char* text) {
    FakeJni& self = of(env);
    if (text == nullptr) {
        self.addProblem("NewStringUTF: null text");
        return nullptr;
    }
    if (!isModifiedUtf8(text)) {
        self.addProblem("NewStringUTF: not modified UTF-8: " + hexOf(text, std::strlen(text)));
    }
    return self.newString(text);
}

const char* JNICALL FakeJni::getStringUtfChars(JNIEnv* env, jstring text, jboolean* isCopy) {
    FakeJni& self = of(env);
    const Object* object = self.find(text, Kind::String, "GetStringUTFChars");
    if (object == nullptr) {
        return nullptr;
    }
    // A copy of its own per Get, so that a Release of the wrong pointer is seen.
    Loan loan{text, std::make_unique<char[]>(object->text.size() + 1), object->text.size()};
    std::memcpy(loan.buffer.get(), object->text.c_str(), object->text.size() + 1);
    const char* chars = loan.buffer.get();
    self.stringLoans_.emplace(chars, std::move(loan));
    if (isCopy != nullptr) {
        *isCopy = JNI_TRUE;
    }
    return chars;
}

void JNICALL FakeJni::releaseStringUtfChars(JNIEnv* env, jstring text, const char* chars) {
    FakeJni& self = of(env);
    auto loan = self.stringLoans_.find(chars);
    if (loan == self.stringLoans_.end()) {
        self.addProblem("ReleaseStringUTFChars: characters never lent, or given back twice");
        return;
    }
    if (loan->second.owner != text) {
        self.addProblem("ReleaseStringUTFChars: characters given back to another string");
    }
    self.stringLoans_.erase(loan);
}

// The library may let go of a local reference early; the object itself stays, as it may be
// held by an array the library built. Only references this VM made may be deleted.
void JNICALL FakeJni::deleteLocalRef(JNIEnv* env, jobject reference) {
    if (reference != nullptr) {
        of(env).find(reference, "DeleteLocalRef");
    }
}

jsize JNICALL FakeJni::getArrayLength(JNIEnv* env, jarray array) {
    FakeJni& self = of(env);
    const Object* object = self.find(array, "GetArrayLength");
    if (object == nullptr) {
        return 0;
    }
    if (object->kind != Kind::ByteArray && object->kind != Kind::ObjectArray) {
        self.addProblem("GetArrayLength: not an array");
        return 0;
    }
    return static_cast<jsize>(object->kind == Kind::ByteArray ? object->bytes.size()
                                                              : object->elements.size());
}

jobjectArray JNICALL FakeJni::newObjectArrayOf(JNIEnv* env, jsize length, jclass elementClass,
                                               jobject initial) {
    FakeJni& self = of(env);
    const Object* type = self.find(elementClass, Kind::Class, "NewObjectArray");
    if (type == nullptr) {
        return nullptr;
    }
    if (length < 0) {
        self.addProblem("NewObjectArray: negative length");
        return nullptr;
    }
    if (initial != nullptr) {
        self.addProblem("NewObjectArray: an initial element other than null");
    }
    return self.newObjectArray(type->text,
                               std::vector<jobject>(static_cast<size_t>(length), initial));
}

jobject JNICALL FakeJni::getObjectArrayElement(JNIEnv* env, jobjectArray array, jsize index) {
    FakeJni& self = of(env);
    const Object* object = self.find(array, Kind::ObjectArray, "GetObjectArrayElement");
    if (object == nullptr) {
        return nullptr;
    }
    if (index < 0 || static_cast<size_t>(index) >= object->elements.size()) {
        self.addProblem("GetObjectArrayElement: index " + std::to_string(index) + " out of range");
        return nullptr;
    }
    return object->elements[static_cast<size_t>(index)];
}

void JNICALL FakeJni::setObjectArrayElement(JNIEnv* env, jobjectArray array, jsize index,
                                            jobject value) {
    FakeJni& self = of(env);
    Object* object = self.find(array, Kind::ObjectArray, "SetObjectArrayElement");
    if (object == nullptr) {
        return;
    }
    if (index < 0 || static_cast<size_t>(index) >= object->elements.size()) {
        self.addProblem("SetObjectArrayElement: index " + std::to_string(index) + " out of range");
        return;
    }
    if (value != nullptr) {
        const Kind wanted = object->text == kStringClass ? Kind::String : Kind::ByteArray;
        if (self.find(value, wanted, "SetObjectArrayElement") == nullptr) {
            return;  // the VM would throw ArrayStoreException and store nothing
        }
    }
    object->elements[static_cast<size_t>(index)] = value;
}

jbyteArray JNICALL FakeJni::newByteArrayOf(JNIEnv* env, jsize length) {
    FakeJni& self = of(env);
    if (length < 0) {
        self.addProblem("NewByteArray: negative length");
        return nullptr;
    }
    return self.newByteArray(std::vector<unsigned char>(static_cast<size_t>(length)));
}

jbyte* JNICALL FakeJni::getByteArrayElements(JNIEnv* env, jbyteArray array, jboolean* isCopy) {
    FakeJni& self = of(env);
    const Object* object = self.find(array, Kind::ByteArray, "GetByteArrayElements");
    if (object == nullptr) {
        return nullptr;
    }
    // Always a copy, as the VM may make one: what the library writes lands only on Release,
    // and an empty array still gets a pointer of its own.
    const size_t length = object->bytes.size();
    Loan loan{array, std::make_unique<char[]>(length + 1), length};
    if (length > 0) {
        std::memcpy(loan.buffer.get(), object->bytes.data(), length);
    }
    auto* elements = reinterpret_cast<jbyte*>(loan.buffer.get());
    self.byteLoans_.emplace(elements, std::move(loan));
    if (isCopy != nullptr) {
        *isCopy = JNI_TRUE;
    }
    return elements;
}

void JNICALL FakeJni::releaseByteArrayElements(JNIEnv* env, jbyteArray array, jbyte* elements,
                                               jint mode) {
    FakeJni& self = of(env);
    auto loan = self.byteLoans_.find(elements);
    if (loan == self.byteLoans_.end()) {
        self.addProblem("ReleaseByteArrayElements: elements never lent, or given back twice");
        return;
    }
    if (mode != 0) {
        self.addProblem("ReleaseByteArrayElements: mode " + std::to_string(mode) + ", not 0");
    }
    Object* object = self.find(array, Kind::ByteArray, "ReleaseByteArrayElements");
    if (object != nullptr && loan->second.owner != array) {
        self.addProblem("ReleaseByteArrayElements: elements given back to another array");
        object = nullptr;
    }
    // An empty array's data() may be null, which memcpy must not see even for no bytes.
    if (object != nullptr && mode != JNI_ABORT && object->bytes.size() == loan->second.length &&
        loan->second.length > 0) {
        std::memcpy(object->bytes.data(), loan->second.buffer.get(), loan->second.length);
    }
    if (mode != JNI_COMMIT) {
        self.byteLoans_.erase(loan);
    }
}

void JNICALL FakeJni::setByteArrayRegion(JNIEnv* env, jbyteArray array, jsize start, jsize length,
                                         const jbyte* bytes) {
    FakeJni& self = of(env);
    Object* object = self.find(array, Kind::ByteArray, "SetByteArrayRegion");
    if (object == nullptr) {
        return;
    }
    if (start < 0 || length < 0 ||
        static_cast<size_t>(start) + static_cast<size_t>(length) > object->bytes.size()) {
        self.addProblem("SetByteArrayRegion: region " + std::to_string(start) + "+" +
                        std::to_string(length) + " outside a byte[" +
                        std::to_string(object->bytes.size()) + "]");
        return;
    }
    if (length > 0 && bytes == nullptr) {
        self.addProblem("SetByteArrayRegion: null source");
        return;
    }
    if (length > 0) {
        std::memcpy(object->bytes.data() + start, bytes, static_cast<size_t>(length));
    }
}
