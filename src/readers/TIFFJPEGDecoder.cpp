#include "readers/TIFFJPEGDecoder.h"

#include <algorithm>
#include <set>
#include <string>

#include "picture/LibJpeg.h"
#include "platform/ConsoleLog.h"

#include <jerror.h>  // after jpeglib.h, which LibJpeg.h includes

namespace driftpost {
namespace {

constexpr const char* UnexpectedEndMessage = "JPEG decompression error. Unexpected end of input.";
constexpr const char* LibraryErrorPrefix = "JPEG decompression error. ";
// Each scan of a progressive strip passes over all of its coefficients: a few bytes of
// scan headers could otherwise buy minutes of work.
constexpr int MaxScans = 500;

// Reads the JPEG stream of one strip (or of the tables) from memory.
struct TStripSource {
  jpeg_source_mgr Manager;  // first, as libjpeg sees only this part
  const JOCTET* Data = nullptr;
  std::size_t Size = 0;
  bool Strip = false;  // a strip is finished at its end; the tables must end by themselves
};

std::size_t SizeOf(std::int32_t size) { return size > 0 ? static_cast<std::size_t>(size) : 0; }

}  // namespace

// Everything libjpeg touches. The step functions below take a pointer to it and follow the
// rules of LibJpeg.h; the objects with destructors here are never used by libjpeg's frames
// except through Warn, which catches everything.
struct TTIFFJPEGDecoder::TWork {
  jpeg_decompress_struct Info{};
  TJpegErrorManager Errors{};
  TStripSource Source{};
  jpeg_progress_mgr Progress{};
  bool Created = false;
  bool TooManyScans = false;
  int HeaderResult = 0;
  J_COLOR_SPACE JpegColorSpace = JCS_UNKNOWN;
  J_COLOR_SPACE OutColorSpace = JCS_UNKNOWN;
  std::uint8_t* Dest = nullptr;
  std::size_t BytesPerRow = 0;
  JDIMENSION RowsWanted = 0;
  JDIMENSION RowsRead = 0;
  JSAMPROW Row = nullptr;
  std::set<std::string> Warned;  // texts already logged for this picture

  void Warn(const char* text) noexcept {
    try {
      if (Warned.insert(text).second) LogWarning(text);
    } catch (...) {
      // A warning that cannot be recorded is dropped; decoding goes on.
    }
  }
};

namespace {

using TWork = TTIFFJPEGDecoder::TWork;

TWork* WorkOf(j_common_ptr info) { return static_cast<TWork*>(info->client_data); }

void OutputMessage(j_common_ptr info) {
  char text[JMSG_LENGTH_MAX];
  (*info->err->format_message)(info, text);
  WorkOf(info)->Warn(text);
}

// Warnings (level -1) are shown; trace messages are not.
void EmitMessage(j_common_ptr info, int level) {
  if (level >= 0) return;
  ++info->err->num_warnings;
  (*info->err->output_message)(info);
}

void InitSource(j_decompress_ptr info) {
  auto* source = reinterpret_cast<TStripSource*>(info->src);
  source->Manager.next_input_byte = source->Data;
  source->Manager.bytes_in_buffer = source->Size;
}

// The strip is used up but libjpeg wants more: it gets an end-of-image marker, so the
// picture keeps what was decoded.
boolean FillInputBuffer(j_decompress_ptr info) {
  static const JOCTET EndOfImage[2] = {0xFF, JPEG_EOI};
  if (!reinterpret_cast<TStripSource*>(info->src)->Strip) ERREXIT(info, JERR_INPUT_EOF);
  WorkOf(reinterpret_cast<j_common_ptr>(info))->Warn(UnexpectedEndMessage);
  info->src->next_input_byte = EndOfImage;
  info->src->bytes_in_buffer = 2;
  return TRUE;
}

void SkipInputData(j_decompress_ptr info, long count) {
  if (count <= 0) return;
  jpeg_source_mgr& source = *info->src;
  if (static_cast<unsigned long>(count) <= source.bytes_in_buffer) {
    source.next_input_byte += count;
    source.bytes_in_buffer -= static_cast<std::size_t>(count);
    return;
  }
  source.next_input_byte += source.bytes_in_buffer;
  source.bytes_in_buffer = 0;
  FillInputBuffer(info);
}

void TermSource(j_decompress_ptr) {}

void MonitorScans(j_common_ptr info) {
  if (reinterpret_cast<j_decompress_ptr>(info)->input_scan_number <= MaxScans) return;
  TWork* work = WorkOf(info);
  work->TooManyScans = true;
  std::longjmp(work->Errors.Jump, 1);
}

[[noreturn]] void RaiseLibraryError(TWork& work) {
  if (work.TooManyScans) throw EGraphicCompression(std::string(LibraryErrorPrefix) + "Too many scans.");
  char text[JMSG_LENGTH_MAX];
  (*work.Info.err->format_message)(reinterpret_cast<j_common_ptr>(&work.Info), text);
  throw EGraphicCompression(std::string(LibraryErrorPrefix) + text);
}

// --- Steps that call into libjpeg (see LibJpeg.h for their rules). ---

bool CreateStep(TWork* work) {
  if (setjmp(work->Errors.Jump)) return false;
  jpeg_create_decompress(&work->Info);
  work->Created = true;
  work->Info.mem->max_memory_to_use = JpegMemoryLimit;
  work->Info.progress = &work->Progress;
  return true;
}

// Reads the header of the stream at work->Source, after dropping what the previous strip
// left; the tables read so far stay.
bool ReadHeaderStep(TWork* work, boolean requireImage) {
  if (setjmp(work->Errors.Jump)) return false;
  jpeg_abort_decompress(&work->Info);
  work->Info.src = &work->Source.Manager;
  work->HeaderResult = jpeg_read_header(&work->Info, requireImage);
  return true;
}

bool StartStep(TWork* work) {
  if (setjmp(work->Errors.Jump)) return false;
  work->Info.jpeg_color_space = work->JpegColorSpace;
  work->Info.out_color_space = work->OutColorSpace;
  jpeg_start_decompress(&work->Info);
  return true;
}

bool ReadRowsStep(TWork* work) {
  if (setjmp(work->Errors.Jump)) return false;
  while (work->RowsRead < work->RowsWanted) {
    work->Row = work->Dest + work->RowsRead * work->BytesPerRow;
    if (jpeg_read_scanlines(&work->Info, &work->Row, 1) == 0) break;
    ++work->RowsRead;
  }
  if (work->Info.output_scanline >= work->Info.output_height)
    jpeg_finish_decompress(&work->Info);
  else
    jpeg_abort_decompress(&work->Info);
  return true;
}

}  // namespace

TTIFFJPEGDecoder::TTIFFJPEGDecoder(const TImageProperties& properties) : properties_(properties) {}

TTIFFJPEGDecoder::~TTIFFJPEGDecoder() { DecodeEnd(); }

void TTIFFJPEGDecoder::DecodeInit() {
  DecodeEnd();
  work_ = std::make_unique<TWork>();
  TWork& work = *work_;
  work.Info.err = InitJpegErrors(work.Errors);
  work.Errors.Manager.emit_message = EmitMessage;
  work.Errors.Manager.output_message = OutputMessage;
  work.Info.client_data = &work;
  work.Source.Manager.init_source = InitSource;
  work.Source.Manager.fill_input_buffer = FillInputBuffer;
  work.Source.Manager.skip_input_data = SkipInputData;
  work.Source.Manager.resync_to_restart = jpeg_resync_to_restart;
  work.Source.Manager.term_source = TermSource;
  work.Progress.progress_monitor = MonitorScans;
  if (!CreateStep(&work)) RaiseLibraryError(work);

  const TByteArray& tables = properties_.JPEGTables;
  if (tables.empty()) return;
  work.Source.Data = tables.data();
  work.Source.Size = tables.size();
  work.Source.Strip = false;
  if (!ReadHeaderStep(&work, FALSE) || work.HeaderResult != JPEG_HEADER_TABLES_ONLY)
    throw EGraphicCompression("Bogus JPEG tables field.");
}

void TTIFFJPEGDecoder::Decode(std::uint8_t*& source, std::uint8_t*& dest, std::int32_t packedSize,
                              std::int32_t unpackedSize, std::size_t destSize) {
  if (!work_) DecodeInit();
  TWork& work = *work_;
  const TImageProperties& properties = properties_;
  const bool planar = properties.PlanarConfig == 2;

  work.Source.Data = source;
  work.Source.Size = SizeOf(packedSize);
  work.Source.Strip = true;
  if (!ReadHeaderStep(&work, TRUE)) RaiseLibraryError(work);
  if (work.HeaderResult != JPEG_HEADER_OK) throw EGraphicCompression("Improper JPEG strip/tile size.");

  // A strip holds its rows-per-strip rows, the last one what is left of the picture.
  const std::uint32_t rowsPerStrip = properties.RowsPerStrip.empty() ? properties.Height : properties.RowsPerStrip[0];
  const std::uint32_t rowsLeft = properties.Height - std::min(properties.CurrentRow, properties.Height);
  const jpeg_decompress_struct& info = work.Info;
  if (info.image_width != properties.Width || info.image_height != std::min(rowsPerStrip, rowsLeft))
    throw EGraphicCompression("Improper JPEG strip/tile size.");
  if (info.num_components != (planar ? 1 : properties.SamplesPerPixel))
    throw EGraphicCompression("Improper JPEG component count.");
  if (info.data_precision != properties.BitsPerSample) throw EGraphicCompression("Improper JPEG data precision.");
  const bool subsampled = properties.YCbCrSubsampling.size() >= 2;
  const int horizontal = planar || !subsampled ? 1 : properties.YCbCrSubsampling[0];
  const int vertical = planar || !subsampled ? 1 : properties.YCbCrSubsampling[1];
  bool factorsMatch = info.comp_info[0].h_samp_factor == horizontal && info.comp_info[0].v_samp_factor == vertical;
  for (int i = 1; i < info.num_components; ++i)
    factorsMatch = factorsMatch && info.comp_info[i].h_samp_factor == 1 && info.comp_info[i].v_samp_factor == 1;
  if (!factorsMatch) throw EGraphicCompression("Improper JPEG sampling factors.");

  // libjpeg turns luma and chroma into colours, put blue first as the bitmap stores them;
  // other samples pass as they are.
  const bool luma = !planar && properties.ColorScheme == cmYCbCr;
  work.JpegColorSpace = luma ? JCS_YCbCr : JCS_UNKNOWN;
  work.OutColorSpace = luma ? JCS_EXT_BGR : JCS_UNKNOWN;

  const std::size_t bytesPerRow =
      planar ? (std::size_t{properties.Width} * properties.BitsPerSample + 7) / 8 : properties.BytesPerLine;
  if (bytesPerRow == 0 || SizeOf(unpackedSize) % bytesPerRow != 0)
    throw EGraphicCompression("Fractional JPEG scanline unsupported.");
  if (!StartStep(&work)) RaiseLibraryError(work);
  if (std::size_t{info.output_width} * static_cast<std::size_t>(info.output_components) > bytesPerRow) {
    jpeg_abort_decompress(&work.Info);
    throw EGraphicCompression("Improper JPEG component count.");
  }
  work.Dest = dest;
  work.BytesPerRow = bytesPerRow;
  work.RowsWanted =
      static_cast<JDIMENSION>(std::min<std::size_t>(std::min(SizeOf(unpackedSize), destSize) / bytesPerRow,
                                                    info.output_height));
  work.RowsRead = 0;
  if (!ReadRowsStep(&work)) RaiseLibraryError(work);
}

void TTIFFJPEGDecoder::DecodeEnd() {
  if (work_ && work_->Created) jpeg_destroy_decompress(&work_->Info);
  work_.reset();
}

}  // namespace driftpost
