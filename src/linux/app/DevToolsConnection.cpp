#include "DevToolsConnection.h"

#include <glib-unix.h>
#include <glib.h>
#include <fcntl.h>
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
void Trace(const char* direction, std::string_view frame) {
  static const bool on = g_strcmp0(g_getenv("HALLBOARD_DEVTOOLS_TRACE"), "1") == 0;
  if (on)
    std::fprintf(stderr, "%8.3f %s %.*s\n", g_get_monotonic_time() / 1e6, direction,
                 static_cast<int>(std::min<size_t>(frame.size(), 400)), frame.data());
}
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
}

uint64_t TDevToolsConnection::Send(const std::string& method, const std::string& paramsJson,
                                   const std::string& sessionId, TReplyProc onReply) {
  uint64_t id = FNextId++;
  if (!FOpen) {
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
  if (FOutPos > 0 && FOutPos == FOut.size()) {
    FOut.clear();
    FOutPos = 0;
  }
  // Written straight into the output buffer, which keeps its size: a resource's answer carries
  // its whole body, and copying it through temporaries costs the main loop more than sending.
  const size_t start = FOut.size();
  FOut += "{\"id\":";
  FOut += std::to_string(id);
  FOut += ",\"method\":";
  FOut += JsonQuote(method);
  if (!sessionId.empty()) {
    FOut += ",\"sessionId\":";
    FOut += JsonQuote(sessionId);
  }
  FOut += ",\"params\":";
  FOut += paramsJson.empty() ? std::string_view("{}") : std::string_view(paramsJson);
  FOut += '}';
  Trace(">>", std::string_view(FOut).substr(start));
  FOut.push_back('\0');
  Flush();
  return id;
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
  while (FOpen && FOutPos < FOut.size()) {
    ssize_t n = write(FWriteFd, FOut.data() + FOutPos, FOut.size() - FOutPos);
    if (n > 0) {
      FOutPos += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!FWriteSource)
        FWriteSource = g_unix_fd_add(
            FWriteFd, static_cast<GIOCondition>(G_IO_OUT | G_IO_ERR | G_IO_HUP),
            reinterpret_cast<GUnixFDSourceFunc>(&TDevToolsConnection::WriteReady), this);
      return;
    }
    return; // the pipe broke: the read side reports the close
  }
  if (FOutPos == FOut.size()) {
    FOut.clear();
    FOutPos = 0;
  }
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
