#pragma once
// libcurl behind IHttpClient. One client per thread; a client may send many requests in turn and
// keeps its connection open between them.
#include "IHttpClient.h"

namespace hb {

class TCurlHttpClient : public IHttpClient {
 public:
  TCurlHttpClient();
  ~TCurlHttpClient() override;
  TCurlHttpClient(const TCurlHttpClient&) = delete;
  TCurlHttpClient& operator=(const TCurlHttpClient&) = delete;

  THttpResponse Send(const THttpRequest& request, IHttpSink* sink = nullptr) override;

 private:
  void* FEasy = nullptr;  // CURL*
  void* FMulti = nullptr; // CURLM*, drives the transfer so the response time-out is ours
};

} // namespace hb
