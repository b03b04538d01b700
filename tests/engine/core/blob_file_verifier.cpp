#include "tests/engine/core/blob_file_verifier.h"

#include <algorithm>

#include "engine/core/blob_file_format.h"
#include "engine/core/data_file.h"
#include "engine/support/scrambler.h"
#include "tests/engine/core/test_table.h"

namespace jw::test {
namespace {

// Who holds each block in the census.
constexpr int32_t kUnclaimed = -1;
constexpr int32_t kFreeList = -2;

struct DataFileImage {
  TDataFileHeader header;
  std::vector<FieldDescriptor> fields;
  std::vector<uint8_t> bytes;
  bool ok = false;
};

DataFileImage ReadDataFile(const std::string& path) {
  DataFileImage image;
  image.bytes = ReadWholeFile(path);
  if (image.bytes.size() < static_cast<size_t>(kHeaderSize)) return image;
  if (!image.header.DecodeFrom(image.bytes.data())) return image;
  const TDataFileHeader& h = image.header;
  const size_t start = kHeaderSize + static_cast<size_t>(h.FieldCount) * kFieldDescriptorSize;
  if (image.bytes.size() < start) return image;
  const int32_t length = h.FieldCount * kFieldDescriptorSize;
  if (h.Encrypted) {
    const int32_t scrambled = h.EngineVersion == 0 ? (length & 0xFFFF) : length;
    UnscrambleBuffer(&image.bytes[kHeaderSize], scrambled, kRecordSeed.K1, kRecordSeed.K2);
  }
  image.fields.resize(h.FieldCount);
  for (int32_t i = 0; i < h.FieldCount; ++i) {
    if (!image.fields[i].DecodeFrom(&image.bytes[kHeaderSize + i * kFieldDescriptorSize])) {
      return image;
    }
  }
  image.ok = true;
  return image;
}

}  // namespace

std::vector<std::string> VerifyBlobFile(const std::string& path, int32_t block_size, bool encrypted,
                                        const std::vector<BlobChainRef>& chains) {
  std::vector<std::string> problems;
  auto bytes = ReadWholeFile(path);
  if (bytes.size() < static_cast<size_t>(kBlobHeaderSize)) return {"file shorter than its header"};
  if (encrypted) UnscrambleBuffer(bytes.data(), kBlobHeaderSize, kRecordSeed.K1, kRecordSeed.K2);
  TBlobFileHeader h;
  h.DecodeFrom(bytes.data());
  if (h.Version != kBlobFormatVersion) problems.push_back("format version not 4");
  for (int32_t i = 4; i < 8; ++i) {
    if (bytes[i] != 0) problems.push_back("header byte " + std::to_string(i) + " not zero");
  }
  for (int32_t i = kBhDirtyFlag + 1; i < kBlobHeaderSize; ++i) {
    if (bytes[i] != 0) {
      problems.push_back("header byte " + std::to_string(i) + " not zero");
      break;
    }
  }
  const int64_t end = h.EndPosition;
  if (end < kFirstBlockPosition || (end - kFirstBlockPosition) % block_size != 0) {
    problems.push_back("end position " + std::to_string(end) + " not on a block boundary");
    return problems;
  }
  if (static_cast<int64_t>(bytes.size()) < end) {
    problems.push_back("file shorter than its end position");
    return problems;
  }
  const int32_t count = static_cast<int32_t>((end - kFirstBlockPosition) / block_size);
  const int32_t per_block = BlockDataSize(block_size);
  std::vector<TBlobBlockHead> heads(count);
  for (int32_t i = 0; i < count; ++i) {
    uint8_t head[kBlockHeadSize];
    std::copy_n(&bytes[kFirstBlockPosition + static_cast<size_t>(i) * block_size], kBlockHeadSize,
                head);
    if (encrypted) UnscrambleBuffer(head, kBlockHeadSize, kRecordSeed.K1, kRecordSeed.K2);
    heads[i].DecodeFrom(head);
  }
  auto index_of = [&](int64_t position) {
    return IsBlockPosition(position, block_size, end)
               ? static_cast<int32_t>((position - kFirstBlockPosition) / block_size)
               : -1;
  };
  std::vector<int32_t> holder(count, kUnclaimed);
  auto claim = [&](int32_t index, int32_t who, const std::string& what) {
    if (holder[index] == kUnclaimed) {
      holder[index] = who;
      return true;
    }
    const std::string other =
        holder[index] == kFreeList ? "the free list" : "chain " + std::to_string(holder[index]);
    problems.push_back(what + " reaches block " +
                       std::to_string(kFirstBlockPosition + int64_t{index} * block_size) +
                       ", held by " + other);
    return false;
  };

  // The free list, walked at most once around the file.
  int64_t link = h.FreeHead;
  while (link != 0) {
    const int32_t index = index_of(link);
    if (index < 0) {
      problems.push_back("free list leaves the blocks at " + std::to_string(link));
      break;
    }
    if (!claim(index, kFreeList, "free list")) break;
    link = heads[index].Next;
  }

  for (size_t c = 0; c < chains.size(); ++c) {
    const BlobChainRef& chain = chains[c];
    const std::string name =
        "chain " + std::to_string(c) + " (record " + std::to_string(chain.RecordNumber) + ")";
    int32_t index = index_of(chain.First);
    if (index < 0) {
      problems.push_back(name + ": first block " + std::to_string(chain.First) + " is no block");
      continue;
    }
    const int64_t total = heads[index].TotalSize;
    if (chain.Size >= 0 && total != chain.Size) {
      problems.push_back(name + ": total size " + std::to_string(total) + ", expected " +
                         std::to_string(chain.Size));
    }
    if (total <= 0) problems.push_back(name + ": stored chain of size " + std::to_string(total));
    if (heads[index].Previous != 0) problems.push_back(name + ": first block has a previous link");
    int64_t sum = 0;
    int32_t blocks = 0;
    int32_t previous = 0;
    while (index >= 0) {
      const TBlobBlockHead& b = heads[index];
      const int32_t position = kFirstBlockPosition + index * block_size;
      if (!claim(index, static_cast<int32_t>(c), name)) break;
      ++blocks;
      if (b.Stamp != chain.Stamp) {
        problems.push_back(name + ": block " + std::to_string(position) + " has stamp " +
                           std::to_string(b.Stamp));
      }
      if (b.Previous != previous) {
        problems.push_back(name + ": block " + std::to_string(position) + " links back to " +
                           std::to_string(b.Previous));
      }
      if (blocks > 1 && b.TotalSize != 0) {
        problems.push_back(name + ": later block " + std::to_string(position) + " states a size");
      }
      if (b.Used < 0 || b.Used > per_block) {
        problems.push_back(name + ": block " + std::to_string(position) + " uses " +
                           std::to_string(b.Used) + " bytes");
        break;
      }
      if (b.Next != 0 && b.Used != per_block) {
        problems.push_back(name + ": block " + std::to_string(position) +
                           " is not full but has a next block");
      }
      sum += b.Used;
      previous = position;
      if (b.Next == 0) break;
      index = index_of(b.Next);
      if (index < 0) problems.push_back(name + ": link " + std::to_string(b.Next) + " is no block");
    }
    if (sum != total) {
      problems.push_back(name + ": holds " + std::to_string(sum) + " bytes, states " +
                         std::to_string(total));
    }
  }

  for (int32_t i = 0; i < count; ++i) {
    if (holder[i] == kUnclaimed) {
      problems.push_back("block " + std::to_string(kFirstBlockPosition + int64_t{i} * block_size) +
                         " is in no chain and not free");
    }
  }
  return problems;
}

namespace {

std::vector<BlobChainRef> ChainsOf(DataFileImage& image) {
  std::vector<BlobChainRef> chains;
  if (!image.ok) return chains;
  const TDataFileHeader& h = image.header;
  const size_t start = kHeaderSize + static_cast<size_t>(h.FieldCount) * kFieldDescriptorSize;
  const int32_t size = h.RecordSize;
  for (int32_t n = 1; n < h.NextRecord; ++n) {
    const size_t at = start + static_cast<size_t>(n - 1) * size;
    if (at + size > image.bytes.size()) break;
    uint8_t* r = &image.bytes[at];
    if (h.Encrypted) UnscrambleBuffer(r, size, kRecordSeed.K1, kRecordSeed.K2);
    if (r[kRecStatus] != kRecordLive) continue;
    for (const FieldDescriptor& f : image.fields) {
      if (f.Type != kFldBlob || !f.IsStored()) continue;
      const int32_t first = GetInt32(r + f.Offset + 1);
      if (first != 0) chains.push_back({first, GetInt32(r + f.Offset + 5), -1, n});
    }
  }
  return chains;
}

}  // namespace

std::vector<BlobChainRef> BlobChainsOfTable(const std::string& data_path) {
  DataFileImage image = ReadDataFile(data_path);
  return ChainsOf(image);
}

std::vector<std::string> VerifyTableBlobs(const std::string& data_path,
                                          const std::string& blob_path) {
  DataFileImage image = ReadDataFile(data_path);
  if (!image.ok) return {"data file unreadable"};
  const int32_t block_size =
      image.header.BlobBlockSize == 0 ? kDefaultBlobBlockSize : image.header.BlobBlockSize;
  return VerifyBlobFile(blob_path, block_size, image.header.Encrypted != 0, ChainsOf(image));
}

}  // namespace jw::test
