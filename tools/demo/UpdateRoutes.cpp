// The demo gateway's update exchanges: the check, the package download and their faults.
#include <httplib.h>
#include <rapidjson/document.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

#include "Demo.h"

namespace hb::demo {

namespace {

constexpr int kStallMs = 120000;
constexpr int64_t kHugeSize = 300LL * 1024 * 1024 + 1;

void Json(httplib::Response& res, const std::string& body, int status = 200) {
  res.status = status;
  res.set_content(body, "application/json; charset=utf-8");
}

// A nonce goes back into the download path; keep it to characters that need no encoding.
std::string SafeToken(const std::string& text) {
  std::string out;
  for (char c : text)
    if (std::isalnum(static_cast<unsigned char>(c)) || c == '-') out += c;
  return out.substr(0, 64);
}

// Answers the update check as a gateway would, with the "update" fault applied to the offer.
void AnswerCheck(TDemo& demo, const httplib::Request& req, httplib::Response& res) {
  demo.Release.SetLastRequest(req.body);
  std::string fault = demo.Faults.Get("update");
  if (fault == "500-html") {
    std::string page = "<!DOCTYPE html><html><head><title>500 Internal Server Error</title></head>"
                       "<body><h1>500 Internal Server Error</h1>";
    while (page.size() < 4000) page += "<p>StoreRelay 更新服务暂时不可用，请稍后再试。</p>";
    res.status = 500;
    res.set_content(page + "</body></html>", "text/html; charset=utf-8");
    return;
  }
  if (fault == "array") return Json(res, "[{\"update\":true}]");
  if (fault == "text") {
    res.set_content("更新服务维护中", "text/plain; charset=utf-8");
    return;
  }
  if (fault == "none") return Json(res, "{\"update\":false,\"reason\":\"已是最新版本\"}");
  if (fault == "none-no-reason") return Json(res, "{\"update\":false}");

  rapidjson::Document doc;
  doc.Parse<rapidjson::kParseIterativeFlag>(req.body.c_str(), req.body.size());
  if (doc.HasParseError() || !doc.IsObject())
    return Json(res, "{\"update\":false,\"reason\":\"请求不是 JSON 对象\"}", 400);
  int64_t current = 0;
  auto code = doc.FindMember("current_version_code");
  if (code != doc.MemberEnd() && code->value.IsInt64()) current = code->value.GetInt64();
  std::string nonce;
  auto n = doc.FindMember("nonce");
  if (n != doc.MemberEnd() && n->value.IsString()) nonce = SafeToken(n->value.GetString());

  TRelease r;
  bool metadataFault = fault == "path-case" || fault == "digest-63" || fault == "digest-65" ||
                       fault == "size-0" || fault == "size-huge" || fault == "wrong-digest";
  if (!demo.Release.Get(r)) {
    if (!metadataFault) return Json(res, "{\"update\":false,\"reason\":\"已是最新版本\"}");
    // The metadata faults are about the answer alone, so they work without a release too.
    r = TRelease{"", "placeholder.zip", "9.9.9", current + 1, std::string(64, 'a'), 1024};
  }
  if (r.VersionCode <= current) return Json(res, "{\"update\":false,\"reason\":\"已是最新版本\"}");

  std::string path = "/downloadUpdate?file=" + r.Name + "&nonce=" + (nonce.empty() ? "0" : nonce);
  std::string sha = r.Sha256;
  int64_t size = r.Size;
  if (fault == "path-case") path.replace(0, 15, "/DownloadUpdate");
  if (fault == "digest-63") sha.pop_back();
  if (fault == "digest-65") sha += "0";
  if (fault == "wrong-digest") sha[0] = sha[0] == '0' ? '1' : '0';
  if (fault == "size-0") size = 0;
  if (fault == "size-huge") size = kHugeSize;
  Json(res, "{\"update\":true,\"download_path\":" + JsonQuote(path) +
                ",\"sha256\":" + JsonQuote(sha) + ",\"size\":" + std::to_string(size) +
                ",\"version_code\":" + std::to_string(r.VersionCode) +
                ",\"version\":" + JsonQuote(r.Version) + "}");
}

// Streams the release file from disk, `limit` bytes of it, in pieces.
void ServeFile(TDemo& demo, const TRelease& r, int64_t limit, httplib::Response& res) {
  auto file = std::shared_ptr<FILE>(std::fopen(r.Path.c_str(), "rb"), [](FILE* f) {
    if (f) std::fclose(f);
  });
  if (!file) return Json(res, "{\"code\":500,\"msg\":\"更新包无法读取\"}", 500);
  res.set_content_provider(static_cast<size_t>(limit), "application/zip",
                           [&demo, file](size_t offset, size_t length, httplib::DataSink& sink) {
                             if (demo.Stopping() || demo.GatewaySlot().Stopping()) return false;
                             char buffer[256 * 1024];
                             if (std::fseek(file.get(), static_cast<long>(offset), SEEK_SET) != 0)
                               return false;
                             size_t n =
                                 std::fread(buffer, 1, std::min(length, sizeof buffer), file.get());
                             return n > 0 && sink.write(buffer, n);
                           });
}

void AnswerDownload(TDemo& demo, const httplib::Request& req, httplib::Response& res,
                    bool redirected) {
  std::string fault = demo.Faults.Get("update");
  TRelease r;
  std::string file = req.has_param("file") ? req.get_param_value("file") : "";
  if (!demo.Release.Get(r) || file != r.Name)
    return Json(res, "{\"code\":404,\"msg\":\"没有这个更新包\"}", 404);
  if (fault == "redirect-download" && !redirected) {
    res.set_redirect("/demo/redirected-download?file=" + r.Name, 302);
    return;
  }
  if (fault == "short") return ServeFile(demo, r, r.Size > 0 ? r.Size - 1 : 0, res);
  if (fault == "endless") {
    res.set_chunked_content_provider(
        "application/zip", [&demo](size_t offset, httplib::DataSink& sink) {
          static const std::string kBlock(64 * 1024, 'E');
          // Bounded all the same, so a forgotten client cannot keep the demo busy for ever.
          if (demo.Stopping() || demo.GatewaySlot().Stopping() ||
              !demo.Faults.Is("update", "endless") || offset > (8ULL << 30))
            return false;
          return sink.write(kBlock.data(), kBlock.size());
        });
    return;
  }
  if (fault == "stall") {
    res.set_content_provider(static_cast<size_t>(r.Size), "application/zip",
                             [&demo](size_t offset, size_t, httplib::DataSink& sink) {
                               if (offset == 0) return sink.write("PK\x03\x04", 4);
                               demo.HoldWhile(demo.GatewaySlot(), "update", "stall", kStallMs);
                               return false; // drop the connection once the stall ends
                             });
    return;
  }
  ServeFile(demo, r, r.Size, res);
}

} // namespace

void TDemo::AddUpdateRoutes(httplib::Server& server) {
  server.Post("/getUpdate", [this](const httplib::Request& req, httplib::Response& res) {
    if (Faults.Is("update", "redirect-check")) {
      res.set_redirect("/demo/redirected-getUpdate", 302);
      return;
    }
    AnswerCheck(*this, req, res);
  });
  // Where the redirect faults point: a client that follows them gets a normal answer, so a test
  // can tell "not followed" from "followed and failed".
  server.Post("/demo/redirected-getUpdate",
              [this](const httplib::Request& req, httplib::Response& res) {
                AnswerCheck(*this, req, res);
              });
  server.Get("/downloadUpdate", [this](const httplib::Request& req, httplib::Response& res) {
    AnswerDownload(*this, req, res, false);
  });
  server.Get("/demo/redirected-download",
             [this](const httplib::Request& req, httplib::Response& res) {
               AnswerDownload(*this, req, res, true);
             });
  server.Get("/demo/last-update-request", [this](const httplib::Request&, httplib::Response& res) {
    std::string body;
    if (!Release.LastRequest(body)) return Json(res, "{\"error\":\"no update request yet\"}", 404);
    Json(res, body);
  });
  server.Post("/demo/release", [this](const httplib::Request& req, httplib::Response& res) {
    rapidjson::Document doc;
    doc.Parse<rapidjson::kParseIterativeFlag>(req.body.c_str(), req.body.size());
    if (doc.HasParseError() || !doc.IsObject())
      return Json(res, "{\"ok\":false,\"error\":\"body must be a JSON object\"}", 400);
    auto clear = doc.FindMember("clear");
    if (clear != doc.MemberEnd() && clear->value.IsBool() && clear->value.GetBool()) {
      Release.Clear();
      return Json(res, "{\"ok\":true}");
    }
    auto path = doc.FindMember("path");
    auto code = doc.FindMember("version_code");
    auto version = doc.FindMember("version");
    if (path == doc.MemberEnd() || !path->value.IsString() || code == doc.MemberEnd() ||
        !code->value.IsInt64())
      return Json(res,
                  "{\"ok\":false,\"error\":\"needs \\\"path\\\" (text) and \\\"version_code\\\" "
                  "(whole number)\"}",
                  400);
    std::string v = version != doc.MemberEnd() && version->value.IsString()
                        ? version->value.GetString()
                        : std::to_string(code->value.GetInt64());
    std::string error = Release.Set(path->value.GetString(), code->value.GetInt64(), v);
    if (!error.empty()) return Json(res, "{\"ok\":false,\"error\":" + JsonQuote(error) + "}", 400);
    TRelease r;
    Release.Get(r);
    Json(res, "{\"ok\":true,\"sha256\":" + JsonQuote(r.Sha256) +
                  ",\"size\":" + std::to_string(r.Size) + ",\"file\":" + JsonQuote(r.Name) + "}");
  });
}

} // namespace hb::demo
