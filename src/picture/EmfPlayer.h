// Plays the records of an enhanced metafile onto a canvas, in the coordinates of the
// reference device that its header describes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "picture/MetafileCanvas.h"
#include "picture/MetafileHeader.h"

namespace driftpost::metafile {

// Each record's size is checked against the file before it is read; a record smaller than
// its own header, of a size that is not a multiple of four, or reaching past the end ends
// the drawing. Unknown records are passed over.
void PlayEmf(const TMetafileHeader& header, const std::uint8_t* data, std::size_t size, TMetafileCanvas& canvas);

}  // namespace driftpost::metafile
