#include "engine/core/table_verify.h"

#include <fstream>

#include "engine/core/table_files.h"

namespace jw {
namespace {

void AddAll(TVerifyReport& problems, const std::string& prefix, TVerifyReport found) {
  for (TVerifyProblem& problem : found) {
    problems.push_back({problem.Code, prefix + problem.Text});
  }
}

// False when the file does not exist or cannot be read.
bool ReadFileBytes(const std::string& path, std::vector<uint8_t>& bytes) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return false;
  bytes.resize(static_cast<size_t>(in.tellg()));
  in.seekg(0);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(in);
}

}  // namespace

TVerifyReport VerifyTableFileBytes(const TTableFileBytes& files, const std::string& table_name) {
  TVerifyReport problems;
  TDataFileImage data;
  AddAll(problems, "data: ", VerifyDataFileBytes(files.Data, data));
  if (!data.Decoded) return problems;
  if (!files.HasIndex) {
    problems.push_back({kErrInvalidPath, "index: file missing"});
  } else {
    AddAll(problems, "index: ", VerifyIndexFileBytes(files.Index, data, table_name));
    AddAll(problems, "table: ", VerifyIndexAgainstRecords(files.Index, data));
  }
  if (data.Header.BlobFieldCount > 0) {
    if (!files.HasBlob) {
      problems.push_back({kErrInvalidPath, "blob: file missing for " +
                                               std::to_string(data.Header.BlobFieldCount) +
                                               " BLOB fields"});
    } else {
      const int32_t block_size =
          data.Header.BlobBlockSize == 0 ? kDefaultBlobBlockSize : data.Header.BlobBlockSize;
      AddAll(problems, "blob: ",
             VerifyBlobFileBytes(files.Blob, block_size, data.Header.Encrypted != 0,
                                 BlobChainsOf(data)));
    }
  }
  return problems;
}

TVerifyReport VerifyTableFiles(const std::string& data_path) {
  const TTableFileNames names = TableFileNames(data_path, kTableFileExts);
  TTableFileBytes files;
  if (!ReadFileBytes(data_path, files.Data)) return {{kErrRead, "data: file cannot be read"}};
  files.HasIndex = ReadFileBytes(names.Index, files.Index);
  files.HasBlob = ReadFileBytes(names.Blob, files.Blob);
  return VerifyTableFileBytes(files, data_path);
}

}  // namespace jw
