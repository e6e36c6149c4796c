#include "container/gui/ImageListIcons.h"

namespace driftpost {

QImage ImageListImage(int index, const TImageList& list) {
  const TImageListIcon& icon = list.Icon(index);
  QImage image(TImageList::Width, TImageList::Height, QImage::Format_ARGB32);
  for (int y = 0; y < TImageList::Height; ++y)
    for (int x = 0; x < TImageList::Width; ++x)
      image.setPixel(x, y, icon.Transparent(x, y) ? 0u : 0xFF000000u | icon.Color(x, y));
  return image;
}

QPixmap ImageListPixmap(int index, const TImageList& list) { return QPixmap::fromImage(ImageListImage(index, list)); }

QIcon ImageListIcon(int index, const TImageList& list) { return QIcon(ImageListPixmap(index, list)); }

}  // namespace driftpost
