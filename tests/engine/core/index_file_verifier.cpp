#include "tests/engine/core/index_file_verifier.h"

#include "engine/core/data_file.h"
#include "engine/core/table_verify.h"
#include "tests/engine/core/data_file_verifier.h"
#include "tests/engine/core/test_table.h"

namespace jw::test {

std::vector<std::string> VerifyIndexFile(const std::string& path, const TDataFile& data,
                                         bool check_live_count) {
  // The open file's header and fields as held in memory; the records are not needed.
  TDataFileImage image;
  uint8_t header[kHeaderSize];
  data.CopyHeader(header);
  image.Header.DecodeFrom(header);
  for (int32_t i = 1; i <= data.FieldCount(); ++i) image.Fields.push_back(data.FieldDesc(i));
  image.Decoded = true;
  return ProblemTexts(
      VerifyIndexFileBytes(ReadWholeFile(path), image, data.Name(), check_live_count));
}

}  // namespace jw::test
