#include "picture/Graphic.h"

#include "platform/Format.h"
#include "platform/Stream.h"

namespace driftpost {

bool TGraphicClassInfo::InheritsFrom(TGraphicClass ancestor) const {
  for (TGraphicClass current = this; current; current = current->Parent)
    if (current == ancestor) return true;
  return false;
}

std::unique_ptr<TGraphic> TGraphicClassInfo::NewInstance() const {
  if (!Create) throw EInvalidGraphicOperation(Format("Abstrakte Klasse %s kann nicht erzeugt werden", {Name}));
  return Create(this);
}

TGraphicClass TGraphic::StaticClass() {
  static const TGraphicClassInfo info{"TGraphic", nullptr, nullptr};
  return &info;
}

void TGraphic::LoadFile(const std::string& path) {
  TFileStream stream(path, fmOpenRead | fmShareDenyWrite);
  // A device opens like a file but could be read without end.
  if (!stream.Regular()) throw EFOpenError::ForFile(path);
  LoadStream(stream);
}

void TGraphic::SetWidth(int) {
  throw EInvalidGraphicOperation(Format("Die Größe von %s kann nicht verändert werden", {ClassName()}));
}

void TGraphic::SetHeight(int) {
  throw EInvalidGraphicOperation(Format("Die Größe von %s kann nicht verändert werden", {ClassName()}));
}

void TGraphic::Changed() {
  if (OnChange) OnChange(*this);
}

void TGraphic::Progress(TProgressStage stage, std::uint8_t percent, bool redrawNow, const TRect& rect,
                        const std::string& message) {
  if (OnProgress) OnProgress(*this, stage, percent, redrawNow, rect, message);
}

void RaiseAssignError(const TGraphic* source, const char* targetClass) {
  throw EConvertError(
      Format("%s kann nicht zu  %s zugewiesen werden", {source ? source->ClassName() : "nil", targetClass}));
}

}  // namespace driftpost
