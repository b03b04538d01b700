// The rows of the crash test's table, shared by the writer process and the
// test that kills it: the field numbers, one row as the writer reports it,
// the BLOB bytes a row's memo holds, and the report lines.
//   "put <id> <key> <group> <memo seed> <memo length>"  a row to be written
//   "ins <key> <group> <memo seed> <memo length>"        a row to be inserted
//   "del <id>"                                           a row to be deleted
// Each comes before the engine is asked, since a write the writer dies in
// may reach the disk; an insert is followed by the "put" of its new id.
//   "begin" / "rollback"   a transaction starts / its rows are void
//   "durable"              every row reported so far is on disk
#pragma once

#include <cstdint>
#include <sstream>
#include <string>

namespace jw::test {

// MSEED holds the seed of the memo's bytes, so that a reader can tell a
// memo that does not belong to its record.
enum CrashField : int32_t {
  kCrashId = 1,
  kCrashKey,
  kCrashGroup,
  kCrashName,
  kCrashMemoSeed,
  kCrashMemo
};

struct CrashRow {
  int32_t id = 0;
  int32_t key = 0;
  int16_t group = 0;
  int32_t memo_seed = 0;
  int32_t memo_length = 0;
  bool operator==(const CrashRow&) const = default;
};

// The NAME field follows the key, so a torn record shows in either.
inline std::string CrashName(int32_t key) {
  return "n" + std::to_string(key);
}

inline std::string CrashMemo(int32_t seed, int32_t length) {
  std::string bytes(static_cast<size_t>(length), '\0');
  uint32_t state = static_cast<uint32_t>(seed) * 2654435761u + 1;
  for (char& c : bytes) {
    state = state * 1103515245u + 12345u;
    c = static_cast<char>(state >> 24);
  }
  return bytes;
}

inline std::string PutLine(const CrashRow& row) {
  std::ostringstream line;
  line << "put " << row.id << " " << row.key << " " << row.group << " " << row.memo_seed << " "
       << row.memo_length;
  return line.str();
}

inline std::string InsertLine(const CrashRow& row) {
  std::ostringstream line;
  line << "ins " << row.key << " " << row.group << " " << row.memo_seed << " " << row.memo_length;
  return line.str();
}

}  // namespace jw::test
