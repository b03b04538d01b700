// Test tools for the storage core: a scratch folder, a fake owning table,
// the instrumented file layer (counts reads, writes, flushes and lock calls
// per file, and fails the k-th write or flush), and table definitions.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/core/data_file.h"
#include "engine/support/engine_errors.h"
#include "platform/os/os_file_faults.h"

namespace jw::test {

// A fresh folder under the temporary directory, removed with its files.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  std::string Path(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// The state a table keeps for its data file, set directly by the tests.
class FakeTable : public TDataFileOwner {
 public:
  bool InTransaction() const override { return in_transaction; }
  bool Written() const override { return written; }
  void MarkWritten() override { written = true; }
  bool ForceBufferFlush() const override { return force_buffer_flush; }
  bool StrictChangeDetection() const override { return strict_change_detection; }
  bool HasPrimaryIndex() const override { return has_primary_index; }
  void BodyWriteStarting() override {}

  bool in_transaction = false;
  bool written = false;
  bool force_buffer_flush = false;
  bool strict_change_detection = false;
  bool has_primary_index = true;
};

struct LockCall {
  int64_t offset;
  int64_t length;
  bool lock;
};

// Any file class of the storage core with its I/O counted and, on request,
// failed as the file layer fails it (9218, nothing written).
template <class File>
class Instrumented : public File {
 public:
  using File::File;

  int32_t Read(void* buffer, int32_t length, bool allow_short) override {
    ++reads;
    return File::Read(buffer, length, allow_short);
  }
  // A copy from the file's mapping reads the file as much as a call does.
  int32_t ReadMapped(int64_t offset, uint8_t* buffer, int32_t length) override {
    const int32_t count = File::ReadMapped(offset, buffer, length);
    if (count > 0) ++reads;
    return count;
  }
  int32_t Write(const void* buffer, int32_t length) override {
    ++writes;
    if (writes == fail_write_at) RaiseEngineError(kErrWrite, this->Name());
    write_lengths.push_back(length);
    return File::Write(buffer, length);
  }
  void Flush() override {
    ++flushes;
    if (flushes == fail_flush_at) RaiseEngineError(kErrWrite, this->Name());
    File::Flush();
  }
  OsLockResult SetRegionLock(int64_t offset, int64_t length, bool lock) override {
    lock_calls.push_back({offset, length, lock});
    return File::SetRegionLock(offset, length, lock);
  }
  void ResetCounts() {
    reads = writes = flushes = 0;
    write_lengths.clear();
    lock_calls.clear();
  }

  int32_t reads = 0;
  int32_t writes = 0;
  int32_t flushes = 0;
  std::vector<int32_t> write_lengths;
  std::vector<LockCall> lock_calls;
  // 1-based number of the write or flush that fails; 0 for none.
  int32_t fail_write_at = 0;
  int32_t fail_flush_at = 0;
};

using TestDataFile = Instrumented<TDataFile>;

FieldDescriptor Field(const std::string& name, uint8_t type, uint8_t size = 0, uint8_t sub_type = 0,
                      uint8_t decimals = 0);

// A small definition: an auto-increment id, a string of 20, an integer.
std::vector<FieldDescriptor> SmallDefinition();

// Creates the named table with the definition, writes header and
// descriptors, and leaves it open.
void CreateTable(TDataFile& file, const std::string& name,
                 const std::vector<FieldDescriptor>& fields, bool encrypted = false,
                 const std::string& password = "");

// Appends a record whose string field holds text and integer field value.
int32_t AppendSmallRecord(TDataFile& file, const std::string& text, int32_t value);

std::vector<uint8_t> ReadWholeFile(const std::string& path);
void WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes);

// The engine code an action raises; 0 when it raises nothing.
template <class Action>
int ErrorCodeOf(Action action) {
  try {
    action();
  } catch (const EQuireEngineError& e) {
    return e.Code();
  }
  return 0;
}

// The cases of a test of reads through a file's mapping: mapped, mapped
// and scrambled, and with every mapping refused.
struct MappingCase {
  bool refuse_maps;
  bool encrypted;
  std::string Name() const {
    return std::string(refuse_maps ? "mappings refused" : "mapped") +
           (encrypted ? ", encrypted" : "");
  }
};
// Runs body(mapping, faults) for each case, with faults installed that
// refuse every mapping where the case says so.
template <typename Body>
void ForEachMappingCase(Body body) {
  for (const MappingCase& mapping :
       {MappingCase{false, false}, MappingCase{false, true}, MappingCase{true, false}}) {
    OsFileFaults faults;
    faults.refuse_maps = mapping.refuse_maps;
    TScopedOsFileFaults scope(faults);
    body(mapping, faults);
  }
}

bool LongTests();

// The seed of a randomized test: JW_SEED when set, else a random one.
uint32_t TestSeed();

}  // namespace jw::test
