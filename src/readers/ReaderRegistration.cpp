#include "readers/ReaderRegistration.h"

#include "picture/ReaderClasses.h"
#include "readers/AutodeskGraphic.h"
#include "readers/CUTGraphic.h"
#include "readers/EPSGraphic.h"
#include "readers/PCXGraphic.h"
#include "readers/PPMGraphic.h"
#include "readers/RLAGraphic.h"
#include "readers/SGIGraphic.h"
#include "readers/TIFFGraphic.h"
#include "readers/TargaGraphic.h"

namespace driftpost {

void InstallReaders() {
  for (TGraphicClass reader : {TTargaGraphic::StaticClass(), TPCXGraphic::StaticClass(), TSGIGraphic::StaticClass(),
                               TAutodeskGraphic::StaticClass(), TCUTGraphic::StaticClass(), TPPMGraphic::StaticClass(),
                               TRLAGraphic::StaticClass(), TTIFFGraphic::StaticClass(), TEPSGraphic::StaticClass()})
    if (ReaderClassByName(reader->Name) != reader) InstallReaderClass(reader);
}

}  // namespace driftpost
