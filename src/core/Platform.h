#pragma once
// The platform services that process-wide helpers (the log, hashing, signature checks) reach
// without a window. The entry installs them once, before anything logs; tests install fakes.
#include "IHasher.h"
#include "ISystem.h"

namespace hb {

void InstallPlatform(ISystem* system, IHasher* hasher);
ISystem& System();  // throws Exception when nothing is installed
IHasher& Hasher();
bool PlatformInstalled();

} // namespace hb
