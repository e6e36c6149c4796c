// Deflate streams come from picture files (PNG image data, TIFF strips, Paint Shop Pro
// blocks): fed to the decompressor in pieces of any size, into output buffers of any size,
// it never reads past a piece or writes past an output buffer, and moves Source and Dest
// only within them. Both buffers are allocated at exactly their sizes, so a stray access
// hits the sanitizers; a pointer moved outside its buffer aborts.
//
// Input: flags (bit 0 automatic reset, bits 1-2 the flush mode, bit 3 asks for more output
// than the buffer holds), the size of the input pieces (1 to 256), the output buffer size
// (1 to 4,700); the rest is the stream.
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "readers/GraphicCompression.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  using namespace driftpost;
  static const int flushModes[] = {Z_NO_FLUSH, Z_PARTIAL_FLUSH, Z_SYNC_FLUSH, Z_FINISH};
  const bool autoReset = data[0] & 1;
  TLZ77Decoder decoder(flushModes[(data[0] >> 1) & 3], autoReset);
  const std::size_t pieceSize = std::size_t{data[1]} + 1;
  const std::size_t outputSize = std::size_t{data[2]} * 37 % 4700 + 1;
  const std::int32_t wanted = static_cast<std::int32_t>(outputSize) + (data[0] & 8 ? 1000 : 0);
  const std::uint8_t* rest = data + 3;
  std::size_t left = size - 3;

  decoder.DecodeInit();
  // A stream that makes far more than it takes stops being interesting after a megabyte.
  for (std::size_t produced = 0; left > 0 && produced < (1u << 20);) {
    std::vector<std::uint8_t> input(rest, rest + std::min(pieceSize, left));
    std::vector<std::uint8_t> output(outputSize);
    std::uint8_t* source = input.data();
    std::uint8_t* dest = output.data();
    decoder.Decode(source, dest, static_cast<std::int32_t>(input.size()), wanted, output.size());
    if (source < input.data() || source > input.data() + input.size()) std::abort();
    if (dest < output.data() || dest > output.data() + output.size()) std::abort();
    if (decoder.AvailableInput() > input.size() || decoder.AvailableOutput() > output.size()) std::abort();
    const auto consumed = static_cast<std::size_t>(source - input.data());
    produced += static_cast<std::size_t>(dest - output.data());
    // With automatic reset every piece is a stream of its own; without, the stream goes on
    // from what the last call did not take, until it ends or fails.
    if (autoReset) {
      rest += input.size();
      left -= input.size();
      continue;
    }
    if (decoder.LastResult() != Z_OK || (consumed == 0 && dest == output.data())) break;
    rest += consumed;
    left -= consumed;
  }
  decoder.DecodeEnd();
  return 0;
}
