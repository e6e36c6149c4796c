// Modified Huffman fax rows from anywhere: see FaxDecoderFuzzSupport.h.
#include "FaxDecoderFuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return driftpost::fuzzing::FuzzFaxDecoder<driftpost::TCCITTMHDecoder>(data, size);
}
