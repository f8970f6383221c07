// Pictures of <img> elements: PNG, JPEG, GIF, BMP and ICO decoded by the Windows Imaging
// Component into premultiplied 32-bit pixels, drawn scaled by the painter.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sciter_engine {

struct Image {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> pixels;  // premultiplied BGRA, top-down rows
};

// False (with the reason in *error) when the bytes are not a picture WIC knows.
bool DecodeImage(const std::string& bytes, Image* image, std::wstring* error);

}  // namespace sciter_engine
