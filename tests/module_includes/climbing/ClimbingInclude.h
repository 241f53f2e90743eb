#pragma once
// Fixture of the relative-include check (../check_relative_includes.cmake): a header
// reaching another module's folder by climbing out of its own. Never compiled.
#include "../tracker/Kestavo.h"
