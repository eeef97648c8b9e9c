#pragma once
// Runs hallboard-demo (the demo gateway and cloud) for one test: start, ports, fault switches,
// counters, and a prompt stop. Talks to the demo over its own tiny HTTP helper, so a test of the
// program's HTTP client never depends on that client for its set-up.
#include <sys/types.h>

#include <string>
#include <vector>

namespace hb::test {

struct TDemoReply {
  int Status = 0; // 0: no answer (refused, closed, timed out)
  std::string Body;
};

class TDemoProcess {
 public:
  // Starts HB_DEMO_EXE with the extra arguments (e.g. {"--fault", "entry=500"}) and waits for its
  // "ready" line. Throws std::runtime_error when it does not start.
  explicit TDemoProcess(const std::vector<std::string>& extraArgs = {});
  ~TDemoProcess(); // SIGTERM, then SIGKILL after 3 s
  TDemoProcess(const TDemoProcess&) = delete;
  TDemoProcess& operator=(const TDemoProcess&) = delete;

  int GatewayPort() const { return FGatewayPort; }
  int CloudPort() const { return FCloudPort; }
  std::string GatewayBase() const { return "http://127.0.0.1:" + std::to_string(FGatewayPort); }
  std::string CloudBase() const { return "http://127.0.0.1:" + std::to_string(FCloudPort); }
  pid_t Pid() const { return FPid; }

  // Sets fault switches from a JSON object, e.g. R"({"cache":"429"})" or R"({"reset":true})".
  // Returns once they apply (a server switched "down" refuses connections by then). Throws
  // std::runtime_error when the demo rejects them.
  void SetFault(const std::string& jsonObject);
  // The /demo/stats JSON of the gateway (true) or the cloud (false).
  std::string Stats(bool gateway);
  void ResetStats();
  // Offers a release: {"path":"…","version_code":3,"version":"1.0.2"}. Throws when rejected.
  void SetRelease(const std::string& jsonObject);
  // The last body POSTed to /getUpdate ("" when none yet).
  std::string LastUpdateRequest();

  // One request to 127.0.0.1:port with Connection: close; the reply's status and body.
  static TDemoReply Request(int port, const std::string& method, const std::string& target,
                            const std::string& body = "", int timeoutMs = 10000);

 private:
  pid_t FPid = -1;
  int FGatewayPort = 0;
  int FCloudPort = 0;
};

} // namespace hb::test
