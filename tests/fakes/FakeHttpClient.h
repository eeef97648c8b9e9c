#pragma once
// IHttpClient for tests: answers scripted per URL (or by a handler), records every request.
// It keeps the real client's body cap: a scripted body longer than the request's MaxBody is cut
// to that length and marked Overflow. Safe to use from several threads.
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "IHttpClient.h"

namespace hb::test {

class TFakeHttpClient : public IHttpClient {
 public:
  using THandler = std::function<THttpResponse(const THttpRequest&)>;

  // An answer with a status and body.
  static THttpResponse Answer(int status, std::string body);
  // A failure before any answer (no connection, time-out...).
  static THttpResponse Failure(THttpError error, std::string message);

  // The answer for an exact URL; a later call for the same URL replaces it.
  void On(const std::string& url, THttpResponse response);
  // Used for every URL without a scripted answer. Without one, such a request fails as
  // heConnect "连接被拒绝".
  void SetHandler(THandler handler);

  THttpResponse Send(const THttpRequest& request, IHttpSink* sink = nullptr) override;

  std::vector<THttpRequest> Requests() const;
  std::vector<std::string> Urls() const;
  int CountFor(const std::string& url) const;

 private:
  mutable std::mutex FMutex;
  std::map<std::string, THttpResponse> FAnswers;
  THandler FHandler;
  std::vector<THttpRequest> FRequests;
};

} // namespace hb::test
