#pragma once
// A small client of the browser's debugging protocol over the two pipes that
// "--remote-debugging-pipe" opens: we write NUL-terminated JSON commands to the browser's fd 3 and
// read NUL-terminated JSON messages from its fd 4. Driven from the GLib main loop; every callback
// runs on the user-interface thread.
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <rapidjson/document.h>

namespace hb::lin {

// Splits a byte stream into NUL-terminated frames. A frame longer than the cap is dropped whole
// (its bytes up to the next NUL are skipped) so a runaway peer cannot grow memory without bound.
class TFrameSplitter {
 public:
  explicit TFrameSplitter(size_t maxFrame = 256u << 20) : FMax(maxFrame) {}
  // Appends bytes and returns the frames they completed, in order.
  std::vector<std::string> Feed(const char* data, size_t size);
  size_t Buffered() const { return FBuffer.size(); }
  uint64_t Dropped() const { return FDropped; }

 private:
  std::string FBuffer;
  size_t FMax;
  bool FSkipping = false;
  uint64_t FDropped = 0;
};

// One answer to a command: Error is empty on success, else the protocol's error message.
struct TDevToolsReply {
  std::string Error;
  const rapidjson::Value* Result = nullptr; // valid only during the callback
};
using TReplyProc = std::function<void(const TDevToolsReply&)>;
using TEventProc = std::function<void(const std::string& method, const std::string& sessionId,
                                      const rapidjson::Value& params)>;

class TDevToolsConnection {
 public:
  // Takes ownership of both descriptors: writeFd is our end of the browser's fd 3, readFd of its
  // fd 4.
  TDevToolsConnection(int writeFd, int readFd);
  ~TDevToolsConnection();
  TDevToolsConnection(const TDevToolsConnection&) = delete;
  TDevToolsConnection& operator=(const TDevToolsConnection&) = delete;

  // Sends method with params (a JSON object text, "{}" when empty) to the browser or, with a
  // session id, to an attached target. The reply, if wanted, arrives through onReply; a closed
  // connection answers at once with an error (through the main loop, never inside the call).
  // Large params are queued as they are, not copied: pass them with std::move. onWritten runs
  // once the pipe has taken the whole message, or when it is dropped unsent (the connection
  // closed); never inside the call.
  uint64_t Send(const std::string& method, std::string paramsJson,
                const std::string& sessionId = {}, TReplyProc onReply = {},
                std::function<void()> onWritten = {});
  // Bytes queued for the pipe and not yet taken by it.
  size_t Queued() const { return FQueued; }
  // Send for a thread other than the main loop's: the command is sent from the main loop, where
  // conn is locked, so neither the write nor the release of the last reference to the
  // connection ever happens on the calling thread. A connection gone by then sends nothing.
  static void SendFromMainLoop(std::weak_ptr<TDevToolsConnection> conn, std::string method,
                               std::string paramsJson, std::string sessionId);
  bool Open() const { return FOpen; }

  TEventProc OnEvent;
  std::function<void()> OnClosed; // the browser closed its end (it exited or crashed)

  // Exposed for tests: handles one received frame as if it came from the pipe.
  void HandleFrame(const std::string& frame);

 private:
  static int ReadReady(int fd, unsigned condition, void* self);
  static int WriteReady(int fd, unsigned condition, void* self);
  void Flush();
  void Shutdown();

  int FWriteFd;
  int FReadFd;
  unsigned FReadSource = 0;
  unsigned FWriteSource = 0;
  bool FOpen = true;
  uint64_t FNextId = 1;
  TFrameSplitter FSplitter;
  // Messages not yet taken by the pipe, each in its own pieces: a resource's answer carries its
  // whole body, so it is queued without a copy, and its memory goes as soon as the pipe has it
  // instead of staying behind as the capacity of one buffer that grew to the largest backlog.
  struct TOutPiece {
    std::string Bytes;
    std::function<void()> OnWritten;
  };
  void Queue(std::string bytes, std::function<void()> onWritten = {});
  void DropQueue();
  std::deque<TOutPiece> FOut;
  size_t FOutPos = 0; // bytes of FOut.front() already written
  size_t FQueued = 0;
  std::map<uint64_t, TReplyProc> FPending;
};

// JSON text helpers for building command parameters.
std::string JsonQuote(const std::string& text);
// A member's string value, or "" when missing or not a string.
std::string JsonString(const rapidjson::Value& object, const char* name);

} // namespace hb::lin
