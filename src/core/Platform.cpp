#include "Platform.h"

#include <atomic>

#include "Exception.h"

namespace hb {

namespace {
std::atomic<ISystem*> gSystem{nullptr};
std::atomic<IHasher*> gHasher{nullptr};
} // namespace

void InstallPlatform(ISystem* system, IHasher* hasher) {
  gSystem.store(system);
  gHasher.store(hasher);
}

ISystem& System() {
  ISystem* s = gSystem.load();
  if (!s) throw Exception("系统服务未初始化");
  return *s;
}

IHasher& Hasher() {
  IHasher* h = gHasher.load();
  if (!h) throw Exception("哈希服务未初始化");
  return *h;
}

bool PlatformInstalled() { return gSystem.load() != nullptr && gHasher.load() != nullptr; }

} // namespace hb
