// Trusted release keys: the compiled-in key line, its parser, and the hexadecimal SHA-256 that key
// ids are formed from.
#include <cstring>

#include "Exception.h"
#include "Platform.h"
#include "ReleaseKeyLine.h"
#include "signature/Base64.h"
#include "signature/uReleaseSignature.h"

namespace hb {
namespace {

std::string LowerAscii(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

} // namespace

std::string Sha256Hex(const std::string& bytes) {
  auto sha = Hasher().Start(THashAlg::haSha256);
  if (!bytes.empty()) sha->Feed(bytes.data(), bytes.size());
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (uint8_t b : sha->Finish()) {
    out += kHex[b >> 4];
    out += kHex[b & 15];
  }
  return out;
}

TReleaseKey ParseReleaseKey(const std::string& line) {
  size_t first = 0, last = line.size();
  while (first < last && static_cast<unsigned char>(line[first]) <= 32) ++first;
  while (last > first && static_cast<unsigned char>(line[last - 1]) <= 32) --last;
  std::string trimmed = line.substr(first, last - first);

  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    size_t space = trimmed.find(' ', start);
    fields.push_back(trimmed.substr(start, space - start));
    if (space == std::string::npos) break;
    start = space + 1;
  }
  if (fields.size() != 3 || fields[0] != "ed25519" || fields[1].size() != 16)
    throw Exception("公钥格式不对");

  TReleaseKey key;
  key.Id = LowerAscii(fields[1]);
  std::optional<std::string> raw = DecodeBase64(fields[2]);
  if (!raw || raw->size() != 32) throw Exception("公钥长度不对");
  std::memcpy(key.Key.data(), raw->data(), 32);
  if (Sha256Hex(*raw).substr(0, 16) != key.Id) throw Exception("公钥编号与公钥不符");
  return key;
}

std::vector<TReleaseKey> TrustedReleaseKeys() {
  static constexpr const char* kLines[] = {kBuiltInReleaseKeyLine};
  std::vector<TReleaseKey> keys;
  for (const char* line : kLines) keys.push_back(ParseReleaseKey(line));
  return keys;
}

} // namespace hb
