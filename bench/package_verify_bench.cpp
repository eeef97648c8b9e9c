// Verifies one package the way the update does and prints the verdict; bench/signature.sh times
// it (and its peak memory) against unzip -t and sha256sum of the same file.
#include <cstdio>
#include <string>

#include "Exception.h"
#include "LinuxSystem.h"
#include "OpenSslHasher.h"
#include "Platform.h"
#include "signature/uReleaseSignature.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: package_verify_bench PACKAGE VERSION_CODE \"KEY LINE\"\n");
    return 2;
  }
  hb::TLinuxSystem system;
  hb::TOpenSslHasher hasher;
  hb::InstallPlatform(&system, &hasher);
  try {
    std::string keyId;
    std::string verdict = hb::VerifyUpdatePackage(argv[1], "HallBoard", std::stoll(argv[2]),
                                                  {hb::ParseReleaseKey(argv[3])}, keyId);
    std::printf("%s\n", verdict.empty() ? "OK" : verdict.c_str());
    return verdict.empty() ? 0 : 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
}
