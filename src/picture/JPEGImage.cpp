#include "picture/JPEGImage.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <vector>

#include "picture/LibJpeg.h"
#include "picture/Picture.h"
#include "picture/PictureLimits.h"
#include "platform/Format.h"
#include "platform/Stream.h"

namespace driftpost {

TJPEGDefaults JPEGDefaults;

TJPEGData::TJPEGData() = default;
TJPEGData::~TJPEGData() = default;

// libjpeg's progress reports, passed on as the picture's progress events: at most every
// 500 milliseconds, never on the first call, and only when the percentage changed. A handler
// that raises ends the library's work like a fatal error; its exception is raised again
// once the library has been left.
struct TJpegProgress {
  jpeg_progress_mgr Manager;  // first, as libjpeg sees only this part
  TJPEGImage* Image = nullptr;
  std::jmp_buf* Jump = nullptr;
  bool Started = false;
  std::chrono::steady_clock::time_point Last;
  int LastPercent = -1;
  std::exception_ptr Error;
};

// The libjpeg work of one encoding or decoding. It lives on the heap in the caller that
// raises our exceptions; the step functions below only take a pointer to it.
struct TEncodeWork {
  jpeg_compress_struct Info{};
  TJpegErrorManager Errors{};
  TJpegMemoryDestination Destination{};
  TJpegProgress Progress{};
  bool Created = false;
  JDIMENSION Width = 0;
  JDIMENSION Height = 0;
  int Quality = 90;
  bool Grayscale = false;
  bool Progressive = false;
  std::vector<JSAMPROW> Rows;  // top row first
};

struct TDecodeWork {
  jpeg_decompress_struct Info{};
  TJpegErrorManager Errors{};
  TJpegProgress Progress{};
  bool Created = false;
  const unsigned char* Data = nullptr;
  unsigned long Size = 0;
  // Header.
  bool GrayscaleFile = false;
  bool MultipleScans = false;
  // Output settings.
  unsigned ScaleNumerator = 1;
  unsigned ScaleDenominator = 1;
  bool Smoothing = true;
  bool Grayscale = false;
  bool EightBit = false;
  bool Fast = false;
  // Output.
  std::vector<JSAMPROW> Rows;  // top row first
  TRGBQuad Palette[256] = {};
  int PaletteSize = 0;
};

class TJpegJob {
 public:
  static void Monitor(j_common_ptr info) {
    auto* progress = reinterpret_cast<TJpegProgress*>(info->progress);
    const auto now = std::chrono::steady_clock::now();
    if (!progress->Started) {
      progress->Started = true;
      progress->Last = now;
      return;
    }
    if (now - progress->Last < std::chrono::milliseconds(500)) return;
    progress->Last = now;
    const jpeg_progress_mgr& state = progress->Manager;
    if (state.total_passes <= 0) return;
    double done = state.completed_passes;
    if (state.pass_limit > 0) done += static_cast<double>(state.pass_counter) / static_cast<double>(state.pass_limit);
    const int percent = static_cast<int>(done * 100 / state.total_passes);
    if (percent == progress->LastPercent) return;
    progress->LastPercent = percent;
    bool failed = false;
    try {
      progress->Image->LibraryProgress(percent);
    } catch (...) {
      progress->Error = std::current_exception();
      failed = true;
    }
    if (failed) std::longjmp(*progress->Jump, 1);
  }

  static void Report(TJPEGImage& image, TProgressStage stage, int percent) {
    image.Progress(stage, static_cast<std::uint8_t>(percent), false, TRect{}, "");
  }
};

namespace {

constexpr const char* ResizeMessage = "Die Größe einer JPEG-Grafik kann nicht verändert werden";

void AttachProgress(TJpegProgress& progress, TJPEGImage& image, std::jmp_buf& jump) {
  progress.Manager.progress_monitor = &TJpegJob::Monitor;
  progress.Image = &image;
  progress.Jump = &jump;
}

[[noreturn]] void RaiseLibraryError(int code, const TJpegProgress& progress) {
  if (progress.Error) std::rethrow_exception(progress.Error);
  throw EJPEG(Format("JPEG-Fehler #%d", {code}));
}

// --- Steps that call into libjpeg (see LibJpeg.h for their rules). ---

bool CompressStep(TEncodeWork* work) {
  if (setjmp(work->Errors.Jump)) return false;
  jpeg_create_compress(&work->Info);
  work->Created = true;
  work->Info.progress = &work->Progress.Manager;
  UseJpegMemoryDestination(&work->Info, work->Destination);
  work->Info.image_width = work->Width;
  work->Info.image_height = work->Height;
  // Bitmap pixels are blue, green, red: the library takes red from the third byte and blue
  // from the first, so colours pass unchanged.
  work->Info.input_components = 3;
  work->Info.in_color_space = JCS_EXT_BGR;
  jpeg_set_defaults(&work->Info);
  jpeg_set_quality(&work->Info, work->Quality, TRUE);
  if (work->Grayscale) jpeg_set_colorspace(&work->Info, JCS_GRAYSCALE);
  if (work->Progressive) jpeg_simple_progression(&work->Info);
  jpeg_start_compress(&work->Info, TRUE);
  while (work->Info.next_scanline < work->Info.image_height)
    jpeg_write_scanlines(&work->Info, work->Rows.data() + work->Info.next_scanline, 1);
  jpeg_finish_compress(&work->Info);
  return true;
}

bool ReadHeaderStep(TDecodeWork* work) {
  if (setjmp(work->Errors.Jump)) return false;
  jpeg_create_decompress(&work->Info);
  work->Created = true;
  work->Info.progress = &work->Progress.Manager;
  work->Info.mem->max_memory_to_use = JpegMemoryLimit;
  jpeg_mem_src(&work->Info, work->Data, work->Size);
  jpeg_read_header(&work->Info, TRUE);
  work->GrayscaleFile = work->Info.jpeg_color_space == JCS_GRAYSCALE;
  work->MultipleScans = jpeg_has_multiple_scans(&work->Info);
  return true;
}

bool PrepareOutputStep(TDecodeWork* work) {
  if (setjmp(work->Errors.Jump)) return false;
  jpeg_decompress_struct& info = work->Info;
  info.scale_num = work->ScaleNumerator;
  info.scale_denom = work->ScaleDenominator;
  info.do_block_smoothing = work->Smoothing;
  if (work->Grayscale) info.out_color_space = JCS_GRAYSCALE;
  if (work->EightBit || info.out_color_space == JCS_GRAYSCALE) {
    info.quantize_colors = TRUE;
    info.desired_number_of_colors = 236;
    // Palette entries come out in red, green, blue order.
    if (info.out_color_space != JCS_GRAYSCALE) info.out_color_space = JCS_RGB;
  } else {
    info.out_color_space = JCS_EXT_BGR;
  }
  if (work->Fast) {
    info.dct_method = JDCT_IFAST;
    info.two_pass_quantize = FALSE;
    info.dither_mode = JDITHER_ORDERED;
  }
  jpeg_calc_output_dimensions(&info);
  return true;
}

bool DecodeStep(TDecodeWork* work) {
  if (setjmp(work->Errors.Jump)) return false;
  jpeg_decompress_struct& info = work->Info;
  jpeg_start_decompress(&info);
  if (info.quantize_colors) {
    work->PaletteSize = info.actual_number_of_colors > 256 ? 256 : info.actual_number_of_colors;
    for (int i = 0; i < work->PaletteSize; ++i) {
      const JSAMPLE red = info.colormap[0][i];
      const JSAMPLE green = info.out_color_components == 3 ? info.colormap[1][i] : red;
      const JSAMPLE blue = info.out_color_components == 3 ? info.colormap[2][i] : red;
      work->Palette[i] = TRGBQuad{blue, green, red, 0};
    }
  }
  while (info.output_scanline < info.output_height)
    jpeg_read_scanlines(&info, work->Rows.data() + info.output_scanline, info.output_height - info.output_scanline);
  jpeg_finish_decompress(&info);
  return true;
}

}  // namespace

TJPEGImage::TJPEGImage()
    : CompressionQuality(JPEGDefaults.CompressionQuality),
      GrayscaleSetting(JPEGDefaults.Grayscale),
      Performance(JPEGDefaults.Performance),
      PixelFormat(JPEGDefaults.PixelFormat),
      ProgressiveDisplay(JPEGDefaults.ProgressiveDisplay),
      ProgressiveEncoding(JPEGDefaults.ProgressiveEncoding),
      Scale(JPEGDefaults.Scale),
      Smoothing(JPEGDefaults.Smoothing),
      data_(std::make_shared<TJPEGData>()) {}

TJPEGImage::~TJPEGImage() = default;

TGraphicClass TJPEGImage::StaticClass() {
  static const TGraphicClassInfo info{"TJPEGImage", TGraphic::StaticClass(), &CreateGraphicOf<TJPEGImage>};
  return &info;
}

const TMemoryStream* TJPEGImage::CompressedData() const { return data_->Data.get(); }

void TJPEGImage::LibraryProgress(int percent) { TJpegJob::Report(*this, psRunning, percent); }

void TJPEGImage::LoadStream(TStream& stream) {
  auto data = std::make_shared<TJPEGData>();
  data->Data = std::make_unique<TMemoryStream>();
  const std::int64_t remaining = stream.Size() - stream.Position();
  if (remaining > 0) {
    // Read at once into storage of the final size: growing it piece by piece would copy the
    // bytes again and briefly need room for them twice.
    data->Data->SetSize(remaining);
    stream.ReadBuffer(data->Data->Memory(), remaining);
  }
  bool progressive = ProgressiveEncoding;
  if (data->Data->Size() > 0) {
    auto work = std::make_unique<TDecodeWork>();
    work->Info.err = InitJpegErrors(work->Errors);
    AttachProgress(work->Progress, *this, work->Errors.Jump);
    work->Data = data->Data->Memory();
    work->Size = static_cast<unsigned long>(data->Data->Size());
    TJpegDecompressGuard guard(work->Info, work->Created);
    if (!ReadHeaderStep(work.get())) RaiseLibraryError(work->Errors.Code, work->Progress);
    data->Width = static_cast<int>(work->Info.image_width);
    data->Height = static_cast<int>(work->Info.image_height);
    data->Grayscale = work->GrayscaleFile;
    progressive = work->MultipleScans;
  }
  data_ = std::move(data);
  bitmap_.reset();
  ProgressiveEncoding = progressive;
  Changed();
}

void TJPEGImage::SaveStream(TStream& stream) {
  Compress();
  if (const TMemoryStream* bytes = data_->Data.get(); bytes && !bytes->Bytes().empty())
    stream.WriteBuffer(bytes->Memory(), static_cast<std::int64_t>(bytes->Bytes().size()));
}

void TJPEGImage::Compress() {
  if (data_->Data && data_->Data->Size() > 0) return;
  data_->Data = std::make_unique<TMemoryStream>();
  if (!bitmap_ || bitmap_->Empty()) return;
  data_->Width = bitmap_->Width();
  data_->Height = bitmap_->Height();

  // The library takes 24-bit rows; other formats are converted in a copy, colours kept.
  const TBitmap* source = bitmap_.get();
  std::unique_ptr<TBitmap> converted;
  if (source->PixelFormat() != pd24Bit) {
    converted = std::make_unique<TBitmap>();
    converted->CopyFrom(source);
    converted->SetPixelFormat(pd24Bit);
    source = converted.get();
  }

  auto work = std::make_unique<TEncodeWork>();
  work->Info.err = InitJpegErrors(work->Errors);
  AttachProgress(work->Progress, *this, work->Errors.Jump);
  work->Width = static_cast<JDIMENSION>(source->Width());
  work->Height = static_cast<JDIMENSION>(source->Height());
  work->Quality = CompressionQuality;
  work->Grayscale = GrayscaleSetting;
  work->Progressive = ProgressiveEncoding;
  work->Rows.resize(static_cast<std::size_t>(source->Height()));
  for (int y = 0; y < source->Height(); ++y)
    work->Rows[static_cast<std::size_t>(y)] = const_cast<JSAMPROW>(source->ScanLine(y));
  if (GrayscaleSetting) data_->Grayscale = true;

  TJpegCompressGuard guard(work->Info, work->Created);
  TJpegJob::Report(*this, psStarting, 0);
  bool done = false;
  try {
    done = CompressStep(work.get());
    if (done) data_->Data->WriteBuffer(work->Destination.Buffer, static_cast<std::int64_t>(work->Destination.Size));
  } catch (...) {
    std::free(work->Destination.Buffer);
    TJpegJob::Report(*this, psEnding, 0);
    throw;
  }
  std::free(work->Destination.Buffer);
  TJpegJob::Report(*this, psEnding, done ? 100 : 0);
  if (!done) RaiseLibraryError(work->Errors.Code, work->Progress);
}

void TJPEGImage::DIBNeeded() {
  if (bitmap_) return;
  auto bitmap = std::make_unique<TBitmap>();
  Decode(*bitmap, 1, 1u << Scale);
  bitmap_ = std::move(bitmap);
}

void TJPEGImage::DecodeScaled(TBitmap& target, unsigned eighths) {
  Decode(target, std::clamp(eighths, 1u, 8u), 8);
}

void TJPEGImage::Decode(TBitmap& target, unsigned scaleNumerator, unsigned scaleDenominator) {
  const TMemoryStream* bytes = data_->Data.get();
  if (!bytes || bytes->Bytes().empty()) return;
  auto work = std::make_unique<TDecodeWork>();
  work->Info.err = InitJpegErrors(work->Errors);
  AttachProgress(work->Progress, *this, work->Errors.Jump);
  work->Data = bytes->Memory();
  work->Size = static_cast<unsigned long>(bytes->Bytes().size());
  work->ScaleNumerator = scaleNumerator;
  work->ScaleDenominator = scaleDenominator;
  work->Smoothing = Smoothing;
  work->Grayscale = GrayscaleSetting;
  work->EightBit = PixelFormat == jf8Bit;
  work->Fast = Performance == jpBestSpeed;
  TJpegDecompressGuard guard(work->Info, work->Created);
  if (!ReadHeaderStep(work.get()) || !PrepareOutputStep(work.get()))
    RaiseLibraryError(work->Errors.Code, work->Progress);

  const JDIMENSION width = work->Info.output_width, height = work->Info.output_height;
  const bool indexed = work->Info.quantize_colors;
  const TPixelDepth depth = indexed ? pd8Bit : pd24Bit;
  if (work->Info.output_components != (indexed ? 1 : 3) || width > INT32_MAX || height > INT32_MAX ||
      !PictureSizeAllowed(width, height, depth))
    throw EInvalidGraphic(Format(InvalidImageMessage, {ClassName()}));
  // The library writes every row straight into the bitmap, or fails and the bitmap is dropped.
  TBitmap decoded;
  decoded.SetPixelFormat(depth);
  decoded.AllocateImage(static_cast<int>(width), static_cast<int>(height));
  work->Rows.resize(height);
  for (JDIMENSION y = 0; y < height; ++y) work->Rows[y] = decoded.ScanLine(static_cast<int>(y));

  if (!DecodeStep(work.get())) RaiseLibraryError(work->Errors.Code, work->Progress);
  if (indexed) decoded.SetPalette(std::vector<TRGBQuad>(work->Palette, work->Palette + work->PaletteSize));
  target.TakeImage(decoded);
}

void TJPEGImage::CopyFrom(const TGraphic* source) {
  if (const auto* jpeg = dynamic_cast<const TJPEGImage*>(source)) {
    if (jpeg == this) return;
    data_ = jpeg->data_;
    if (jpeg->bitmap_) {
      auto bitmap = std::make_unique<TBitmap>();
      bitmap->CopyFrom(jpeg->bitmap_.get());
      bitmap_ = std::move(bitmap);
    } else {
      bitmap_.reset();
    }
  } else if (const auto* bitmap = dynamic_cast<const TBitmap*>(source)) {
    auto copy = std::make_unique<TBitmap>();
    copy->CopyFrom(bitmap);
    data_ = std::make_shared<TJPEGData>();
    bitmap_ = std::move(copy);
  } else {
    RaiseAssignError(source, "TJPEGImage");
  }
  Changed();
}

void TJPEGImage::TakeBitmap(TBitmap& source) {
  auto bitmap = std::make_unique<TBitmap>();
  bitmap->TakeImage(source);
  data_ = std::make_shared<TJPEGData>();
  bitmap_ = std::move(bitmap);
  Changed();
}

int TJPEGImage::Width() const {
  if (bitmap_) return bitmap_->Width();
  const int divisor = 1 << Scale;
  return (data_->Width + divisor - 1) / divisor;
}

int TJPEGImage::Height() const {
  if (bitmap_) return bitmap_->Height();
  const int divisor = 1 << Scale;
  return (data_->Height + divisor - 1) / divisor;
}

void TJPEGImage::SetWidth(int) { throw EInvalidGraphicOperation(ResizeMessage); }

void TJPEGImage::SetHeight(int) { throw EInvalidGraphicOperation(ResizeMessage); }

bool TJPEGImage::Empty() const {
  if (data_->Data && data_->Data->Size() > 0) return false;
  return !bitmap_ || bitmap_->Empty();
}

void TJPEGImage::Draw(TBitmap& target, const TRect& rect) {
  DIBNeeded();
  bitmap_->Draw(target, rect);
}

int ScaledJpegSide(int side, unsigned eighths) {
  return static_cast<int>((static_cast<std::int64_t>(side) * eighths + 7) / 8);
}

unsigned JpegDecodeEighths(int width, int height, int fittedWidth, int fittedHeight) {
  if (std::max(width, height) < 2 * std::max<std::int64_t>(fittedWidth, fittedHeight)) return 8;
  unsigned eighths = 1;
  while (eighths < 8 && (ScaledJpegSide(width, eighths) < fittedWidth || ScaledJpegSide(height, eighths) < fittedHeight))
    ++eighths;
  return eighths;
}

void RegisterJPEGFormats() {
  TPicture::RegisterFormat("jpeg", "JPEG-Grafikdatei", TJPEGImage::StaticClass());
  TPicture::RegisterFormat("jpg", "JPEG-Grafikdatei", TJPEGImage::StaticClass());
}

void UnregisterJPEGFormats() { TPicture::UnregisterClass(TJPEGImage::StaticClass()); }

}  // namespace driftpost
