// The BLOB file's verifier: reads a ".BLB" file without the engine's caches,
// walks every chain the table's records refer to and the free list, and
// lists every broken promise of the format, ending with a census: chains
// and free list together hold every block of the file exactly once.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace jw::test {

// A chain as a record refers to it. Size -1 takes the size the chain states.
struct BlobChainRef {
  int32_t First = 0;
  int32_t Stamp = 0;
  int32_t Size = -1;
  int32_t RecordNumber = 0;
};

// Problems found in the BLOB file at path, one line each; empty when sound.
std::vector<std::string> VerifyBlobFile(const std::string& path, int32_t block_size, bool encrypted,
                                        const std::vector<BlobChainRef>& chains);

// The chains the live records of the data file at path refer to, in record order.
std::vector<BlobChainRef> BlobChainsOfTable(const std::string& data_path);

// The BLOB file of a table checked against the chains its records refer to,
// with the block size and encryption taken from the data file.
std::vector<std::string> VerifyTableBlobs(const std::string& data_path,
                                          const std::string& blob_path);

}  // namespace jw::test
