// The BLOB file's part of the verify routine for tests: reads a ".BLB" file
// from disk, walks every chain the table's records refer to and the free
// list, and lists every broken promise of the format, ending with a census:
// chains and free list together hold every block of the file exactly once.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/core/table_verify.h"

namespace jw::test {

using BlobChainRef = TBlobChainRef;

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
