#include "container/ImageList.h"

#include <initializer_list>
#include <utility>

#include "platform/Exception.h"

namespace driftpost {

namespace {

using Palette = std::initializer_list<std::pair<char, std::uint32_t>>;

// Builds an icon from 16 rows of 16 characters; '.' is transparent, every other character
// names a colour of the palette.
TImageListIcon Draw(const std::array<const char*, 16>& rows, Palette palette) {
  TImageListIcon icon;
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 16; ++x) {
      char c = rows[static_cast<std::size_t>(y)][x];
      std::size_t at = static_cast<std::size_t>(y * 16 + x);
      icon.Mask[at] = c == '.';
      icon.Colors[at] = 0;
      for (const auto& [name, color] : palette)
        if (name == c) icon.Colors[at] = color;
    }
  }
  return icon;
}

TImageListIcon Transparent() {
  TImageListIcon icon;
  icon.Mask.fill(true);
  return icon;
}

TImageListIcon OpenBox() {
  return Draw({"................",
               "................",
               "kk............kk",
               "kLkk........kkLk",
               "kLLLkkkkkkkkLLLk",
               ".kLLkDDDDDDkLLk.",
               "..kkkDDDDDDkkk..",
               "..kBBBBBBBBBBk..",
               "..kBBBBhhBBBBk..",
               "..kBBBBBBBBBBk..",
               "..kBBBBBBBBBBk..",
               "..kBBBBBBBBBBk..",
               "..kBBBBBBBBBBk..",
               "..kSSSSSSSSSSk..",
               "..kkkkkkkkkkkk..",
               "................"},
              {{'k', 0x603010}, {'L', 0xE8C080}, {'D', 0x805020}, {'B', 0xC88840}, {'h', 0x906020},
               {'S', 0xA86C30}});
}

TImageListIcon FramedPicture() {
  return Draw({"................",
               "FFFFFFFFFFFFFFFF",
               "FyyyyyyyyyyyyyyF",
               "FySSSSSSSSSSSSyF",
               "FySSSSSSSSSOOSyF",
               "FySSSSSSSSSOOSyF",
               "FySSSSSSSSSSSSyF",
               "FySSSSgSSSSSSSyF",
               "FySSSgGgSSSSSSyF",
               "FySSgGGGgSSgSSyF",
               "FySgGGGGGggGgSyF",
               "FygGGGGGGGGGGgyF",
               "FyGGGGGGGGGGGGyF",
               "FyyyyyyyyyyyyyyF",
               "FFFFFFFFFFFFFFFF",
               "................"},
              {{'F', 0x7A4A10}, {'y', 0xD8A840}, {'S', 0x78B8F0}, {'O', 0xFFE040}, {'g', 0x40A040},
               {'G', 0x208020}});
}

TImageListIcon RemoveButton() {
  return Draw({".....kkkkkk.....",
               "...kkRRRRRRkk...",
               "..kRRRRRRRRRRk..",
               ".kRRRRRRRRRRRRk.",
               ".kRRWWRRRRWWRRk.",
               "kRRRWWWRRWWWRRRk",
               "kRRRRWWWWWWRRRRk",
               "kRRRRRWWWWRRRRRk",
               "kRRRRRWWWWRRRRRk",
               "kRRRRWWWWWWRRRRk",
               "kRRRWWWRRWWWRRRk",
               ".kRRWWRRRRWWRRk.",
               ".kRRRRRRRRRRRRk.",
               "..kRRRRRRRRRRk..",
               "...kkRRRRRRkk...",
               ".....kkkkkk....."},
              {{'k', 0x800000}, {'R', 0xE02020}, {'W', 0xFFFFFF}});
}

TImageListIcon Loudspeaker() {
  return Draw({"................",
               "...........w....",
               "......k.....w...",
               ".....kk..w...w..",
               "....kGk...w..w..",
               "kkkkGGk...w...w.",
               "kDDkGGk....w..w.",
               "kDDkGGk....w..w.",
               "kDDkGGk....w..w.",
               "kDDkGGk....w..w.",
               "kkkkGGk...w...w.",
               "....kGk...w..w..",
               ".....kk..w...w..",
               "......k.....w...",
               "...........w....",
               "................"},
              {{'k', 0x202020}, {'G', 0x909090}, {'D', 0x505050}, {'w', 0x2060C0}});
}

TImageListIcon GreyPackage() {
  return Draw({"................",
               "......kkkk......",
               "....kkLLLLkk....",
               "..kkLLLLsLLLkk..",
               "kkLLLLLsLLLLLLkk",
               "kLkkLLsLLLLLkkDk",
               "kLLLkkLLLLkkDDDk",
               "kLLLLLkkkkDDDDDk",
               "kLLLLLLkDDDDDDDk",
               "kLLLLLLkDDDsDDDk",
               "kLLLLLLkDDDsDDDk",
               "kLLLLLLkDDDsDDDk",
               "kkLLLLLkDDDsDDkk",
               "..kkLLLkDDDDkk..",
               "....kkLkDDkk....",
               "......kkkk......"},
              {{'k', 0x303030}, {'L', 0xC0C0C0}, {'D', 0x808080}, {'s', 0xF0F0F0}});
}

}  // namespace

TImageList::TImageList() {
  for (auto& icon : icons_) icon = Transparent();
  icons_[iiBox] = OpenBox();
  icons_[iiPicture] = FramedPicture();
  icons_[iiRemove] = RemoveButton();
  icons_[iiLoudspeaker] = Loudspeaker();
  icons_[iiPackage] = GreyPackage();
}

const TImageList& TImageList::Instance() {
  static const TImageList list;
  return list;
}

const TImageListIcon& TImageList::Icon(int index) const {
  if (index < 0 || index >= Count) throw EListError::IndexOutOfBounds(index);
  return icons_[static_cast<std::size_t>(index)];
}

}  // namespace driftpost
