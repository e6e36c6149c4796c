// The program's 16 by 16 icons, each with a mask: the tree of the Container window, the tray
// icon, the remove action and the web pages' small pictures all use them. They are drawn as
// pixel art here, so that they look the same everywhere and need no files at run time.
#pragma once

#include <array>
#include <cstdint>

namespace driftpost {

// Positions in the list that the program uses.
enum TImageIndex : int {
  iiBox = 1,           // an open cardboard box: the root, the categories, the tray, "folder"
  iiPicture = 6,       // a framed picture
  iiRemove = 10,       // a red button with a white cross
  iiLoudspeaker = 12,  // a loudspeaker with sound waves
  iiPackage = 13,      // a grey package: packages and other files
};

struct TImageListIcon {
  static constexpr int Size = 16;
  // 0xRRGGBB per pixel, rows from the top.
  std::array<std::uint32_t, Size * Size> Colors{};
  // True where the icon is transparent and the background shows through.
  std::array<bool, Size * Size> Mask{};

  std::uint32_t Color(int x, int y) const { return Colors[static_cast<std::size_t>(y * Size + x)]; }
  bool Transparent(int x, int y) const { return Mask[static_cast<std::size_t>(y * Size + x)]; }
  // The pixel as drawn through the mask onto a background of the given colour.
  std::uint32_t Over(int x, int y, std::uint32_t background) const {
    return Transparent(x, y) ? background : Color(x, y);
  }
};

class TImageList {
 public:
  static constexpr int Width = TImageListIcon::Size;
  static constexpr int Height = TImageListIcon::Size;
  static constexpr int Count = 14;

  // The program's list; positions without a drawing are fully transparent.
  static const TImageList& Instance();

  // Raises EListError for an index outside the list.
  const TImageListIcon& Icon(int index) const;

 private:
  TImageList();
  std::array<TImageListIcon, Count> icons_;
};

}  // namespace driftpost
