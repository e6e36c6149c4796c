#include "picture/RegisteredFormats.h"

namespace driftpost {

const std::array<TRegisteredFormat, 39> RegisteredFormats = {{
    {"bmp", "TBitmap", "Windows bitmaps", ""},
    {"ico", "TIcon", "Windows icons", ""},
    {"wmf", "TMetafile", "Windows metafiles", ""},
    {"emf", "TMetafile", "Windows metafiles", "Windows enhanced meta files"},
    {"jfif", "TJPEGImage", "JPG images", "JFIF images"},
    {"jpg", "TJPEGImage", "", "JPG images"},
    {"jpe", "TJPEGImage", "", "JPE images"},
    {"jpeg", "TJPEGImage", "", "JPEG images"},
    {"rle", "TBitmap", "Windows bitmaps", "Run length encoded Windows bitmaps"},
    {"dib", "TBitmap", "", "Device independant Windows bitmaps"},
    {"win", "TTargaGraphic", "Truevision images", ""},
    {"vst", "TTargaGraphic", "", ""},
    {"vda", "TTargaGraphic", "", ""},
    {"tga", "TTargaGraphic", "", ""},
    {"icb", "TTargaGraphic", "", ""},
    {"tiff", "TTIFFGraphic", "Tagged image file format images", "Macintosh TIFF images"},
    {"tif", "TTIFFGraphic", "", "PC TIF images"},
    {"fax", "TTIFFGraphic", "", "GFI fax images"},
    {"eps", "TEPSGraphic", "Encapsulated Postscript images", ""},
    {"pcx", "TPCXGraphic", "ZSoft Paintbrush images", ""},
    {"pcc", "TPCXGraphic", "", ""},
    {"scr", "TPCXGraphic", "", "Word 5.x screen capture images"},
    {"rpf", "TRLAGraphic", "Alias/Wavefront images", ""},
    {"rla", "TRLAGraphic", "", ""},
    {"sgi", "TSGIGraphic", "SGI images", "SGI true color images"},
    {"rgba", "TSGIGraphic", "", "SGI true color images with alpha"},
    {"rgb", "TSGIGraphic", "", "SGI true color images"},
    {"bw", "TSGIGraphic", "", "SGI black/white images"},
    {"psd", "TPSDGraphic", "Photoshop images", ""},
    {"pdd", "TPSDGraphic", "", ""},
    {"ppm", "TPPMGraphic", "Portable map images", "Portable pixel map images"},
    {"pgm", "TPPMGraphic", "", "Portable gray map images"},
    {"pbm", "TPPMGraphic", "", "Portable bitmap images"},
    {"cel", "TAutodeskGraphic", "Autodesk images", ""},
    {"pic", "TAutodeskGraphic", "Autodesk images", ""},
    {"pcd", "TPCDGraphic", "Kodak Photo-CD images", ""},
    {"cut", "TCUTGraphic", "Dr. Halo images", ""},
    {"psp", "TPSPGraphic", "Paintshop Pro images", ""},
    {"png", "TPNGGraphic", "Portable network graphic images", ""},
}};

std::vector<std::string> RegisteredExtensions() {
  std::vector<std::string> extensions;
  extensions.reserve(RegisteredFormats.size());
  for (const TRegisteredFormat& format : RegisteredFormats) extensions.emplace_back(format.Extension);
  return extensions;
}

}  // namespace driftpost
