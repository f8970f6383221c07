// Painting: laid-out boxes into a 32-bit top-down DIB section with premultiplied alpha, the
// form a layered window takes. Backgrounds and borders are written as pixels; text is drawn
// by GDI into a scratch bitmap and blended in by its coverage, because GDI text alone would
// leave the alpha channel at 0.
#pragma once

#include <windows.h>

#include <cstdint>

#include "layout.h"

namespace sciter_engine {

// A 32-bit top-down DIB section selected into its own memory DC.
class PixelBuffer {
 public:
  PixelBuffer() = default;
  ~PixelBuffer();
  PixelBuffer(const PixelBuffer&) = delete;
  PixelBuffer& operator=(const PixelBuffer&) = delete;

  // Keeps the bitmap when the size is unchanged; false when GDI refuses.
  bool Resize(int width, int height);
  void Fill(uint32_t premultiplied_bgra);

  int width() const { return width_; }
  int height() const { return height_; }
  HDC dc() const { return dc_; }
  uint32_t* pixels() const { return pixels_; }
  uint32_t At(int x, int y) const { return pixels_[static_cast<size_t>(y) * width_ + x]; }

 private:
  void Release();

  HDC dc_ = nullptr;
  HBITMAP bitmap_ = nullptr;
  HGDIOBJ old_bitmap_ = nullptr;
  uint32_t* pixels_ = nullptr;
  int width_ = 0;
  int height_ = 0;
};

struct PaintOptions {
  float scale = 1.0f;
  // The ClearType coverage of each colour channel is used; otherwise grey coverage.
  bool subpixel_text = true;
};

// Paints the whole document over `target`, which keeps what it had where nothing is drawn.
void PaintDocument(const LayoutBox* root, const PaintOptions& options, FontCache* fonts,
                   PixelBuffer* target);

// A straight-alpha colour to a premultiplied BGRA pixel.
uint32_t Premultiply(const Color& color);

}  // namespace sciter_engine
