// The headers of the metafile formats: what kind of metafile the bytes hold, the picture's
// size in pixels at 96 dots per inch, and what playback needs to place the drawing.
#pragma once

#include <cstddef>
#include <cstdint>

#include "picture/MetafileGeometry.h"

namespace driftpost::metafile {

enum class TMetafileKind : std::uint8_t {
  Placeable,  // a Windows metafile behind the placeable header (bounding box, units per inch)
  Plain,      // a Windows metafile alone; its size is the first window extent it sets
  Enhanced,   // an enhanced metafile
};

struct TMetafileHeader {
  TMetafileKind Kind = TMetafileKind::Plain;
  std::int64_t Width = 0;  // pixels
  std::int64_t Height = 0;
  std::size_t RecordsStart = 0;   // the first record after the headers
  std::uint32_t ObjectCount = 0;  // the object table's size as the header gives it
  TBoxD Window;                   // the old format: the logical area the picture shows
  TBoxD Frame;                    // the enhanced format: the picture in hundredths of a millimetre
  TBoxD Bounds;                   // and in pixels of the reference device
  TPointD DevicePixels;           // the reference device's size in pixels
  TPointD DeviceMillimetres;      // and in millimetres
};

// Reads the headers; raises EInvalidGraphic with the invalid-format message (TMetafile)
// for bytes that are no metafile.
TMetafileHeader ReadMetafileHeader(const std::uint8_t* data, std::size_t size);

}  // namespace driftpost::metafile
