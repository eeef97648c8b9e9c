#include "Png.h"

#include <zlib.h>

#include <vector>

namespace hb::demo {

static void PutU32(std::string& out, uint32_t v) {
  out += static_cast<char>(v >> 24);
  out += static_cast<char>(v >> 16);
  out += static_cast<char>(v >> 8);
  out += static_cast<char>(v);
}

static void Chunk(std::string& out, const char* type, const std::string& data) {
  PutU32(out, static_cast<uint32_t>(data.size()));
  std::string body = std::string(type, 4) + data;
  out += body;
  uLong crc =
      crc32(0L, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()));
  PutU32(out, static_cast<uint32_t>(crc));
}

static std::string Encode(const std::string& raw, int width, int height, int level) {
  uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
  std::vector<Bytef> packed(packedSize);
  compress2(packed.data(), &packedSize, reinterpret_cast<const Bytef*>(raw.data()),
            static_cast<uLong>(raw.size()), level);

  std::string png = "\x89PNG\r\n\x1a\n";
  std::string header;
  PutU32(header, static_cast<uint32_t>(width));
  PutU32(header, static_cast<uint32_t>(height));
  header += std::string("\x08\x02\x00\x00\x00", 5); // depth 8, RGB, deflate, filter 0, no interlace
  Chunk(png, "IHDR", header);
  Chunk(png, "IDAT", std::string(reinterpret_cast<const char*>(packed.data()), packedSize));
  Chunk(png, "IEND", "");
  return png;
}

std::string NoisyPng(int width, int height, uint32_t seed) {
  uint32_t state = seed * 2654435761u + 1; // xorshift32 never leaves 0, so keep away from it
  auto next = [&state] {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
  };
  uint32_t base = next();
  std::string raw;
  raw.reserve(static_cast<size_t>(height) * (1 + width * 3));
  for (int y = 0; y < height; ++y) {
    raw += '\0';
    for (int x = 0; x < width; ++x) {
      uint32_t noise = next();
      for (int shift : {16, 8, 0})
        raw += static_cast<char>(((base >> shift) & 0xC0) | ((noise >> shift) & 0x3F));
    }
  }
  // Noise does not compress; the fastest level gives the same size much sooner.
  return Encode(raw, width, height, Z_BEST_SPEED);
}

std::string SolidPng(int width, int height, uint32_t colour, uint32_t accent) {
  // Raw scanlines, each led by filter type 0 (none).
  std::string raw;
  raw.reserve(static_cast<size_t>(height) * (1 + width * 3));
  for (int y = 0; y < height; ++y) {
    raw += '\0';
    for (int x = 0; x < width; ++x) {
      bool inner =
          x >= width / 4 && x < width - width / 4 && y >= height / 4 && y < height - height / 4;
      uint32_t c = inner ? accent : colour;
      raw += static_cast<char>(c >> 16);
      raw += static_cast<char>(c >> 8);
      raw += static_cast<char>(c);
    }
  }
  return Encode(raw, width, height, Z_BEST_COMPRESSION);
}

} // namespace hb::demo
