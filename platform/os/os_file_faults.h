// Faults that tests inject into the disk files of the process, below every
// file class of the engine: paths that look read-only (as a file without
// write permission does, also to root), a write that fails as on a full
// disk, a flush that fails as on a disk that lost the data and a rename
// that fails as on a disk that stopped answering; mappings of files can be
// refused, and positioned reads are counted. A journal, when given, takes
// every write, cut and sync that reached the files, so that a test can
// build what a disk could hold after the power failed at any moment. With
// no faults installed every check is one load of a null pointer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace jw {

// A change of a file (by its inode) that the system took, or a sync of it.
struct OsFileEvent {
  enum class Kind { Write, Cut, Sync };
  Kind kind;
  uint64_t inode;
  // The write's position or the cut's new size.
  int64_t offset;
  std::vector<uint8_t> bytes;
};

struct OsFileFaults {
  // Paths (as given to the file calls) that cannot be opened for writing.
  std::vector<std::string> read_only_paths;
  // The write, counted from 1 while installed, that fails with ENOSPC; 0 for
  // none. writes counts every positioned write.
  int64_t fail_write_at = 0;
  int64_t writes = 0;
  // The same for flushes to the device (fsync), failing with EIO.
  int64_t fail_flush_at = 0;
  int64_t flushes = 0;
  // The same for renames of a file, failing with EIO; a second number
  // fails one more, as a disk that fails a step and then its way back.
  int64_t fail_rename_at = 0;
  int64_t fail_rename_again_at = 0;
  int64_t renames = 0;
  // Every mapping of a file fails with ENOMEM.
  bool refuse_maps = false;
  // Positioned reads while installed.
  int64_t reads = 0;
  // Where every successful write, cut and sync goes while installed; none
  // when null.
  std::vector<OsFileEvent>* journal = nullptr;
};

// Installs faults for the whole process for its lifetime and then puts back
// the ones it replaced. Scopes nest; they must end in the reverse order of
// their start.
class TScopedOsFileFaults {
 public:
  explicit TScopedOsFileFaults(OsFileFaults& faults);
  ~TScopedOsFileFaults();
  TScopedOsFileFaults(const TScopedOsFileFaults&) = delete;
  TScopedOsFileFaults& operator=(const TScopedOsFileFaults&) = delete;

 private:
  OsFileFaults* previous_;
};

// For the file layer: whether the path is to look read-only, whether the
// write now starting is to fail (errno is then ENOSPC), and whether the
// flush or the rename now starting is to fail (errno is then EIO), whether a
// mapping is to fail (errno is then ENOMEM); counts a positioned read.
bool OsFaultReadOnly(const std::string& path);
bool OsFaultFailWrite();
bool OsFaultFailFlush();
bool OsFaultFailRename();
bool OsFaultFailMap();
void OsFaultCountRead();
// Takes a successful change or sync of the open file fd into the journal.
void OsFaultJournal(int fd, OsFileEvent::Kind kind, int64_t offset, const void* bytes,
                    int64_t length);

}  // namespace jw
