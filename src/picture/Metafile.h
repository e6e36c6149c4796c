// TMetafile: a Windows metafile (wmf, with or without the placeable header) or enhanced
// metafile (emf). Loading keeps the file's bytes and reads its headers for the picture's
// width and height in pixels (at 96 dots per inch); drawing plays its records onto the
// bitmap (MetafilePlayer.h).
#pragma once

#include <cstdint>
#include <vector>

#include "picture/Graphic.h"

namespace driftpost {

class TMetafile : public TGraphic {
 public:
  TMetafile();
  ~TMetafile() override;

  static TGraphicClass StaticClass();
  TGraphicClass ClassType() const override { return StaticClass(); }

  // Raises EInvalidGraphic with the invalid-format message (TMetafile) for anything that
  // is not a metafile, and with a message naming the size for a picture beyond the limits.
  void LoadStream(TStream& stream) override;
  // Writes the metafile's bytes as they were loaded.
  void SaveStream(TStream& stream) override;
  // Copies another metafile; none clears this one; other pictures raise EConvertError.
  void CopyFrom(const TGraphic* source) override;

  int Width() const override { return width_; }
  int Height() const override { return height_; }
  void SetWidth(int width) override;
  void SetHeight(int height) override;
  bool Empty() const override { return file_.empty(); }
  void Draw(TBitmap& target, const TRect& rect) override;

  bool Enhanced() const { return enhanced_; }

 private:
  int width_ = 0;
  int height_ = 0;
  bool enhanced_ = false;
  std::vector<std::uint8_t> file_;
};

}  // namespace driftpost
