// The program's own download path, for bench/update.sh: ask the gateway for its offer, stream
// the package into a file with the size cap, read it back for SHA-256, and (with --verify) run
// the signature verification too. Prints one summary line; exit 1 on any failure.
//
//   update_bench GATEWAY_BASE OUTPUT_FILE [--verify]
#include <cstdio>
#include <cstring>
#include <string>

#include "AppIdentity.h"
#include "CurlHttpClient.h"
#include "LinuxSystem.h"
#include "OpenSslHasher.h"
#include "Platform.h"
#include "signature/uReleaseSignature.h"
#include "update/uHallBoardUpdate.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: update_bench GATEWAY_BASE OUTPUT_FILE [--verify]\n");
    return 2;
  }
  const std::string base = argv[1];
  const std::string out = argv[2];
  const bool verify = argc > 3 && std::strcmp(argv[3], "--verify") == 0;
  hb::TOpenSslHasher hasher;
  hb::TLinuxSystem system; // the verifier's name table uses its file-name keys
  hb::InstallPlatform(&system, &hasher);
  try {
    hb::TCurlHttpClient http;
    hb::THttpRequest check;
    check.Method = "POST";
    check.Url = base + "/getUpdate";
    check.Headers = {{"Content-Type", "application/json"}, {"Accept", "application/json"}};
    check.Body = hb::BuildUpdateRequest(hb::kAppVersion, hb::kAppVersionCode, 0, "bench");
    check.FollowRedirects = false;
    check.MaxBody = 1 << 20;
    hb::THttpResponse answer = http.Send(check);
    hb::TUpdateOffer offer;
    if (!answer.Ok() || answer.Status != 200 || !hb::ParseUpdateOffer(answer.Body, offer) ||
        !offer.Update || !hb::IsSafeOffer(offer)) {
      std::fprintf(stderr, "no usable offer: HTTP %d %s\n", answer.Status, answer.Body.c_str());
      return 1;
    }

    hb::THttpRequest get;
    get.Url = base + offer.DownloadPath;
    get.ConnectTimeoutMs = 3000;
    get.ResponseTimeoutMs = 15000;
    get.FollowRedirects = false;
    hb::TDownloadResult got = hb::DownloadToFile(http, get, out, offer.Size);
    if (!got.Response.Ok() || got.Overran || got.Response.Status != 200) {
      std::fprintf(stderr, "download incomplete: %s\n", got.Response.ErrorMessage.c_str());
      return 1;
    }
    std::string digest = hb::FileSha256Hex(out);
    if (digest != offer.Sha256) {
      std::fprintf(stderr, "digest mismatch\n");
      return 1;
    }
    std::string keyId;
    if (verify) {
      std::string verdict = hb::VerifyUpdatePackage(out, hb::kComponent, offer.VersionCode,
                                                    hb::TrustedReleaseKeys(), keyId);
      if (!verdict.empty()) {
        std::fprintf(stderr, "verification failed: %s\n", verdict.c_str());
        return 1;
      }
    }
    std::printf("%s  %lld bytes%s%s\n", digest.c_str(), static_cast<long long>(offer.Size),
                verify ? ", signed by " : "", keyId.c_str());
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "failed: %s\n", e.what());
    return 1;
  }
}
