#include "FakeHttpClient.h"

namespace hb::test {

THttpResponse TFakeHttpClient::Answer(int status, std::string body) {
  THttpResponse r;
  r.Status = status;
  r.Body = std::move(body);
  return r;
}

THttpResponse TFakeHttpClient::Failure(THttpError error, std::string message) {
  THttpResponse r;
  r.Error = error;
  r.ErrorMessage = std::move(message);
  return r;
}

void TFakeHttpClient::On(const std::string& url, THttpResponse response) {
  std::lock_guard<std::mutex> lock(FMutex);
  FAnswers[url] = std::move(response);
}

void TFakeHttpClient::SetHandler(THandler handler) {
  std::lock_guard<std::mutex> lock(FMutex);
  FHandler = std::move(handler);
}

THttpResponse TFakeHttpClient::Send(const THttpRequest& request, IHttpSink* sink) {
  THttpResponse response;
  THandler handler;
  {
    std::lock_guard<std::mutex> lock(FMutex);
    FRequests.push_back(request);
    auto it = FAnswers.find(request.Url);
    if (it != FAnswers.end()) {
      response = it->second;
    } else if (FHandler) {
      handler = FHandler;
    } else {
      response = Failure(THttpError::heConnect, "连接被拒绝");
    }
  }
  if (handler) response = handler(request);
  if (!response.Ok()) return response;
  response.BodyBytes = static_cast<int64_t>(response.Body.size());
  if (sink) {
    const bool taken =
        response.Body.empty() || sink->Write(response.Body.data(), response.Body.size());
    response.Body.clear();
    if (!taken) {
      response.Error = THttpError::heAborted;
      response.ErrorMessage = "接收方停止了传输";
    }
  } else if (request.MaxBody >= 0 && response.BodyBytes > request.MaxBody) {
    response.Body.resize(static_cast<size_t>(request.MaxBody));
    response.Overflow = true;
  }
  return response;
}

std::vector<THttpRequest> TFakeHttpClient::Requests() const {
  std::lock_guard<std::mutex> lock(FMutex);
  return FRequests;
}

std::vector<std::string> TFakeHttpClient::Urls() const {
  std::lock_guard<std::mutex> lock(FMutex);
  std::vector<std::string> urls;
  for (const THttpRequest& r : FRequests) urls.push_back(r.Url);
  return urls;
}

int TFakeHttpClient::CountFor(const std::string& url) const {
  std::lock_guard<std::mutex> lock(FMutex);
  int n = 0;
  for (const THttpRequest& r : FRequests) n += r.Url == url;
  return n;
}

} // namespace hb::test
