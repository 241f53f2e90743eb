#pragma once
// libKestavo.so loaded through the stand-in host from a copy of its own, for benchmarks
// that drive the library as a host does.
//
// What it represents: one runtime and one extension context on a private copy of the
// built library (eval::privateCopy), so its tracker starts uninitialised: the loader hands
// a library it holds out again for its path, and the tracker keeps the frame size of its
// first kvo_init, so a benchmark row of another frame size or settings needs its own copy.
// The copy's file is removed on destruction (the library stays mapped, as a host keeps it).
//
// Thread safety: none; use on one thread, as the host runtime requires.
#include <unistd.h>

#include <string>

#include "eval/Files.h"
#include "host/HostRuntime.h"

struct FreshLibrary {
    const std::string path = kvo::eval::privateCopy(KVO_LIBRARY_PATH);
    kvohost::Runtime rt;
    kvohost::Extension ext{rt, path};
    ~FreshLibrary() { unlink(path.c_str()); }
};
