#include <gtest/gtest.h>

#include "PackageBuilder.h"
#include "signature/ZipReader.h"

namespace hb {
namespace {

using test::ReplaceAll;
using test::TPackagePlan;

// Folds ASCII and the one non-ASCII pair the tests use, the way the platforms fold every alphabet.
class TFoldingSystem : public test::TFakeSystem {
 public:
  std::string FileNameKey(const std::string& name) override {
    std::string key = TFakeSystem::FileNameKey(name);
    test::ReplaceAll(key, "\xC3\x84", "\xC3\xA4"); // Ä -> ä
    return key;
  }
};

class UpdatePackage : public ::testing::Test {
 protected:
  void SetUp() override { InstallPlatform(&FSystem, &FHasher); }
  void TearDown() override { InstallPlatform(nullptr, nullptr); }

  std::string Verify(const TPackagePlan& plan, std::string* keyIdOut = nullptr) {
    std::string path = FTmp / "package.zip";
    test::BuildPackage(path, plan);
    return VerifyPath(path, keyIdOut);
  }
  std::string VerifyPath(const std::string& path, std::string* keyIdOut = nullptr) {
    std::string keyId = "stale";
    std::string verdict =
        VerifyUpdatePackage(path, "HallBoard", 3, {ParseReleaseKey(test::kDevKeyLine)}, keyId);
    if (keyIdOut) *keyIdOut = keyId;
    return verdict;
  }

  TFoldingSystem FSystem;
  TOpenSslHasher FHasher;
  test::TTempFolder FTmp;
};

using TMutation = std::function<void(TPackagePlan&)>;

TMutation AddFile(const std::string& name, const std::string& content = "data") {
  return [=](TPackagePlan& s) { s.Files.emplace_back(name, content); };
}
TMutation EditList(const std::string& from, const std::string& to) {
  return
      [=](TPackagePlan& s) { s.EditFileList = [=](std::string& t) { ReplaceAll(t, from, to); }; };
}
TMutation EditManifest(const std::string& from, const std::string& to) {
  return
      [=](TPackagePlan& s) { s.EditManifest = [=](std::string& t) { ReplaceAll(t, from, to); }; };
}
TMutation EditSignature(const std::string& from, const std::string& to) {
  return
      [=](TPackagePlan& s) { s.EditSignature = [=](std::string& t) { ReplaceAll(t, from, to); }; };
}
TMutation Both(TMutation a, TMutation b) {
  return [=](TPackagePlan& s) {
    a(s);
    b(s);
  };
}
TMutation SetFile(const std::string& name, const std::string& content) {
  return [=](TPackagePlan& s) {
    for (auto& f : s.Files)
      if (f.first == name) f.second = content;
  };
}

const std::string kNoSignature = "更新包没有签名，请用发布脚本或“签名打包工具”重新打包后上传";
const std::string kManifestMismatch = "manifest.json 与签名清单不一致";

// Every finding of the verification, in check order, each from a package that is valid except
// for the one thing the case changes.
TEST_F(UpdatePackage, EveryCheckHasItsMessage) {
  struct {
    const char* Case;
    TMutation Mutate;
    std::string Message;
    std::string KeyId = "4c4c6d37f8a1da95";
  } cases[] = {
      {"valid", nullptr, ""},
      {"folder entries are skipped",
       [](TPackagePlan& s) {
         s.Folders = {"web/", "empty/"};
       },
       ""},
      {"stored entries with descriptors",
       [](TPackagePlan& s) {
         s.Options = {false, true, false};
       },
       ""},
      {"zip64 records",
       [](TPackagePlan& s) {
         s.Options = {true, false, true};
       },
       ""},
      {"double slash", AddFile("web//a.js"), "更新包含不安全的路径：web//a.js", ""},
      {"leading dot piece", AddFile("./a.js"), "更新包含不安全的路径：./a.js", ""},
      {"dot piece inside", AddFile("web/./a.js"), "更新包含不安全的路径：web/./a.js", ""},
      {"trailing dot piece", AddFile("web/."), "更新包含不安全的路径：web/.", ""},
      {"parent at start", AddFile("../evil.exe"), "更新包含不安全的路径：../evil.exe", ""},
      {"parent inside", AddFile("web/../../x"), "更新包含不安全的路径：web/../../x", ""},
      {"parent at end", AddFile("web/.."), "更新包含不安全的路径：web/..", ""},
      {"backslash", AddFile("web\\..\\x"), "更新包含不安全的路径：web\\..\\x", ""},
      {"drive letter", AddFile("C:/x.exe"), "更新包含不安全的路径：C:/x.exe", ""},
      {"stream colon", AddFile("a.txt:evil"), "更新包含不安全的路径：a.txt:evil", ""},
      {"leading slash", AddFile("/etc/x"), "更新包含不安全的路径：/etc/x", ""},
      {"case duplicate", AddFile("HALLBOARD.EXE"),
       "更新包有重复（或大小写重复）的文件：HALLBOARD.EXE", ""},
      {"non-ASCII case duplicate",
       [](TPackagePlan& s) {
         s.Files.emplace_back("\xC3\xA4.txt", "1");
         s.Files.emplace_back("\xC3\x84.txt", "2");
       },
       "更新包有重复（或大小写重复）的文件：\xC3\x84.txt", ""},
      {"no signature files", [](TPackagePlan& s) { s.WithSignatureFiles = false; }, kNoSignature,
       ""},
      {"signature file missing",
       [](TPackagePlan& s) { s.SignatureName = "update-manifest.sig.bak"; }, kNoSignature, ""},
      {"signature files in other case",
       [](TPackagePlan& s) {
         s.ManifestName = "Update-Manifest.json";
         s.SignatureName = "UPDATE-MANIFEST.SIG";
         s.FileListName = "update-FILES.json";
       },
       ""},
      {"signature not JSON", EditSignature("{", "<"), "签名格式不对", ""},
      {"signature not an object",
       [](TPackagePlan& s) { s.EditSignature = [](std::string& t) { t = "[" + t + "]"; }; },
       "签名格式不对", ""},
      {"alg in capitals", EditSignature("\"ed25519\"", "\"ED25519\""), "签名格式不对", ""},
      {"sig not base64", EditSignature("\"sig\":\"", "\"sig\":\"*"), "签名格式不对"},
      {"key id in capitals is found", EditSignature("4c4c6d37f8a1da95", "4C4C6D37F8A1DA95"), ""},
      {"unknown key", EditSignature("4c4c6d37f8a1da95", "ABCDEF0123456789"),
       "更新包不是用认可的私钥签名的（公钥编号 abcdef0123456789 未登记）", "abcdef0123456789"},
      {"sig of 63 bytes",
       [](TPackagePlan& s) {
         s.EditSignature = [](std::string& t) {
           size_t at = t.find("\"sig\":\"") + 7;
           t.replace(at, t.find('"', at) - at, EncodeBase64(std::string(63, 'A')));
         };
       },
       "签名核对不通过，包可能被改动过"},
      {"manifest changed after signing",
       [](TPackagePlan& s) { s.EditManifestAfterSigning = [](std::string& t) { t += " "; }; },
       "签名核对不通过，包可能被改动过"},
      {"manifest not an object",
       [](TPackagePlan& s) { s.EditManifest = [](std::string& t) { t = "[" + t + "]"; }; },
       "签名清单格式不对"},
      {"format in capitals", EditManifest("qvtk-component-package-1", "QVTK-COMPONENT-PACKAGE-1"),
       "不是组件更新包的签名清单"},
      {"component of another program", [](TPackagePlan& s) { s.Component = "SeatClient"; },
       "签名清单的组件（SeatClient）与云端下发不一致"},
      {"component in other case",
       [](TPackagePlan& s) {
         s.Component = "hallboard";
         s.Files[1].second = R"({"component":"HALLBOARD","version":"1.0.2","version_code":3})";
       },
       ""},
      {"version code differs", [](TPackagePlan& s) { s.VersionCode = 4; },
       "签名清单的版本代码与云端下发不一致"},
      {"version code as text", EditManifest("\"version_code\":3", "\"version_code\":\"3\""), ""},
      {"file list digest wrong", EditManifest("\"files_sha256\":\"", "\"files_sha256\":\"0"),
       "文件清单与签名不符"},
      {"file list digest in capitals",
       [](TPackagePlan& s) {
         s.EditManifest = [](std::string& t) {
           size_t at = t.find("files_sha256\":\"") + 15;
           for (size_t i = at; i < at + 64; ++i) t[i] = static_cast<char>(std::toupper(t[i]));
         };
       },
       ""},
      {"file list not an object",
       [](TPackagePlan& s) { s.EditFileList = [](std::string& t) { t = "[" + t + "]"; }; },
       "文件清单格式不对"},
      {"file list not JSON",
       [](TPackagePlan& s) { s.EditFileList = [](std::string& t) { t += "}"; }; },
       "文件清单格式不对"},
      {"one entry short", EditManifest("\"files\":3", "\"files\":4"), "文件清单条目数不对"},
      {"files not an object",
       [](TPackagePlan& s) { s.EditFileList = [](std::string& t) { t = R"({"files":[1,2,3]})"; }; },
       "文件清单条目数不对"},
      {"lists a signature file",
       Both(EditList("\"hallBoard.exe\"", "\"update-manifest.sig\":{},\"hallBoard.exe\""),
            EditManifest("\"files\":3", "\"files\":4")),
       "文件清单条目不对：update-manifest.sig"},
      {"entry value not an object",
       Both(EditList("{\"files\":{", "{\"files\":{\"x.txt\":5,"),
            EditManifest("\"files\":3", "\"files\":4")),
       "文件清单条目不对：x.txt"},
      {"listed in other case", EditList("\"hallBoard.exe\"", "\"HallBoard.exe\""),
       "清单里的文件包里没有：HallBoard.exe"},
      {"listed but not stored", EditList("\"web/index.html\"", "\"web/main.html\""),
       "清单里的文件包里没有：web/main.html"},
      {"size differs", EditList("\"size\":70010", "\"size\":70011"),
       "文件大小与清单不符：hallBoard.exe"},
      {"size missing", EditList(",\"size\":70010", ""), "文件大小与清单不符：hallBoard.exe"},
      {"file digests in capitals",
       [](TPackagePlan& s) {
         s.EditFileList = [](std::string& t) {
           for (size_t at = 0; (at = t.find("\"sha256\":\"", at)) != std::string::npos;) {
             at += 10;
             for (size_t i = at; i < at + 64; ++i) t[i] = static_cast<char>(std::toupper(t[i]));
           }
         };
       },
       ""},
      {"content changed, size kept",
       [](TPackagePlan& s) {
         s.EditFileList = [&s](std::string& t) {
           ReplaceAll(t, Sha256Hex(s.Files[2].second), Sha256Hex("<html>坏的</html>?"));
         };
       },
       "文件内容与清单不符：web/index.html"},
      {"unlisted file, count as if listed",
       Both([](TPackagePlan& s) { s.Unlisted = {"web/index.html"}; },
            EditManifest("\"files\":2", "\"files\":3")),
       "文件清单条目数不对"},
      {"unlisted file, count right", [](TPackagePlan& s) { s.Unlisted = {"web/index.html"}; },
       "包里有清单外的文件：web/index.html"},
      {"no manifest.json", [](TPackagePlan& s) { s.Files.erase(s.Files.begin() + 1); },
       "更新包缺少 manifest.json"},
      {"manifest.json without version",
       SetFile("manifest.json", R"({"component":"HallBoard","version_code":3})"),
       kManifestMismatch},
      {"neither has a version",
       [](TPackagePlan& s) {
         s.Files[1].second = R"({"component":"HallBoard","version_code":3})";
         s.EditManifest = [](std::string& t) { ReplaceAll(t, ",\"version\":\"1.0.2\"", ""); };
       },
       kManifestMismatch},
      {"manifest.json version in other case",
       [](TPackagePlan& s) {
         s.Version = "1.0.2-RC";
         s.Files[1].second = R"({"component":"HallBoard","version":"1.0.2-rc","version_code":3})";
       },
       kManifestMismatch},
      {"manifest.json of another component",
       SetFile("manifest.json", R"({"component":"Other","version":"1.0.2","version_code":3})"),
       kManifestMismatch},
      {"manifest.json version code differs",
       SetFile("manifest.json", R"({"component":"HallBoard","version":"1.0.2","version_code":2})"),
       kManifestMismatch},
      {"manifest.json not JSON", SetFile("manifest.json", "component=HallBoard"),
       kManifestMismatch},
  };
  for (auto& c : cases) {
    TPackagePlan plan;
    if (c.Mutate) c.Mutate(plan);
    std::string keyId;
    EXPECT_EQ(Verify(plan, &keyId), c.Message) << c.Case;
    EXPECT_EQ(keyId, c.KeyId) << c.Case;
  }
}

TEST_F(UpdatePackage, MissingOrUnreadablePackage) {
  std::string keyId;
  EXPECT_EQ(VerifyPath(FTmp / "none.zip", &keyId), "更新包文件不存在");
  EXPECT_EQ(keyId, "");
  test::WriteAll(FTmp / "text.zip", "not a zip at all, just some words");
  EXPECT_EQ(VerifyPath(FTmp / "text.zip"), "更新包打不开：找不到 ZIP 目录结尾记录");
}

// The signed manifest may be 65536 bytes and its signature 4096; one byte more is refused.
TEST_F(UpdatePackage, SignatureFileSizeLimits) {
  auto padManifest = [](size_t total) {
    return [total](TPackagePlan& s) {
      s.EditManifest = [total](std::string& t) { t.append(total - t.size(), ' '); };
    };
  };
  auto padSignature = [](size_t total) {
    return [total](TPackagePlan& s) {
      s.EditSignature = [total](std::string& t) { t.append(total - t.size(), '\n'); };
    };
  };
  struct {
    TMutation Mutate;
    std::string Message;
  } cases[] = {
      {padManifest(65536), ""},
      {padManifest(65537), "签名文件过大"},
      {padSignature(4096), ""},
      {padSignature(4097), "签名文件过大"},
  };
  for (auto& c : cases) {
    TPackagePlan plan;
    c.Mutate(plan);
    EXPECT_EQ(Verify(plan), c.Message);
  }
}

// A deflate entry whose directory claims 100 bytes, as does the list, but that inflates to 8 MiB:
// hashing stops at the listed size instead of inflating it all.
// Hashes with OpenSSL and remembers how many bytes each SHA-256 context was fed, so a test can
// tell how far an entry was inflated.
class TCountingHasher : public IHasher {
 public:
  std::unique_ptr<IHashContext> Start(THashAlg alg) override {
    auto inner = FReal.Start(alg);
    if (alg != THashAlg::haSha256) return inner;
    FFed.push_back(0);
    return std::make_unique<TContext>(std::move(inner), FFed, FFed.size() - 1);
  }
  const std::vector<uint64_t>& Fed() const { return FFed; }

 private:
  struct TContext : IHashContext {
    TContext(std::unique_ptr<IHashContext> inner, std::vector<uint64_t>& fed, size_t slot)
        : Inner(std::move(inner)), FedTo(fed), Slot(slot) {}
    void Feed(const void* data, size_t size) override {
      FedTo[Slot] += size;
      Inner->Feed(data, size);
    }
    std::vector<uint8_t> Finish() override { return Inner->Finish(); }
    std::unique_ptr<IHashContext> Inner;
    std::vector<uint64_t>& FedTo;
    size_t Slot;
  };
  TOpenSslHasher FReal;
  std::vector<uint64_t> FFed;
};

TEST_F(UpdatePackage, InflationPastTheListedSizeStopsHashing) {
  // 16 MiB of zeros deflates to about 16 KiB; directory and file list claim 100 bytes.
  constexpr uint64_t kListed = 100, kBuffer = 1048576;
  TPackagePlan plan;
  std::string bomb(16 << 20, '\0');
  plan.Files.emplace_back("bomb.dat", bomb);
  plan.EditFileList = [&](std::string& t) {
    ReplaceAll(t, "\"size\":" + std::to_string(bomb.size()), "\"size\":" + std::to_string(kListed));
  };
  std::string path = FTmp / "bomb.zip";
  test::BuildPackage(path, plan);
  bomb = {};
  // Patch the directory's uncompressed size of bomb.dat to 100.
  std::string bytes = test::ReadAll(path);
  ASSERT_LT(bytes.size(), size_t{4} << 20); // really compressed
  size_t at = bytes.rfind(std::string("PK\x01\x02", 4), bytes.find("bomb.dat", bytes.size() / 2));
  ASSERT_NE(at, std::string::npos);
  for (int i = 0; i < 4; ++i) bytes[at + 24 + i] = static_cast<char>(i == 0 ? kListed : 0);
  test::WriteAll(path, bytes);

  TCountingHasher counting;
  InstallPlatform(&FSystem, &counting);
  EXPECT_EQ(VerifyPath(path), "文件内容与清单不符：bomb.dat");
  InstallPlatform(&FSystem, &FHasher);
  // The verdict alone would be the same after inflating all 16 MiB; the hashing shows where it
  // stopped: no content hash got past the listed size plus one read.
  ASSERT_FALSE(counting.Fed().empty());
  for (uint64_t fed : counting.Fed()) EXPECT_LE(fed, kListed + kBuffer);
}

TEST(UpdatePackageNames, SignatureFilesAreExactNames) {
  EXPECT_TRUE(IsSignatureFile("update-manifest.json"));
  EXPECT_TRUE(IsSignatureFile("update-files.json"));
  EXPECT_TRUE(IsSignatureFile("update-manifest.sig"));
  EXPECT_FALSE(IsSignatureFile("Update-Manifest.json"));
  EXPECT_FALSE(IsSignatureFile("manifest.json"));
  EXPECT_FALSE(IsSignatureFile("web/update-files.json"));
}

} // namespace
} // namespace hb
