#pragma once
// Writes update packages for the tests, signed with the development key through OpenSSL. Every
// layer can be edited before the next one is derived from it, so a test can break exactly one
// rule and keep the rest consistent.
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "SignatureTestKit.h"
#include "signature/Base64.h"
#include "signature/ZipWriter.h"
#include "signature/uReleaseSignature.h"

namespace hb::test {

inline const std::string kDevKeyLine =
    "ed25519 4c4c6d37f8a1da95 3GdYS+hwRoqFDHpJeIDcRv5q+aUA+Gk+xsocdpqs7FI=";

inline void ReplaceAll(std::string& s, const std::string& from, const std::string& to) {
  for (size_t at = 0; (at = s.find(from, at)) != std::string::npos; at += to.size())
    s.replace(at, from.size(), to);
}

using TEdit = std::function<void(std::string&)>;

struct TPackagePlan {
  std::vector<std::pair<std::string, std::string>> Files = {
      {"hallBoard.exe", std::string(70000, 'x') + "MZ program"},
      {"manifest.json", R"({"component":"HallBoard","version":"1.0.2","version_code":3})"},
      {"web/index.html", "<html>机位图</html>"},
  };
  std::vector<std::string> Folders;  // folder entries ("web/"), written first
  std::vector<std::string> Unlisted; // archive files left out of the file list
  std::string Component = "HallBoard";
  std::string Version = "1.0.2";
  int64_t VersionCode = 3;
  std::string ManifestName = "update-manifest.json";
  std::string SignatureName = "update-manifest.sig";
  std::string FileListName = "update-files.json";
  bool WithSignatureFiles = true;
  TEdit EditFileList; // before its digest goes into the manifest
  TEdit EditManifest; // before it is signed
  TEdit EditManifestAfterSigning;
  TEdit EditSignature; // the whole text of the signature file
  std::string KeyId = "4c4c6d37f8a1da95";
  TZipWriteOptions Options;
};

inline void Apply(const TEdit& edit, std::string& s) {
  if (edit) edit(s);
}

inline void BuildPackage(const std::string& path, const TPackagePlan& plan) {
  std::string list = "{\"files\":{";
  int listed = 0;
  for (auto& [name, content] : plan.Files) {
    bool skip = false;
    for (auto& u : plan.Unlisted) skip |= u == name;
    if (skip) continue;
    list += std::string(listed ? "," : "") + "\"" + name + "\":{\"sha256\":\"" +
            Sha256Hex(content) + "\",\"size\":" + std::to_string(content.size()) + "}";
    ++listed;
  }
  list += "}}";
  Apply(plan.EditFileList, list);

  std::string manifest =
      "{\"format\":\"qvtk-component-package-1\",\"component\":\"" + plan.Component +
      "\",\"version_code\":" + std::to_string(plan.VersionCode) + ",\"files_sha256\":\"" +
      Sha256Hex(list) + "\",\"files\":" + std::to_string(listed) + ",\"version\":\"" +
      plan.Version + "\"}";
  Apply(plan.EditManifest, manifest);
  auto signer = TTestSigner::FromPem(HB_TEST_DATA "/signature/dev-release-key.pem");
  std::vector<uint8_t> sig = signer->Sign(Bytes(manifest));
  Apply(plan.EditManifestAfterSigning, manifest);
  std::string signature = "{\"alg\":\"ed25519\",\"key\":\"" + plan.KeyId + "\",\"sig\":\"" +
                          EncodeBase64(std::string(sig.begin(), sig.end())) + "\"}";
  Apply(plan.EditSignature, signature);

  TZipWriter zip(path);
  for (auto& folder : plan.Folders) zip.AddFolder(folder);
  for (auto& [name, content] : plan.Files) zip.AddFile(name, content, plan.Options);
  if (plan.WithSignatureFiles) {
    zip.AddFile(plan.ManifestName, manifest, plan.Options);
    zip.AddFile(plan.FileListName, list, plan.Options);
    zip.AddFile(plan.SignatureName, signature, plan.Options);
  }
  zip.Finish();
}

} // namespace hb::test
