#include "paint.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "image.h"

namespace sciter_engine {

PixelBuffer::~PixelBuffer() { Release(); }

void PixelBuffer::Release() {
  if (dc_) {
    if (old_bitmap_) SelectObject(dc_, old_bitmap_);
    DeleteDC(dc_);
  }
  if (bitmap_) DeleteObject(bitmap_);
  dc_ = nullptr;
  bitmap_ = nullptr;
  old_bitmap_ = nullptr;
  pixels_ = nullptr;
  width_ = height_ = 0;
}

bool PixelBuffer::Resize(int width, int height) {
  if (width == width_ && height == height_ && pixels_) return true;
  Release();
  // 16384 x 4096 pixels (256 MiB) and no more: a page asking for more is broken.
  if (width <= 0 || height <= 0 || static_cast<long long>(width) * height > (1LL << 26)) return false;
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  bitmap_ = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  dc_ = CreateCompatibleDC(nullptr);
  if (!bitmap_ || !dc_ || !bits) {
    Release();
    return false;
  }
  old_bitmap_ = SelectObject(dc_, bitmap_);
  pixels_ = static_cast<uint32_t*>(bits);
  width_ = width;
  height_ = height;
  Fill(0);
  return true;
}

void PixelBuffer::Fill(uint32_t premultiplied_bgra) {
  GdiFlush();
  std::fill(pixels_, pixels_ + static_cast<size_t>(width_) * height_, premultiplied_bgra);
}

uint32_t Premultiply(const Color& color) {
  const uint32_t a = color.a;
  const uint32_t r = (color.r * a + 127) / 255;
  const uint32_t g = (color.g * a + 127) / 255;
  const uint32_t b = (color.b * a + 127) / 255;
  return (a << 24) | (r << 16) | (g << 8) | b;
}

namespace {

struct IntRect {
  int left = 0, top = 0, right = 0, bottom = 0;
  bool Empty() const { return right <= left || bottom <= top; }
  IntRect Intersect(const IntRect& o) const {
    return {std::max(left, o.left), std::max(top, o.top), std::min(right, o.right), std::min(bottom, o.bottom)};
  }
};

IntRect Round(float x, float y, float width, float height) {
  return {static_cast<int>(std::lround(x)), static_cast<int>(std::lround(y)),
          static_cast<int>(std::lround(x + width)), static_cast<int>(std::lround(y + height))};
}

// Source-over of a premultiplied pixel.
inline uint32_t Over(uint32_t source, uint32_t destination) {
  const uint32_t alpha = source >> 24;
  if (alpha == 255) return source;
  if (alpha == 0) return destination;
  const uint32_t keep = 255 - alpha;
  uint32_t out = 0;
  for (int shift = 0; shift < 32; shift += 8) {
    const uint32_t s = (source >> shift) & 0xFF;
    const uint32_t d = (destination >> shift) & 0xFF;
    out |= std::min<uint32_t>(255, s + (d * keep + 127) / 255) << shift;
  }
  return out;
}

class Painter {
 public:
  Painter(const PaintOptions& options, FontCache* fonts, PixelBuffer* target)
      : options_(options), fonts_(fonts), target_(target) {}

  void PaintBox(const LayoutBox* box, const IntRect& clip, int depth);

 private:
  void FillRect(const IntRect& rect, const IntRect& clip, uint32_t pixel) {
    const IntRect area = rect.Intersect(clip);
    if (area.Empty() || (pixel >> 24) == 0) return;
    for (int y = area.top; y < area.bottom; ++y) {
      uint32_t* row = target_->pixels() + static_cast<size_t>(y) * target_->width();
      for (int x = area.left; x < area.right; ++x) row[x] = Over(pixel, row[x]);
    }
  }
  void PaintBackgroundAndBorders(const LayoutBox* box, const IntRect& clip);
  void PaintRounded(const LayoutBox* box, const IntRect& outer, float radius, const IntRect& clip);
  void PaintFocusRing(const LayoutBox* box, const IntRect& clip);
  void PaintText(const TextFragment& fragment, const IntRect& clip);
  void PaintImage(const Image& image, const LayoutBox* box, const IntRect& clip);
  void DrawScaled(const Image& image, float left, float top, float width, float height, const IntRect& clip);
  void PaintBackgroundImage(const LayoutBox* box, const IntRect& clip);

  const PaintOptions& options_;
  FontCache* fonts_;
  PixelBuffer* target_;
  PixelBuffer scratch_;
};

void Painter::PaintBackgroundAndBorders(const LayoutBox* box, const IntRect& clip) {
  const ComputedStyle& style = *box->style;
  const IntRect outer = Round(box->x, box->y, box->width, box->height);
  const float radius = std::min({style.border_radius * options_.scale, box->width / 2, box->height / 2});
  if (radius >= 1.0f) {
    PaintRounded(box, outer, radius, clip);
    return;
  }
  FillRect(outer, clip, Premultiply(style.background));
  const int top = static_cast<int>(box->border[0]), right = static_cast<int>(box->border[1]);
  const int bottom = static_cast<int>(box->border[2]), left = static_cast<int>(box->border[3]);
  // Top and bottom take the corners.
  FillRect({outer.left, outer.top, outer.right, outer.top + top}, clip, Premultiply(style.border_color[0]));
  FillRect({outer.left, outer.bottom - bottom, outer.right, outer.bottom}, clip, Premultiply(style.border_color[2]));
  FillRect({outer.left, outer.top + top, outer.left + left, outer.bottom - bottom}, clip, Premultiply(style.border_color[3]));
  FillRect({outer.right - right, outer.top + top, outer.right, outer.bottom - bottom}, clip, Premultiply(style.border_color[1]));
}

namespace {

// How much of the pixel whose centre is (x, y) lies inside the rounded rectangle.
float RoundedCoverage(float left, float top, float right, float bottom, float radius, float x, float y) {
  if (right <= left || bottom <= top || x < left || x > right || y < top || y > bottom) return 0;
  radius = std::min({radius, (right - left) / 2, (bottom - top) / 2});
  const float cx = std::clamp(x, left + radius, right - radius);
  const float cy = std::clamp(y, top + radius, bottom - radius);
  if (cx == x || cy == y) {
    // Along a straight edge: the part of the pixel inside.
    return std::clamp(std::min({x - left, right - x, y - top, bottom - y}) + 0.5f, 0.0f, 1.0f);
  }
  const float distance = std::sqrt((x - cx) * (x - cx) + (y - cy) * (y - cy));
  return std::clamp(radius - distance + 0.5f, 0.0f, 1.0f);
}

// a * wa + b * wb per channel (premultiplied pixels, wa + wb <= 1).
uint32_t MixPixels(uint32_t a, float wa, uint32_t b, float wb) {
  uint32_t out = 0;
  for (int shift = 0; shift < 32; shift += 8) {
    const float channel = ((a >> shift) & 0xFF) * wa + ((b >> shift) & 0xFF) * wb;
    out |= std::min<uint32_t>(255, static_cast<uint32_t>(std::lround(channel))) << shift;
  }
  return out;
}

}  // namespace

// Rounded boxes with smoothed edges: each pixel takes the border colour for its part between
// the outer and the inner curve and the background for its part inside the inner one (one
// border colour: the top's).
void Painter::PaintRounded(const LayoutBox* box, const IntRect& outer, float radius, const IntRect& clip) {
  const ComputedStyle& style = *box->style;
  const uint32_t background = Premultiply(style.background);
  const uint32_t border = Premultiply(style.border_color[0]);
  const float left = box->x, top = box->y, right = box->x + box->width, bottom = box->y + box->height;
  const float inner_left = left + box->border[3], inner_top = top + box->border[0];
  const float inner_right = right - box->border[1], inner_bottom = bottom - box->border[2];
  const float inner_radius = std::max(0.0f, radius - std::max(box->border[0], box->border[3]));
  const IntRect area = outer.Intersect(clip);
  for (int y = area.top; y < area.bottom; ++y) {
    uint32_t* row = target_->pixels() + static_cast<size_t>(y) * target_->width();
    for (int x = area.left; x < area.right; ++x) {
      const float px = x + 0.5f, py = y + 0.5f;
      const float outside = RoundedCoverage(left, top, right, bottom, radius, px, py);
      if (outside <= 0) continue;
      const float inside = std::min(outside, RoundedCoverage(inner_left, inner_top, inner_right, inner_bottom, inner_radius, px, py));
      const uint32_t pixel = MixPixels(border, outside - inside, background, inside);
      row[x] = Over(pixel, row[x]);
    }
  }
}

void Painter::PaintFocusRing(const LayoutBox* box, const IntRect& clip) {
  // A dotted ring just inside the border, as Windows draws focus on its buttons.
  const int inset = static_cast<int>(std::lround(2 * options_.scale)) + static_cast<int>(box->border[0]);
  IntRect ring = Round(box->x, box->y, box->width, box->height);
  ring = {ring.left + inset, ring.top + inset, ring.right - inset, ring.bottom - inset};
  if (ring.Empty()) return;
  const uint32_t dot = Premultiply(Color{0, 0, 0, 200});
  const IntRect area = ring.Intersect(clip);
  auto plot = [&](int x, int y) {
    if (x >= area.left && x < area.right && y >= area.top && y < area.bottom && ((x + y) & 1) == 0) {
      uint32_t& pixel = target_->pixels()[static_cast<size_t>(y) * target_->width() + x];
      pixel = Over(dot, pixel);
    }
  };
  for (int x = ring.left; x < ring.right; ++x) {
    plot(x, ring.top);
    plot(x, ring.bottom - 1);
  }
  for (int y = ring.top + 1; y < ring.bottom - 1; ++y) {
    plot(ring.left, y);
    plot(ring.right - 1, y);
  }
}

void Painter::PaintText(const TextFragment& fragment, const IntRect& clip) {
  const ComputedStyle& style = *fragment.style;
  if (style.color.a == 0 || fragment.text.empty()) return;
  // Room around the glyph box for overhangs (italics, ClearType fringes).
  const int pad = 2 + fragment.font.pixel_size / 4;
  const IntRect box = Round(fragment.x, fragment.y, fragment.width, fragment.height);
  const IntRect area = IntRect{box.left - pad, box.top - pad, box.right + pad, box.bottom + pad}.Intersect(clip);
  if (area.Empty()) return;
  const int width = area.right - area.left, height = area.bottom - area.top;
  if (scratch_.width() < width || scratch_.height() < height) {
    if (!scratch_.Resize(std::max(width, scratch_.width()), std::max(height, scratch_.height()))) return;
  }
  // White on black: each channel of the result is that channel's coverage.
  scratch_.Fill(0);
  HDC dc = scratch_.dc();
  HGDIOBJ old_font = SelectObject(dc, fonts_->Get(fragment.font));
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, RGB(255, 255, 255));
  SetTextAlign(dc, TA_TOP | TA_LEFT);
  ExtTextOutW(dc, box.left - area.left, box.top - area.top, 0, nullptr, fragment.text.c_str(),
              static_cast<UINT>(fragment.text.size()), nullptr);
  GdiFlush();
  SelectObject(dc, old_font);
  const uint32_t color_alpha = style.color.a;
  for (int y = 0; y < height; ++y) {
    const uint32_t* source = scratch_.pixels() + static_cast<size_t>(y) * scratch_.width();
    uint32_t* row = target_->pixels() + static_cast<size_t>(y + area.top) * target_->width() + area.left;
    for (int x = 0; x < width; ++x) {
      const uint32_t coverage = source[x] & 0xFFFFFF;
      if (!coverage) continue;
      uint32_t cr = (coverage >> 16) & 0xFF, cg = (coverage >> 8) & 0xFF, cb = coverage & 0xFF;
      if (!options_.subpixel_text) cr = cg = cb = std::max({cr, cg, cb});
      const uint32_t ca = std::max({cr, cg, cb});
      const uint32_t d = row[x];
      auto blend = [&](uint32_t channel_color, uint32_t cover, int shift) {
        const uint32_t a = cover * color_alpha / 255;
        const uint32_t dst = (d >> shift) & 0xFF;
        return std::min<uint32_t>(255, (channel_color * a + 127) / 255 + (dst * (255 - a) + 127) / 255);
      };
      const uint32_t a = ca * color_alpha / 255;
      const uint32_t out_a = std::min<uint32_t>(255, a + ((d >> 24) * (255 - a) + 127) / 255);
      row[x] = (out_a << 24) | (blend(style.color.r, cr, 16) << 16) | (blend(style.color.g, cg, 8) << 8) |
               blend(style.color.b, cb, 0);
    }
  }
}

// The picture scaled into the content box.
void Painter::PaintImage(const Image& image, const LayoutBox* box, const IntRect& clip) {
  DrawScaled(image, box->ContentX(), box->ContentY(), box->ContentWidth(), box->ContentHeight(), clip);
}

// `image` stretched over the rectangle, bilinear in premultiplied space.
void Painter::DrawScaled(const Image& image, float left, float top, float width, float height, const IntRect& clip) {
  if (width <= 0 || height <= 0 || image.width <= 0 || image.height <= 0) return;
  const IntRect area = Round(left, top, width, height).Intersect(clip);
  const float sx = image.width / width, sy = image.height / height;
  for (int y = area.top; y < area.bottom; ++y) {
    const float fy = std::clamp((y + 0.5f - top) * sy - 0.5f, 0.0f, static_cast<float>(image.height - 1));
    const int y0 = static_cast<int>(fy), y1 = std::min(y0 + 1, image.height - 1);
    const float wy = fy - y0;
    uint32_t* row = target_->pixels() + static_cast<size_t>(y) * target_->width();
    for (int x = area.left; x < area.right; ++x) {
      const float fx = std::clamp((x + 0.5f - left) * sx - 0.5f, 0.0f, static_cast<float>(image.width - 1));
      const int x0 = static_cast<int>(fx), x1 = std::min(x0 + 1, image.width - 1);
      const float wx = fx - x0;
      const uint32_t p00 = image.pixels[static_cast<size_t>(y0) * image.width + x0];
      const uint32_t p01 = image.pixels[static_cast<size_t>(y0) * image.width + x1];
      const uint32_t p10 = image.pixels[static_cast<size_t>(y1) * image.width + x0];
      const uint32_t p11 = image.pixels[static_cast<size_t>(y1) * image.width + x1];
      uint32_t sample = 0;
      for (int shift = 0; shift < 32; shift += 8) {
        const float top_mix = ((p00 >> shift) & 0xFF) * (1 - wx) + ((p01 >> shift) & 0xFF) * wx;
        const float bottom_mix = ((p10 >> shift) & 0xFF) * (1 - wx) + ((p11 >> shift) & 0xFF) * wx;
        sample |= static_cast<uint32_t>(std::lround(top_mix * (1 - wy) + bottom_mix * wy)) << shift;
      }
      row[x] = Over(sample, row[x]);
    }
  }
}

// background-image over the padding box: sized, placed and tiled as the style says.
void Painter::PaintBackgroundImage(const LayoutBox* box, const IntRect& clip) {
  const Image& image = *box->node->background_image;
  const ComputedStyle& style = *box->style;
  const float area_x = box->x + box->border[3], area_y = box->y + box->border[0];
  const float area_w = box->width - box->border[1] - box->border[3];
  const float area_h = box->height - box->border[0] - box->border[2];
  if (area_w <= 0 || area_h <= 0) return;
  const float scale = options_.scale;
  float w = image.width * scale, h = image.height * scale;
  if (style.background_size_keyword == L"cover" || style.background_size_keyword == L"contain") {
    const float fit = style.background_size_keyword == L"cover" ? std::max(area_w / w, area_h / h) : std::min(area_w / w, area_h / h);
    w *= fit;
    h *= fit;
  } else {
    auto length = [&](const Length& l, float base) {
      return l.unit == Unit::kPercent ? l.value * base / 100.0f : l.value * scale;
    };
    const bool auto_w = style.background_size[0].IsAuto(), auto_h = style.background_size[1].IsAuto();
    if (!auto_w && !auto_h) {
      w = length(style.background_size[0], area_w);
      h = length(style.background_size[1], area_h);
    } else if (!auto_w) {
      const float given = length(style.background_size[0], area_w);
      h = h * given / w;
      w = given;
    } else if (!auto_h) {
      const float given = length(style.background_size[1], area_h);
      w = w * given / h;
      h = given;
    }
  }
  if (w < 1 || h < 1) return;
  auto place = [&](const Length& l, float area, float size) {
    return l.unit == Unit::kPercent ? (area - size) * l.value / 100.0f : l.value * scale;
  };
  float x = area_x + place(style.background_position[0], area_w, w);
  float y = area_y + place(style.background_position[1], area_h, h);
  const IntRect area = Round(area_x, area_y, area_w, area_h).Intersect(clip);
  if (area.Empty()) return;
  // Tiles are counted, not trusted: a tiny picture over a big box stays a bounded loop.
  if (style.background_repeat_x) x -= std::ceil((x - area_x) / w) * w;
  if (style.background_repeat_y) y -= std::ceil((y - area_y) / h) * h;
  int tiles = 0;
  for (float ty = y; ty < area_y + area_h && tiles < 20000; ty += h) {
    for (float tx = x; tx < area_x + area_w && tiles < 20000; tx += w, ++tiles) {
      DrawScaled(image, tx, ty, w, h, area);
      if (!style.background_repeat_x) break;
    }
    if (!style.background_repeat_y) break;
  }
}

void Painter::PaintBox(const LayoutBox* box, const IntRect& clip, int depth) {
  const ComputedStyle& style = *box->style;
  if (style.visible) PaintBackgroundAndBorders(box, clip);
  if (style.visible && box->node && box->node->background_image) PaintBackgroundImage(box, clip);
  if (style.visible && box->node && box->node->image) PaintImage(*box->node->image, box, clip);
  IntRect inner_clip = clip;
  if (style.overflow_hidden) {
    inner_clip = clip.Intersect(Round(box->x + box->border[3], box->y + box->border[0],
                                      box->width - box->border[1] - box->border[3],
                                      box->height - box->border[0] - box->border[2]));
  }
  for (const TextFragment& fragment : box->text) {
    if (!fragment.style->visible) continue;
    for (const Node* decorated : fragment.decorated) {
      if (decorated->style) {
        FillRect(Round(fragment.x, fragment.y, fragment.width, fragment.height), inner_clip,
                 Premultiply(decorated->style->background));
      }
    }
    PaintText(fragment, inner_clip);
  }
  if (depth < 256) {
    for (const auto& child : box->children) PaintBox(child.get(), inner_clip, depth + 1);
  }
  if (box->node && (box->node->state & kStateFocus) && style.visible) PaintFocusRing(box, clip);
}

}  // namespace

void PaintDocument(const LayoutBox* root, const PaintOptions& options, FontCache* fonts,
                   PixelBuffer* target) {
  if (!root || !target->pixels()) return;
  GdiFlush();
  Painter painter(options, fonts, target);
  painter.PaintBox(root, IntRect{0, 0, target->width(), target->height()}, 0);
  GdiFlush();
}

}  // namespace sciter_engine
