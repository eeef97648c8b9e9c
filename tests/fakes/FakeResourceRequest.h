#pragma once
// IResourceRequest for tests: a request as the browser would hand it to a resource handler,
// counting deferrals and completions (from any thread) and keeping the response it was given.
#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "IBrowser.h"

namespace hb::test {

class TFakeResourceRequest : public IResourceRequest {
 public:
  TFakeResourceRequest(std::string uri, std::string method = "GET",
                       std::vector<std::string> headerNames = {})
      : FUri(std::move(uri)), FMethod(std::move(method)), FHeaderNames(std::move(headerNames)) {}

  bool DeferResult = true;
  bool SetResponseResult = true;
  std::function<void()> OnDefer; // runs inside Defer, e.g. to start a pause at that moment

  std::atomic<int> Defers{0};
  std::atomic<int> Completes{0};
  std::atomic<int> Responses{0};
  // Set when a response was given before the completion.
  std::atomic<bool> AnsweredAtCompletion{false};

  std::string Uri() override { return FUri; }
  std::string Method() override { return FMethod; }
  bool HasHeader(const std::string& name) override {
    for (const std::string& h : FHeaderNames)
      if (Lower(h) == Lower(name)) return true;
    return false;
  }
  bool Defer() override {
    if (OnDefer) OnDefer();
    if (!DeferResult) return false;
    ++Defers;
    return true;
  }
  bool SetResponse(int status, const std::string& reason, const std::string& headers,
                   std::string body) override {
    if (!SetResponseResult) return false;
    std::lock_guard<std::mutex> lock(FMutex);
    ++Responses;
    Status = status;
    Reason = reason;
    Headers = headers;
    Body = std::move(body);
    return true;
  }
  void Complete() override {
    AnsweredAtCompletion = Responses.load() > 0;
    ++Completes;
  }

  // The response, valid once Responses > 0.
  int Status = 0;
  std::string Reason;
  std::string Headers;
  std::string Body;

 private:
  static std::string Lower(std::string s) {
    for (char& c : s)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
  }

  std::string FUri;
  std::string FMethod;
  std::vector<std::string> FHeaderNames;
  std::mutex FMutex;
};

} // namespace hb::test
