// libFuzzer target: a data file made of random header, descriptor and record
// bytes is opened, checked and read; only engine errors may come out.
#include <unistd.h>
#include <cstdint>
#include <cstdio>
#include <string>

#include "engine/core/data_file.h"
#include "engine/support/engine_errors.h"

namespace {

class Table : public jw::TDataFileOwner {
 public:
  bool InTransaction() const override { return false; }
  bool Written() const override { return false; }
  void MarkWritten() override {}
  bool ForceBufferFlush() const override { return false; }
  bool StrictChangeDetection() const override { return true; }
  bool HasPrimaryIndex() const override { return true; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = "/tmp/jw-fuzz-" + std::to_string(getpid()) + ".DAT";
  FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) return 0;
  std::fwrite(data, 1, size, out);
  std::fclose(out);
  Table table;
  jw::TDataFile file(&table);
  file.SetName(path);
  try {
    file.Open();
    file.Check();
    for (int32_t n = 1; n <= file.RecordCount() && n <= 64; ++n) {
      jw::TRecord* record = nullptr;
      file.FetchRecord(nullptr, n, 1, true, false, record);
      file.ReleaseRecord(record);
    }
    file.ReleaseRecord(file.AllocRecord());
  } catch (const jw::EQuireEngineError&) {
  }
  return 0;
}
