#include "DemoProcess.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace hb::test {

namespace {

using TClock = std::chrono::steady_clock;

int Remaining(TClock::time_point end) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - TClock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

bool PortRefuses(int port) {
  int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) return false;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool refused = connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0;
  close(s);
  return refused;
}

} // namespace

TDemoProcess::TDemoProcess(const std::vector<std::string>& extraArgs) {
  std::vector<std::string> args = {HB_DEMO_EXE, "--gateway-port", "0", "--cloud-port", "0"};
  args.insert(args.end(), extraArgs.begin(), extraArgs.end());
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("hallboard-demo: no pipe");
  pid_t parent = getpid();
  FPid = fork();
  if (FPid < 0) {
    close(out[0]);
    close(out[1]);
    throw std::runtime_error("hallboard-demo: fork failed");
  }
  if (FPid == 0) {
    // Only async-signal-safe calls between fork and exec. The demo dies with the test process.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(127);
    dup2(out[1], STDOUT_FILENO);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(out[1]);

  // Read "gateway 127.0.0.1:P", "cloud 127.0.0.1:P", "ready".
  std::string text;
  auto end = TClock::now() + std::chrono::seconds(20);
  while (text.find("ready\n") == std::string::npos) {
    pollfd p{out[0], POLLIN, 0};
    if (poll(&p, 1, Remaining(end)) <= 0) break;
    char buf[256];
    ssize_t n = read(out[0], buf, sizeof buf);
    if (n <= 0) break;
    text.append(buf, static_cast<size_t>(n));
  }
  close(out[0]);
  auto port = [&text](const char* name) {
    auto at = text.find(std::string(name) + " 127.0.0.1:");
    return at == std::string::npos ? 0 : std::atoi(text.c_str() + at + std::strlen(name) + 11);
  };
  FGatewayPort = port("gateway");
  FCloudPort = port("cloud");
  if (text.find("ready\n") == std::string::npos || !FGatewayPort || !FCloudPort) {
    kill(FPid, SIGKILL);
    waitpid(FPid, nullptr, 0);
    FPid = -1;
    throw std::runtime_error("hallboard-demo did not start (its output: \"" + text + "\")");
  }
}

TDemoProcess::~TDemoProcess() {
  if (FPid <= 0) return;
  kill(FPid, SIGTERM);
  auto end = TClock::now() + std::chrono::seconds(3);
  while (TClock::now() < end) {
    if (waitpid(FPid, nullptr, WNOHANG) == FPid) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(FPid, SIGKILL);
  waitpid(FPid, nullptr, 0);
}

TDemoReply TDemoProcess::Request(int port, const std::string& method, const std::string& target,
                                 const std::string& body, int timeoutMs) {
  TDemoReply reply;
  int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) return reply;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    close(s);
    return reply;
  }
  std::string request = method + " " + target +
                        " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                        "\r\nConnection: close\r\n";
  if (!body.empty() || method == "POST")
    request +=
        "Content-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) + "\r\n";
  request += "\r\n" + body;
  for (size_t sent = 0; sent < request.size();) {
    ssize_t n = send(s, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) {
      close(s);
      return reply;
    }
    sent += static_cast<size_t>(n);
  }
  std::string answer;
  auto end = TClock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    pollfd p{s, POLLIN, 0};
    if (poll(&p, 1, Remaining(end)) <= 0) break;
    char buf[16384];
    ssize_t n = recv(s, buf, sizeof buf, 0);
    if (n <= 0) break;
    answer.append(buf, static_cast<size_t>(n));
  }
  close(s);
  auto headEnd = answer.find("\r\n\r\n");
  if (answer.compare(0, 9, "HTTP/1.1 ") != 0 || headEnd == std::string::npos) return reply;
  reply.Status = std::atoi(answer.c_str() + 9);
  reply.Body = answer.substr(headEnd + 4);
  return reply;
}

void TDemoProcess::SetFault(const std::string& jsonObject) {
  // Ask the cloud unless it is down; a server going down itself answers first and then stops.
  int port = FCloudPort;
  TDemoReply reply = Request(port, "POST", "/demo/fault", jsonObject);
  if (reply.Status == 0) {
    port = FGatewayPort;
    reply = Request(port, "POST", "/demo/fault", jsonObject);
  }
  if (reply.Status != 200)
    throw std::runtime_error("hallboard-demo rejected the faults " + jsonObject + ": " +
                             (reply.Status ? reply.Body : std::string("no answer")));
  if (reply.Body.find("\"pending\":true") != std::string::npos) {
    auto end = TClock::now() + std::chrono::seconds(3);
    while (!PortRefuses(port) && TClock::now() < end)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

std::string TDemoProcess::Stats(bool gateway) {
  return Request(gateway ? FGatewayPort : FCloudPort, "GET", "/demo/stats").Body;
}

void TDemoProcess::ResetStats() {
  Request(FGatewayPort, "POST", "/demo/stats/reset");
  Request(FCloudPort, "POST", "/demo/stats/reset");
}

void TDemoProcess::SetRelease(const std::string& jsonObject) {
  TDemoReply reply = Request(FGatewayPort, "POST", "/demo/release", jsonObject);
  if (reply.Status != 200)
    throw std::runtime_error("hallboard-demo rejected the release " + jsonObject + ": " +
                             reply.Body);
}

std::string TDemoProcess::LastUpdateRequest() {
  TDemoReply reply = Request(FGatewayPort, "GET", "/demo/last-update-request");
  return reply.Status == 200 ? reply.Body : std::string();
}

} // namespace hb::test
