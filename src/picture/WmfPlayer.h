// Plays the records of a Windows metafile (the old, 16-bit format) onto a canvas. The
// window that the records set is stretched over the picture.
#pragma once

#include <cstddef>
#include <cstdint>

#include "picture/MetafileCanvas.h"
#include "picture/MetafileHeader.h"

namespace driftpost::metafile {

// Each record's size is checked against the file before it is read; a record of no size,
// or one reaching past the end, ends the drawing. Unknown records are passed over.
void PlayWmf(const TMetafileHeader& header, const std::uint8_t* data, std::size_t size, TMetafileCanvas& canvas);

}  // namespace driftpost::metafile
