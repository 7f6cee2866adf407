#include "app_win32/glyphs.h"

// GDI+'s headers use min and max unqualified, and PROPID, which the lean windows.h leaves out.
#include <objidl.h>

#include <algorithm>
using std::max;
using std::min;

#include <gdiplus.h>
// After windows.h, whose types they use.
#include <commctrl.h>
#include <uxtheme.h>
#include <vssym32.h>

#include <cstdint>
#include <memory>

namespace ravdel {
namespace {

namespace gp = Gdiplus;

gp::Color rgb(std::uint32_t value) {
  return gp::Color(255, static_cast<BYTE>(value >> 16), static_cast<BYTE>(value >> 8),
                   static_cast<BYTE>(value));
}

// A rectangle with corners of radius r, in the drawing's own units.
void roundRect(gp::GraphicsPath& path, float x, float y, float w, float h, float r) {
  const float d = 2 * r;
  path.AddArc(x, y, d, d, 180, 90);
  path.AddArc(x + w - d, y, d, d, 270, 90);
  path.AddArc(x + w - d, y + h - d, d, d, 0, 90);
  path.AddArc(x, y + h - d, d, d, 90, 90);
  path.CloseFigure();
}

void fillAndStroke(gp::Graphics& g, const gp::GraphicsPath& path, std::uint32_t fill,
                   std::uint32_t stroke, float width) {
  const gp::SolidBrush brush(rgb(fill));
  g.FillPath(&brush, &path);
  gp::Pen pen(rgb(stroke), width);
  pen.SetLineJoin(gp::LineJoinRound);
  g.DrawPath(&pen, &path);
}

void polygon(gp::Graphics& g, std::initializer_list<gp::PointF> points, std::uint32_t fill,
             std::uint32_t stroke) {
  gp::GraphicsPath path;
  path.AddPolygon(points.begin(), static_cast<INT>(points.size()));
  fillAndStroke(g, path, fill, stroke, 1);
}

void rect(gp::Graphics& g, float x, float y, float w, float h, std::uint32_t fill) {
  const gp::SolidBrush brush(rgb(fill));
  g.FillRectangle(&brush, x, y, w, h);
}

void framedRect(gp::Graphics& g, float x, float y, float w, float h, std::uint32_t fill,
                std::uint32_t stroke) {
  rect(g, x, y, w, h, fill);
  const gp::Pen pen(rgb(stroke), 1);
  g.DrawRectangle(&pen, x, y, w, h);
}

gp::Pen& rounded(gp::Pen& pen) {
  pen.SetLineCap(gp::LineCapRound, gp::LineCapRound, gp::DashCapRound);
  pen.SetLineJoin(gp::LineJoinRound);
  return pen;
}

void circle(gp::Graphics& g, float cx, float cy, float r, std::uint32_t fill) {
  const gp::SolidBrush brush(rgb(fill));
  g.FillEllipse(&brush, cx - r, cy - r, 2 * r, 2 * r);
}

// A covered sensor: a dark pixel grid with one particle track lighting it up. 64 units.
void drawRavdel(gp::Graphics& g) {
  gp::GraphicsPath body;
  roundRect(body, 4, 4, 56, 56, 8);
  fillAndStroke(g, body, 0x1b2330, 0x0b0f16, 2);
  const gp::Pen grid(rgb(0x2c3747), 1);
  for (const float at : {18.0f, 32.0f, 46.0f}) {
    g.DrawLine(&grid, 4.0f, at, 60.0f, at);
    g.DrawLine(&grid, at, 4.0f, at, 60.0f);
  }
  gp::Pen track(rgb(0xffd23f), 5);
  g.DrawLine(&rounded(track), 14, 50, 44, 20);
  circle(g, 44, 20, 7, 0xfff6c8);
  circle(g, 44, 20, 3.5f, 0xffffff);
}

// The other glyphs are drawn on 16 units.
void drawGlyph16(gp::Graphics& g, Glyph glyph) {
  switch (glyph) {
    case Glyph::refresh: {
      gp::Pen pen(rgb(0x1f6fbf), 2);
      g.DrawArc(&rounded(pen), 3.0f, 3.0f, 10.0f, 10.0f, 0.0f, 314.0f);
      polygon(g, {{9.5f, 1.5f}, {14, 1.5f}, {14, 6}}, 0x1f6fbf, 0x1f6fbf);
      break;
    }
    case Glyph::run:
      polygon(g, {{4, 2.5f}, {4, 13.5f}, {13.5f, 8}}, 0x2e9d3a, 0x1d6b26);
      break;
    case Glyph::stop: {
      gp::GraphicsPath path;
      roundRect(path, 3, 3, 10, 10, 1);
      fillAndStroke(g, path, 0xd23a2e, 0x8f2119, 1);
      break;
    }
    case Glyph::folder: {
      polygon(g, {{1.5f, 3.5f}, {6.5f, 3.5f}, {8, 5}, {14.5f, 5}, {14.5f, 13.5f}, {1.5f, 13.5f}},
              0xf2c14e, 0xa87d16);
      const gp::Pen pen(rgb(0xa87d16), 1);
      g.DrawLine(&pen, 1.5f, 6.5f, 14.5f, 6.5f);
      break;
    }
    case Glyph::save:
      polygon(g, {{2, 2}, {12, 2}, {14, 4}, {14, 14}, {2, 14}}, 0x3b6ea8, 0x22456e);
      rect(g, 4.5f, 2.5f, 6, 4, 0xe8eef6);
      rect(g, 4, 9, 8, 4.5f, 0xffffff);
      break;
    case Glyph::exit: {
      framedRect(g, 2.5f, 1.5f, 7, 13, 0x8a6a4a, 0x5a4430);
      circle(g, 8, 8, 0.9f, 0xf2d8a0);
      gp::Pen pen(rgb(0xc0392b), 1.6f);
      g.DrawLine(&rounded(pen), 10, 8, 15, 8);
      const gp::PointF head[] = {{12.5f, 5.5f}, {15, 8}, {12.5f, 10.5f}};
      g.DrawLines(&pen, head, 3);
      break;
    }
    case Glyph::restore:
      framedRect(g, 1.5f, 2.5f, 13, 11, 0xffffff, 0x22456e);
      rect(g, 1.5f, 2.5f, 13, 3, 0x3b6ea8);
      break;
    case Glyph::minimize:
      rect(g, 3, 11, 10, 2.5f, 0x22456e);
      break;
    case Glyph::options: {  // two sliders
      const gp::Pen pen(rgb(0x22456e), 1.5f);
      g.DrawLine(&pen, 2.0f, 4.5f, 14.0f, 4.5f);
      g.DrawLine(&pen, 2.0f, 11.5f, 14.0f, 11.5f);
      framedRect(g, 4, 2.5f, 3, 4, 0x7fb3e6, 0x22456e);
      framedRect(g, 9, 9.5f, 3, 4, 0x7fb3e6, 0x22456e);
      break;
    }
    case Glyph::web: {
      const gp::SolidBrush fill(rgb(0xdcefff));
      const gp::Pen pen(rgb(0x1f6fbf), 1);
      g.FillEllipse(&fill, 1.5f, 1.5f, 13.0f, 13.0f);
      g.DrawEllipse(&pen, 1.5f, 1.5f, 13.0f, 13.0f);
      const gp::Pen thin(rgb(0x1f6fbf), 0.9f);
      g.DrawLine(&thin, 1.5f, 8.0f, 14.5f, 8.0f);
      g.DrawBezier(&thin, 8.0f, 1.5f, 5.0f, 5.0f, 5.0f, 11.0f, 8.0f, 14.5f);
      g.DrawBezier(&thin, 8.0f, 1.5f, 11.0f, 5.0f, 11.0f, 11.0f, 8.0f, 14.5f);
      break;
    }
    case Glyph::history: {  // a rate over bars
      const gp::Pen axes(rgb(0x22456e), 1.2f);
      const gp::PointF corner[] = {{2, 1.5f}, {2, 14}, {14.5f, 14}};
      g.DrawLines(&axes, corner, 3);
      rect(g, 4, 9, 2.2f, 4.5f, 0x7fb3e6);
      rect(g, 7.5f, 6.5f, 2.2f, 7, 0x7fb3e6);
      rect(g, 11, 8, 2.2f, 5.5f, 0x7fb3e6);
      gp::Pen rate(rgb(0xc0392b), 1.2f);
      rate.SetLineJoin(gp::LineJoinRound);
      const gp::PointF line[] = {{3.5f, 7.5f}, {6.5f, 4.5f}, {9.5f, 6}, {14, 2}};
      g.DrawLines(&rate, line, 4);
      break;
    }
    case Glyph::mail: {
      framedRect(g, 1.5f, 3.5f, 13, 9, 0xffffff, 0x1f6fbf);
      const gp::Pen pen(rgb(0x1f6fbf), 1);
      const gp::PointF flap[] = {{1.5f, 3.5f}, {8, 9}, {14.5f, 3.5f}};
      g.DrawLines(&pen, flap, 3);
      break;
    }
    case Glyph::system: {
      gp::GraphicsPath path;
      roundRect(path, 1.5f, 2.5f, 13, 9, 1);
      fillAndStroke(g, path, 0x2a3a4e, 0x15202c, 1);
      rect(g, 3, 4, 10, 6, 0x7fb3e6);
      const gp::Pen pen(rgb(0x15202c), 1.2f);
      g.DrawLine(&pen, 5.5f, 14.5f, 10.5f, 14.5f);
      g.DrawLine(&pen, 8.0f, 11.5f, 8.0f, 14.5f);
      break;
    }
    case Glyph::ravdel:
      break;
  }
}

// Grey at the pixel's luminance, and faint: how a disabled button shows its picture.
void makeDisabled(gp::Bitmap& bitmap, int pixels) {
  const gp::Rect all(0, 0, pixels, pixels);
  gp::BitmapData data{};
  if (bitmap.LockBits(&all, gp::ImageLockModeRead | gp::ImageLockModeWrite, PixelFormat32bppARGB,
                      &data) != gp::Ok)
    return;
  for (int y = 0; y < pixels; ++y) {
    auto* row =
        static_cast<std::uint8_t*>(data.Scan0) + static_cast<std::ptrdiff_t>(y) * data.Stride;
    for (int x = 0; x < pixels; ++x) {
      std::uint8_t* p = row + x * 4;  // blue, green, red, alpha
      const int luma = (p[0] * 29 + p[1] * 150 + p[2] * 77) >> 8;
      const auto grey = static_cast<std::uint8_t>(96 + luma * 96 / 255);
      p[0] = p[1] = p[2] = grey;
      p[3] = static_cast<std::uint8_t>(p[3] * 2 / 5);
    }
  }
  bitmap.UnlockBits(&data);
}

std::unique_ptr<gp::Bitmap> draw(Glyph glyph, int pixels, GlyphLook look = GlyphLook::normal) {
  auto bitmap = std::make_unique<gp::Bitmap>(pixels, pixels, PixelFormat32bppARGB);
  gp::Graphics g(bitmap.get());
  g.SetSmoothingMode(gp::SmoothingModeAntiAlias);
  g.SetPixelOffsetMode(gp::PixelOffsetModeHalf);
  g.Clear(gp::Color(0, 0, 0, 0));
  const float units = glyph == Glyph::ravdel ? 64.0f : 16.0f;
  g.ScaleTransform(static_cast<float>(pixels) / units, static_cast<float>(pixels) / units);
  if (glyph == Glyph::ravdel) {
    drawRavdel(g);
  } else {
    drawGlyph16(g, glyph);
  }
  if (look == GlyphLook::disabled) makeDisabled(*bitmap, pixels);
  return bitmap;
}

}  // namespace

GdiplusSession::GdiplusSession() {
  const gp::GdiplusStartupInput input;
  gp::GdiplusStartup(&token_, &input, nullptr);
}

GdiplusSession::~GdiplusSession() {
  if (token_ != 0) gp::GdiplusShutdown(token_);
}

IconHandle glyphIcon(Glyph glyph, int pixels, GlyphLook look) {
  HICON icon = nullptr;
  if (draw(glyph, pixels, look)->GetHICON(&icon) != gp::Ok) return {};
  return IconHandle(icon);
}

void ImageListHandle::reset() {
  if (list_ != nullptr) ImageList_Destroy(list_);
  list_ = nullptr;
}

ImageListHandle glyphButtonImages(Glyph glyph, int pixels) {
  ImageListHandle list(ImageList_Create(pixels, pixels, ILC_COLOR32, 6, 0));
  if (list.get() == nullptr) return list;
  const IconHandle normal = glyphIcon(glyph, pixels);
  const IconHandle disabled = glyphIcon(glyph, pixels, GlyphLook::disabled);
  // PBS_NORMAL to the stylus-hot state (PBS_DEFAULTED_ANIMATING in older headers): 1 to 6.
  for (int state = PBS_NORMAL; state <= PBS_NORMAL + 5; ++state)
    ImageList_AddIcon(list.get(), state == PBS_DISABLED ? disabled.get() : normal.get());
  return list;
}

std::vector<std::uint8_t> glyphPixels(Glyph glyph, int pixels) {
  const auto bitmap = draw(glyph, pixels);
  const gp::Rect all(0, 0, pixels, pixels);
  gp::BitmapData data{};
  std::vector<std::uint8_t> out(static_cast<std::size_t>(pixels) *
                                static_cast<std::size_t>(pixels) * 4);
  if (bitmap->LockBits(&all, gp::ImageLockModeRead, PixelFormat32bppARGB, &data) != gp::Ok)
    return {};
  for (int y = 0; y < pixels; ++y) {
    const auto* row =
        static_cast<const std::uint8_t*>(data.Scan0) + static_cast<std::ptrdiff_t>(y) * data.Stride;
    std::copy(row, row + pixels * 4, out.begin() + static_cast<std::ptrdiff_t>(y) * pixels * 4);
  }
  bitmap->UnlockBits(&data);
  return out;
}

GdiObject<HBITMAP> glyphBitmap(Glyph glyph, int pixels, COLORREF background) {
  HBITMAP bitmap = nullptr;
  const gp::Color under(255, GetRValue(background), GetGValue(background), GetBValue(background));
  if (draw(glyph, pixels)->GetHBITMAP(under, &bitmap) != gp::Ok) return {};
  return GdiObject<HBITMAP>(bitmap);
}

}  // namespace ravdel
