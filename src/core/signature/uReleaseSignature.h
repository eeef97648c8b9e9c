#pragma once
// Release signature: update package verification, Ed25519, trusted release keys, extraction.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace hb {

struct TReleaseKey {
  std::string Id;
  std::array<uint8_t, 32> Key{};
};

// The compiled-in trusted keys. Throws Exception when the built-in key line is invalid.
std::vector<TReleaseKey> TrustedReleaseKeys();

// One key line: "ed25519", the 16-character key id and the base64 public key, single spaces
// between. Throws Exception "公钥格式不对", "公钥长度不对" or "公钥编号与公钥不符".
TReleaseKey ParseReleaseKey(const std::string& line);

// Lower-case hexadecimal SHA-256 of bytes.
std::string Sha256Hex(const std::string& bytes);

bool Ed25519Verify(const std::vector<uint8_t>& signature, const std::vector<uint8_t>& message,
                   const std::vector<uint8_t>& publicKey);

// Empty text: the package is valid. Otherwise the worded reason. keyId is emptied first and set
// as soon as the signature file has been read.
std::string VerifyUpdatePackage(const std::string& packagePath, const std::string& component,
                                int64_t versionCode, const std::vector<TReleaseKey>& keys,
                                std::string& keyId);

// Extracts every entry of a verified package into stagingFolder (created as needed), never
// creating anything outside it. Empty text on success, else the worded reason.
std::string ExtractUpdatePackage(const std::string& packagePath, const std::string& stagingFolder);

// The rules that extraction and installation apply after verification, checked without writing
// anything: every entry name one that extraction takes, and programFileName and "manifest.json"
// among the files at the top. Empty text when the program would stage the package, else the very
// message it would log.
std::string CheckPackageInstallable(const std::string& packagePath,
                                    const std::string& programFileName);

// True for the three signature files, exactly "update-manifest.json", "update-files.json" and
// "update-manifest.sig" (letter case matters).
bool IsSignatureFile(const std::string& name);

} // namespace hb
