// Plays a metafile onto a bitmap: the records of a Windows metafile (WmfPlayer) or an
// enhanced metafile (EmfPlayer) drive a TMetafileCanvas over a Cairo image surface.
//
// The picture is drawn in tiles of a bounded size, each from the bitmap's own pixels and
// back, so drawing needs the bitmap and a few megabytes, whatever the picture's size and
// format. Each tile plays the records afresh; all of them share one work budget.
#pragma once

#include <cstdint>
#include <vector>

#include "picture/Graphic.h"

namespace driftpost {

class TBitmap;

// Draws the metafile `file` (whose header has been checked) stretched into `rect` of
// `target`, clipped to the target and to `rect`. Malformed records end the drawing; what was
// drawn until then stays.
void PlayMetafile(const std::vector<std::uint8_t>& file, TBitmap& target, const TRect& rect);

}  // namespace driftpost
