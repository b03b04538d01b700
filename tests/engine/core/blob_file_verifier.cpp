#include "tests/engine/core/blob_file_verifier.h"

#include "tests/engine/core/data_file_verifier.h"
#include "tests/engine/core/test_table.h"

namespace jw::test {
namespace {

TDataFileImage ReadDataImage(const std::string& data_path) {
  TDataFileImage image;
  VerifyDataFileBytes(ReadWholeFile(data_path), image);
  return image;
}

}  // namespace

std::vector<std::string> VerifyBlobFile(const std::string& path, int32_t block_size, bool encrypted,
                                        const std::vector<BlobChainRef>& chains) {
  return ProblemTexts(VerifyBlobFileBytes(ReadWholeFile(path), block_size, encrypted, chains));
}

std::vector<BlobChainRef> BlobChainsOfTable(const std::string& data_path) {
  return BlobChainsOf(ReadDataImage(data_path));
}

std::vector<std::string> VerifyTableBlobs(const std::string& data_path,
                                          const std::string& blob_path) {
  const TDataFileImage image = ReadDataImage(data_path);
  if (!image.Decoded) return {"data file unreadable"};
  const int32_t block_size =
      image.Header.BlobBlockSize == 0 ? kDefaultBlobBlockSize : image.Header.BlobBlockSize;
  return VerifyBlobFile(blob_path, block_size, image.Header.Encrypted != 0, BlobChainsOf(image));
}

}  // namespace jw::test
