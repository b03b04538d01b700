#include <algorithm>
#include <set>

#include "engine/core/data_file.h"
#include "engine/core/table_verify.h"
#include "engine/support/language_settings.h"
#include "engine/support/scrambler.h"

namespace jw {

int32_t TDataFileImage::RecordCount() const {
  if (!Decoded || Header.RecordSize == 0 || Bytes.size() < DataStart) return 0;
  const int64_t whole = static_cast<int64_t>(Bytes.size() - DataStart) / Header.RecordSize;
  return static_cast<int32_t>(std::min<int64_t>(whole, std::max(Header.NextRecord - 1, 0)));
}

const uint8_t* TDataFileImage::Record(int32_t number) const {
  return &Bytes[DataStart + static_cast<size_t>(number - 1) * Header.RecordSize];
}

bool TDataFileImage::Live(int32_t number) const {
  return number >= 1 && number <= RecordCount() && Record(number)[kRecStatus] == kRecordLive;
}

const FieldDescriptor* TDataFileImage::FieldByNumber(int32_t number) const {
  for (const FieldDescriptor& f : Fields) {
    if (f.Number == number) return &f;
  }
  return nullptr;
}

namespace {

// Header and descriptors; records are unscrambled once they are known to fit.
void DecodeLayout(TDataFileImage& image, TVerifyReport& problems) {
  auto add = [&](EngineErrorCode code, const std::string& text) {
    problems.push_back({code, text});
  };
  std::vector<uint8_t>& bytes = image.Bytes;
  TDataFileHeader& h = image.Header;
  if (bytes.size() < static_cast<size_t>(kHeaderSize))
    return add(kErrHeaderCorrupt, "file shorter than its header");
  if (!h.DecodeFrom(bytes.data()))
    return add(kErrHeaderCorrupt, "header string longer than its room");
  if (h.Version != kDataFormatVersion) add(kErrWrongVersion, "format version not 4");
  if (h.EngineVersion != kEngineVersion) add(kErrHeaderCorrupt, "engine version not 21200");
  if (!IsKnownLanguage(static_cast<uint16_t>(h.LanguageId), static_cast<uint16_t>(h.SortId))) {
    add(kErrLanguageDriver, "language " + std::to_string(h.LanguageId) + " not available");
  }
  if (h.DirtyFlag != 0) add(kErrHeaderCorrupt, "write in progress: a write was cut off");
  if (h.FieldCount > kMaxFieldCount) return add(kErrHeaderCorrupt, "more than 1024 fields");
  image.DataStart = kHeaderSize + static_cast<size_t>(h.FieldCount) * kFieldDescriptorSize;
  if (bytes.size() < image.DataStart)
    return add(kErrHeaderCorrupt, "file ends inside the descriptors");
  const int32_t length = h.FieldCount * kFieldDescriptorSize;
  if (h.Encrypted) {
    const int32_t scrambled = h.EngineVersion == 0 ? (length & 0xFFFF) : length;
    UnscrambleBuffer(&bytes[kHeaderSize], scrambled, kRecordSeed.K1, kRecordSeed.K2);
  }
  image.Fields.resize(h.FieldCount);
  int32_t offset = kRecordHeadSize;
  // Records are read through the descriptors only when every slot lies where
  // the layout puts it.
  bool slots_sound = true;
  for (int32_t i = 0; i < h.FieldCount; ++i) {
    FieldDescriptor& f = image.Fields[i];
    const std::string where = "field " + std::to_string(i + 1) + ": ";
    if (!f.DecodeFrom(&bytes[kHeaderSize + i * kFieldDescriptorSize])) {
      return add(kErrHeaderCorrupt, where + "string longer than its room");
    }
    if (f.Number != i + 1) add(kErrHeaderCorrupt, where + "number");
    if (!IsKnownFieldType(f.Type)) return add(kErrHeaderCorrupt, where + "unknown type");
    if (f.PhysicalLength != PhysicalFieldLength(f.Type, f.Size)) {
      slots_sound = false;
      add(kErrHeaderCorrupt, where + "physical length");
    }
    if (f.IsAutoInc()) {
      if (f.Offset != kRecId) add(kErrHeaderCorrupt, where + "auto-increment offset");
    } else if (f.Derived == 0) {
      if (f.Offset != offset) {
        slots_sound = false;
        add(kErrHeaderCorrupt, where + "offset");
      }
      offset += f.PhysicalLength + 1;
    }
  }
  if (!slots_sound) return;
  if (offset != h.RecordSize)
    return add(kErrHeaderCorrupt, "record size does not match the fields");
  image.Decoded = true;
  if (h.Encrypted) {
    for (int32_t n = 1; n <= image.RecordCount(); ++n) {
      UnscrambleBuffer(&bytes[image.DataStart + static_cast<size_t>(n - 1) * h.RecordSize],
                       h.RecordSize, kRecordSeed.K1, kRecordSeed.K2);
    }
  }
}

void VerifyRecords(const TDataFileImage& image, TVerifyReport& problems,
                   std::vector<bool>& free_record) {
  bool has_auto_inc = false;
  for (const FieldDescriptor& f : image.Fields) has_auto_inc |= f.IsAutoInc();
  std::set<int32_t> ids;
  for (int32_t n = 1; n <= image.RecordCount(); ++n) {
    const uint8_t* r = image.Record(n);
    const std::string where = "record " + std::to_string(n) + ": ";
    if (r[kRecStatus] == kRecordFree) {
      free_record[n] = true;
      continue;
    }
    if (r[kRecStatus] != kRecordLive) {
      problems.push_back({kErrRecordBuffersCorrupt, where + "status"});
      continue;
    }
    if (GetInt32(r + kRecNumber) != n) {
      problems.push_back({kErrRecordBuffersCorrupt, where + "number at byte 1"});
    }
    if (has_auto_inc && !ids.insert(GetInt32(r + kRecId)).second) {
      problems.push_back({kErrRecordBuffersCorrupt, where + "duplicate record id"});
    }
    for (const FieldDescriptor& f : image.Fields) {
      if (!f.IsStored()) continue;
      const uint8_t null_byte = r[f.Offset];
      if (null_byte > 1)
        problems.push_back({kErrRecordBuffersCorrupt, where + f.Name + " null byte"});
      if (null_byte == 1 && f.Type == kFldString) {
        bool terminated = false;
        for (int32_t k = 0; k < f.PhysicalLength; ++k) terminated |= r[f.Offset + 1 + k] == 0;
        if (!terminated) {
          problems.push_back({kErrRecordBuffersCorrupt, where + f.Name + " without terminator"});
        }
      }
    }
  }
}

void VerifyFreeChain(const TDataFileImage& image, const std::vector<bool>& free_record,
                     TVerifyReport& problems) {
  const int32_t records = image.RecordCount();
  std::vector<bool> seen(records + 1, false);
  // Every record is met at most once, so the walk ends.
  for (int32_t link = image.Header.FreeHead; link != 0;) {
    if (link < 0 || link > records) {
      // A head the header states is the header's fault, as the open finds it.
      const bool from_header = link == image.Header.FreeHead;
      problems.push_back({from_header ? kErrHeaderCorrupt : kErrRecordBuffersCorrupt,
                          "free chain leaves the file at " + std::to_string(link)});
      return;
    }
    if (!free_record[link]) {
      problems.push_back(
          {kErrRecordBuffersCorrupt, "free chain holds live record " + std::to_string(link)});
    }
    if (seen[link]) {
      problems.push_back({kErrRecordBuffersCorrupt, "free chain loops at " + std::to_string(link)});
      return;
    }
    seen[link] = true;
    link = GetInt32(image.Record(link) + kRecNumber);
  }
}

}  // namespace

TVerifyReport VerifyDataFileBytes(std::vector<uint8_t> bytes, TDataFileImage& image) {
  TVerifyReport problems;
  image = TDataFileImage();
  image.Bytes = std::move(bytes);
  DecodeLayout(image, problems);
  if (!image.Decoded) return problems;
  if (image.Header.NextRecord < 1) {
    problems.push_back({kErrHeaderCorrupt, "next record number below 1"});
    return problems;
  }
  if (image.RecordCount() < image.Header.NextRecord - 1) {
    problems.push_back({kErrHeaderCorrupt, "file shorter than its records"});
    return problems;
  }
  std::vector<bool> free_record(image.RecordCount() + 1, false);
  VerifyRecords(image, problems, free_record);
  VerifyFreeChain(image, free_record, problems);
  return problems;
}

}  // namespace jw
