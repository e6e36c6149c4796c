#include "picture/LibJpeg.h"

#include <cstdint>
#include <cstdlib>

#include <jerror.h>

namespace driftpost {

namespace {

constexpr std::size_t FirstBufferSize = 65536;

void JpegErrorExit(j_common_ptr info) {
  auto* errors = reinterpret_cast<TJpegErrorManager*>(info->err);
  errors->Code = info->err->msg_code;
  std::longjmp(errors->Jump, 1);
}

void JpegEmitMessage(j_common_ptr, int) {}

void JpegOutputMessage(j_common_ptr) {}

void JpegResetErrors(j_common_ptr info) {
  info->err->num_warnings = 0;
  info->err->msg_code = 0;
}

void JpegInitDestination(j_compress_ptr info) {
  auto* destination = reinterpret_cast<TJpegMemoryDestination*>(info->dest);
  if (!destination->Buffer) {
    destination->Buffer = static_cast<unsigned char*>(std::malloc(FirstBufferSize));
    if (!destination->Buffer) ERREXIT1(info, JERR_OUT_OF_MEMORY, 0);
    destination->Capacity = FirstBufferSize;
  }
  destination->Manager.next_output_byte = destination->Buffer;
  destination->Manager.free_in_buffer = destination->Capacity;
}

// Called when the buffer is full: all of it holds compressed bytes.
boolean JpegEmptyOutputBuffer(j_compress_ptr info) {
  auto* destination = reinterpret_cast<TJpegMemoryDestination*>(info->dest);
  const std::size_t used = destination->Capacity;
  if (used > SIZE_MAX / 2) ERREXIT1(info, JERR_OUT_OF_MEMORY, 1);
  auto* grown = static_cast<unsigned char*>(std::realloc(destination->Buffer, used * 2));
  if (!grown) ERREXIT1(info, JERR_OUT_OF_MEMORY, 2);
  destination->Buffer = grown;
  destination->Capacity = used * 2;
  destination->Manager.next_output_byte = grown + used;
  destination->Manager.free_in_buffer = used;
  return TRUE;
}

void JpegTermDestination(j_compress_ptr info) {
  auto* destination = reinterpret_cast<TJpegMemoryDestination*>(info->dest);
  destination->Size = destination->Capacity - destination->Manager.free_in_buffer;
}

}  // namespace

jpeg_error_mgr* InitJpegErrors(TJpegErrorManager& errors) {
  jpeg_error_mgr* manager = jpeg_std_error(&errors.Manager);
  manager->error_exit = JpegErrorExit;
  manager->emit_message = JpegEmitMessage;
  manager->output_message = JpegOutputMessage;
  manager->reset_error_mgr = JpegResetErrors;
  errors.Code = 0;
  return manager;
}

void UseJpegMemoryDestination(j_compress_ptr info, TJpegMemoryDestination& destination) {
  destination.Manager.init_destination = JpegInitDestination;
  destination.Manager.empty_output_buffer = JpegEmptyOutputBuffer;
  destination.Manager.term_destination = JpegTermDestination;
  info->dest = &destination.Manager;
}

}  // namespace driftpost
