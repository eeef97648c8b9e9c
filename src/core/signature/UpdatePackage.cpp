// Update package verification: safe names, the signed manifest and its Ed25519 signature, the
// file list bound to it by digest, and every file hashed against the list, nothing missing and
// nothing added. It reads the package only.
#include <map>

#include "FileUtil.h"
#include "Json.h"
#include "Platform.h"
#include "signature/Base64.h"
#include "signature/PackageNames.h"
#include "signature/ZipReader.h"
#include "signature/uReleaseSignature.h"

namespace hb {
namespace {

constexpr const char* kManifestName = "update-manifest.json";
constexpr const char* kSignatureName = "update-manifest.sig";
constexpr const char* kFileListName = "update-files.json";
constexpr uint64_t kMaxManifestBytes = 65536;
constexpr uint64_t kMaxSignatureBytes = 4096;
// The file list has no size of its own to keep to, but it is read whole before the signature is
// checked; this bound is far above any real release and keeps a forged one from taking memory.
constexpr uint64_t kMaxFileListBytes = 64u << 20;
constexpr size_t kHashBuffer = 1048576;

char LowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}

std::string LowerAscii(std::string s) {
  for (char& c : s) c = LowerAscii(c);
  return s;
}

bool EqualIgnoringAsciiCase(const std::string& a, const std::string& b) {
  return LowerAscii(a) == LowerAscii(b);
}

std::vector<uint8_t> ToBytes(const std::string& s) {
  return {s.begin(), s.end()};
}

} // namespace

bool IsSignatureFile(const std::string& name) {
  return name == kManifestName || name == kFileListName || name == kSignatureName;
}

bool IsSafeEntryName(const std::string& name) {
  if (name.empty() || name.front() == '/' || name.find_first_of("\\:") != std::string::npos)
    return false;
  size_t start = 0;
  for (;;) {
    size_t slash = name.find('/', start);
    std::string piece = name.substr(start, slash - start);
    if (piece.empty() || piece == "." || piece == "..") return false;
    if (slash == std::string::npos) return true;
    start = slash + 1;
  }
}

std::string VerifyUpdatePackage(const std::string& packagePath, const std::string& component,
                                int64_t versionCode, const std::vector<TReleaseKey>& keys,
                                std::string& keyId) {
  keyId.clear();
  if (!FileExists(packagePath)) return "更新包文件不存在";
  std::string error;
  std::unique_ptr<TZipReader> zip = TZipReader::Open(packagePath, error);
  if (!zip) return "更新包打不开：" + error;
  const std::vector<TZipEntry>& entries = zip->Entries();

  // Name table: case-folded name for every alphabet -> entry index.
  ISystem& system = System();
  std::map<std::string, size_t> table;
  for (size_t i = 0; i < entries.size(); ++i) {
    const std::string& name = entries[i].Name;
    if (name.empty() || name.back() == '/') continue;
    if (!IsSafeEntryName(name)) return "更新包含不安全的路径：" + name;
    if (!table.emplace(system.FileNameKey(name), i).second)
      return "更新包有重复（或大小写重复）的文件：" + name;
  }
  for (const char* name : {kSignatureName, kManifestName, kFileListName})
    if (!table.count(system.FileNameKey(name)))
      return "更新包没有签名，请用发布脚本或“签名打包工具”重新打包后上传";

  int manifestAt = zip->FindIgnoringAsciiCase(kManifestName);
  int signatureAt = zip->FindIgnoringAsciiCase(kSignatureName);
  int fileListAt = zip->FindIgnoringAsciiCase(kFileListName);
  if (manifestAt < 0 || signatureAt < 0 || fileListAt < 0)
    return "更新包没有签名，请用发布脚本或“签名打包工具”重新打包后上传";
  std::string manifestBytes, signatureBytes, fileListBytes;
  if (!zip->ReadWhole(manifestAt, kMaxManifestBytes, manifestBytes) ||
      !zip->ReadWhole(signatureAt, kMaxSignatureBytes, signatureBytes) ||
      !zip->ReadWhole(fileListAt, kMaxFileListBytes, fileListBytes))
    return "签名文件过大";

  TJsonDocument signatureDoc = ParseJsonDocument(signatureBytes);
  const TJsonValue* sig = signatureDoc.Object();
  if (!sig || GetJsonText(sig, "alg") != "ed25519") return "签名格式不对";
  keyId = LowerAscii(GetJsonText(sig, "key"));
  std::optional<std::string> signature = DecodeBase64(GetJsonText(sig, "sig"));
  if (!signature) return "签名格式不对";

  const TReleaseKey* signer = nullptr;
  for (const TReleaseKey& key : keys)
    if (EqualIgnoringAsciiCase(key.Id, keyId)) signer = &key;
  if (!signer) return "更新包不是用认可的私钥签名的（公钥编号 " + keyId + " 未登记）";
  if (!Ed25519Verify(ToBytes(*signature), ToBytes(manifestBytes),
                     std::vector<uint8_t>(signer->Key.begin(), signer->Key.end())))
    return "签名核对不通过，包可能被改动过";

  // From here on the signed manifest is trusted, and the file list only through its digest.
  TJsonDocument manifestDoc = ParseJsonDocument(manifestBytes);
  const TJsonValue* manifest = manifestDoc.Object();
  if (!manifest) return "签名清单格式不对";
  if (GetJsonText(manifest, "format") != "qvtk-component-package-1")
    return "不是组件更新包的签名清单";
  std::string signedComponent = GetJsonText(manifest, "component");
  if (!EqualIgnoringAsciiCase(signedComponent, component))
    return "签名清单的组件（" + signedComponent + "）与云端下发不一致";
  if (GetJsonInt64(manifest, "version_code", -1) != versionCode)
    return "签名清单的版本代码与云端下发不一致";
  if (!EqualIgnoringAsciiCase(GetJsonText(manifest, "files_sha256"), Sha256Hex(fileListBytes)))
    return "文件清单与签名不符";
  const int32_t fileCount = GetJsonInteger(manifest, "files", -1);
  const std::string version = GetJsonText(manifest, "version");

  TJsonDocument fileListDoc = ParseJsonDocument(fileListBytes);
  if (!fileListDoc.Object()) return "文件清单格式不对";
  const TJsonValue* files = FindJsonMember(fileListDoc.Object(), "files");
  if (!files || !files->IsObject() || fileCount < 0 ||
      files->MemberCount() != static_cast<rapidjson::SizeType>(fileCount))
    return "文件清单条目数不对";

  std::vector<char> buffer(kHashBuffer);
  for (auto m = files->MemberBegin(); m != files->MemberEnd(); ++m) {
    const std::string name(m->name.GetString(), m->name.GetStringLength());
    if (IsSignatureFile(name) || !m->value.IsObject()) return "文件清单条目不对：" + name;
    auto found = table.find(system.FileNameKey(name));
    if (found == table.end() || entries[found->second].Name != name)
      return "清单里的文件包里没有：" + name;
    const TZipEntry& entry = entries[found->second];
    const std::string sha256 = LowerAscii(GetJsonText(&m->value, "sha256"));
    const int64_t size = GetJsonInt64(&m->value, "size", -1);
    if (size < 0 || entry.UncompressedSize != static_cast<uint64_t>(size))
      return "文件大小与清单不符：" + name;

    // Stop as soon as the content runs past the listed size: a deflate entry can claim a small
    // size and inflate without end.
    auto hash = Hasher().Start(THashAlg::haSha256);
    auto stream = zip->OpenStream(found->second);
    uint64_t count = 0;
    for (size_t n; (n = stream->Read(buffer.data(), buffer.size())) > 0;) {
      count += n;
      if (count > static_cast<uint64_t>(size)) return "文件内容与清单不符：" + name;
      hash->Feed(buffer.data(), n);
    }
    std::string digest;
    static const char kHex[] = "0123456789abcdef";
    for (uint8_t b : hash->Finish()) {
      digest += kHex[b >> 4];
      digest += kHex[b & 15];
    }
    if (count != static_cast<uint64_t>(size) || digest != sha256)
      return "文件内容与清单不符：" + name;
    table.erase(found);
  }

  for (const char* name : {kSignatureName, kManifestName, kFileListName})
    table.erase(system.FileNameKey(name));
  if (!table.empty()) return "包里有清单外的文件：" + entries[table.begin()->second].Name;

  int componentManifestAt = zip->FindIgnoringAsciiCase("manifest.json");
  if (componentManifestAt < 0) return "更新包缺少 manifest.json";
  std::string componentBytes;
  if (!zip->ReadWhole(componentManifestAt, kMaxFileListBytes, componentBytes))
    return "manifest.json 与签名清单不一致";
  TJsonDocument componentDoc = ParseJsonDocument(componentBytes);
  const TJsonValue* own = componentDoc.Object();
  if (!own || !EqualIgnoringAsciiCase(GetJsonText(own, "component"), component) ||
      GetJsonText(own, "version", "-") != version ||
      GetJsonInt64(own, "version_code", -1) != versionCode)
    return "manifest.json 与签名清单不一致";
  return "";
}

} // namespace hb
