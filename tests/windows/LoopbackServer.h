#pragma once
// A scripted HTTP/1.1 server on 127.0.0.1 for the WinHTTP client's tests: each path gives one
// kind of answer (plain, redirect, slow, trickling, large, echo of the request, cookie, dropped
// connection).
#include <winsock2.h>
#include <ws2tcpip.h>

#include <atomic>
#include <string>
#include <thread>

namespace hb::test {

class TLoopbackServer {
 public:
  TLoopbackServer() {
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
    FListen = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(FListen, reinterpret_cast<sockaddr*>(&a), sizeof a);
    int len = sizeof a;
    getsockname(FListen, reinterpret_cast<sockaddr*>(&a), &len);
    FPort = ntohs(a.sin_port);
    listen(FListen, 16);
    FThread = std::thread([this] { Loop(); });
  }
  ~TLoopbackServer() {
    FStop = true;
    FThread.join();
    closesocket(FListen);
    WSACleanup();
  }
  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(FPort) + path;
  }
  // A port on which nothing listens (bound, then released).
  static int DeadPort() {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    int len = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    closesocket(s);
    return ntohs(a.sin_port);
  }

 private:
  // Waits for connections in short rounds instead of one blocking accept, which is never woken
  // for certain: under load under Wine a second request to the server once went unanswered for
  // the client's 30 s and the test then hung on its way out. A round looks again every 100 ms,
  // and the destructor stops the loop before it closes the socket.
  void Loop() {
    while (!FStop) {
      fd_set ready;
      FD_ZERO(&ready);
      FD_SET(FListen, &ready);
      timeval round{0, 100 * 1000};
      int n = select(0, &ready, nullptr, nullptr, &round);
      if (n == SOCKET_ERROR) return;
      if (n == 0) continue;
      SOCKET c = accept(FListen, nullptr, nullptr);
      if (c == INVALID_SOCKET) continue;
      std::thread([c] { Serve(c); }).detach();
    }
  }
  static void Send(SOCKET c, const std::string& s) {
    size_t off = 0;
    while (off < s.size()) {
      int n = send(c, s.data() + off, static_cast<int>(s.size() - off), 0);
      if (n <= 0) return;
      off += static_cast<size_t>(n);
    }
  }
  static void Answer(SOCKET c, const std::string& status, const std::string& headers,
                     const std::string& body, bool keepOpen = false) {
    Send(c, "HTTP/1.1 " + status + "\r\nContent-Length: " + std::to_string(body.size()) +
                (keepOpen ? "\r\n" : "\r\nConnection: close\r\n") + headers + "\r\n" + body);
  }
  static void Serve(SOCKET c) {
    // A redirect leaves the connection open: a client may ask for the new address on it or on a
    // new one, and gets its answer either way.
    while (ServeOne(c)) {
    }
    shutdown(c, SD_BOTH);
    closesocket(c);
  }
  // Answers one request; true when the connection stays open for the next.
  static bool ServeOne(SOCKET c) {
    std::string req;
    char buf[4096];
    size_t headEnd;
    while ((headEnd = req.find("\r\n\r\n")) == std::string::npos) {
      int n = recv(c, buf, sizeof buf, 0);
      if (n <= 0) break;
      req.append(buf, static_cast<size_t>(n));
    }
    if (headEnd == std::string::npos && req.empty()) return false; // the client closed
    size_t cl = req.find("Content-Length: ");
    if (headEnd != std::string::npos && cl != std::string::npos && cl < headEnd) {
      size_t want = headEnd + 4 + std::stoul(req.substr(cl + 16));
      while (req.size() < want) {
        int n = recv(c, buf, sizeof buf, 0);
        if (n <= 0) break;
        req.append(buf, static_cast<size_t>(n));
      }
    }
    std::string path = req.substr(req.find(' ') + 1);
    path = path.substr(0, path.find(' '));
    if (path == "/hello") {
      Answer(c, "200 OK", "X-Store: 门店\r\nContent-Type: text/plain\r\n", "hello");
    } else if (path == "/redirect") {
      Answer(c, "302 Found", "Location: /hello\r\n", "", true);
      return true;
    } else if (path == "/slow") {
      Sleep(3000);
      Answer(c, "200 OK", "", "late");
    } else if (path == "/trickle") {
      // One byte every 100 ms of an announced 600: never quiet, never done.
      Send(c, "HTTP/1.1 200 OK\r\nContent-Length: 600\r\nConnection: close\r\n\r\n");
      for (int i = 0; i < 600; ++i) {
        if (send(c, "x", 1, 0) != 1) break;
        Sleep(100);
      }
    } else if (path == "/big") {
      Answer(c, "200 OK", "", std::string(200000, 'x'));
    } else if (path == "/cookie") {
      Answer(c, "200 OK", "Set-Cookie: session=1; Path=/\r\n", "");
    } else if (path == "/drop") {
      // closes without a word
    } else if (path == "/missing") {
      Answer(c, "404 Not Found", "", "no");
    } else {
      Answer(c, "200 OK", "", req); // /echo and anything else: the request as received
    }
    return false;
  }
  SOCKET FListen;
  int FPort = 0;
  std::atomic<bool> FStop{false};
  std::thread FThread;
};

} // namespace hb::test
