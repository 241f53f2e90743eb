#pragma once
// The stand-in host runtime's C++ API, in one include: the Runtime (objects, arena,
// call log), the Extension loader, and HostError. See each header for its contract.
#include "host/Extension.h"
#include "host/HostError.h"
#include "host/HostObject.h"
#include "host/Runtime.h"
