// Verify: reads a table's data, index and BLOB files as bytes, past the
// engine's caches and locks, and reports every inconsistency it finds, each
// with the engine code an open or a read of that spot raises. It never
// writes a byte. The data file part checks header, descriptors, records, the
// free chain and the write-in-progress mark; the index part the counted
// trees and free lists; the BLOB part every chain and the free list; the
// table part the files against each other.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/core/data_file_format.h"
#include "engine/support/engine_errors.h"

namespace jw {

struct TVerifyProblem {
  EngineErrorCode Code = 0;
  std::string Text;
};
using TVerifyReport = std::vector<TVerifyProblem>;

// A data file's bytes as verify reads them: the header, and when they decode
// the descriptors and every whole record, unscrambled.
struct TDataFileImage {
  TDataFileHeader Header;
  std::vector<FieldDescriptor> Fields;
  std::vector<uint8_t> Bytes;
  size_t DataStart = 0;
  // Header and descriptors decoded and consistent with the record size.
  bool Decoded = false;

  // Records 1..RecordCount() lie wholly inside the bytes.
  int32_t RecordCount() const;
  const uint8_t* Record(int32_t number) const;
  bool Live(int32_t number) const;
  const FieldDescriptor* FieldByNumber(int32_t number) const;
};

// A BLOB chain as a record refers to it. Size -1 takes the size the chain states.
struct TBlobChainRef {
  int32_t First = 0;
  int32_t Stamp = 0;
  int32_t Size = -1;
  int32_t RecordNumber = 0;
};

// The data file's checks; the image keeps what they decoded.
TVerifyReport VerifyDataFileBytes(std::vector<uint8_t> bytes, TDataFileImage& image);

// The index file's checks against the decoded data file. With
// check_live_count every index must hold exactly the header's live count.
TVerifyReport VerifyIndexFileBytes(std::vector<uint8_t> bytes, const TDataFileImage& data,
                                   const std::string& table_name, bool check_live_count = true);

// The index file against the records: its live count is the data file's,
// and every key of an index names a live record, each record once.
TVerifyReport VerifyIndexAgainstRecords(std::vector<uint8_t> bytes, const TDataFileImage& data);

// The BLOB file's checks against the chains the records name, ending with a
// census: chains and free list together hold every block exactly once.
TVerifyReport VerifyBlobFileBytes(std::vector<uint8_t> bytes, int32_t block_size, bool encrypted,
                                  const std::vector<TBlobChainRef>& chains);

// The chains the live records of a decoded data file refer to, in record order.
std::vector<TBlobChainRef> BlobChainsOf(const TDataFileImage& data);

// The bytes of one table's files; an index or BLOB file that does not exist is absent.
struct TTableFileBytes {
  std::vector<uint8_t> Data;
  std::vector<uint8_t> Index;
  std::vector<uint8_t> Blob;
  bool HasIndex = false;
  bool HasBlob = false;
};

// All three files and their agreement. Texts begin "data: ", "index: ",
// "blob: " or "table: "; an empty report means the table is sound.
TVerifyReport VerifyTableFileBytes(const TTableFileBytes& files, const std::string& table_name);

// Reads the table whose data file is at data_path (its index and BLOB files
// beside it) and verifies it. A data file that cannot be read gives 9217.
TVerifyReport VerifyTableFiles(const std::string& data_path);

}  // namespace jw
