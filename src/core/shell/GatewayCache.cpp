// Interception, the fetch thread and the response step of the gateway cache.
//
// Every deferred request must be completed exactly once, or the browser waits for it forever.
// The request record therefore completes its deferral itself when its last owner lets go of it
// without having done so. That happens only once the window is closing and the queue drops the
// response step unrun, or when the step cannot be queued at all; the request then continues to
// the cloud. The drop may happen on the fetch thread (a queue that refuses new work after
// shutdown frees it there); completing from there is still right: a browser that is going away
// ignores it, one that lives on would otherwise stall the request for good. The shells' request
// objects carry such a completion over to their user-interface thread themselves, so no browser
// object is touched from a fetch thread.
#include "shell/GatewayCache.h"
#include "shell/TestTimers.h"

#include <algorithm>
#include <mutex>
#include <shared_mutex>
#include <thread>
#include <vector>

#include "UrlEncode.h"

namespace hb {

std::atomic<uint64_t> BlockedUntil{0};

namespace {

std::atomic<int> FetchesInFlight{0};

// Bytes held by the bodies of all fetches (the strings' capacity), and the budget for them.
std::atomic<int64_t> BytesHeld{0};
std::atomic<int64_t> Budget{kCacheMemoryBudget};

// Takes bytes from the budget; false (and nothing taken) when they do not fit.
bool TakeBudget(int64_t bytes) {
  int64_t held = BytesHeld.load();
  do {
    if (held + bytes > Budget.load()) return false;
  } while (!BytesHeld.compare_exchange_weak(held, held + bytes));
  return true;
}

// Fetch threads use the queue and the system port only while holding PortsLock shared and only
// while the cache is not stopped, so once StopGatewayCache returns the shell may free both.
std::shared_mutex PortsLock;
std::atomic<bool> Stopped{false};

constexpr const char* kDefaultCacheControl = "public, max-age=600";
constexpr const char* kNoFunctionText = "接口不存在";
constexpr size_t kNotFoundPeek = 4096;

// The captured state of one intercepted request, shared by the user-interface thread and its
// fetch thread. The request fields are written before the thread starts, the result fields
// before the response step is queued.
struct TCacheRequest {
  int64_t Limit = kCacheBodyLimit;
  std::string Gateway;
  bool SeatMap = false;
  std::string PathQuery;
  std::shared_ptr<IResourceRequest> Request;

  std::string CT;
  std::string CC;
  std::string Bytes;
  int64_t Held = 0; // the part of the budget Bytes holds
  bool Ok = false;

  std::atomic<bool> Completed{false};

  // Frees the body and gives its part of the budget back; returns the bytes given back.
  int64_t FreeBytes() noexcept {
    std::string().swap(Bytes);
    const int64_t held = Held;
    BytesHeld -= held;
    Held = 0;
    return held;
  }

  void Complete() noexcept {
    if (Completed.exchange(true)) return;
    try {
      Request->Complete();
    } catch (...) {
      // An adapter that fails here cannot be helped; the browser drops the request with the view.
    }
  }
  ~TCacheRequest() {
    Complete();
    FreeBytes();
  }
};

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

std::string TrimSpaces(const std::string& s) {
  size_t b = s.find_first_not_of(' ');
  if (b == std::string::npos) return {};
  return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

std::string StripTrailingSlashes(std::string s) {
  while (!s.empty() && s.back() == '/') s.pop_back();
  return s;
}

// A header value from the gateway goes into the header text given to the browser: a control
// character there could start a header of its own, so none survives.
std::string HeaderSafe(const std::string& v) {
  std::string out;
  out.reserve(v.size());
  for (char c : v) {
    auto u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u != 0x7F)
      out.push_back(c);
    else if (c == '\t')
      out.push_back(' ');
  }
  return out;
}

// The value of an answer header asked for, by name without regard to ASCII case.
std::string HeaderValue(const THttpResponse& resp, std::string_view name) {
  for (const auto& [n, v] : resp.Headers)
    if (EqualsNoCase(n, name)) return v;
  return {};
}

// Receives the body into the record, within its size limit and the shared budget. The body
// grows by doubling where the budget allows it, else by what each piece needs, and each growth
// is taken from the budget before it is made (the old block, already counted, lives on only for
// the copy). The new block is made at exactly the size taken: reserve on the string itself would
// round a growth of less than double up to double, past what the budget gave.
class TBodySink : public IHttpSink {
 public:
  explicit TBodySink(TCacheRequest& r) : FR(r) {}
  bool Write(const void* data, size_t size) override {
    std::string& b = FR.Bytes;
    const int64_t need = static_cast<int64_t>(b.size()) + static_cast<int64_t>(size);
    if (need > FR.Limit) return false;
    if (need > static_cast<int64_t>(b.capacity())) {
      const int64_t capacity = FR.Held;
      int64_t grown = std::min(FR.Limit, std::max(need, 2 * capacity));
      if (!TakeBudget(grown - capacity)) {
        grown = need;
        if (!TakeBudget(grown - capacity)) {
          OverBudget = true;
          return false;
        }
      }
      FR.Held = grown;
      std::string bigger;
      bigger.reserve(static_cast<size_t>(grown));
      bigger.append(b);
      b.swap(bigger);
    }
    b.append(static_cast<const char*>(data), size);
    return true;
  }
  bool OverBudget = false;

 private:
  TCacheRequest& FR;
};

// Judges the gateway's answer (its body already in the record): keeps it on success; returns
// the pause the answer calls for (0: none).
uint64_t Judge(TCacheRequest& r, const THttpResponse& resp) {
  if (!resp.Ok()) return IsTransportFailure(resp.Error) ? kPauseUnreachableMs : 0;
  if (resp.Status == 200) {
    if (resp.Overflow || r.Bytes.empty() || static_cast<int64_t>(r.Bytes.size()) > r.Limit)
      return 0;
    r.CT = HeaderValue(resp, "Content-Type");
    r.CC = HeaderValue(resp, "Cache-Control");
    r.Ok = true;
  } else if (resp.Status == 429) {
    return kPauseBusyMs;
  } else if (resp.Status == 404) {
    std::string_view peek(r.Bytes);
    peek = peek.substr(0, kNotFoundPeek);
    if (peek.find(kNoFunctionText) != std::string_view::npos) return kPauseNoFunctionMs;
  }
  return 0;
}

// Frees a record's body; after a large one the memory goes back to the system (an allocator
// keeps freed blocks of that size otherwise, and a page reload brings the next batch at once).
void FreeBody(TCacheRequest& r, ISystem* system) {
  const int64_t freed = r.FreeBytes();
  if (system && freed >= kCacheTrimAfterBytes) {
    try {
      system->TrimMemory();
    } catch (...) {
    }
  }
}

// On the user-interface thread: answer the request when a body was fetched, then release it.
void RespondOnUi(TCacheRequest& r, ISystem* system) {
  if (r.Ok) {
    try {
      std::string cc = r.CC.empty() ? std::string(kDefaultCacheControl) : HeaderSafe(r.CC);
      std::string headers = "Content-Type: " + NormalizeContentType(HeaderSafe(r.CT)) +
                            "\r\nCache-Control: " + cc + "\r\nX-QV-Cache: gateway";
      r.Request->SetResponse(200, "OK", headers, std::move(r.Bytes));
    } catch (...) {
      // Without a response the request continues to the cloud.
    }
  }
  FreeBody(r, system);
  r.Complete();
}

// Hands the record to the user-interface thread; once the cache is stopped it is dropped here
// instead (and completes itself, see the top of this file).
void Post(IUiQueue& queue, ISystem* system, std::shared_ptr<TCacheRequest> r, bool respond) {
  std::shared_lock<std::shared_mutex> lock(PortsLock);
  if (Stopped) return;
  try {
    queue.Post([r = std::move(r), respond, system] {
      if (respond)
        RespondOnUi(*r, system);
      else
        r->Complete();
    });
  } catch (...) {
    // The record completes its deferral when it is freed.
  }
}

void Fetch(std::shared_ptr<TCacheRequest> r, const THttpClientFactory& newHttp, ISystem* system,
           IUiQueue* queue) {
  std::unique_ptr<IHttpClient> client;
  {
    std::shared_lock<std::shared_mutex> lock(PortsLock);
    if (Stopped) return;
    // A pause that began after Invoke let this request through: leave it to the cloud.
    if (system->TickCount64() < BlockedUntil.load()) {
      lock.unlock();
      Post(*queue, system, std::move(r), false);
      return;
    }
    try {
      client = newHttp();
    } catch (...) {
    }
  }
  uint64_t pause = 0;
  try {
    if (client) {
      THttpRequest req;
      req.Method = "GET";
      req.Url = r->Gateway + "/cache?u=" + UrlEncode(r->PathQuery);
      req.ConnectTimeoutMs = static_cast<int>(ScaledLoadMs(kCacheConnectTimeoutMs));
      req.ResponseTimeoutMs = static_cast<int>(
          ScaledLoadMs(r->SeatMap                                 ? kSeatMapResponseTimeoutMs
                       : r->PathQuery.starts_with(kCatalogPrefix) ? kCatalogResponseTimeoutMs
                                                                  : kCacheResponseTimeoutMs));
      // A gateway that trickles would hold the page's request past any quiet time-out.
      req.TotalTimeoutMs = req.ConnectTimeoutMs + req.ResponseTimeoutMs;
      req.FollowRedirects = false;
      req.UserAgent = kCacheUserAgent;
      req.ResponseHeaders = {"Content-Type", "Cache-Control"};
      req.MaxBody = r->Limit;
      TBodySink sink(*r);
      pause = Judge(*r, client->Send(req, &sink));
    }
  } catch (...) {
    // Any other failure falls back to the cloud without a pause.
    pause = 0;
    r->Ok = false;
  }
  // A body that will not be served is let go of at once, not when the step has run.
  if (!r->Ok) {
    std::shared_lock<std::shared_mutex> lock(PortsLock);
    FreeBody(*r, Stopped ? nullptr : system);
  }
  client.reset();
  if (pause) {
    std::shared_lock<std::shared_mutex> lock(PortsLock);
    if (!Stopped) BlockedUntil.store(system->TickCount64() + ScaledMs(pause));
  }
  Post(*queue, system, std::move(r), true);
}

void FetchThread(std::shared_ptr<TCacheRequest> r, THttpClientFactory newHttp, ISystem* system,
                 IUiQueue* queue) {
  Fetch(std::move(r), newHttp, system, queue);
  --FetchesInFlight;
}

std::vector<const void*>& HookedWebViews() {
  static std::vector<const void*> views;
  return views;
}

} // namespace

int64_t GatewayCacheBytesHeld() {
  return BytesHeld.load();
}

void CountGatewayCacheAnswerBytes(int64_t delta) {
  BytesHeld += delta;
}

void SetGatewayCacheBudgetForTests(int64_t bytes) {
  Budget = bytes > 0 ? bytes : kCacheMemoryBudget;
}

int GatewayFetchesInFlight() {
  return FetchesInFlight.load();
}

void StopGatewayCache() {
  std::unique_lock<std::shared_mutex> lock(PortsLock);
  Stopped = true;
}

void RestartGatewayCacheForTests() {
  std::unique_lock<std::shared_mutex> lock(PortsLock);
  Stopped = false;
}

TGatewayCacheHandler::TGatewayCacheHandler(std::string server, std::string gateway,
                                           TGatewayCachePorts ports)
    : FServer(std::move(server)), FGateway(std::move(gateway)), FPorts(std::move(ports)) {}

void TGatewayCacheHandler::Invoke(std::shared_ptr<IResourceRequest> request) {
  if (!request || !FPorts.Queue || !FPorts.System || !FPorts.NewHttp || Stopped) return;
  std::shared_ptr<TCacheRequest> r;
  try {
    if (FPorts.System->TickCount64() < BlockedUntil.load()) return;
    // With the budget spent, the cloud serves the request, as during a pause.
    if (BytesHeld.load() >= Budget.load()) return;
    if (!EqualsNoCase(request->Method(), "GET")) return;
    std::string uri = request->Uri();
    if (uri.size() <= FServer.size() || uri[FServer.size()] != '/' ||
        !EqualsNoCase(std::string_view(uri).substr(0, FServer.size()), FServer))
      return;
    std::string_view pathQuery = std::string_view(uri).substr(FServer.size());
    if (!IsCacheablePath(pathQuery)) return;
    // Partial requests (video seeking) stay with the cloud.
    if (request->HasHeader("Range")) return;

    auto record = std::make_shared<TCacheRequest>();
    record->SeatMap = IsSeatMapMedia(pathQuery);
    record->Limit = record->SeatMap ? kSeatMapBodyLimit : kCacheBodyLimit;
    record->Gateway = FGateway;
    record->PathQuery = std::string(pathQuery);
    // Marked completed until the deferral is really taken, so a failed Defer is never completed.
    record->Completed = true;
    record->Request = request;
    if (!request->Defer()) return;
    record->Completed = false;
    r = std::move(record);

    ++FetchesInFlight;
    try {
      std::thread(FetchThread, r, FPorts.NewHttp, FPorts.System, FPorts.Queue).detach();
    } catch (...) {
      --FetchesInFlight;
      throw;
    }
  } catch (...) {
    // No thread could take the request (or something else failed after the deferral): release
    // it now so the browser fetches it from the cloud.
    if (r) r->Complete();
  }
}

void InstallGatewayCache(IBrowser& browser, const std::string& server,
                         const std::string& gatewayBase, const TGatewayCachePorts& ports) {
  try {
    if (!browser.HasWebView() || !browser.WebViewIdentity()) return;
    if (!ports.Queue || !ports.System || !ports.NewHttp) return;
    std::string trimmedServer = TrimSpaces(server);
    std::string trimmedGateway = TrimSpaces(gatewayBase);
    if (trimmedServer.empty() || trimmedGateway.empty()) return;

    const void* view = browser.WebViewIdentity();
    std::vector<const void*>& hooked = HookedWebViews();
    for (const void* v : hooked)
      if (v == view) return;

    std::string base = StripTrailingSlashes(trimmedServer);
    static constexpr const char* kPrefixFilters[] = {
        "/assets/", "/product-image/",  "/shop/netfee-image/", "/shop/news-image/",
        "/avatar/", "/shop/game-icon/", "/brand-logo",         "/site-logo",
    };
    for (const char* prefix : kPrefixFilters) browser.AddResourceFilter(base + prefix + "*");
    browser.AddResourceFilter(base + "/shop/catalog-version?*");
    browser.AddResourceFilter(base + "/seatmap/*/img/*");

    auto handler =
        std::make_shared<TGatewayCacheHandler>(base, StripTrailingSlashes(trimmedGateway), ports);
    bool registered =
        browser.SetResourceRequestedHandler([handler](std::shared_ptr<IResourceRequest> request) {
          handler->Invoke(std::move(request));
        });
    if (registered) hooked.push_back(view);
    // Once before the first body, so that the allocator treats large bodies as it will after a
    // trim (on Linux: mapped directly, returned when freed) from the very first page on.
    ports.System->TrimMemory();
  } catch (...) {
    // Without the cache the page loads from the cloud as before.
  }
}

void ForgetHookedWebView(const void* webView) {
  if (!webView) return;
  std::vector<const void*>& hooked = HookedWebViews();
  hooked.erase(std::remove(hooked.begin(), hooked.end(), webView), hooked.end());
}

} // namespace hb
