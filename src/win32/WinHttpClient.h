#pragma once
// IHttpClient over WinHTTP: one session and one request per Send, synchronous, on the caller's
// (background) thread.
#include "IHttpClient.h"

namespace hb::win {

class TWinHttpClient : public IHttpClient {
 public:
  THttpResponse Send(const THttpRequest& request, IHttpSink* sink = nullptr) override;
};

// Which THttpError a WinHTTP error code stands for; answered tells whether the status line had
// already arrived (a broken connection mid-body is no longer a connection failure).
THttpError ClassifyWinHttpError(unsigned long code, bool answered);

} // namespace hb::win
