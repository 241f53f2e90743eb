#include "host/Extension.h"

#include <dlfcn.h>

#include <cstring>

#include "host/HostError.h"

namespace kvohost {

namespace {

std::string lastDlError() {
    const char* e = dlerror();
    return e != nullptr ? e : "unknown reason";
}

}  // namespace

Extension::Extension(Runtime& runtime, const std::string& path, const std::string& prefix,
                     const std::string& contextType)
    : runtime_(runtime), path_(path) {
    if (Runtime::current() != &runtime_) {
        throw HostError("cannot load extension " + path + ": its host runtime is not the current one");
    }
    dlerror();
    library_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library_ == nullptr) throw HostError("cannot load extension " + path + ": " + lastDlError());

    const std::string initName = prefix + "ExtInitializer";
    dlerror();
    void* init = dlsym(library_, initName.c_str());
    if (init == nullptr) {
        throw HostError("extension " + path + " has no entry point " + initName + ": " + lastDlError());
    }
    const std::string finalName = prefix + "ExtFinalizer";
    extFinalizer_ = reinterpret_cast<FREFinalizer>(dlsym(library_, finalName.c_str()));
    dlerror();

    open(reinterpret_cast<FREInitializer>(init), initName, contextType);
}

Extension::Extension(Runtime& runtime, FREInitializer initializer, FREFinalizer finalizer, const std::string& name,
                     const std::string& contextType)
    : runtime_(runtime), path_(name), extFinalizer_(finalizer) {
    if (Runtime::current() != &runtime_) {
        throw HostError("cannot load extension " + name + ": its host runtime is not the current one");
    }
    if (initializer == nullptr) throw HostError("extension " + name + " has no initializer");
    open(initializer, "its initializer", contextType);
}

void Extension::open(FREInitializer initializer, const std::string& initName, const std::string& contextType) {
    const std::string& path = path_;
    FREContextInitializer contextInitializer = nullptr;
    initializer(&extData_, &contextInitializer, &contextFinalizer_);
    if (contextInitializer == nullptr) {
        throw HostError("extension " + path + ": " + initName + " gave no context initializer");
    }
    const std::string type = contextType;
    contextInitializer(extData_, reinterpret_cast<const uint8_t*>(type.c_str()), &contextTag_, &count_, &table_);
    if (count_ > 0 && table_ == nullptr) {
        throw HostError("extension " + path + ": the context initializer gave " + std::to_string(count_) +
                        " functions but no table");
    }
    for (uint32_t i = 0; i < count_; ++i) {
        if (table_[i].name == nullptr || table_[i].function == nullptr) {
            throw HostError("extension " + path + ": function table entry " + std::to_string(i) +
                            " has no name or no function");
        }
    }
}

Extension::~Extension() {
    if (contextFinalizer_ != nullptr) contextFinalizer_(&contextTag_);
    if (extFinalizer_ != nullptr) extFinalizer_(extData_);
}

const FRENamedFunction* Extension::find(const std::string& name) const {
    for (uint32_t i = 0; i < count_; ++i) {
        if (std::strcmp(reinterpret_cast<const char*>(table_[i].name), name.c_str()) == 0) return &table_[i];
    }
    return nullptr;
}

FREObject Extension::invoke(const FRENamedFunction& function, uint32_t argc, FREObject argv[]) {
    return function.function(&contextTag_, function.functionData, argc, argv);
}

FREObject Extension::callWith(const std::string& name, uint32_t argc, FREObject argv[]) {
    const FRENamedFunction* f = find(name);
    if (f == nullptr) throw HostError("extension " + path_ + " has no function named " + name);
    return invoke(*f, argc, argv);
}

FREObject Extension::callWith(const std::string& name, const std::vector<FREObject>& args) {
    std::vector<FREObject> argv(args);
    argv.push_back(nullptr);  // argv is never empty, even for no arguments
    return callWith(name, uint32_t(args.size()), argv.data());
}

std::vector<std::string> Extension::functionNames() const {
    std::vector<std::string> names;
    for (uint32_t i = 0; i < count_; ++i) names.emplace_back(reinterpret_cast<const char*>(table_[i].name));
    return names;
}

}  // namespace kvohost
