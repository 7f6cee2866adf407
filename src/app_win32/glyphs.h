#pragma once

#include <windows.h>
// After windows.h, whose types it uses.
#include <commctrl.h>

#include <cstdint>
#include <vector>

// The program's pictures (the same drawings as the Linux window's icon set), drawn with GDI+ at
// the size the screen's DPI asks for, so they stay sharp at every scale. Main thread only.
namespace ravdel {

enum class Glyph {
  ravdel,
  refresh,
  run,
  stop,
  folder,
  save,
  exit,
  restore,
  minimize,
  options,
  web,
  history,
  mail,
  system
};

// GDI+ for the life of the object; glyphs can be drawn only while one exists.
class GdiplusSession {
 public:
  GdiplusSession();
  ~GdiplusSession();
  GdiplusSession(const GdiplusSession&) = delete;
  GdiplusSession& operator=(const GdiplusSession&) = delete;

 private:
  ULONG_PTR token_ = 0;
};

// Owns an icon handle.
class IconHandle {
 public:
  IconHandle() = default;
  explicit IconHandle(HICON icon) : icon_(icon) {}
  ~IconHandle() { reset(); }
  IconHandle(IconHandle&& other) noexcept : icon_(other.icon_) { other.icon_ = nullptr; }
  IconHandle& operator=(IconHandle&& other) noexcept {
    if (this != &other) {
      reset();
      icon_ = other.icon_;
      other.icon_ = nullptr;
    }
    return *this;
  }
  IconHandle(const IconHandle&) = delete;
  IconHandle& operator=(const IconHandle&) = delete;

  HICON get() const { return icon_; }
  void reset() {
    if (icon_ != nullptr) ::DestroyIcon(icon_);
    icon_ = nullptr;
  }

 private:
  HICON icon_ = nullptr;
};

// Owns a GDI object (bitmap, font, brush).
template <typename Handle>
class GdiObject {
 public:
  GdiObject() = default;
  explicit GdiObject(Handle handle) : handle_(handle) {}
  ~GdiObject() { reset(); }
  GdiObject(GdiObject&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }
  GdiObject& operator=(GdiObject&& other) noexcept {
    if (this != &other) {
      reset();
      handle_ = other.handle_;
      other.handle_ = nullptr;
    }
    return *this;
  }
  GdiObject(const GdiObject&) = delete;
  GdiObject& operator=(const GdiObject&) = delete;

  Handle get() const { return handle_; }
  void reset() {
    if (handle_ != nullptr) ::DeleteObject(handle_);
    handle_ = nullptr;
  }

 private:
  Handle handle_ = nullptr;
};

// How a glyph looks: as drawn, or as a disabled button shows it (grey and faint; the system's
// own disabled look turns a picture with an alpha channel into a grey striped block).
enum class GlyphLook { normal, disabled };

// The glyph as an icon of `pixels` x `pixels`, with its alpha channel.
IconHandle glyphIcon(Glyph glyph, int pixels, GlyphLook look = GlyphLook::normal);

// Owns an image list.
class ImageListHandle {
 public:
  ImageListHandle() = default;
  explicit ImageListHandle(HIMAGELIST list) : list_(list) {}
  ~ImageListHandle() { reset(); }
  ImageListHandle(ImageListHandle&& other) noexcept : list_(other.list_) { other.list_ = nullptr; }
  ImageListHandle& operator=(ImageListHandle&& other) noexcept {
    if (this != &other) {
      reset();
      list_ = other.list_;
      other.list_ = nullptr;
    }
    return *this;
  }
  ImageListHandle(const ImageListHandle&) = delete;
  ImageListHandle& operator=(const ImageListHandle&) = delete;

  HIMAGELIST get() const { return list_; }
  void reset();

 private:
  HIMAGELIST list_ = nullptr;
};

// A push button's pictures, one per state in the order of the PBS_ states (normal, hot,
// pressed, disabled, default, stylus hot): the glyph, and for the disabled state its grey look.
ImageListHandle glyphButtonImages(Glyph glyph, int pixels);
// The glyph's pixels, rows top first, each pixel blue, green, red, alpha (not premultiplied).
std::vector<std::uint8_t> glyphPixels(Glyph glyph, int pixels);
// The glyph drawn on `background`, as a bitmap for a menu entry (not every system blends a
// menu image's alpha).
GdiObject<HBITMAP> glyphBitmap(Glyph glyph, int pixels, COLORREF background);

}  // namespace ravdel
