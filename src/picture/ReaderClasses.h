// The class behind each reader class name of the registered-formats table. The platform's
// own classes (TBitmap, TIcon, TMetafile, TJPEGImage) are always there. A reader class is
// installed at start-up, before the formats are registered; a reader name that has no
// installed class is served by a stand-in class of that name whose loading refuses every
// file with the reader's invalid-format message.
#pragma once

#include <string>

#include "picture/Graphic.h"

namespace driftpost {

// The class registered under this class name, or none for a name that is no reader's.
TGraphicClass ReaderClassByName(const std::string& name);

// Makes `readerClass` the class for its name (readerClass->Name), in place of the stand-in.
// When the picture formats are already set up, they are set up again with it.
void InstallReaderClass(TGraphicClass readerClass);

// True for the stand-in classes.
bool IsStandInReaderClass(TGraphicClass graphicClass);

}  // namespace driftpost
