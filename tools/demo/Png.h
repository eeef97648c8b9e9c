#pragma once
// A minimal PNG encoder (8-bit RGB, no interlace) for the demo's generated pictures.
#include <cstdint>
#include <string>

namespace hb::demo {

// A width × height picture in one colour (0xRRGGBB), with an inner square of `accent` so that
// a seat reads as a seat; accent == colour gives a plain fill.
std::string SolidPng(int width, int height, uint32_t colour, uint32_t accent);

// A width × height picture that compresses as badly as a photograph: each channel keeps the top
// two bits of a colour picked from `seed` and is noise below. The same seed, the same bytes.
std::string NoisyPng(int width, int height, uint32_t seed);

} // namespace hb::demo
