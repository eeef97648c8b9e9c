// Package verification on arbitrary bytes: a verdict, or an Exception for damaged compressed
// data; never a crash. Seeds are packages signed with the development key, so mutations reach
// past the signature into the file list checks only where the fuzzer keeps the manifest intact.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "Exception.h"
#include "LinuxSystem.h"
#include "OpenSslHasher.h"
#include "Platform.h"
#include "signature/uReleaseSignature.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static hb::TLinuxSystem system;
  static hb::TOpenSslHasher hasher;
  static const bool installed = (hb::InstallPlatform(&system, &hasher), true);
  static const std::vector<hb::TReleaseKey> keys = {
      hb::ParseReleaseKey("ed25519 4c4c6d37f8a1da95 3GdYS+hwRoqFDHpJeIDcRv5q+aUA+Gk+xsocdpqs7FI=")};
  (void)installed;
  static const std::string path = "/tmp/hb-verify-fuzz-" + std::to_string(getpid()) + ".zip";
  // One scratch file per process, gone when the process ends.
  static const struct TScratch {
    ~TScratch() { std::remove(path.c_str()); }
  } scratch;
  if (FILE* f = std::fopen(path.c_str(), "wb")) {
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  std::string keyId;
  try {
    hb::VerifyUpdatePackage(path, "HallBoard", 3, keys, keyId);
  } catch (const hb::Exception&) {
  }
  return 0;
}
