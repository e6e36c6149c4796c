// TGraphic, the abstract picture: what every picture class (bitmap, icon, metafile, JPEG and
// the readers) offers to the code that loads, draws and saves pictures. Picture classes are
// also known by a class reference (TGraphicClass), which the format registries store and
// create instances from, as a virtual constructor would.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/Exception.h"

namespace driftpost {

class TBitmap;
class TGraphic;
class TStream;

// A picture that cannot be read or a class that cannot be registered.
class EInvalidGraphic : public Exception {
 public:
  using Exception::Exception;
};

// An operation the picture does not allow (resizing a JPEG picture, a scan line outside the
// bitmap).
class EInvalidGraphicOperation : public Exception {
 public:
  using Exception::Exception;
};

// The message of a picture whose data is not what its format allows; %s is the format's name.
constexpr const char* InvalidImageMessage = "Cannot load image. Invalid or unexpected %s image format.";

// A colour as red, green and blue in the low three bytes: 0x00BBGGRR.
using TColor = std::uint32_t;
constexpr TColor clBlack = 0x000000;
constexpr TColor clWhite = 0xFFFFFF;

constexpr TColor RGBColor(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
  return static_cast<TColor>(red) | static_cast<TColor>(green) << 8 | static_cast<TColor>(blue) << 16;
}
constexpr std::uint8_t RedOf(TColor color) { return static_cast<std::uint8_t>(color); }
constexpr std::uint8_t GreenOf(TColor color) { return static_cast<std::uint8_t>(color >> 8); }
constexpr std::uint8_t BlueOf(TColor color) { return static_cast<std::uint8_t>(color >> 16); }

// A rectangle of pixels; Right and Bottom lie just outside it.
struct TRect {
  int Left = 0;
  int Top = 0;
  int Right = 0;
  int Bottom = 0;

  int Width() const { return Right - Left; }
  int Height() const { return Bottom - Top; }
  bool operator==(const TRect&) const = default;
};

enum TProgressStage : std::uint8_t { psStarting, psRunning, psEnding };

struct TGraphicClassInfo;
using TGraphicClass = const TGraphicClassInfo*;

// A class reference. Every picture class has exactly one, returned by its StaticClass().
struct TGraphicClassInfo {
  const char* Name;
  TGraphicClass Parent;  // none for TGraphic itself
  // Makes a new, empty instance; none for abstract classes. It is given the class
  // reference itself, so one implementation can serve several classes.
  std::unique_ptr<TGraphic> (*Create)(TGraphicClass graphicClass);
  // Readers only: whether the bytes at the stream's position look like their format; the
  // position is left unchanged.
  bool (*CanReadStream)(TStream& stream) = nullptr;

  // True for this class and every class derived from `ancestor`.
  bool InheritsFrom(TGraphicClass ancestor) const;
  // Raises EInvalidGraphicOperation for an abstract class.
  std::unique_ptr<TGraphic> NewInstance() const;
};

template <class T>
std::unique_ptr<TGraphic> CreateGraphicOf(TGraphicClass) {
  return std::make_unique<T>();
}

class TGraphic {
 public:
  using TChangeEvent = std::function<void(TGraphic& sender)>;
  using TProgressEvent = std::function<void(TGraphic& sender, TProgressStage stage, std::uint8_t percent,
                                            bool redrawNow, const TRect& rect, const std::string& message)>;

  TGraphic() = default;
  virtual ~TGraphic() = default;
  TGraphic(const TGraphic&) = delete;
  TGraphic& operator=(const TGraphic&) = delete;

  static TGraphicClass StaticClass();
  virtual TGraphicClass ClassType() const = 0;
  const char* ClassName() const { return ClassType()->Name; }
  bool InheritsFrom(TGraphicClass ancestor) const { return ClassType()->InheritsFrom(ancestor); }

  // Opens the file read-only, loads it through LoadStream and closes it again, also when
  // loading failed. Raises EFOpenError when the file cannot be opened or is not a regular
  // file (a folder, a pipe, a device). A reader whose
  // pictures need a second file beside the first learns the path here.
  virtual void LoadFile(const std::string& path);
  // Reads the picture from the stream's current position.
  virtual void LoadStream(TStream& stream) = 0;
  // Writes the picture in its own format at the stream's current position.
  virtual void SaveStream(TStream& stream) = 0;
  // Makes this picture a copy of `source` (none is allowed where a class says so).
  virtual void CopyFrom(const TGraphic* source) = 0;

  virtual int Width() const = 0;
  virtual int Height() const = 0;
  // Pictures that cannot change their size raise EInvalidGraphicOperation.
  virtual void SetWidth(int width);
  virtual void SetHeight(int height);
  virtual bool Empty() const = 0;

  // Draws the picture onto `target`, stretched into `rect` (clipped to the target).
  virtual void Draw(TBitmap& target, const TRect& rect) = 0;

  TChangeEvent OnChange;
  TProgressEvent OnProgress;

 protected:
  virtual void Changed();
  void Progress(TProgressStage stage, std::uint8_t percent, bool redrawNow, const TRect& rect,
                const std::string& message);
};

// Raises EConvertError for a picture that cannot be copied into a picture of `targetClass`.
[[noreturn]] void RaiseAssignError(const TGraphic* source, const char* targetClass);

}  // namespace driftpost
