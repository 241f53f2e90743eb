#pragma once
// A native extension loaded the way the host runtime loads one.
//
// What it represents: one shared library opened with dlopen(RTLD_NOW) (or an extension
// linked into the program, where there is no library to open: the WebAssembly module),
// its `<prefix>ExtInitializer` called, one context created through the returned context
// initializer, and the function table that the context initializer handed over.
// call(name, args...) finds the named function in that table and calls it with the
// argument count and an argv array, as managed code's ExtensionContext.call does.
//
// Loading: the library's FRE references must be satisfied by the process (the program
// links libkvohost). A missing file, a missing `<prefix>ExtInitializer`, or an
// initializer that hands over no context initializer or an unusable table throws
// HostError with one "Error: ..." line.
//
// Lifetime: the destructor calls the context finalizer and `<prefix>ExtFinalizer`
// (when present) but leaves the library loaded, as a host does for the life of the
// process; loading the same path again therefore shares the library's statics. The
// Extension must not outlive the Runtime it was created with.
//
// Thread safety: none; use on the runtime's thread.
#include <cstdint>
#include <string>
#include <vector>

#include "extension/FREInterface.h"
#include "host/Runtime.h"

namespace kvohost {

class Extension {
public:
    // Requires: `runtime` is current(). Ensures: the context is initialised and
    // functionNames() lists its table. Throws HostError on a loading failure.
    Extension(Runtime& runtime, const std::string& path, const std::string& prefix = "Kestavo",
              const std::string& contextType = "");
    // An extension linked into this program: `initializer` and `finalizer` (may be null)
    // are its `<prefix>ExtInitializer` and `<prefix>ExtFinalizer`; `name` stands for the
    // path in messages. Same requirements and guarantees as above.
    Extension(Runtime& runtime, FREInitializer initializer, FREFinalizer finalizer, const std::string& name,
              const std::string& contextType = "");
    ~Extension();
    Extension(const Extension&) = delete;
    Extension& operator=(const Extension&) = delete;

    // Calls the named function with `args` (FREObject handles, null allowed) and returns
    // its result handle. Throws HostError if the table has no such name.
    template <class... Args>
    FREObject call(const std::string& name, Args... args) {
        FREObject argv[] = {static_cast<FREObject>(args)..., nullptr};
        return callWith(name, uint32_t(sizeof...(Args)), argv);
    }
    FREObject callWith(const std::string& name, const std::vector<FREObject>& args);
    FREObject callWith(const std::string& name, uint32_t argc, FREObject argv[]);

    // The table entry of `name`, or null; lets a loop resolve a function once.
    const FRENamedFunction* find(const std::string& name) const;
    FREObject invoke(const FRENamedFunction& function, uint32_t argc, FREObject argv[]);

    // The function names in table order.
    std::vector<std::string> functionNames() const;
    std::size_t functionCount() const { return count_; }

    const std::string& path() const { return path_; }

private:
    // Calls the initializer and checks the table it hands over.
    void open(FREInitializer initializer, const std::string& initName, const std::string& contextType);

    Runtime& runtime_;
    std::string path_;
    void* library_ = nullptr;
    void* extData_ = nullptr;
    FREContextFinalizer contextFinalizer_ = nullptr;
    FREFinalizer extFinalizer_ = nullptr;
    const FRENamedFunction* table_ = nullptr;
    uint32_t count_ = 0;
    int contextTag_ = 0;  // its address is the context handle given to the extension
};

}  // namespace kvohost
