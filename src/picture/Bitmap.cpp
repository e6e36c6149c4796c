#include "picture/Bitmap.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "picture/BitmapFile.h"
#include "picture/PictureLimits.h"
#include "platform/Format.h"

namespace driftpost {

namespace {

bool IsIndexed(TPixelDepth depth) { return depth == pd1Bit || depth == pd4Bit || depth == pd8Bit; }

// 32-bit and the display's format share one layout.
bool SameLayout(TPixelDepth a, TPixelDepth b) {
  auto normal = [](TPixelDepth depth) { return depth == pdDevice ? pd32Bit : depth; };
  return normal(a) == normal(b);
}

TBGRA ColorToBGRA(TColor color) { return MakeBGRA(BlueOf(color), GreenOf(color), RedOf(color)); }

// `total` bytes from malloc (their content is the caller's to write) or, zeroed, from calloc.
std::uint8_t* AllocatePixels(std::size_t total, bool zeroed) {
  void* bits = zeroed ? std::calloc(total, 1) : std::malloc(total);
  if (!bits) throw std::bad_alloc();
  return static_cast<std::uint8_t*>(bits);
}

}  // namespace

void TBitmap::TFreePixels::operator()(std::uint8_t* bits) const { std::free(bits); }

TBitmap::TBitmap() = default;
TBitmap::~TBitmap() = default;

TGraphicClass TBitmap::StaticClass() {
  static const TGraphicClassInfo info{"TBitmap", TGraphic::StaticClass(), &CreateGraphicOf<TBitmap>};
  return &info;
}

void TBitmap::LoadStream(TStream& stream) {
  TBitmap loaded;
  ReadBitmapFile(stream, loaded, ImageFormatName());
  MoveImage(loaded);
  Changed();
}

void TBitmap::SaveStream(TStream& stream) { WriteBitmapFile(stream, *this); }

void TBitmap::CopyFrom(const TGraphic* source) {
  const auto* bitmap = dynamic_cast<const TBitmap*>(source);
  if (!bitmap) RaiseAssignError(source, ClassName());
  if (bitmap != this) CopyImage(*bitmap);
  Changed();
}

void TBitmap::CopyImage(const TBitmap& source) {
  TPixels bits;
  const std::size_t total = source.bytesPerRow_ * static_cast<std::size_t>(source.height_);
  if (total) {
    bits.reset(AllocatePixels(total, false));
    std::memcpy(bits.get(), source.bits_.get(), total);
  }
  bits_ = std::move(bits);
  pixelFormat_ = source.pixelFormat_;
  width_ = source.width_;
  height_ = source.height_;
  bytesPerRow_ = source.bytesPerRow_;
  palette_ = source.palette_;
  transparent_ = source.transparent_;
  transparentColor_ = source.transparentColor_;
}

void TBitmap::MoveImage(TBitmap& source) {
  bits_ = std::move(source.bits_);
  pixelFormat_ = source.pixelFormat_;
  width_ = source.width_;
  height_ = source.height_;
  bytesPerRow_ = source.bytesPerRow_;
  palette_ = std::move(source.palette_);
  transparent_ = source.transparent_;
  transparentColor_ = source.transparentColor_;
  source.FreeImage();
}

void TBitmap::RaiseInvalidImage() const { throw EInvalidGraphic(Format(InvalidImageMessage, {ImageFormatName()})); }

void TBitmap::CheckImageSize(std::int64_t width, std::int64_t height) const {
  if (width < 0 || height < 0 ||
      !PictureSizeAllowed(static_cast<std::uint64_t>(width), static_cast<std::uint64_t>(height), pixelFormat_))
    RaiseInvalidImage();
}

void TBitmap::SetSize(int width, int height) {
  if (width == width_ && height == height_) return;
  CheckImageSize(width, height);
  Reallocate(pixelFormat_, width, height, TNewPixels::White);
  Changed();
}

void TBitmap::FreeImage() {
  bits_.reset();
  width_ = height_ = 0;
  bytesPerRow_ = 0;
}

void TBitmap::AllocateImage(int width, int height) {
  CheckImageSize(width, height);
  bits_.reset();
  width_ = height_ = 0;
  Reallocate(pixelFormat_, width, height, TNewPixels::Zero);
  Changed();
}

void TBitmap::TakeImage(TBitmap& source) {
  if (&source == this) return;
  MoveImage(source);
  Changed();
}

// New storage of the given size in the given format, white or zero, with the old picture's
// overlapping part copied in. The caller has checked the size.
void TBitmap::Reallocate(TPixelDepth depth, int width, int height, TNewPixels pixels) {
  const std::size_t rowBytes = width > 0 ? *BytesPerRowOf(static_cast<std::uint64_t>(width), depth) : 0;
  const std::size_t total = rowBytes * static_cast<std::size_t>(height);
  TPixels bits(total ? AllocatePixels(total, pixels == TNewPixels::Zero) : nullptr);
  TPixels old = std::move(bits_);
  const int oldWidth = width_, oldHeight = height_;
  const std::size_t oldRowBytes = bytesPerRow_;
  bits_ = std::move(bits);
  width_ = width;
  height_ = height;
  bytesPerRow_ = rowBytes;
  if (total && pixels == TNewPixels::White) Fill(clWhite);
  if (!old || !total) return;
  const int rows = std::min(oldHeight, height);
  const std::size_t usedBits = static_cast<std::size_t>(std::min(oldWidth, width)) * BitsPerPixelOf(depth);
  const std::size_t wholeBytes = usedBits / 8;
  const unsigned restBits = usedBits % 8;
  for (int y = 0; y < rows; ++y) {
    const std::uint8_t* from = old.get() + static_cast<std::size_t>(oldHeight - 1 - y) * oldRowBytes;
    std::uint8_t* to = Row(y);
    std::memcpy(to, from, wholeBytes);
    if (restBits) {
      const std::uint8_t keep = static_cast<std::uint8_t>(0xFF >> restBits);
      to[wholeBytes] = static_cast<std::uint8_t>((from[wholeBytes] & ~keep) | (to[wholeBytes] & keep));
    }
  }
}

void TBitmap::SetPixelFormat(TPixelDepth depth) {
  if (BitsPerPixelOf(depth) == 0) throw EInvalidGraphicOperation("Ungültiges Pixelformat");
  if (depth == pixelFormat_) return;
  std::vector<TRGBQuad> palette = palette_;
  if (IsIndexed(depth) && (palette.empty() || palette.size() > (std::size_t{1} << BitsPerPixelOf(depth))))
    palette = DefaultPalette(depth);
  if (Empty() || SameLayout(depth, pixelFormat_)) {
    if (Empty()) {
      bits_.reset();
      bytesPerRow_ = width_ > 0 ? BytesPerRowOf(static_cast<std::uint64_t>(width_), depth).value_or(0) : 0;
    }
    pixelFormat_ = depth;
    palette_ = std::move(palette);
    Changed();
    return;
  }
  if (!PictureSizeAllowed(static_cast<std::uint64_t>(width_), static_cast<std::uint64_t>(height_), depth))
    RaiseInvalidImage();
  TBitmap converted;
  converted.pixelFormat_ = depth;
  converted.palette_ = std::move(palette);
  // Every row is written below.
  converted.Reallocate(depth, width_, height_, TNewPixels::Zero);
  TBGRA table[256];
  ExpandPalette(palette_, table);
  TColorMatcher matcher(converted.palette_, 1 << std::min(BitsPerPixelOf(depth), 8));
  std::vector<TBGRA> row(static_cast<std::size_t>(width_));
  for (int y = 0; y < height_; ++y) {
    UnpackRow(Row(y), pixelFormat_, table, width_, row.data());
    PackRow(row.data(), width_, depth, &matcher, converted.Row(y));
  }
  converted.transparent_ = transparent_;
  converted.transparentColor_ = transparentColor_;
  MoveImage(converted);
  Changed();
}

std::uint8_t* TBitmap::ScanLine(int y) {
  if (y < 0 || y >= height_) throw EInvalidGraphicOperation("Zeilenindex außerhalb des gültigen Bereichs");
  return Row(y);
}

const std::uint8_t* TBitmap::ScanLine(int y) const {
  if (y < 0 || y >= height_) throw EInvalidGraphicOperation("Zeilenindex außerhalb des gültigen Bereichs");
  return Row(y);
}

void TBitmap::SetPalette(const TPalette& palette) {
  std::vector<TRGBQuad> quads;
  quads.reserve(palette.size());
  for (const TPaletteEntry& entry : palette) quads.push_back(TRGBQuad{entry.Blue, entry.Green, entry.Red, 0});
  SetPalette(std::move(quads));
}

void TBitmap::SetPalette(std::vector<TRGBQuad> palette) {
  if (palette.size() > 256) palette.resize(256);
  palette_ = std::move(palette);
  Changed();
}

void TBitmap::UnpackScanLine(int y, TBGRA* out) const {
  TBGRA table[256];
  if (IsIndexed(pixelFormat_)) ExpandPalette(palette_, table);
  UnpackRow(ScanLine(y), pixelFormat_, table, width_, out);
}

TColor TBitmap::Pixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return clBlack;
  TBGRA table[256];
  if (IsIndexed(pixelFormat_)) ExpandPalette(palette_, table);
  // Unpacking from the pixel's own byte keeps this cheap for every format.
  const int bits = BitsPerPixel();
  const std::uint8_t* at = Row(y) + static_cast<std::size_t>(x) * bits / 8;
  TBGRA value;
  if (bits >= 8) {
    UnpackRow(at, pixelFormat_, table, 1, &value);
  } else {
    TBGRA values[8];
    UnpackRow(at, pixelFormat_, table, 8 / bits, values);
    value = values[x % (8 / bits)];
  }
  return RGBColor(value >> 16 & 0xFF, value >> 8 & 0xFF, value & 0xFF);
}

void TBitmap::SetPixel(int x, int y, TColor color) {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
  std::vector<TBGRA> row(static_cast<std::size_t>(width_));
  UnpackScanLine(y, row.data());
  row[static_cast<std::size_t>(x)] = ColorToBGRA(color);
  TColorMatcher matcher(palette_, 1 << std::min(BitsPerPixel(), 8));
  PackRow(row.data(), width_, pixelFormat_, &matcher, Row(y));
}

void TBitmap::Fill(TColor color) {
  if (Empty()) return;
  std::uint8_t* first = Row(height_ - 1);  // the lowest row starts the block
  if (color == clWhite && !IsIndexed(pixelFormat_)) {
    std::memset(first, 0xFF, bytesPerRow_ * static_cast<std::size_t>(height_));
    return;
  }
  std::vector<TBGRA> pixels(static_cast<std::size_t>(width_), ColorToBGRA(color));
  TColorMatcher matcher(palette_, 1 << std::min(BitsPerPixel(), 8));
  PackRow(pixels.data(), width_, pixelFormat_, &matcher, first);
  for (int y = height_ - 2; y >= 0; --y) std::memcpy(Row(y), first, bytesPerRow_);
}

void TBitmap::DrawGraphic(int x, int y, TGraphic& graphic) {
  graphic.Draw(*this, TRect{x, y, x + graphic.Width(), y + graphic.Height()});
}

void TBitmap::StretchDrawGraphic(const TRect& rect, TGraphic& graphic) { graphic.Draw(*this, rect); }

void TBitmap::Draw(TBitmap& target, const TRect& rect) {
  if (Empty() || target.Empty() || rect.Width() <= 0 || rect.Height() <= 0) return;
  if (&target == this) {
    TBitmap copy;
    copy.CopyImage(*this);
    copy.Draw(target, rect);
    return;
  }
  const int left = std::max(rect.Left, 0), right = std::min(rect.Right, target.width_);
  const int top = std::max(rect.Top, 0), bottom = std::min(rect.Bottom, target.height_);
  if (left >= right || top >= bottom) return;
  const int targetBits = target.BitsPerPixel();
  const bool sameSize = rect.Width() == width_ && rect.Height() == height_;

  // A plain copy of whole bytes when nothing about the pixels changes.
  if (sameSize && !transparent_ && SameLayout(pixelFormat_, target.pixelFormat_) && targetBits >= 8 &&
      (!IsIndexed(pixelFormat_) || palette_ == target.palette_)) {
    const std::size_t pixelBytes = static_cast<std::size_t>(targetBits) / 8;
    const std::size_t bytes = static_cast<std::size_t>(right - left) * pixelBytes;
    const std::size_t from = static_cast<std::size_t>(left - rect.Left) * pixelBytes;
    for (int y = top; y < bottom; ++y)
      std::memcpy(target.Row(y) + static_cast<std::size_t>(left) * pixelBytes, Row(y - rect.Top) + from, bytes);
    target.Changed();
    return;
  }

  TBGRA table[256];
  if (IsIndexed(pixelFormat_)) ExpandPalette(palette_, table);
  TColorMatcher matcher(target.palette_, 1 << std::min(targetBits, 8));
  std::vector<int> sourceColumn(static_cast<std::size_t>(right - left));
  for (int x = left; x < right; ++x)
    sourceColumn[static_cast<std::size_t>(x - left)] =
        static_cast<int>(static_cast<std::int64_t>(x - rect.Left) * width_ / rect.Width());
  std::vector<TBGRA> source(static_cast<std::size_t>(width_));
  std::vector<TBGRA> line(static_cast<std::size_t>(target.width_));
  // Sub-byte formats are packed a whole row at a time, so the rest of the row is read first.
  const bool wholeRow = targetBits < 8;
  const bool readTarget = transparent_ || (wholeRow && (left > 0 || right < target.width_));
  const TBGRA transparentValue = ColorToBGRA(transparentColor_);
  int loaded = -1;
  for (int y = top; y < bottom; ++y) {
    const int sourceRow = static_cast<int>(static_cast<std::int64_t>(y - rect.Top) * height_ / rect.Height());
    if (sourceRow != loaded) {
      UnpackRow(Row(sourceRow), pixelFormat_, table, width_, source.data());
      loaded = sourceRow;
    }
    if (readTarget) target.UnpackScanLine(y, line.data());
    for (int x = left; x < right; ++x) {
      const TBGRA pixel = source[static_cast<std::size_t>(sourceColumn[static_cast<std::size_t>(x - left)])];
      if (transparent_ && (pixel & 0xFFFFFF) == transparentValue) continue;
      line[static_cast<std::size_t>(x)] = pixel;
    }
    if (wholeRow)
      PackRow(line.data(), target.width_, target.pixelFormat_, &matcher, target.Row(y));
    else
      PackRow(line.data() + left, right - left, target.pixelFormat_, &matcher,
              target.Row(y) + static_cast<std::size_t>(left) * (targetBits / 8));
  }
  target.Changed();
}

}  // namespace driftpost
