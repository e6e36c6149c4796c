#include "platform/Exception.h"

#include "platform/Format.h"

namespace driftpost {

EListError EListError::IndexOutOfBounds(long long index) {
  return EListError(Format("Der Index der Liste überschreitet das Maximum (%d)", {index}));
}

EFOpenError EFOpenError::ForFile(const std::string& fileName) {
  return EFOpenError(Format("Datei %s kann nicht geöffnet werden", {fileName}));
}

EFCreateError EFCreateError::ForFile(const std::string& fileName) {
  return EFCreateError(Format("Datei %s kann nicht erstellt werden", {fileName}));
}

EReadError::EReadError() : EStreamError("Stream-Lesefehler") {}

EWriteError::EWriteError() : EStreamError("Stream-Schreibfehler") {}

}  // namespace driftpost
