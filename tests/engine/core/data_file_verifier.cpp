#include "tests/engine/core/data_file_verifier.h"

#include <set>

#include "engine/core/data_file.h"
#include "engine/support/scrambler.h"
#include "tests/engine/core/test_table.h"

namespace jw::test {

std::vector<std::string> VerifyDataFile(const std::string& path) {
  std::vector<std::string> problems;
  auto bytes = ReadWholeFile(path);
  if (bytes.size() < static_cast<size_t>(kHeaderSize)) return {"file shorter than its header"};
  TDataFileHeader h;
  if (!h.DecodeFrom(bytes.data())) return {"header string longer than its room"};
  if (h.Version != kDataFormatVersion) problems.push_back("format version not 4");
  if (h.EngineVersion != kEngineVersion) problems.push_back("engine version not 21200");
  if (h.FieldCount > kMaxFieldCount) return {"more than 1024 fields"};
  const size_t data_start = kHeaderSize + static_cast<size_t>(h.FieldCount) * kFieldDescriptorSize;
  if (bytes.size() < data_start) return {"file ends inside the descriptors"};
  const int32_t length = h.FieldCount * kFieldDescriptorSize;
  if (h.Encrypted) {
    const int32_t scrambled = h.EngineVersion == 0 ? (length & 0xFFFF) : length;
    UnscrambleBuffer(&bytes[kHeaderSize], scrambled, kRecordSeed.K1, kRecordSeed.K2);
  }
  std::vector<FieldDescriptor> fields(h.FieldCount);
  int32_t offset = kRecordHeadSize;
  bool has_auto_inc = false;
  for (int32_t i = 0; i < h.FieldCount; ++i) {
    FieldDescriptor& f = fields[i];
    const std::string where = "field " + std::to_string(i + 1) + ": ";
    if (!f.DecodeFrom(&bytes[kHeaderSize + i * kFieldDescriptorSize])) {
      return {where + "string longer than its room"};
    }
    if (f.Number != i + 1) problems.push_back(where + "number");
    if (!IsKnownFieldType(f.Type)) return {where + "unknown type"};
    if (f.PhysicalLength != PhysicalFieldLength(f.Type, f.Size)) {
      problems.push_back(where + "physical length");
    }
    if (f.IsAutoInc()) {
      has_auto_inc = true;
      if (f.Offset != kRecId) problems.push_back(where + "auto-increment offset");
    } else if (f.Derived == 0) {
      if (f.Offset != offset) problems.push_back(where + "offset");
      offset += f.PhysicalLength + 1;
    }
  }
  if (offset != h.RecordSize) return {"record size does not match the fields"};
  const int32_t size = h.RecordSize;
  const int64_t records = h.NextRecord - 1;
  if (records < 0) return {"next record number below 1"};
  if (bytes.size() < data_start + records * size) {
    problems.push_back("file shorter than its records");
    return problems;
  }
  std::set<int32_t> ids;
  std::vector<bool> free_record(records + 1, false);
  for (int32_t n = 1; n <= records; ++n) {
    uint8_t* r = &bytes[data_start + static_cast<size_t>(n - 1) * size];
    if (h.Encrypted) UnscrambleBuffer(r, size, kRecordSeed.K1, kRecordSeed.K2);
    const std::string where = "record " + std::to_string(n) + ": ";
    if (r[kRecStatus] == kRecordFree) {
      free_record[n] = true;
      continue;
    }
    if (r[kRecStatus] != kRecordLive) {
      problems.push_back(where + "status");
      continue;
    }
    if (GetInt32(r + kRecNumber) != n) problems.push_back(where + "number at byte 1");
    if (has_auto_inc && !ids.insert(GetInt32(r + kRecId)).second) {
      problems.push_back(where + "duplicate record id");
    }
    for (const FieldDescriptor& f : fields) {
      if (!f.IsStored()) continue;
      const uint8_t null_byte = r[f.Offset];
      if (null_byte > 1) problems.push_back(where + f.Name + " null byte");
      if (null_byte == 1 && f.Type == kFldString) {
        bool terminated = false;
        for (int32_t k = 0; k < f.PhysicalLength; ++k) terminated |= r[f.Offset + 1 + k] == 0;
        if (!terminated) problems.push_back(where + f.Name + " without terminator");
      }
    }
  }
  // The chain is walked at most once around the file.
  int32_t link = h.FreeHead;
  std::vector<bool> seen(records + 1, false);
  while (link != 0) {
    if (link < 0 || link > records) {
      problems.push_back("free chain leaves the file at " + std::to_string(link));
      break;
    }
    if (!free_record[link])
      problems.push_back("free chain holds live record " + std::to_string(link));
    if (seen[link]) {
      problems.push_back("free chain loops at " + std::to_string(link));
      break;
    }
    seen[link] = true;
    uint8_t* r = &bytes[data_start + static_cast<size_t>(link - 1) * size];
    link = GetInt32(r + kRecNumber);
  }
  return problems;
}

}  // namespace jw::test
