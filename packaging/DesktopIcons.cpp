// Writes the program's icon for the desktop's menus and docks, drawn from the tray icon: PNG
// files of several sizes (the 16 by 16 drawing enlarged pixel for pixel, so it stays crisp)
// and a scalable SVG with one square per pixel, in the hicolor theme's folder layout.
//
//   driftpost-icons <output folder>   makes <output folder>/hicolor/<size>/apps/driftpost.{png,svg}
#include <QDir>
#include <QImage>
#include <QString>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "container/ImageList.h"
#include "container/gui/ImageListIcons.h"

namespace {

using driftpost::TImageList;
using driftpost::TImageListIcon;

constexpr int PngSizes[] = {16, 32, 48, 64, 128, 256};

std::string HexColor(std::uint32_t color) {
  char text[8];
  std::snprintf(text, sizeof text, "#%06X", color & 0xFFFFFFu);
  return text;
}

// Each row's runs of one colour become one rectangle; transparent pixels stay empty.
std::string Svg(const TImageListIcon& icon) {
  const int size = TImageListIcon::Size;
  std::string svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                    "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + std::to_string(size) + "\" height=\"" +
                    std::to_string(size) + "\" viewBox=\"0 0 " + std::to_string(size) + " " + std::to_string(size) +
                    "\" shape-rendering=\"crispEdges\">\n";
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size;) {
      if (icon.Transparent(x, y)) {
        ++x;
        continue;
      }
      int end = x + 1;
      while (end < size && !icon.Transparent(end, y) && icon.Color(end, y) == icon.Color(x, y)) ++end;
      svg += "  <rect x=\"" + std::to_string(x) + "\" y=\"" + std::to_string(y) + "\" width=\"" +
             std::to_string(end - x) + "\" height=\"1\" fill=\"" + HexColor(icon.Color(x, y)) + "\"/>\n";
      x = end;
    }
  }
  return svg + "</svg>\n";
}

bool MakeFolder(const QString& folder) { return QDir().mkpath(folder); }

}  // namespace

int main(int argc, char* argv[]) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: driftpost-icons <output folder>\n");
    return 2;
  }
  const QString root = QString::fromLocal8Bit(argv[1]) + "/hicolor/";
  const QImage tray = driftpost::ImageListImage(driftpost::iiBox);
  for (int size : PngSizes) {
    const QString folder = root + QString("%1x%1/apps").arg(size);
    const QImage image = tray.scaled(size, size, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    if (!MakeFolder(folder) || !image.save(folder + "/driftpost.png", "PNG")) {
      std::fprintf(stderr, "driftpost-icons: cannot write %s\n", qPrintable(folder + "/driftpost.png"));
      return EXIT_FAILURE;
    }
  }
  const QString scalable = root + "scalable/apps";
  const std::string svgFile = (scalable + "/driftpost.svg").toStdString();
  std::ofstream svg;
  if (MakeFolder(scalable)) svg.open(svgFile, std::ios::binary | std::ios::trunc);
  svg << Svg(TImageList::Instance().Icon(driftpost::iiBox));
  if (!svg.good()) {
    std::fprintf(stderr, "driftpost-icons: cannot write %s\n", svgFile.c_str());
    return EXIT_FAILURE;
  }
  return EXIT_SUCCESS;
}
