#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/support/engine_errors.h"
#include "engine/support/file_handler.h"
#include "engine/support/file_list.h"
#include "platform/os/os_file_faults.h"
#include "tests/support/temp_folder.h"

namespace jw {
namespace {

using test_support::ReadFileBytes;
using test_support::TempFolder;

void WriteAll(const std::string& path, const std::string& data) {
  std::ofstream(path, std::ios::binary) << data;
}

EngineErrorCode CodeOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const EQuireEngineError& e) {
    return e.Code();
  }
  return 0;
}

std::unique_ptr<TFileHandler> MemoryHandler(const std::string& name) {
  auto handler = std::make_unique<TFileHandler>();
  handler->SetInMemory(true);
  handler->SetName(name);
  return handler;
}

TEST(MemoryFile, ReadAtTheEndGivesNothing) {
  auto h = MemoryHandler("mem-read-end");
  h->CreateFile();
  h->Write("abc", 3);
  char buffer[8];
  EXPECT_EQ(h->Read(buffer, 8, true), 0);
  EXPECT_EQ(CodeOf([&] { h->Read(buffer, 8, false); }), kErrRead);
  h->Seek(0, 0);
  EXPECT_EQ(h->Read(buffer, 8, true), 3);
  EXPECT_EQ(std::string(buffer, 3), "abc");
  EXPECT_EQ(CodeOf([&] { h->DeleteFile(); }), kErrAccessDenied);
  h->Close();
  h->DeleteFile();
}

TEST(MemoryFile, ErrorsNameTheFile) {
  auto h = MemoryHandler("mem-errors");
  h->CreateFile();
  char buffer[4];
  try {
    h->Read(buffer, 4, false);
    FAIL() << "no exception";
  } catch (const EQuireEngineError& e) {
    EXPECT_EQ(std::string(e.what()),
              "Quire Engine Error # 9217 Error reading from table 'mem-errors'");
  }
  h->Close();
  h->DeleteFile();
}

TEST(MemoryFile, ZeroLengthWriteTruncates) {
  auto h = MemoryHandler("mem-truncate");
  h->CreateFile();
  const std::vector<char> data(300, 'x');
  h->Write(data.data(), 300);
  h->Seek(100, 0);
  h->Write(nullptr, 0);
  EXPECT_EQ(h->GetSize(), 100);
  auto* file = static_cast<TMemoryFile*>(h->File());
  EXPECT_EQ(file->Capacity(), 4096);
  h->Seek(0, 0);
  h->Write(nullptr, 0);
  EXPECT_EQ(h->GetSize(), 0);
  EXPECT_EQ(file->Capacity(), 0);
  h->Close();
  h->DeleteFile();
}

TEST(MemoryFile, BufferGrowsInWholePages) {
  auto h = MemoryHandler("mem-pages");
  h->CreateFile();
  const std::vector<char> data(5000, 'y');
  h->Write(data.data(), 5000);
  EXPECT_EQ(static_cast<TMemoryFile*>(h->File())->Capacity(), 8192);
  h->Close();
  h->DeleteFile();
}

// A file written at its end a page at a time (a result table taking rows)
// grows its buffer a number of times in the logarithm of its size, each
// copy at least twice the last, and never holds more than twice its size.
TEST(MemoryFile, AnOutgrownBufferAtLeastDoubles) {
  auto h = MemoryHandler("mem-doubling");
  h->CreateFile();
  auto* file = static_cast<TMemoryFile*>(h->File());
  const std::vector<char> page(4096, 'z');
  std::vector<int32_t> capacities;
  for (int i = 1; i <= 1000; ++i) {
    h->Write(page.data(), 4096);
    if (capacities.empty() || file->Capacity() != capacities.back()) {
      capacities.push_back(file->Capacity());
    }
    ASSERT_LE(file->Capacity(), 2 * h->GetSize());
  }
  EXPECT_LE(capacities.size(), 11u);
  for (size_t i = 1; i < capacities.size(); ++i) EXPECT_GE(capacities[i], 2 * capacities[i - 1]);
  h->Close();
  h->DeleteFile();
}

TEST(MemoryFile, GapsReadBackAsZeros) {
  auto h = MemoryHandler("mem-gap");
  h->CreateFile();
  h->Write("abcdefgh", 8);
  h->Seek(2, 0);
  h->Write(nullptr, 0);
  h->Seek(6, 0);
  h->Write("Z", 1);
  h->Seek(0, 0);
  char buffer[7];
  ASSERT_EQ(h->Read(buffer, 7, false), 7);
  EXPECT_EQ(std::string(buffer, 7), std::string("ab\0\0\0\0Z", 7));
  h->Close();
  h->DeleteFile();
}

TEST(MemoryFile, WritesStopBelowTheLockArea) {
  auto h = MemoryHandler("mem-limit");
  h->CreateFile();
  h->Seek(kMaxFileEnd - 1, 0);
  EXPECT_EQ(CodeOf([&] { h->Write("ab", 2); }), kErrWrite);
  EXPECT_EQ(h->GetSize(), 0);
  h->Close();
  h->DeleteFile();
}

TEST(MemoryFile, RegionLocksRefuseOverlapAndNeedTheExactRange) {
  auto h = MemoryHandler("mem-locks");
  h->CreateFile();
  EXPECT_EQ(h->SetRegionLock(10, 10, true), OsLockResult::Taken);
  EXPECT_EQ(h->SetRegionLock(15, 10, true), OsLockResult::Busy);
  EXPECT_EQ(h->SetRegionLock(5, 6, true), OsLockResult::Busy);
  EXPECT_EQ(h->SetRegionLock(10, 10, true), OsLockResult::Busy);
  EXPECT_EQ(h->SetRegionLock(20, 10, true), OsLockResult::Taken);
  EXPECT_EQ(h->SetRegionLock(10, 5, false), OsLockResult::Failed);
  EXPECT_EQ(h->SetRegionLock(10, 10, false), OsLockResult::Taken);
  EXPECT_EQ(h->SetRegionLock(10, 10, false), OsLockResult::Failed);
  h->Close();
  h->DeleteFile();
}

TEST(MemoryFile, HandlesKeepTheirOwnPositions) {
  auto a = MemoryHandler("mem-positions");
  a->CreateFile();
  a->Write("0123456789", 10);
  a->Close();
  auto b = MemoryHandler("mem-positions");
  auto c = MemoryHandler("mem-positions");
  b->Open();
  c->Open();
  EXPECT_EQ(b->File(), c->File());
  b->Seek(2, 0);
  c->Seek(7, 0);
  char x = 0;
  b->Read(&x, 1, false);
  EXPECT_EQ(x, '2');
  c->Read(&x, 1, false);
  EXPECT_EQ(x, '7');
  b->Close();
  c->Close();
  b->DeleteFile();
}

TEST(MemoryFile, HandleIdsAreTheLowestFree) {
  auto a = MemoryHandler("mem-ids");
  a->CreateFile();
  a->Close();
  auto b = MemoryHandler("mem-ids");
  auto c = MemoryHandler("mem-ids");
  auto d = MemoryHandler("mem-ids");
  b->Open();
  c->Open();
  EXPECT_EQ(b->Handle(), 1);
  EXPECT_EQ(c->Handle(), 2);
  b->Close();
  d->Open();
  EXPECT_NE(d->Handle(), c->Handle());
  c->Close();
  d->Close();
  d->DeleteFile();
}

TEST(FileRegistry, MemoryFileLivesUntilDeleted) {
  auto h = MemoryHandler("mem-life");
  h->CreateFile();
  h->Write("kept", 4);
  h->Close();
  EXPECT_TRUE(h->Exists());
  h->Open();
  char buffer[4];
  h->Read(buffer, 4, false);
  EXPECT_EQ(std::string(buffer, 4), "kept");
  h->Close();
  h->DeleteFile();
  EXPECT_FALSE(h->Exists());
  EXPECT_EQ(CodeOf([&] { h->Open(); }), kErrInvalidPath);
  bool read_only = false;
  TAbstractFile* file = nullptr;
  EXPECT_EQ(FileList().OpenFile("mem-life", true, false, false, read_only, file), -11010);
  EXPECT_EQ(FileList().DeleteFile("mem-life", true), -11010);
  EXPECT_EQ(FileList().RenameFile("mem-life", true, "x"), -11010);
}

TEST(FileRegistry, TemporaryMemoryFileGoesAtLastClose) {
  auto h = MemoryHandler("mem-temp");
  h->SetTemporary(true);
  h->CreateFile();
  h->Close();
  EXPECT_FALSE(h->Exists());
}

TEST(FileRegistry, EmptyBaseNameIsRefused) {
  const int32_t before = FileList().FileCount();
  TAbstractFile* file = nullptr;
  EXPECT_EQ(FileList().CreateFile("/tmp/.DAT", false, false, file), -11010);
  EXPECT_EQ(FileList().CreateFile(" .DAT", true, false, file), -11010);
  EXPECT_EQ(FileList().FileCount(), before);
}

TEST(FileRegistry, SharingRulesWithinTheProcess) {
  TempFolder folder;
  const std::string name = folder.File("share.DAT");
  WriteAll(name, "data");
  TFileHandler a, b, c;
  a.SetName(name);
  b.SetName(name);
  c.SetName(" " + name + "\t");  // blanks around a name address the same entry
  a.Open();
  b.Open();
  EXPECT_EQ(a.File(), b.File());
  EXPECT_NE(a.Handle(), b.Handle());
  c.SetExclusive(true);
  EXPECT_EQ(CodeOf([&] { c.Open(); }), kErrAccessDenied);
  a.Close();
  b.Close();
  TFileHandler d;
  d.SetName(name);
  d.SetExclusive(true);
  d.Open();
  EXPECT_EQ(CodeOf([&] { a.Open(); }), kErrAccessDenied);
  EXPECT_EQ(CodeOf([&] { a.DeleteFile(); }), kErrAccessDenied);
  EXPECT_EQ(CodeOf([&] { a.RenameFile(folder.File("other.DAT")); }), kErrAccessDenied);
  d.Close();
}

TEST(FileRegistry, NamesDifferingInCaseAreDifferentFiles) {
  TempFolder folder;
  WriteAll(folder.File("a.DAT"), "one");
  TFileHandler a, b;
  a.SetName(folder.File("a.DAT"));
  b.SetName(folder.File("A.DAT"));
  a.Open();
  EXPECT_TRUE(FileList().Exists(folder.File("a.DAT"), false));
  EXPECT_FALSE(FileList().Exists(folder.File("A.DAT"), false));
  EXPECT_EQ(CodeOf([&] { b.Open(); }), kErrInvalidPath);
  a.Close();
}

TEST(FileRegistry, FailedOpenLeavesNoEntry) {
  TempFolder folder;
  const int32_t before = FileList().FileCount();
  bool read_only = false;
  TAbstractFile* file = nullptr;
  EXPECT_EQ(FileList().OpenFile(folder.File("missing.DAT"), false, false, false, read_only, file),
            -11010);
  EXPECT_EQ(FileList().CreateFile(folder.File("no/such/x.DAT"), false, false, file), -11010);
  EXPECT_EQ(FileList().FileCount(), before);
  EXPECT_FALSE(FileList().Exists(folder.File("no/such/x.DAT"), false));
}

TEST(DiskFile, MissingFileAndFolderRaise11010WithTheName) {
  TempFolder folder;
  TFileHandler h;
  h.SetName(folder.File("missing.DAT"));
  try {
    h.Open();
    FAIL() << "no exception";
  } catch (const EQuireEngineError& e) {
    EXPECT_EQ(std::string(e.what()),
              "Quire Engine Error # 11010 Invalid path or file name for table '" +
                  folder.File("missing.DAT") + "'");
  }
  EXPECT_FALSE(h.IsOpen());
  EXPECT_EQ(h.Name(), folder.File("missing.DAT"));
  h.SetName(folder.File("nofolder/x.DAT"));
  EXPECT_EQ(CodeOf([&] { h.CreateFile(); }), kErrInvalidPath);
}

TEST(DiskFile, HandlesShareOnePosition) {
  TempFolder folder;
  const std::string name = folder.File("pos.DAT");
  WriteAll(name, "0123456789");
  TFileHandler a, b;
  a.SetName(name);
  b.SetName(name);
  a.Open();
  b.Open();
  a.Seek(4, 0);
  char x = 0;
  b.Read(&x, 1, false);
  EXPECT_EQ(x, '4');
  EXPECT_EQ(a.Seek(0, 1), 5);
  EXPECT_EQ(a.GetSize(), 10);
  EXPECT_EQ(a.Seek(0, 1), 5);
  a.Close();
  b.Close();
}

TEST(DiskFile, WriteReadTruncateAndFlush) {
  TempFolder folder;
  const std::string name = folder.File("rw.DAT");
  TFileHandler h;
  h.SetName(name);
  h.CreateFile();
  h.Write("hello world", 11);
  h.Flush();
  EXPECT_EQ(ReadFileBytes(name), "hello world");
  h.Seek(5, 0);
  h.Write(nullptr, 0);
  EXPECT_EQ(ReadFileBytes(name), "hello");
  h.Seek(0, 0);
  char buffer[16];
  EXPECT_EQ(h.Read(buffer, 16, true), 5);
  EXPECT_EQ(CodeOf([&] {
              h.Seek(0, 0);
              h.Read(buffer, 16, false);
            }),
            kErrRead);
  h.Close();
}

TEST(DiskFile, WritesNeverReachTheLockArea) {
  TempFolder folder;
  TFileHandler h;
  h.SetName(folder.File("big.DAT"));
  h.CreateFile();
  h.Seek(0x7FFEFFFF, 0);
  h.Write("a", 1);  // the last byte below the lock area
  EXPECT_EQ(CodeOf([&] { h.Write("b", 1); }), kErrWrite);
  h.Seek(0xFFFFFFFFLL, 0);
  EXPECT_EQ(CodeOf([&] { h.Write("c", 1); }), kErrWrite);
  EXPECT_EQ(h.GetSize(), 0x7FFF0000);
  h.Close();
}

TEST(DiskFile, CreateWithMustBeNewLeavesAnExistingFile) {
  TempFolder folder;
  const std::string name = folder.File("new.DAT");
  WriteAll(name, "precious");
  TFileHandler h;
  h.SetName(name);
  EXPECT_EQ(CodeOf([&] { h.CreateFile(true); }), kErrTableExists);
  EXPECT_EQ(ReadFileBytes(name), "precious");
  h.CreateFile();
  EXPECT_EQ(ReadFileBytes(name), "");
  h.Close();
  h.SetName(folder.File("fresh.DAT"));
  h.CreateFile(true);
  h.Close();
}

TEST(DiskFile, TemporaryFileGoesAtLastCloseCreatedOrOpened) {
  TempFolder folder;
  const std::string name = folder.File("spill.TMP");
  WriteAll(name, "x");
  TFileHandler a, b;
  a.SetName(name);
  b.SetName(name);
  a.SetTemporary(true);
  a.Open();
  b.Open();
  a.Close();
  EXPECT_TRUE(std::filesystem::exists(name));
  b.Close();
  EXPECT_FALSE(std::filesystem::exists(name));
  TFileHandler created;
  created.SetName(name);
  created.SetTemporary(true);
  created.CreateFile();
  created.Write("spill", 5);
  EXPECT_TRUE(std::filesystem::exists(name));
  created.Close();
  EXPECT_FALSE(std::filesystem::exists(name));
}

// Injected below the file layer, so that it holds for root as well.
TEST(DiskFile, ReadOnlyFileOpensForReadingOnly) {
  TempFolder folder;
  const std::string name = folder.File("fixed.DAT");
  WriteAll(name, "fixed");
  OsFileFaults faults;
  faults.read_only_paths = {name};
  const TScopedOsFileFaults scoped(faults);
  TFileHandler h;
  h.SetName(name);
  h.Open();
  EXPECT_TRUE(h.ReadOnly());
  EXPECT_EQ(CodeOf([&] { h.Write("more", 4); }), kErrWrite);
  char buffer[5];
  EXPECT_EQ(h.Read(buffer, 5, false), 5);
  h.Close();
  EXPECT_EQ(CodeOf([&] { h.CreateFile(); }), kErrAccessDenied);
  EXPECT_EQ(ReadFileBytes(name), "fixed");
}

TEST(DiskFile, RenameTakesTheNewNameAndNeverReplaces) {
  TempFolder folder;
  WriteAll(folder.File("a.DAT"), "A");
  WriteAll(folder.File("b.DAT"), "B");
  TFileHandler h;
  h.SetName(folder.File("a.DAT"));
  EXPECT_EQ(CodeOf([&] { h.RenameFile(folder.File("b.DAT")); }), kErrUnknownOsError);
  EXPECT_EQ(ReadFileBytes(folder.File("b.DAT")), "B");
  h.RenameFile(folder.File("c.DAT"));
  EXPECT_EQ(h.Name(), folder.File("c.DAT"));
  EXPECT_EQ(ReadFileBytes(folder.File("c.DAT")), "A");
  h.DeleteFile();
  EXPECT_FALSE(std::filesystem::exists(folder.File("c.DAT")));
  EXPECT_EQ(CodeOf([&] { h.DeleteFile(); }), kErrInvalidPath);
}

std::string Pattern(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i * 7 + i / 251);
  return s;
}

TEST(CopyFiles, CopyOutAndInAcrossTheBufferSize) {
  TempFolder folder;
  for (size_t n : {0u, 1u, 65535u, 65536u, 200000u}) {
    SCOPED_TRACE(n);
    const std::string source_name = folder.File("src.DAT");
    WriteAll(source_name, Pattern(n));
    TFileHandler source;
    source.SetName(source_name);
    source.Open();
    source.CopyToFile(folder.File("out.DAT"));
    EXPECT_EQ(ReadFileBytes(folder.File("out.DAT")), Pattern(n));
    source.Close();
    // CopyIn replaces the whole content, also a longer one.
    TFileHandler target;
    target.SetName(folder.File("target.DAT"));
    target.CreateFile();
    const std::string longer(n + 1000, 'z');
    target.Write(longer.data(), static_cast<int32_t>(longer.size()));
    target.CopyFromFile(source_name);
    target.Flush();
    EXPECT_EQ(ReadFileBytes(folder.File("target.DAT")), Pattern(n));
    target.Close();
    FileList().DeleteFile(folder.File("out.DAT"), false);
    FileList().DeleteFile(source_name, false);
  }
}

TEST(CopyFiles, FailedCopyOutLeavesNoTarget) {
  TempFolder folder;
  const std::string target = folder.File("out.DBK");
  TFileHandler source;
  source.SetName(folder.File("src.DAT"));
  source.CreateFile();
  const std::string data = Pattern(3 * kCopyBufferSize);
  source.Write(data.data(), static_cast<int32_t>(data.size()));
  {
    OsFileFaults faults;
    faults.fail_write_at = 2;  // the disk fills up after the first buffer
    const TScopedOsFileFaults scoped(faults);
    EXPECT_EQ(CodeOf([&] { source.CopyToFile(target); }), kErrWrite);
  }
  EXPECT_FALSE(std::filesystem::exists(target));
  EXPECT_FALSE(FileList().Exists(target, false));
  source.CopyToFile(target);
  EXPECT_EQ(ReadFileBytes(target), data);
  source.Close();
  EXPECT_EQ(FileList().DeleteFile(target, false), 0);
}

TEST(CopyFiles, MemoryFileCopies) {
  auto h = MemoryHandler("mem-copy-src");
  h->CreateFile();
  h->Write("memory", 6);
  h->CopyToFile("mem-copy-dst");
  auto d = MemoryHandler("mem-copy-dst");
  d->Open();
  char buffer[6];
  d->Read(buffer, 6, false);
  EXPECT_EQ(std::string(buffer, 6), "memory");
  d->Close();
  d->DeleteFile();
  h->Close();
  h->DeleteFile();
}

TEST(CopyFiles, MissingSourceOrBusyTargetRaises) {
  TempFolder folder;
  TFileHandler h;
  h.SetName(folder.File("t.DAT"));
  h.CreateFile();
  EXPECT_EQ(CodeOf([&] { h.CopyFromFile(folder.File("none.DAT")); }), kErrInvalidPath);
  EXPECT_EQ(CodeOf([&] { h.CopyToFile(folder.File("t.DAT")); }), kErrAccessDenied);
  h.Close();
}

TEST(OsErrorMapping, EveryKindHasItsEngineCode) {
  const std::pair<OsFileError, EngineErrorCode> cases[] = {
      {OsFileError::NotFound, 11010},     {OsFileError::TooManyFiles, 11012},
      {OsFileError::AccessDenied, 11013}, {OsFileError::BadHandle, 11014},
      {OsFileError::NoMemory, 11016},     {OsFileError::NoDevice, 11023},
      {OsFileError::CrossDevice, 11025},  {OsFileError::Other, 11047},
      {OsFileError::Exists, 11047},
  };
  for (const auto& [error, code] : cases) EXPECT_EQ(EngineCodeFromOsError(error), code);
}

// A handler with static storage that was made before the registry's first
// use closes its file at exit, after static objects made later are gone.
TEST(FileRegistryDeathTest, OutlivesAHandlerThatClosesAtExit) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        static TFileHandler handler;
        handler.SetInMemory(true);
        handler.SetName("closed-at-exit");
        handler.CreateFile();
        std::exit(0);
      },
      testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace jw
