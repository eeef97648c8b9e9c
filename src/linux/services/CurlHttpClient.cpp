// libcurl behind IHttpClient. Depends on libcurl only.
//
// The transfer runs on a private multi handle so that the response time-out can mean what it
// means on Windows: the longest wait for the next bytes of the answer, not a limit on the whole
// transfer. A 300 MB download that keeps arriving never times out; a server that goes quiet for
// longer than the time-out does, whatever phase it is in.
#include "CurlHttpClient.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <mutex>

namespace hb {

namespace {

constexpr int kDefaultTimeoutMs = 30000;
constexpr const char* kDefaultUserAgent = "hallBoard";
constexpr long kMaxRedirects = 10;

using TClock = std::chrono::steady_clock;

void GlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// What the callbacks share with Send for one transfer.
struct TTransfer {
  const THttpRequest* Request = nullptr;
  IHttpSink* Sink = nullptr;
  THttpResponse* Response = nullptr;
  bool Connected = false; // the request is about to go out on a connection
  bool Activity = false;  // bytes arrived since the last look
  bool Overflow = false;  // the memory body passed MaxBody
  bool SinkRefused = false;
  std::vector<std::pair<std::string, std::string>> Headers; // of the latest answer
};

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r' || s[b] == '\n')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r' || s[e - 1] == '\n'))
    --e;
  return s.substr(b, e - b);
}

bool SameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
  auto* t = static_cast<TTransfer*>(user);
  size_t n = size * count;
  t->Activity = true;
  std::string line(data, n);
  if (line.compare(0, 5, "HTTP/") == 0) {
    // A new answer begins (after a redirect or an interim 1xx): its headers replace the last.
    t->Headers.clear();
    return n;
  }
  auto colon = line.find(':');
  if (colon != std::string::npos && colon > 0)
    t->Headers.emplace_back(Trim(line.substr(0, colon)), Trim(line.substr(colon + 1)));
  return n;
}

size_t OnBody(char* data, size_t size, size_t count, void* user) {
  auto* t = static_cast<TTransfer*>(user);
  size_t n = size * count;
  t->Activity = true;
  THttpResponse& r = *t->Response;
  if (t->Sink) {
    if (!t->Sink->Write(data, n)) {
      t->SinkRefused = true;
      return 0; // stops the transfer (CURLE_WRITE_ERROR)
    }
    r.BodyBytes += static_cast<int64_t>(n);
    return n;
  }
  int64_t cap = t->Request->MaxBody;
  if (cap >= 0 && static_cast<int64_t>(r.Body.size()) + static_cast<int64_t>(n) > cap) {
    // Keep what fits and stop: a larger body is never held whole.
    size_t keep = static_cast<size_t>(cap) - r.Body.size();
    r.Body.append(data, keep);
    r.BodyBytes += static_cast<int64_t>(keep);
    t->Overflow = true;
    return 0;
  }
  r.Body.append(data, n);
  r.BodyBytes += static_cast<int64_t>(n);
  return n;
}

// Called once a connection (new or reused) is ready and the request is about to be sent; from
// here on the response time-out runs.
int OnPrereq(void* user, char*, char*, int, int) {
  auto* t = static_cast<TTransfer*>(user);
  t->Connected = true;
  t->Activity = true;
  return CURL_PREREQFUNC_OK;
}

THttpError Classify(CURLcode code, bool answered) {
  switch (code) {
  case CURLE_COULDNT_RESOLVE_HOST:
    return THttpError::heResolve;
  case CURLE_OPERATION_TIMEDOUT:
    return THttpError::heTimeout;
  case CURLE_COULDNT_CONNECT:
    return THttpError::heConnect;
  case CURLE_SEND_ERROR:
  case CURLE_RECV_ERROR:
    // A connection reset before any answer is a connection that did not hold.
    return answered ? THttpError::heOther : THttpError::heConnect;
  default:
    return THttpError::heOther;
  }
}

std::string Lead(THttpError e) {
  switch (e) {
  case THttpError::heResolve:
    return "无法解析服务器地址";
  case THttpError::heConnect:
    return "无法连接服务器";
  case THttpError::heTimeout:
    return "连接服务器超时";
  default:
    return "HTTP 请求失败";
  }
}

struct TSlist {
  curl_slist* List = nullptr;
  ~TSlist() { curl_slist_free_all(List); }
  bool Add(const std::string& line) {
    curl_slist* next = curl_slist_append(List, line.c_str());
    if (!next) return false;
    List = next;
    return true;
  }
};

} // namespace

TCurlHttpClient::TCurlHttpClient() {
  GlobalInit();
  FEasy = curl_easy_init();
  FMulti = curl_multi_init();
}

TCurlHttpClient::~TCurlHttpClient() {
  if (FMulti) curl_multi_cleanup(static_cast<CURLM*>(FMulti));
  if (FEasy) curl_easy_cleanup(static_cast<CURL*>(FEasy));
}

THttpResponse TCurlHttpClient::Send(const THttpRequest& request, IHttpSink* sink) {
  THttpResponse r;
  CURL* easy = static_cast<CURL*>(FEasy);
  CURLM* multi = static_cast<CURLM*>(FMulti);
  if (!easy || !multi) {
    r.Error = THttpError::heOther;
    r.ErrorMessage = "HTTP 请求失败：libcurl 无法初始化";
    return r;
  }
  // The request header text must not carry line breaks of its own.
  auto clean = [](const std::string& s) { return s.find_first_of("\r\n") == std::string::npos; };
  for (const auto& [name, value] : request.Headers) {
    if (name.empty() || !clean(name) || !clean(value) || name.find(':') != std::string::npos) {
      r.Error = THttpError::heOther;
      r.ErrorMessage = "HTTP 请求失败：请求头无效：" + name;
      return r;
    }
  }

  curl_easy_reset(easy); // keeps the connection cache, forgets every option
  TTransfer t;
  t.Request = &request;
  t.Sink = sink;
  t.Response = &r;
  char errorText[CURL_ERROR_SIZE] = {};
  const std::string method = request.Method.empty() ? "GET" : request.Method;
  const int connectMs = request.ConnectTimeoutMs > 0 ? request.ConnectTimeoutMs : kDefaultTimeoutMs;
  const int responseMs =
      request.ResponseTimeoutMs > 0 ? request.ResponseTimeoutMs : kDefaultTimeoutMs;

  curl_easy_setopt(easy, CURLOPT_URL, request.Url.c_str());
  curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, errorText);
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  // The store network talks to its gateway and cloud directly; a proxy from the environment
  // would only get in the way.
  curl_easy_setopt(easy, CURLOPT_PROXY, "");
  curl_easy_setopt(easy, CURLOPT_NOPROXY, "*");
  // Name resolution counts against the connect time-out, as on Windows.
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(connectMs));
  curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, request.FollowRedirects ? 1L : 0L);
  curl_easy_setopt(easy, CURLOPT_MAXREDIRS, kMaxRedirects);
  curl_easy_setopt(easy, CURLOPT_USERAGENT,
                   request.UserAgent.empty() ? kDefaultUserAgent : request.UserAgent.c_str());
  // No cookie engine: none of CURLOPT_COOKIE* is ever set, so nothing is stored or sent.
  curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, OnHeader);
  curl_easy_setopt(easy, CURLOPT_HEADERDATA, &t);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, OnBody);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &t);
  curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, OnPrereq);
  curl_easy_setopt(easy, CURLOPT_PREREQDATA, &t);

  if (method == "GET") {
    curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
  } else if (method == "HEAD") {
    curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
  } else {
    if (method != "POST") curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, method.c_str());
    if (method == "POST" || !request.Body.empty()) {
      curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE,
                       static_cast<curl_off_t>(request.Body.size()));
      curl_easy_setopt(easy, CURLOPT_POSTFIELDS, request.Body.data());
    }
  }

  TSlist headers;
  bool hasExpect = false, hasContentType = false;
  for (const auto& [name, value] : request.Headers) {
    hasExpect |= SameName(name, "Expect");
    hasContentType |= SameName(name, "Content-Type");
    // "Name;" is curl's way to send a header with an empty value.
    if (!headers.Add(value.empty() ? name + ";" : name + ": " + value)) {
      r.Error = THttpError::heOther;
      r.ErrorMessage = "HTTP 请求失败：内存不足";
      return r;
    }
  }
  // No "100-continue" round trip before a body: gateways do not expect it.
  if (!hasExpect) headers.Add("Expect:");
  // curl would label a body as a form; without a type of the caller's, send none.
  if (!hasContentType && !request.Body.empty()) headers.Add("Content-Type:");
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers.List);

  bool timedOut = false;
  CURLcode code = CURLE_OK;
  if (curl_multi_add_handle(multi, easy) != CURLM_OK) {
    r.Error = THttpError::heOther;
    r.ErrorMessage = "HTTP 请求失败：libcurl 无法开始传输";
    return r;
  }
  const auto start = TClock::now();
  auto last = start;
  curl_off_t lastUp = 0;
  // The overall deadline and the rate rule are watched here as well, beside the quiet time.
  const bool rateRule = request.MinBytesPerSecond > 0 && request.RateWindowMs > 0;
  auto windowStart = start;
  int64_t windowBytes = 0;
  bool tooLong = false, tooSlow = false;
  for (;;) {
    int running = 0;
    CURLMcode mc = curl_multi_perform(multi, &running);
    if (mc != CURLM_OK) {
      code = CURLE_FAILED_INIT;
      std::snprintf(errorText, sizeof errorText, "%s", curl_multi_strerror(mc));
      break;
    }
    if (running == 0) {
      int left = 0;
      CURLMsg* msg = curl_multi_info_read(multi, &left);
      code = msg && msg->msg == CURLMSG_DONE ? msg->data.result : CURLE_RECV_ERROR;
      break;
    }
    auto now = TClock::now();
    curl_off_t up = 0;
    curl_easy_getinfo(easy, CURLINFO_SIZE_UPLOAD_T, &up);
    if (!t.Connected || t.Activity || up != lastUp) {
      last = now;
      lastUp = up;
      t.Activity = false;
    }
    auto quiet = std::chrono::duration_cast<std::chrono::milliseconds>(now - last).count();
    if (quiet >= responseMs) {
      timedOut = true;
      break;
    }
    long long wait = std::min<long long>(responseMs - quiet, 1000);
    if (request.TotalTimeoutMs > 0) {
      auto used = std::chrono::duration_cast<std::chrono::milliseconds>(now - start).count();
      if (used >= request.TotalTimeoutMs) {
        tooLong = true;
        break;
      }
      wait = std::min<long long>(wait, request.TotalTimeoutMs - used);
    }
    if (rateRule) {
      auto inWindow =
          std::chrono::duration_cast<std::chrono::milliseconds>(now - windowStart).count();
      if (inWindow >= request.RateWindowMs) {
        if (RateTooLow(r.BodyBytes - windowBytes, inWindow, request.MinBytesPerSecond)) {
          tooSlow = true;
          break;
        }
        windowStart = now;
        windowBytes = r.BodyBytes;
        inWindow = 0;
      }
      wait = std::min<long long>(wait, request.RateWindowMs - inWindow);
    }
    curl_multi_poll(multi, nullptr, 0, static_cast<int>(std::max<long long>(wait, 1)), nullptr);
  }
  curl_multi_remove_handle(multi, easy);

  long status = 0;
  curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
  r.Status = static_cast<int>(status);
  for (const auto& name : request.ResponseHeaders) {
    for (const auto& [n, v] : t.Headers) {
      if (SameName(n, name)) {
        r.Headers.emplace_back(name, v);
        break;
      }
    }
  }

  if (timedOut) {
    r.Error = THttpError::heTimeout;
    r.ErrorMessage = "等待服务器应答超时（" + std::to_string(responseMs) + " 毫秒内没有收到数据）";
  } else if (tooLong) {
    r.Error = THttpError::heTimeout;
    r.ErrorMessage = TotalTimeoutText(request.TotalTimeoutMs);
  } else if (tooSlow) {
    r.Error = THttpError::heTimeout;
    r.ErrorMessage = SlowAnswerText(request.MinBytesPerSecond, request.RateWindowMs);
  } else if (t.Overflow) {
    r.Overflow = true; // an answer, only longer than wanted
  } else if (t.SinkRefused) {
    r.Error = THttpError::heAborted;
    r.ErrorMessage = "下载已中止";
  } else if (code != CURLE_OK) {
    r.Error = Classify(code, status != 0);
    std::string detail = errorText[0] ? errorText : curl_easy_strerror(code);
    r.ErrorMessage = Lead(r.Error) + "：" + detail + "（curl " + std::to_string(code) + "）";
  }
  return r;
}

} // namespace hb
