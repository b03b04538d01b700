// Decodes arbitrary bytes as one compressed block and as a compressed
// stream: every outcome is a result or the defined error, never a read or
// write outside the buffers.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "components/compressor.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace jw;
  std::vector<uint8_t> block(data, data + size);
  std::vector<uint8_t> chunk(kCompressChunk);
  try {
    DecompressBlock(block, chunk);
  } catch (const EInvalidPointer&) {
  }
  TMemoryStream in;
  in.WriteBuffer(data, static_cast<int64_t>(size));
  in.SetPosition(0);
  TMemoryStream out;
  try {
    DecompressStream(in, out);
  } catch (const EInvalidPointer&) {
  } catch (const EReadError&) {
  }
  return 0;
}
