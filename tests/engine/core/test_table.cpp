#include "tests/engine/core/test_table.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>

namespace jw::test {

ScratchDir::ScratchDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "jw-core-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

FieldDescriptor Field(const std::string& name, uint8_t type, uint8_t size, uint8_t sub_type,
                      uint8_t decimals) {
  FieldDescriptor f;
  f.Name = name;
  f.Type = type;
  f.Size = size;
  f.SubType = sub_type;
  f.Decimals = decimals;
  return f;
}

std::vector<FieldDescriptor> SmallDefinition() {
  return {Field("ID", kFldInteger, 0, kSubTypeAutoInc), Field("NAME", kFldString, 20),
          Field("VALUE", kFldInteger)};
}

void CreateTable(TDataFile& file, const std::string& name,
                 const std::vector<FieldDescriptor>& fields, bool encrypted,
                 const std::string& password) {
  file.SetName(name);
  file.InitHeader(0, 0, fields, 0, "test table", password, encrypted, 0, 0);
  file.WriteHeader(true, false);
  file.WriteFieldDescs();
}

int32_t AppendSmallRecord(TDataFile& file, const std::string& text, int32_t value) {
  TRecord* record = file.AllocRecord();
  record->InitNew(true);
  uint8_t* bytes = record->Bytes();
  const FieldDescriptor& name = file.FieldDesc(2);
  bytes[name.Offset] = 1;
  std::memcpy(bytes + name.Offset + 1, text.data(), std::min<size_t>(text.size(), name.Size));
  const FieldDescriptor& number = file.FieldDesc(3);
  bytes[number.Offset] = 1;
  PutInt32(bytes + number.Offset + 1, value);
  record->SetModified(true);
  const int32_t n = record->RecordNumber();
  file.ReleaseRecord(record);
  return n;
}

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return {};
  std::vector<uint8_t> bytes(static_cast<size_t>(in.tellg()));
  in.seekg(0);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return bytes;
}

void WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

uint32_t TestSeed() {
  const char* fixed = std::getenv("JW_SEED");
  return fixed != nullptr ? static_cast<uint32_t>(std::strtoul(fixed, nullptr, 10))
                          : std::random_device{}();
}

bool LongTests() {
  const char* value = std::getenv("JW_LONG_TESTS");
  return value != nullptr && std::strcmp(value, "1") == 0;
}

}  // namespace jw::test
