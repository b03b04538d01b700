#include "platform/os/os_file.h"
#include "platform/os/os_file_faults.h"
#include "tests/support/temp_folder.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace jw {
namespace {

using test_support::ReadFileBytes;
using test_support::TempFolder;

TEST(OsFileErrors, ErrnoKinds) {
  const std::pair<int, OsFileError> cases[] = {
      {0, OsFileError::None},
      {ENOENT, OsFileError::NotFound},
      {ENOTDIR, OsFileError::NotFound},
      {ENAMETOOLONG, OsFileError::NotFound},
      {EMFILE, OsFileError::TooManyFiles},
      {ENFILE, OsFileError::TooManyFiles},
      {EACCES, OsFileError::AccessDenied},
      {EPERM, OsFileError::AccessDenied},
      {EROFS, OsFileError::AccessDenied},
      {ETXTBSY, OsFileError::AccessDenied},
      {EBUSY, OsFileError::AccessDenied},
      {EBADF, OsFileError::BadHandle},
      {ENOMEM, OsFileError::NoMemory},
      {ENODEV, OsFileError::NoDevice},
      {ENXIO, OsFileError::NoDevice},
      {EXDEV, OsFileError::CrossDevice},
      {EEXIST, OsFileError::Exists},
      {EIO, OsFileError::Other},
      {ENOSPC, OsFileError::Other},
  };
  for (const auto& [error_number, kind] : cases) {
    EXPECT_EQ(OsFileErrorFromErrno(error_number), kind) << error_number;
  }
}

TEST(OsFile, PositionedReadsAndWrites) {
  TempFolder folder;
  TOsFile file;
  ASSERT_EQ(file.Create(folder.File("a"), false), OsFileError::None);
  EXPECT_EQ(file.WriteAt(3, "xyz", 3), 3);
  EXPECT_EQ(file.Size(), 6);
  char buffer[8] = {};
  EXPECT_EQ(file.ReadAt(0, buffer, 8), 6);
  EXPECT_EQ(std::string(buffer, 6), std::string("\0\0\0xyz", 6));
  EXPECT_EQ(file.ReadAt(6, buffer, 8), 0);
  EXPECT_TRUE(file.Truncate(4));
  EXPECT_TRUE(file.Sync());
  EXPECT_EQ(file.Size(), 4);
}

// A view shows another descriptor's writes at once and follows the file's
// growth once refreshed, copying only bytes below the size it last saw;
// bytes cut away under it by a process outside the locks make the copy fail
// instead of ending the process, and the view is refused until it is reset.
TEST(OsFile, ViewFollowsWritersAndFailsACopyOfBytesCutUnderIt) {
  TempFolder folder;
  const std::string path = folder.File("v");
  TOsFile file;
  ASSERT_EQ(file.Create(path, false), OsFileError::None);
  const std::vector<char> filled(3 << 20, 'a');
  ASSERT_EQ(file.WriteAt(0, filled.data(), 3 << 20), 3 << 20);
  TOsFileView view;
  ASSERT_TRUE(file.RefreshView(view));
  EXPECT_EQ(view.Length(), 3 << 20);
  char bytes[4] = {};
  EXPECT_FALSE(view.Copy((3 << 20) - 2, bytes, 4));

  const int other = open(path.c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(other, 0);
  ASSERT_EQ(pwrite(other, "xyz", 3, 100), 3);
  ASSERT_TRUE(view.Copy(99, bytes, 4));
  EXPECT_EQ(std::string(bytes, 4), "axyz");
  // Past twice the size the view was made for: mapped again.
  ASSERT_EQ(pwrite(other, "end", 3, 8 << 20), 3);
  EXPECT_FALSE(view.Copy(8 << 20, bytes, 3));
  ASSERT_TRUE(file.RefreshView(view));
  ASSERT_TRUE(view.Copy(8 << 20, bytes, 3));
  EXPECT_EQ(std::string(bytes, 3), "end");
  ASSERT_TRUE(view.Copy(99, bytes, 4));
  EXPECT_EQ(std::string(bytes, 4), "axyz");

  ASSERT_EQ(ftruncate(other, 4096), 0);
  EXPECT_FALSE(view.Copy(1 << 20, bytes, 4));
  EXPECT_TRUE(view.Refused());
  EXPECT_FALSE(file.RefreshView(view));
  view.Reset();
  ASSERT_TRUE(file.RefreshView(view));
  EXPECT_EQ(view.Length(), 4096);
  ASSERT_TRUE(view.Copy(99, bytes, 4));
  EXPECT_EQ(std::string(bytes, 4), "axyz");
  close(other);

  OsFileFaults faults;
  faults.refuse_maps = true;
  TScopedOsFileFaults scope(faults);
  TOsFileView refused;
  EXPECT_FALSE(file.RefreshView(refused));
  EXPECT_TRUE(refused.Refused());
}

TEST(OsFile, DescriptorsAreCloseOnExec) {
  TempFolder folder;
  TOsFile file;
  ASSERT_EQ(file.Create(folder.File("a"), false), OsFileError::None);
  // The newest descriptor of the process is the file's.
  int fd = -1;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code error;
    if (std::filesystem::read_symlink(entry.path(), error) == folder.File("a")) {
      fd = std::stoi(entry.path().filename().string());
    }
  }
  ASSERT_GE(fd, 0);
  EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
}

TEST(OsFile, MissingFileAndFolder) {
  TempFolder folder;
  TOsFile file;
  EXPECT_EQ(file.Open(folder.File("none"), true, false), OsFileError::NotFound);
  EXPECT_EQ(file.Open(folder.File("no/none"), true, false), OsFileError::NotFound);
  EXPECT_EQ(file.Create(folder.File("no/none"), false), OsFileError::NotFound);
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(OsDeleteFile(folder.File("none")), OsFileError::NotFound);
  bool read_only = true;
  EXPECT_EQ(OsFileReadOnly(folder.File("none"), read_only), OsFileError::NotFound);
  EXPECT_FALSE(read_only);
}

TEST(OsFile, TooManyOpenFiles) {
  TempFolder folder;
  { std::ofstream(folder.File("a")) << "x"; }
  rlimit saved;
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
  rlimit low = saved;
  low.rlim_cur = 64;
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
  std::vector<std::unique_ptr<TOsFile>> files;
  OsFileError error = OsFileError::None;
  for (int i = 0; i < 100 && error == OsFileError::None; ++i) {
    files.push_back(std::make_unique<TOsFile>());
    error = files.back()->Open(folder.File("a"), false, false);
  }
  files.clear();
  setrlimit(RLIMIT_NOFILE, &saved);
  EXPECT_EQ(error, OsFileError::TooManyFiles);
}

TEST(OsFile, ShareModesBetweenDescriptors) {
  TempFolder folder;
  const std::string name = folder.File("a");
  { std::ofstream(name) << "data"; }
  TOsFile shared1, shared2, exclusive;
  ASSERT_EQ(shared1.Open(name, true, false), OsFileError::None);
  ASSERT_EQ(shared2.Open(name, false, false), OsFileError::None);
  EXPECT_EQ(exclusive.Open(name, true, true), OsFileError::AccessDenied);
  EXPECT_EQ(exclusive.Open(name, false, true), OsFileError::AccessDenied);
  EXPECT_EQ(OsProbeFileFree(name), OsFileError::AccessDenied);
  EXPECT_EQ(exclusive.Create(name, false), OsFileError::AccessDenied);
  EXPECT_EQ(OsDeleteFile(name), OsFileError::AccessDenied);
  EXPECT_EQ(OsRenameFile(name, folder.File("b")), OsFileError::AccessDenied);
  EXPECT_EQ(ReadFileBytes(name), "data");
  shared1.Close();
  shared2.Close();
  EXPECT_EQ(OsProbeFileFree(name), OsFileError::None);
  ASSERT_EQ(exclusive.Open(name, true, true), OsFileError::None);
  EXPECT_EQ(shared1.Open(name, false, false), OsFileError::AccessDenied);
}

TEST(OsFile, RangeLocksConflictBetweenDescriptionsOfOneProcess) {
  TempFolder folder;
  const std::string name = folder.File("a");
  { std::ofstream(name) << ""; }
  TOsFile a, b;
  ASSERT_EQ(a.Open(name, true, false), OsFileError::None);
  ASSERT_EQ(b.Open(name, true, false), OsFileError::None);
  EXPECT_EQ(a.LockRange(0x7FFFFFFF, 1), OsLockResult::Taken);
  EXPECT_EQ(b.LockRange(0x7FFFFFFF, 1), OsLockResult::Busy);
  EXPECT_EQ(b.LockRange(0x7FFF0000, 0xFFFF), OsLockResult::Taken);
  EXPECT_TRUE(a.UnlockRange(0x7FFFFFFF, 1));
  EXPECT_EQ(b.LockRange(0x7FFFFFFF, 1), OsLockResult::Taken);
  a.Close();
  EXPECT_EQ(a.Open(name, false, false), OsFileError::None);
  // A descriptor for reading takes read locks: they share, writers wait.
  EXPECT_EQ(a.LockRange(100, 1), OsLockResult::Taken);
  TOsFile c;
  ASSERT_EQ(c.Open(name, false, false), OsFileError::None);
  EXPECT_EQ(c.LockRange(100, 1), OsLockResult::Taken);
  EXPECT_EQ(b.LockRange(100, 1), OsLockResult::Busy);
}

TEST(OsFile, CreateMustBeNewAndRenameNeverReplaces) {
  TempFolder folder;
  { std::ofstream(folder.File("a")) << "A"; }
  { std::ofstream(folder.File("b")) << "B"; }
  TOsFile file;
  EXPECT_EQ(file.Create(folder.File("a"), true), OsFileError::Exists);
  EXPECT_EQ(ReadFileBytes(folder.File("a")), "A");
  EXPECT_EQ(OsRenameFile(folder.File("a"), folder.File("b")), OsFileError::Exists);
  EXPECT_EQ(ReadFileBytes(folder.File("b")), "B");
  EXPECT_EQ(OsRenameFile(folder.File("a"), folder.File("c")), OsFileError::None);
  EXPECT_EQ(ReadFileBytes(folder.File("c")), "A");
}

TEST(OsFile, ExclusiveOpenForReadingSharesWithNoOpenerInEitherOrder) {
  TempFolder folder;
  const std::string name = folder.File("a");
  { std::ofstream(name) << "data"; }
  TOsFile exclusive, other, third;
  ASSERT_EQ(exclusive.Open(name, false, true), OsFileError::None);
  EXPECT_EQ(other.Open(name, false, false), OsFileError::AccessDenied);
  EXPECT_EQ(other.Open(name, true, false), OsFileError::AccessDenied);
  EXPECT_EQ(other.Open(name, false, true), OsFileError::AccessDenied);
  EXPECT_EQ(other.Open(name, true, true), OsFileError::AccessDenied);
  EXPECT_EQ(other.Create(name, false), OsFileError::AccessDenied);
  EXPECT_EQ(OsDeleteFile(name), OsFileError::AccessDenied);
  EXPECT_EQ(OsProbeFileFree(name), OsFileError::AccessDenied);
  exclusive.Close();
  ASSERT_EQ(other.Open(name, false, false), OsFileError::None);
  EXPECT_EQ(exclusive.Open(name, false, true), OsFileError::AccessDenied);
  other.Close();
  ASSERT_EQ(other.Open(name, true, false), OsFileError::None);
  EXPECT_EQ(exclusive.Open(name, false, true), OsFileError::AccessDenied);
  // A refused exclusive opener leaves nothing behind that keeps others out.
  ASSERT_EQ(third.Open(name, false, false), OsFileError::None);
  EXPECT_EQ(ReadFileBytes(name), "data");
}

TEST(OsFile, RangeLocksStayClearOfTheShareByte) {
  TempFolder folder;
  const std::string name = folder.File("a");
  { std::ofstream(name) << ""; }
  TOsFile a, b;
  ASSERT_EQ(a.Open(name, true, false), OsFileError::None);
  const std::pair<int64_t, int64_t> refused[] = {{-1, 1},
                                                 {0, 0},
                                                 {10, -5},
                                                 {kShareLockOffset - 1, 2},
                                                 {kShareLockOffset, 1},
                                                 {kExclusiveReadOffset, 1},
                                                 {0, INT64_MAX},
                                                 {INT64_MAX, 1}};
  for (const auto& [offset, length] : refused) {
    EXPECT_EQ(a.LockRange(offset, length), OsLockResult::Failed) << offset << " " << length;
    EXPECT_FALSE(a.UnlockRange(offset, length)) << offset << " " << length;
  }
  EXPECT_EQ(a.LockRange(kShareLockOffset - 1, 1), OsLockResult::Taken);
  // a still holds its share lock: another shared opener gets in, an
  // exclusive one does not.
  ASSERT_EQ(b.Open(name, true, false), OsFileError::None);
  b.Close();
  EXPECT_EQ(b.Open(name, true, true), OsFileError::AccessDenied);
}

// The read-only path, injected below the file layer so that it holds for
// root as well, whom permission bits do not stop.
TEST(OsFile, ReadOnlyAttribute) {
  TempFolder folder;
  const std::string name = folder.File("a");
  { std::ofstream(name) << "x"; }
  OsFileFaults faults;
  faults.read_only_paths = {name};
  const TScopedOsFileFaults scoped(faults);
  bool read_only = false;
  EXPECT_EQ(OsFileReadOnly(name, read_only), OsFileError::None);
  EXPECT_TRUE(read_only);
  TOsFile file;
  EXPECT_EQ(file.Open(name, true, false), OsFileError::AccessDenied);
  EXPECT_EQ(file.Create(name, false), OsFileError::AccessDenied);
  EXPECT_EQ(file.Open(name, false, false), OsFileError::None);
  EXPECT_FALSE(file.Writable());
  file.Close();
  // A file this user may only read can still be deleted, held all the same.
  EXPECT_EQ(file.Open(name, false, true), OsFileError::None);
  EXPECT_EQ(OsDeleteFile(name), OsFileError::AccessDenied);
  file.Close();
  EXPECT_EQ(OsDeleteFile(name), OsFileError::None);
  EXPECT_FALSE(std::filesystem::exists(name));
}

}  // namespace
}  // namespace jw
