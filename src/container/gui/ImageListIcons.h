// The program's image list as Qt sees it: each 16 by 16 drawing of TImageList with its mask
// turned into transparency, for the tree, the actions and the tray icon. Made on demand, so
// nothing of Qt's is held beyond the application's life.
#pragma once

#include <QIcon>
#include <QImage>
#include <QPixmap>

#include "container/ImageList.h"

namespace driftpost {

// Raise EListError for an index outside the list.
QImage ImageListImage(int index, const TImageList& list = TImageList::Instance());
QPixmap ImageListPixmap(int index, const TImageList& list = TImageList::Instance());
QIcon ImageListIcon(int index, const TImageList& list = TImageList::Instance());

}  // namespace driftpost
