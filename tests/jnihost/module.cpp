// The loader of the library under test, over dlopen or LoadLibraryA.

#include "tests/jnihost/module.h"

#ifdef _WIN32
#include "platform/api.h"
#else
#include <dlfcn.h>
#endif

namespace {

#define BRISVANDER_JNI_PREFIX "Java_quorvant_jce_provider_ms_"

void* openModule(const std::string& path, std::string* outError) {
#ifdef _WIN32
    HMODULE module = LoadLibraryA(path.c_str());
    if (module == nullptr) {
        *outError =
                "LoadLibraryA(" + path + ") failed with error " + std::to_string(GetLastError());
    }
    return reinterpret_cast<void*>(module);
#else
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        *outError = dlerror();
    }
    return module;
#endif
}

void* findSymbol(void* module, const char* name) {
#ifdef _WIN32
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
#else
    return dlsym(module, name);
#endif
}

// resolve sets `outFunction` to the export `name`, or adds the name to `missing`.
template <typename Function>
void resolve(void* module, const char* name, Function* outFunction, std::string* missing) {
    void* address = findSymbol(module, name);
    if (address == nullptr) {
        *missing += std::string(missing->empty() ? "" : ", ") + name;
    }
    *outFunction = reinterpret_cast<Function>(address);
}

}  // namespace

std::unique_ptr<NativeModule> NativeModule::load(const std::string& path, std::string* outError) {
    void* handle = openModule(path, outError);
    if (handle == nullptr) {
        return nullptr;
    }
    std::unique_ptr<NativeModule> module(new NativeModule(handle));
    Natives& n = module->natives_;
    std::string missing;
    resolve(handle, BRISVANDER_JNI_PREFIX "Brisvander_printString", &n.printString, &missing);
    resolve(handle, BRISVANDER_JNI_PREFIX "Brisvander_size", &n.size, &missing);
    resolve(handle, BRISVANDER_JNI_PREFIX "Brisvander_aliases", &n.aliases, &missing);
    resolve(handle, BRISVANDER_JNI_PREFIX "Brisvander_containsAlias", &n.containsAlias, &missing);
    resolve(handle, BRISVANDER_JNI_PREFIX "Brisvander_getCertificateAlias", &n.getCertificateAlias,
            &missing);
    resolve(handle, BRISVANDER_JNI_PREFIX "Brisvander_getCertificate", &n.getCertificate, &missing);
    resolve(handle, BRISVANDER_JNI_PREFIX "Brisvander_getCertificateChain", &n.getCertificateChain,
            &missing);
    resolve(handle, BRISVANDER_JNI_PREFIX "Brisvander_isKeyEntry", &n.isKeyEntry, &missing);
    resolve(handle, BRISVANDER_JNI_PREFIX "Brisvander_isCertificateEntry", &n.isCertificateEntry,
            &missing);
    resolve(handle, BRISVANDER_JNI_PREFIX "Brisvander_getKey", &n.getKey, &missing);
    resolve(handle, BRISVANDER_JNI_PREFIX "Brisvander_setKeyEntry", &n.setKeyEntry, &missing);
    resolve(handle, BRISVANDER_JNI_PREFIX "Brisvander_setCertificateEntry", &n.setCertificateEntry,
            &missing);
    resolve(handle, BRISVANDER_JNI_PREFIX "Brisvander_deleteEntry", &n.deleteEntry, &missing);
    resolve(handle, BRISVANDER_JNI_PREFIX "MSCertStoreJNI_getAllCertificates",
            &n.getAllCertificates, &missing);
    resolve(handle, BRISVANDER_JNI_PREFIX "MSSignatureJNI_sign", &n.sign, &missing);
    resolve(handle, BRISVANDER_JNI_PREFIX "MSSignatureJNI_verify", &n.verify, &missing);
    resolve(handle, BRISVANDER_JNI_PREFIX "MSCipherRSAJNI_encrypt", &n.encrypt, &missing);
    resolve(handle, BRISVANDER_JNI_PREFIX "MSCipherRSAJNI_decrypt", &n.decrypt, &missing);
    resolve(handle, BRISVANDER_JNI_PREFIX "MSCipherRSAJNI_getKeyLength", &n.getKeyLength, &missing);
    resolve(handle, BRISVANDER_JNI_PREFIX "MSCipherRSAJNI_getBlockSize", &n.getBlockSize, &missing);
    if (!missing.empty()) {
        *outError = path + " does not export " + missing;
        return nullptr;
    }
    return module;
}

NativeModule::~NativeModule() {
#ifdef _WIN32
    FreeLibrary(static_cast<HMODULE>(handle_));
#else
    dlclose(handle_);
#endif
}
