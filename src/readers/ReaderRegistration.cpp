#include "readers/ReaderRegistration.h"

#include "picture/ReaderClasses.h"
#include "readers/AutodeskGraphic.h"
#include "readers/CUTGraphic.h"
#include "readers/PCDGraphic.h"
#include "readers/PCXGraphic.h"
#include "readers/PNGGraphic.h"
#include "readers/PPMGraphic.h"
#include "readers/PSDGraphic.h"
#include "readers/PSPGraphic.h"
#include "readers/RLAGraphic.h"
#include "readers/SGIGraphic.h"
#include "readers/TargaGraphic.h"

namespace driftpost {

void InstallReaders() {
  for (TGraphicClass reader : {TTargaGraphic::StaticClass(), TPCXGraphic::StaticClass(), TSGIGraphic::StaticClass(),
                               TAutodeskGraphic::StaticClass(), TCUTGraphic::StaticClass(), TPPMGraphic::StaticClass(),
                               TRLAGraphic::StaticClass(), TPSDGraphic::StaticClass(), TPSPGraphic::StaticClass(),
                               TPCDGraphic::StaticClass(), TPNGGraphic::StaticClass()})
    if (ReaderClassByName(reader->Name) != reader) InstallReaderClass(reader);
}

}  // namespace driftpost
