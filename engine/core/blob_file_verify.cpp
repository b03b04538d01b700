#include <algorithm>

#include "engine/core/blob_file_format.h"
#include "engine/core/data_file.h"
#include "engine/core/table_verify.h"
#include "engine/support/scrambler.h"

namespace jw {
namespace {

// Who holds each block in the census.
constexpr int32_t kUnclaimed = -1;
constexpr int32_t kFreeList = -2;

}  // namespace

TVerifyReport VerifyBlobFileBytes(std::vector<uint8_t> bytes, int32_t block_size, bool encrypted,
                                  const std::vector<TBlobChainRef>& chains) {
  TVerifyReport problems;
  auto add = [&](EngineErrorCode code, const std::string& text) {
    problems.push_back({code, text});
  };
  auto chain_fault = [&](const std::string& text) { add(kErrBlobBuffersCorrupt, text); };
  if (bytes.size() < static_cast<size_t>(kBlobHeaderSize)) {
    return {{kErrHeaderCorrupt, "file shorter than its header"}};
  }
  if (block_size < kMinBlobBlockSize || block_size > kMaxBlobBlockSize) {
    return {{kErrBlobFieldsOrBlockSize, "block size " + std::to_string(block_size)}};
  }
  if (encrypted) UnscrambleBuffer(bytes.data(), kBlobHeaderSize, kRecordSeed.K1, kRecordSeed.K2);
  TBlobFileHeader h;
  h.DecodeFrom(bytes.data());
  if (h.Version != kBlobFormatVersion) add(kErrWrongVersion, "format version not 4");
  for (int32_t i = 4; i < 8; ++i) {
    if (bytes[i] != 0) add(kErrHeaderCorrupt, "header byte " + std::to_string(i) + " not zero");
  }
  for (int32_t i = kBhDirtyFlag + 1; i < kBlobHeaderSize; ++i) {
    if (bytes[i] != 0) {
      add(kErrHeaderCorrupt, "header byte " + std::to_string(i) + " not zero");
      break;
    }
  }
  const int64_t end = h.EndPosition;
  if (end < kFirstBlockPosition || (end - kFirstBlockPosition) % block_size != 0) {
    add(kErrHeaderCorrupt, "end position " + std::to_string(end) + " not on a block boundary");
    return problems;
  }
  if (static_cast<int64_t>(bytes.size()) < end) {
    add(kErrHeaderCorrupt, "file shorter than its end position");
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
  // A block is claimed once, so every walk below ends within count steps.
  std::vector<int32_t> holder(count, kUnclaimed);
  auto claim = [&](int32_t index, int32_t who, const std::string& what) {
    if (holder[index] == kUnclaimed) {
      holder[index] = who;
      return true;
    }
    const std::string other =
        holder[index] == kFreeList ? "the free list" : "chain " + std::to_string(holder[index]);
    chain_fault(what + " reaches block " +
                std::to_string(kFirstBlockPosition + int64_t{index} * block_size) + ", held by " +
                other);
    return false;
  };

  for (int64_t link = h.FreeHead; link != 0;) {
    const int32_t index = index_of(link);
    if (index < 0) {
      // A head the header states is the header's fault, as the open finds it.
      add(link == h.FreeHead ? kErrHeaderCorrupt : kErrBlobBuffersCorrupt,
          "free list leaves the blocks at " + std::to_string(link));
      break;
    }
    if (!claim(index, kFreeList, "free list")) break;
    link = heads[index].Next;
  }

  for (size_t c = 0; c < chains.size(); ++c) {
    const TBlobChainRef& chain = chains[c];
    const std::string name =
        "chain " + std::to_string(c) + " (record " + std::to_string(chain.RecordNumber) + ")";
    int32_t index = index_of(chain.First);
    if (index < 0) {
      chain_fault(name + ": first block " + std::to_string(chain.First) + " is no block");
      continue;
    }
    const int64_t total = heads[index].TotalSize;
    if (chain.Size >= 0 && total != chain.Size) {
      chain_fault(name + ": total size " + std::to_string(total) + ", expected " +
                  std::to_string(chain.Size));
    }
    if (total <= 0) chain_fault(name + ": stored chain of size " + std::to_string(total));
    if (heads[index].Previous != 0) chain_fault(name + ": first block has a previous link");
    int64_t sum = 0;
    int32_t blocks = 0;
    int64_t previous = 0;
    while (index >= 0) {
      const TBlobBlockHead& b = heads[index];
      const int64_t position = kFirstBlockPosition + int64_t{index} * block_size;
      if (!claim(index, static_cast<int32_t>(c), name)) break;
      ++blocks;
      if (b.Stamp != chain.Stamp) {
        chain_fault(name + ": block " + std::to_string(position) + " has stamp " +
                    std::to_string(b.Stamp));
      }
      if (b.Previous != previous) {
        chain_fault(name + ": block " + std::to_string(position) + " links back to " +
                    std::to_string(b.Previous));
      }
      if (blocks > 1 && b.TotalSize != 0) {
        chain_fault(name + ": later block " + std::to_string(position) + " states a size");
      }
      if (b.Used < 0 || b.Used > per_block) {
        chain_fault(name + ": block " + std::to_string(position) + " uses " +
                    std::to_string(b.Used) + " bytes");
        break;
      }
      if (b.Next != 0 && b.Used != per_block) {
        chain_fault(name + ": block " + std::to_string(position) +
                    " is not full but has a next block");
      }
      sum += b.Used;
      previous = position;
      if (b.Next == 0) break;
      index = index_of(b.Next);
      if (index < 0) chain_fault(name + ": link " + std::to_string(b.Next) + " is no block");
    }
    if (sum != total) {
      chain_fault(name + ": holds " + std::to_string(sum) + " bytes, states " +
                  std::to_string(total));
    }
  }

  for (int32_t i = 0; i < count; ++i) {
    if (holder[i] == kUnclaimed) {
      chain_fault("block " + std::to_string(kFirstBlockPosition + int64_t{i} * block_size) +
                  " is in no chain and not free");
    }
  }
  return problems;
}

std::vector<TBlobChainRef> BlobChainsOf(const TDataFileImage& data) {
  std::vector<TBlobChainRef> chains;
  for (int32_t n = 1; n <= data.RecordCount(); ++n) {
    if (!data.Live(n)) continue;
    const uint8_t* r = data.Record(n);
    for (const FieldDescriptor& f : data.Fields) {
      if (f.Type != kFldBlob || !f.IsStored()) continue;
      const int32_t first = GetInt32(r + f.Offset + 1);
      if (first != 0) chains.push_back({first, GetInt32(r + f.Offset + 5), -1, n});
    }
  }
  return chains;
}

}  // namespace jw
