#include "DevToolsConnection.h"

#include <glib-unix.h>
#include <glib.h>
#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "UiGuard.h"

namespace hb::lin {
namespace {
// HALLBOARD_DEVTOOLS_TRACE=1 writes every message (shortened) to stderr, for whoever has to find
// out what the browser and the program told each other.
bool Tracing() {
  static const bool on = g_strcmp0(g_getenv("HALLBOARD_DEVTOOLS_TRACE"), "1") == 0;
  return on;
}
void Trace(const char* direction, std::string_view frame) {
  if (Tracing())
    std::fprintf(stderr, "%8.3f %s %.*s\n", g_get_monotonic_time() / 1e6, direction,
                 static_cast<int>(std::min<size_t>(frame.size(), 400)), frame.data());
}

// Params up to this size are copied into their message's one piece (and small messages share a
// piece); larger ones are queued as pieces of their own, without a copy.
constexpr size_t kInlinePiece = 64 * 1024;
constexpr int kMaxIov = 64;
} // namespace

std::vector<std::string> TFrameSplitter::Feed(const char* data, size_t size) {
  std::vector<std::string> frames;
  size_t pos = 0;
  while (pos < size) {
    const void* nul = std::memchr(data + pos, '\0', size - pos);
    size_t end = nul ? static_cast<size_t>(static_cast<const char*>(nul) - data) : size;
    if (!FSkipping) {
      size_t take = end - pos;
      if (FBuffer.size() + take > FMax) {
        FBuffer.clear();
        FBuffer.shrink_to_fit();
        FSkipping = true;
        ++FDropped;
      } else {
        FBuffer.append(data + pos, take);
      }
    }
    if (!nul) break;
    if (!FSkipping) frames.push_back(std::move(FBuffer));
    FBuffer.clear();
    FSkipping = false;
    pos = end + 1;
  }
  return frames;
}

std::string JsonQuote(const std::string& text) {
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  writer.String(text.data(), static_cast<rapidjson::SizeType>(text.size()));
  return std::string(buffer.GetString(), buffer.GetSize());
}

std::string JsonString(const rapidjson::Value& object, const char* name) {
  if (!object.IsObject()) return {};
  auto it = object.FindMember(name);
  if (it == object.MemberEnd() || !it->value.IsString()) return {};
  return std::string(it->value.GetString(), it->value.GetStringLength());
}

TDevToolsConnection::TDevToolsConnection(int writeFd, int readFd)
    : FWriteFd(writeFd), FReadFd(readFd) {
  g_unix_set_fd_nonblocking(FWriteFd, TRUE, nullptr);
  // Room for a few resource answers at once (each carries its body), so the main loop hands
  // them over in one write instead of waiting for the browser to drain 64 KiB at a time. A
  // system that allows less keeps its default.
  fcntl(FWriteFd, F_SETPIPE_SZ, 1 << 20);
  g_unix_set_fd_nonblocking(FReadFd, TRUE, nullptr);
  FReadSource =
      g_unix_fd_add(FReadFd, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR),
                    reinterpret_cast<GUnixFDSourceFunc>(&TDevToolsConnection::ReadReady), this);
}

TDevToolsConnection::~TDevToolsConnection() {
  OnClosed = nullptr;
  OnEvent = nullptr;
  FPending.clear();
  Shutdown();
}

void TDevToolsConnection::Shutdown() {
  if (FReadSource) g_source_remove(FReadSource);
  if (FWriteSource) g_source_remove(FWriteSource);
  FReadSource = FWriteSource = 0;
  if (FWriteFd >= 0) close(FWriteFd);
  if (FReadFd >= 0) close(FReadFd);
  FWriteFd = FReadFd = -1;
  FOpen = false;
  DropQueue();
}

uint64_t TDevToolsConnection::Send(const std::string& method, std::string paramsJson,
                                   const std::string& sessionId, TReplyProc onReply,
                                   std::function<void()> onWritten) {
  uint64_t id = FNextId++;
  if (!FOpen) {
    if (onWritten) onWritten(); // dropped unsent
    if (onReply) {
      // Answered later, never inside the call, so callers see one order of events.
      auto* proc = new TReplyProc(std::move(onReply));
      g_idle_add_full(
          G_PRIORITY_DEFAULT,
          [](gpointer p) -> gboolean {
            auto* r = static_cast<TReplyProc*>(p);
            CallbackGuarded([&] { (*r)(TDevToolsReply{"连接已关闭", nullptr}); });
            return G_SOURCE_REMOVE;
          },
          proc, [](gpointer p) { delete static_cast<TReplyProc*>(p); });
    }
    return id;
  }
  if (onReply) FPending.emplace(id, std::move(onReply));
  if (paramsJson.empty()) paramsJson = "{}";
  std::string head = "{\"id\":";
  head += std::to_string(id);
  head += ",\"method\":";
  head += JsonQuote(method);
  if (!sessionId.empty()) {
    head += ",\"sessionId\":";
    head += JsonQuote(sessionId);
  }
  head += ",\"params\":";
  if (Tracing()) Trace(">>", head + paramsJson.substr(0, 400));
  if (paramsJson.size() <= kInlinePiece) {
    head += paramsJson;
    head += '}';
    head.push_back('\0');
    Queue(std::move(head), std::move(onWritten));
  } else {
    Queue(std::move(head));
    Queue(std::move(paramsJson));
    Queue(std::string("}\0", 2), std::move(onWritten));
  }
  Flush();
  return id;
}

void TDevToolsConnection::Queue(std::string bytes, std::function<void()> onWritten) {
  FQueued += bytes.size();
  // Small messages share the last piece (it never grows past twice the inline size).
  if (!FOut.empty() && !FOut.back().OnWritten && bytes.size() <= kInlinePiece &&
      FOut.back().Bytes.size() <= kInlinePiece) {
    FOut.back().Bytes += bytes;
    FOut.back().OnWritten = std::move(onWritten);
    return;
  }
  FOut.push_back(TOutPiece{std::move(bytes), std::move(onWritten)});
}

void TDevToolsConnection::DropQueue() {
  std::deque<TOutPiece> dropped;
  dropped.swap(FOut);
  FOutPos = 0;
  FQueued = 0;
  for (auto& piece : dropped)
    if (piece.OnWritten) piece.OnWritten();
}

void TDevToolsConnection::SendFromMainLoop(std::weak_ptr<TDevToolsConnection> conn,
                                           std::string method, std::string paramsJson,
                                           std::string sessionId) {
  struct TItem {
    std::weak_ptr<TDevToolsConnection> Conn;
    std::string Method, Params, Session;
  };
  // g_idle_add is the one GLib call meant for any thread; the item holds no strong reference, so
  // dropping it unrun (the loop has ended) frees nothing of the connection's.
  g_idle_add_full(
      G_PRIORITY_DEFAULT,
      [](gpointer p) -> gboolean {
        auto* item = static_cast<TItem*>(p);
        Guarded([&] {
          if (auto c = item->Conn.lock(); c && c->Open())
            c->Send(item->Method, item->Params, item->Session);
        });
        return G_SOURCE_REMOVE;
      },
      new TItem{std::move(conn), std::move(method), std::move(paramsJson), std::move(sessionId)},
      [](gpointer p) { delete static_cast<TItem*>(p); });
}

void TDevToolsConnection::Flush() {
  std::vector<std::function<void()>> written;
  while (FOpen && !FOut.empty()) {
    iovec iov[kMaxIov];
    int count = 0;
    for (auto it = FOut.begin(); it != FOut.end() && count < kMaxIov; ++it, ++count) {
      const size_t skip = count == 0 ? FOutPos : 0;
      iov[count].iov_base = const_cast<char*>(it->Bytes.data()) + skip;
      iov[count].iov_len = it->Bytes.size() - skip;
    }
    ssize_t n = writev(FWriteFd, iov, count);
    if (n > 0) {
      auto left = static_cast<size_t>(n);
      FQueued -= left;
      while (left > 0) {
        const size_t rest = FOut.front().Bytes.size() - FOutPos;
        if (left < rest) {
          FOutPos += left;
          break;
        }
        left -= rest;
        // The piece's memory goes now: a large answer is not kept once the pipe has it.
        if (FOut.front().OnWritten) written.push_back(std::move(FOut.front().OnWritten));
        FOut.pop_front();
        FOutPos = 0;
      }
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!FWriteSource)
        FWriteSource = g_unix_fd_add(
            FWriteFd, static_cast<GIOCondition>(G_IO_OUT | G_IO_ERR | G_IO_HUP),
            reinterpret_cast<GUnixFDSourceFunc>(&TDevToolsConnection::WriteReady), this);
      break;
    }
    break; // the pipe broke: the read side reports the close
  }
  for (auto& proc : written) proc();
}

int TDevToolsConnection::WriteReady(int, unsigned, void* p) {
  auto* self = static_cast<TDevToolsConnection*>(p);
  self->FWriteSource = 0;
  CallbackGuarded([&] { self->Flush(); });
  return G_SOURCE_REMOVE;
}

int TDevToolsConnection::ReadReady(int, unsigned condition, void* p) {
  auto* self = static_cast<TDevToolsConnection*>(p);
  bool closed = false;
  CallbackGuarded([&] {
    char buf[65536];
    for (;;) {
      ssize_t n = read(self->FReadFd, buf, sizeof buf);
      if (n > 0) {
        for (auto& frame : self->FSplitter.Feed(buf, static_cast<size_t>(n))) {
          // One failing handler must not cost the frames after it.
          CallbackGuarded([&] { self->HandleFrame(frame); });
          if (!self->FOpen) return;
        }
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        if (condition & (G_IO_ERR)) closed = true;
        return;
      }
      closed = true; // end of file or a broken pipe: the browser has gone
      return;
    }
  });
  if (!closed) return G_SOURCE_CONTINUE;
  // Returning G_SOURCE_REMOVE removes the source itself; forget its id first.
  self->FReadSource = 0;
  auto pending = std::move(self->FPending);
  self->FPending.clear();
  self->Shutdown();
  for (auto& [id, proc] : pending)
    CallbackGuarded([&] { proc(TDevToolsReply{"连接已关闭", nullptr}); });
  if (self->OnClosed) {
    auto closedProc = self->OnClosed;
    CallbackGuarded([&] { closedProc(); });
  }
  return G_SOURCE_REMOVE;
}

void TDevToolsConnection::HandleFrame(const std::string& frame) {
  Trace("<<", frame);
  rapidjson::Document doc;
  doc.Parse<rapidjson::kParseIterativeFlag>(frame.data(), frame.size());
  if (doc.HasParseError() || !doc.IsObject()) return; // not a protocol message: ignored
  auto idIt = doc.FindMember("id");
  if (idIt != doc.MemberEnd()) {
    if (!idIt->value.IsUint64()) return;
    auto it = FPending.find(idIt->value.GetUint64());
    if (it == FPending.end()) return;
    TReplyProc proc = std::move(it->second);
    FPending.erase(it);
    TDevToolsReply reply;
    auto err = doc.FindMember("error");
    if (err != doc.MemberEnd()) {
      reply.Error = JsonString(err->value, "message");
      if (reply.Error.empty()) reply.Error = "协议错误";
    } else {
      auto res = doc.FindMember("result");
      static const rapidjson::Value kEmpty(rapidjson::kObjectType);
      reply.Result = res != doc.MemberEnd() ? &res->value : &kEmpty;
    }
    proc(reply);
    return;
  }
  std::string method = JsonString(doc, "method");
  if (method.empty() || !OnEvent) return;
  auto params = doc.FindMember("params");
  static const rapidjson::Value kNoParams(rapidjson::kObjectType);
  // Copied: the handler may replace or clear OnEvent while it runs.
  TEventProc handler = OnEvent;
  handler(method, JsonString(doc, "sessionId"),
          params != doc.MemberEnd() && params->value.IsObject() ? params->value : kNoParams);
}

} // namespace hb::lin
