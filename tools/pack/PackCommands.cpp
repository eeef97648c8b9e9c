// Key making and signing use OpenSSL's Ed25519; verification is the program's own, so a package
// this tool accepts is one the program accepts.
#include "PackCommands.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>

#include "Exception.h"
#include "FileUtil.h"
#include "Json.h"
#include "Platform.h"
#include "signature/Base64.h"
#include "signature/PackageNames.h"
#include "signature/ZipWriter.h"
#include "signature/uReleaseSignature.h"

namespace hb::pack {
namespace {

namespace fs = std::filesystem;

using TKey = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;

int Fail(const std::string& message) {
  std::fprintf(stderr, "hallboard-pack: %s\n", message.c_str());
  return kExitFailed;
}

std::string RawPublicKey(EVP_PKEY* key) {
  std::string pk(32, '\0');
  size_t n = pk.size();
  if (EVP_PKEY_get_raw_public_key(key, reinterpret_cast<unsigned char*>(pk.data()), &n) != 1 ||
      n != 32)
    throw Exception("读不出公钥");
  return pk;
}

// The 69-character line the program compiles in: tag, key id (first 16 hex digits of the
// public key's SHA-256) and the key in base64.
std::string KeyLine(EVP_PKEY* key) {
  std::string pk = RawPublicKey(key);
  return "ed25519 " + Sha256Hex(pk).substr(0, 16) + " " + EncodeBase64(pk);
}

TKey LoadPrivateKey(const std::string& path) {
  TKey key(nullptr, EVP_PKEY_free);
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    key.reset(PEM_read_PrivateKey(f, nullptr, nullptr, nullptr));
    std::fclose(f);
  } else {
    throw Exception("打不开私钥文件：" + path);
  }
  if (!key || EVP_PKEY_id(key.get()) != EVP_PKEY_ED25519)
    throw Exception("不是 Ed25519 私钥（PEM）：" + path);
  return key;
}

std::string Sign(EVP_PKEY* key, const std::string& message) {
  std::string sig(64, '\0');
  size_t n = sig.size();
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  if (!ctx || EVP_DigestSignInit(ctx.get(), nullptr, nullptr, nullptr, key) != 1 ||
      EVP_DigestSign(ctx.get(), reinterpret_cast<unsigned char*>(sig.data()), &n,
                     reinterpret_cast<const unsigned char*>(message.data()), message.size()) != 1 ||
      n != 64)
    throw Exception("签名失败");
  return sig;
}

std::string FileSha256(const std::string& path) {
  std::ifstream in(PathFromUtf8(path), std::ios::binary);
  if (!in) throw Exception("无法读取文件：" + path);
  auto sha = Hasher().Start(THashAlg::haSha256);
  std::vector<char> buf(1 << 20);
  while (in) {
    in.read(buf.data(), static_cast<std::streamsize>(buf.size()));
    if (in.gcount() > 0) sha->Feed(buf.data(), static_cast<size_t>(in.gcount()));
  }
  if (in.bad()) throw Exception("无法读取文件：" + path);
  static const char kHex[] = "0123456789abcdef";
  std::string hex;
  for (uint8_t b : sha->Finish()) {
    hex += kHex[b >> 4];
    hex += kHex[b & 15];
  }
  return hex;
}

struct TReleaseFile {
  std::string Name; // "/" between folders, as the package stores it
  std::string Path;
  uint64_t Size;
};

std::vector<TReleaseFile> CollectFiles(const std::string& folder) {
  std::vector<TReleaseFile> files;
  const fs::path root = PathFromUtf8(folder);
  for (auto& e : fs::recursive_directory_iterator(root)) {
    // Lexically: a link must keep its own name, not the one of what it points to.
    std::u8string generic = e.path().lexically_relative(root).generic_u8string();
    std::string name(generic.begin(), generic.end());
    // Links are refused by name, before anything follows them: a linked folder would otherwise
    // be skipped without a word, a linked file packed under a name that is not its own.
    if (e.is_symlink()) {
      std::error_code ec;
      if (fs::is_directory(e.path(), ec))
        throw Exception("发布文件夹里有链接的文件夹：" + name +
                        "（不会打进包里；请放入文件夹本身）");
      throw Exception("发布文件夹里有符号链接：" + name + "（请放入文件本身）");
    }
    if (e.is_directory()) continue;
    if (!e.is_regular_file()) throw Exception("不是普通文件：" + name);
    if (IsSignatureFile(name)) throw Exception("发布文件夹里不能有签名文件：" + name);
    // The names extraction refuses (on Windows they would not make the file they name).
    if (!IsSafeEntryName(name) || !IsPortableEntryName(name))
      throw Exception("程序解压时会拒绝这个文件名：" + name);
    files.push_back({name, PathToUtf8(e.path()), e.file_size()});
  }
  // A stable order makes two packs of the same folder byte-identical.
  std::sort(files.begin(), files.end(),
            [](const TReleaseFile& a, const TReleaseFile& b) { return a.Name < b.Name; });
  return files;
}

bool EqualIgnoringAsciiCase(std::string a, std::string b) {
  auto lower = [](std::string& s) {
    for (char& c : s)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  };
  lower(a);
  lower(b);
  return a == b;
}

} // namespace

int Keygen(const std::string& outPath) {
  try {
    TKey key(nullptr, EVP_PKEY_free);
    std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> ctx(
        EVP_PKEY_CTX_new_id(EVP_PKEY_ED25519, nullptr), EVP_PKEY_CTX_free);
    EVP_PKEY* raw = nullptr;
    if (!ctx || EVP_PKEY_keygen_init(ctx.get()) != 1 || EVP_PKEY_keygen(ctx.get(), &raw) != 1)
      throw Exception("生成密钥失败");
    key.reset(raw);
    // Owner-only from the moment the file exists; an existing key is never overwritten.
    int fd = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (fd < 0) throw Exception("无法新建私钥文件（已存在或无权限）：" + outPath);
    FILE* f = ::fdopen(fd, "wb");
    bool written = f && PEM_write_PrivateKey(f, key.get(), nullptr, nullptr, 0, nullptr, nullptr);
    if (f ? std::fclose(f) != 0 : ::close(fd) != 0) written = false;
    if (!written) {
      std::remove(outPath.c_str());
      throw Exception("写入私钥文件失败：" + outPath);
    }
    std::printf("%s\n", KeyLine(key.get()).c_str());
    return kExitOk;
  } catch (const std::exception& e) {
    return Fail(e.what());
  }
}

int Pack(const std::string& folder, const std::string& outPath, const std::string& component,
         const std::string& version, int64_t versionCode, const std::string& keyPath,
         const std::string& programFileName) {
  try {
    TKey key = LoadPrivateKey(keyPath);
    if (!fs::is_directory(PathFromUtf8(folder))) throw Exception("不是文件夹：" + folder);

    // The component's own manifest must already say what the arguments say; the program checks
    // the two against each other after installing nothing else.
    auto own = ReadFileBytes(JoinPath(folder, "manifest.json"), 1 << 20);
    if (!own) throw Exception("发布文件夹里没有 manifest.json");
    TJsonDocument ownDoc = ParseJsonDocument(*own);
    const TJsonValue* m = ownDoc.Object();
    if (!m) throw Exception("manifest.json 不是 JSON 对象");
    if (!EqualIgnoringAsciiCase(GetJsonText(m, "component"), component))
      throw Exception("manifest.json 的 component（" + GetJsonText(m, "component") +
                      "）与 --component 不一致");
    if (GetJsonText(m, "version", "-") != version)
      throw Exception("manifest.json 的 version（" + GetJsonText(m, "version", "-") +
                      "）与 --version 不一致");
    if (GetJsonInt64(m, "version_code", -1) != versionCode)
      throw Exception("manifest.json 的 version_code 与 --version-code 不一致");

    std::vector<TReleaseFile> files = CollectFiles(folder);
    if (std::none_of(files.begin(), files.end(),
                     [&](const TReleaseFile& f) { return f.Name == programFileName; }))
      throw Exception("发布文件夹顶层没有 " + programFileName + "，程序不会安装这样的包");
    std::string list = "{\"files\":{";
    for (size_t i = 0; i < files.size(); ++i) {
      list += (i ? ",\n" : "\n") + JsonQuote(files[i].Name) + ":{\"sha256\":\"" +
              FileSha256(files[i].Path) + "\",\"size\":" + std::to_string(files[i].Size) + "}";
    }
    list += "\n}}\n";
    std::string manifest =
        "{\"format\":\"qvtk-component-package-1\",\"component\":" + JsonQuote(component) +
        ",\"version_code\":" + std::to_string(versionCode) + ",\"files_sha256\":\"" +
        Sha256Hex(list) + "\",\"files\":" + std::to_string(files.size()) +
        ",\"version\":" + JsonQuote(version) + "}\n";
    std::string line = KeyLine(key.get());
    TReleaseKey release = ParseReleaseKey(line);
    std::string signature = "{\"alg\":\"ed25519\",\"key\":\"" + release.Id + "\",\"sig\":\"" +
                            EncodeBase64(Sign(key.get(), manifest)) + "\"}\n";

    const std::string temp = outPath + ".part";
    {
      TZipWriter zip(temp);
      for (auto& f : files) zip.AddFileFrom(f.Name, f.Path);
      zip.AddFile("update-files.json", list);
      zip.AddFile("update-manifest.json", manifest);
      zip.AddFile("update-manifest.sig", signature);
      zip.Finish();
    }
    // What the program will check, checked before the package is handed over.
    std::string keyId;
    std::string verdict = VerifyUpdatePackage(temp, component, versionCode, {release}, keyId);
    if (verdict.empty()) verdict = CheckPackageInstallable(temp, programFileName);
    if (!verdict.empty()) {
      RemoveQuietly(temp);
      throw Exception("打出的包没有通过核对：" + verdict);
    }
    fs::rename(PathFromUtf8(temp), PathFromUtf8(outPath));
    std::printf("%s: %zu 个文件，公钥编号 %s\n", outPath.c_str(), files.size(), keyId.c_str());
    return kExitOk;
  } catch (const std::exception& e) {
    return Fail(e.what());
  }
}

int Verify(const std::string& package, const std::string& component, int64_t versionCode,
           const std::string& keyLine, const std::string& programFileName) {
  try {
    std::vector<TReleaseKey> keys = {ParseReleaseKey(keyLine)};
    std::string keyId;
    std::string verdict = VerifyUpdatePackage(package, component, versionCode, keys, keyId);
    // Signed is not enough: OK only for a package the program goes on to install.
    if (verdict.empty()) verdict = CheckPackageInstallable(package, programFileName);
    if (!verdict.empty()) {
      std::printf("%s\n", verdict.c_str());
      return kExitFailed;
    }
    std::printf("%s\nOK\n", keyId.c_str());
    return kExitOk;
  } catch (const std::exception& e) {
    return Fail(e.what());
  }
}

} // namespace hb::pack
