// libFuzzer target: a data file made of random header, descriptor and record
// bytes is opened, checked and read; only engine errors may come out.
#include <cstdint>
#include <string>

#include "engine/core/data_file.h"
#include "engine/support/engine_errors.h"
#include "tests/engine/core/fuzz/fuzz_table.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const jw::FuzzFile scratch(".DAT");
  if (!scratch.Write(data, size)) return 0;
  jw::FuzzTable table;
  jw::TDataFile file(&table);
  file.SetName(scratch.Path());
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
