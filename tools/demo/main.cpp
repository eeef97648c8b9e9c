// hallboard-demo: starts the demo gateway and cloud on loopback and runs until SIGTERM/SIGINT.
// Prints "gateway 127.0.0.1:PORT", "cloud 127.0.0.1:PORT" and "ready" on stdout, nothing more.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "Demo.h"

namespace {

void Usage() {
  std::fprintf(stderr,
               "usage: hallboard-demo [--gateway-port N] [--cloud-port N] [--store-name TEXT]\n"
               "         [--netbar-id ID] [--release FILE.zip --release-version-code N\n"
               "         --release-version V] [--fault name=value]...\n"
               "         [--cloud-latency-ms N] [--cloud-rate-kbps N]\n");
}

bool ParsePort(const char* text, int& port) {
  char* end = nullptr;
  long v = std::strtol(text, &end, 10);
  if (!*text || *end || v < 0 || v > 65535) return false;
  port = static_cast<int>(v);
  return true;
}

} // namespace

int main(int argc, char** argv) {
  hb::demo::TDemoOptions options;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    if (arg == "--help" || arg == "-h") {
      Usage();
      return 0;
    }
    if (!value) {
      std::fprintf(stderr, "hallboard-demo: %s needs a value\n", arg.c_str());
      Usage();
      return 2;
    }
    ++i;
    if (arg == "--gateway-port" || arg == "--cloud-port") {
      int& port = arg == "--gateway-port" ? options.GatewayPort : options.CloudPort;
      if (!ParsePort(value, port)) {
        std::fprintf(stderr, "hallboard-demo: %s: not a port: %s\n", arg.c_str(), value);
        return 2;
      }
    } else if (arg == "--store-name") {
      options.StoreName = value;
    } else if (arg == "--netbar-id") {
      options.NetBarId = value;
    } else if (arg == "--release") {
      options.ReleasePath = value;
    } else if (arg == "--release-version-code") {
      char* end = nullptr;
      options.ReleaseVersionCode = std::strtoll(value, &end, 10);
      if (!*value || *end) {
        std::fprintf(stderr, "hallboard-demo: --release-version-code: not a number: %s\n", value);
        return 2;
      }
    } else if (arg == "--release-version") {
      options.ReleaseVersion = value;
    } else if (arg == "--cloud-latency-ms" || arg == "--cloud-rate-kbps") {
      // The same switches /demo/fault changes at run time; TDemo::Start checks the value.
      options.Faults.emplace_back(arg.substr(2), value);
    } else if (arg == "--fault") {
      const char* eq = std::strchr(value, '=');
      if (!eq) {
        std::fprintf(stderr, "hallboard-demo: --fault wants name=value, got %s\n", value);
        return 2;
      }
      options.Faults.emplace_back(std::string(value, eq), std::string(eq + 1));
    } else {
      std::fprintf(stderr, "hallboard-demo: unknown option %s\n", arg.c_str());
      Usage();
      return 2;
    }
  }
  if (options.ReleaseVersion.empty())
    options.ReleaseVersion = std::to_string(options.ReleaseVersionCode);

  // Every thread inherits the blocked signals; the main thread alone takes them with sigtimedwait.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  std::signal(SIGPIPE, SIG_IGN);

  hb::demo::TDemo demo(options);
  if (!demo.Start()) {
    demo.Stop();
    return 1;
  }
  std::printf("gateway 127.0.0.1:%d\ncloud 127.0.0.1:%d\nready\n", demo.GatewayPort(),
              demo.CloudPort());
  std::fflush(stdout);

  for (;;) {
    timespec wait{0, 50 * 1000 * 1000};
    int s = sigtimedwait(&signals, nullptr, &wait);
    if (s == SIGTERM || s == SIGINT) break;
    demo.Reconcile();
  }
  demo.Stop();
  return 0;
}
