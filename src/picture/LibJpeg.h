// A small shim over libjpeg for everything in the program that compresses or decompresses
// JPEG data. libjpeg reports a fatal error by calling the error manager's exit routine from
// deep inside its own C frames; a C++ exception must not unwind through those, so the exit
// routine jumps back (longjmp) to the setjmp of the step that called into the library, the
// step returns false, and the caller raises our exception after the library has been left.
//
// Rules for a step function that calls setjmp: it takes plain pointers, declares no object
// with a destructor, and changes no local after setjmp. Objects with destructors live in its
// caller, for example the guards below, which destroy the libjpeg object on every path.
#pragma once

#include <csetjmp>
#include <cstddef>
#include <cstdio>  // jpeglib.h needs FILE declared first

#include <jpeglib.h>

namespace driftpost {

struct TJpegErrorManager {
  jpeg_error_mgr Manager;  // first, so libjpeg's pointer to it is a pointer to the whole
  std::jmp_buf Jump;
  int Code = 0;  // libjpeg's message code of the fatal error
};

// Fills `errors` so that fatal errors jump to errors.Jump and warnings and messages are
// silent; returns the manager to assign to the libjpeg object's `err`.
jpeg_error_mgr* InitJpegErrors(TJpegErrorManager& errors);

// A destination that collects the compressed bytes in a buffer from malloc, grown by
// doubling; the owner frees Buffer with std::free, also after a failed compression.
struct TJpegMemoryDestination {
  jpeg_destination_mgr Manager;  // first, as libjpeg sees only this part
  unsigned char* Buffer = nullptr;
  std::size_t Capacity = 0;
  std::size_t Size = 0;  // bytes written, set when compression finishes
};

// Points the compression object's output at `destination`.
void UseJpegMemoryDestination(j_compress_ptr info, TJpegMemoryDestination& destination);

// Destroys a compression or decompression object when the scope ends, if it was created.
class TJpegCompressGuard {
 public:
  TJpegCompressGuard(jpeg_compress_struct& info, bool& created) : info_(info), created_(created) {}
  ~TJpegCompressGuard() {
    if (created_) jpeg_destroy_compress(&info_);
  }
  TJpegCompressGuard(const TJpegCompressGuard&) = delete;
  TJpegCompressGuard& operator=(const TJpegCompressGuard&) = delete;

 private:
  jpeg_compress_struct& info_;
  bool& created_;
};

class TJpegDecompressGuard {
 public:
  TJpegDecompressGuard(jpeg_decompress_struct& info, bool& created) : info_(info), created_(created) {}
  ~TJpegDecompressGuard() {
    if (created_) jpeg_destroy_decompress(&info_);
  }
  TJpegDecompressGuard(const TJpegDecompressGuard&) = delete;
  TJpegDecompressGuard& operator=(const TJpegDecompressGuard&) = delete;

 private:
  jpeg_decompress_struct& info_;
  bool& created_;
};

// The memory libjpeg may use for one picture's work arrays (progressive decoding keeps the
// whole picture's coefficients); beyond it the library fails instead of allocating.
constexpr long JpegMemoryLimit = 1L << 30;

}  // namespace driftpost
