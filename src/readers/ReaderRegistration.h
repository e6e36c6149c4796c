// Puts the readers of this library in place of the stand-in reader classes, so that the
// picture formats registered at start-up load through them. The program calls
// InstallReaders() once, before InitializePictureFormats().
#pragma once

namespace driftpost {

// Installs TTargaGraphic, TPCXGraphic, TSGIGraphic, TAutodeskGraphic, TCUTGraphic,
// TPPMGraphic and TRLAGraphic. Calling it again changes nothing.
void InstallReaders();

}  // namespace driftpost
