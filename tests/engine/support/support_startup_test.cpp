#include "engine/support/support_startup.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "engine/support/collation_maps.h"
#include "engine/support/engine_errors.h"
#include "engine/support/engine_heap.h"
#include "engine/support/file_list.h"
#include "engine/support/language_settings.h"
#include "engine/support/locale_list.h"
#include "engine/support/records_bitmap.h"
#include "platform/os/locale_data.h"
#include "platform/rtl/strings.h"
#include "platform/rtl/sync.h"

namespace jw {
namespace {

class TempFolder {
 public:
  TempFolder() {
    char pattern[] = "/tmp/jw_support_XXXXXX";
    path_ = mkdtemp(pattern);
  }
  ~TempFolder() { std::filesystem::remove_all(path_); }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

TEST(SupportStartup, StartsAndStopsTwiceInOneProcess) {
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    DoneEngineSupport();
    EXPECT_FALSE(EngineSupportStarted());
    EXPECT_FALSE(LanguageCharMapsCreated());
    InitEngineSupport();
    EXPECT_TRUE(EngineSupportStarted());
    EXPECT_TRUE(LanguageCharMapsCreated());
    EXPECT_EQ(LanguageCharMaps().Count(), 0);
    InitEngineSupport();  // changes nothing

    TCharOrderMap map;
    GetCharOrderMap(0x0409, 0, map);
    EXPECT_EQ(LanguageCharMaps().Count(), 1);

    DoneEngineSupport();
    EXPECT_FALSE(LanguageCharMapsCreated());
    DoneEngineSupport();  // does nothing
  }
  InitEngineSupport();
}

TEST(SupportStartup, CreatesInOrderAndFreesInReverseTwice) {
  DoneEngineSupport();
  std::vector<std::string> steps;
  OnEngineSupportStep = [&steps](const std::string& name, bool starting) {
    steps.push_back((starting ? "+" : "-") + name);
  };
  for (int round = 0; round < 2; ++round) {
    InitEngineSupport();
    InitEngineSupport();  // already started: no step
    DoneEngineSupport();
    DoneEngineSupport();  // already stopped: no step
  }
  OnEngineSupportStep = nullptr;
  InitEngineSupport();
  const std::vector<std::string> once = {"+bitmap pool", "+registry", "+map cache",
                                         "-map cache",   "-registry", "-bitmap pool"};
  std::vector<std::string> twice = once;
  twice.insert(twice.end(), once.begin(), once.end());
  EXPECT_EQ(steps, twice);
}

TEST(SupportStartup, ShutdownFreesPooledBitmapsAndClosedFiles) {
  TempFolder folder;
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    InitEngineSupport();
    TRecordsBitmap* bitmap = GetRecordsBitmap();
    bitmap->SetRecordCount(100);
    ReleaseRecordsBitmap(bitmap);
    EXPECT_GT(RecordsBitmapStack().Count(), 0);

    // A memory file kept between uses, and a disk file still open.
    TAbstractFile* memory = nullptr;
    const int32_t memory_handle = FileList().CreateFile("KEPT.DAT", true, false, memory);
    ASSERT_GE(memory_handle, 0);
    ASSERT_EQ(FileList().CloseFile(memory, true, memory_handle), 0);
    ASSERT_TRUE(FileList().Exists("KEPT.DAT", true));
    const std::string disk_name = folder.Path() + "/OPEN" + std::to_string(round) + ".DAT";
    TAbstractFile* disk = nullptr;
    const int32_t disk_handle = FileList().CreateFile(disk_name, false, false, disk);
    ASSERT_GE(disk_handle, 0);
    const int32_t before = FileList().FileCount();

    const int64_t heap_before_done = EngineBytesInUse();
    DoneEngineSupport();
    EXPECT_EQ(RecordsBitmapStack().Count(), 0);
    EXPECT_LT(EngineBytesInUse(), heap_before_done);  // the bitmap's words went back
    EXPECT_FALSE(FileList().Exists("KEPT.DAT", true));
    // The open file stays registered and usable until its handler closes it.
    EXPECT_EQ(FileList().FileCount(), before - 1);
    EXPECT_EQ(disk->Write(disk_handle, "x", 1), 1);
    EXPECT_EQ(FileList().CloseFile(disk, false, disk_handle), 0);
  }
  InitEngineSupport();
}

TEST(CollationMaps, LanguageZeroIsTheIdentity) {
  for (uint16_t sort : {0, 1, 5}) {
    TCharOrderMap map;
    GetCharOrderMap(0, sort, map);
    for (int k = 0; k < 256; ++k) ASSERT_EQ(map[k], k);
  }
}

TEST(CollationMaps, OtherLocalesArePermutationsInStringSortOrder) {
  const uint32_t lcids[] = {0x0409, 0x0407, 0x10407, 0x040A, 0x0419, 0x041F, 0x0408, 0x041E};
  for (const uint32_t lcid : lcids) {
    SCOPED_TRACE(lcid);
    TCharOrderMap map;
    GetCharOrderMap(static_cast<uint16_t>(lcid & 0xFFFF), static_cast<uint16_t>(lcid >> 16), map);
    std::set<int> seen(map, map + 256);
    EXPECT_EQ(seen.size(), 256u);
    for (int k = 0; k + 1 < 256; ++k) {
      ASSERT_LE(
          CompareCharStringSort(lcid, static_cast<char>(map[k]), static_cast<char>(map[k + 1])), 0)
          << k;
    }
  }
}

TEST(CollationMaps, OneEntryPerLanguageAndSort) {
  // Shutdown empties the cache only after a start-up, which an earlier test
  // may not have run.
  InitEngineSupport();
  DoneEngineSupport();
  // A cache that first use made while the library was stopped goes as well.
  TCharOrderMap unused;
  GetCharOrderMap(0x0409, 0, unused);
  ASSERT_TRUE(LanguageCharMapsCreated());
  DoneEngineSupport();
  EXPECT_FALSE(LanguageCharMapsCreated());
  InitEngineSupport();
  TCharOrderMap first;
  TCharOrderMap again;
  GetCharOrderMap(0x0407, 0, first);
  GetCharOrderMap(0x0407, 1, again);
  EXPECT_EQ(LanguageCharMaps().Count(), 2);
  EXPECT_NE(std::string(first, first + 256), std::string(again, again + 256));
  GetCharOrderMap(0x0407, 0, again);
  EXPECT_EQ(LanguageCharMaps().Count(), 2);
  EXPECT_EQ(std::string(first, first + 256), std::string(again, again + 256));
  try {
    GetCharOrderMap(0x0411, 0, again);
    FAIL() << "no exception";
  } catch (const EQuireEngineError& e) {
    EXPECT_EQ(e.Code(), kErrLanguageDriver);
  }
  EXPECT_EQ(LanguageCharMaps().Count(), 2);
}

TEST(TempFileNames, PrefixCounterAndExtension) {
  TempFolder folder;
  const std::string prefix = IntToStr(static_cast<int64_t>(GetCurrentThreadId())).substr(0, 5);
  const std::string first = MakeTempFileName(folder.Path(), ".TMP", false);
  EXPECT_EQ(first, folder.Path() + "/" + prefix + "0.TMP");
  EXPECT_TRUE(std::filesystem::exists(first));
  const std::string second = MakeTempFileName(folder.Path(), ".TMP", false);
  EXPECT_EQ(second, folder.Path() + "/" + prefix + "1.TMP");
  EXPECT_EQ(FileList().Exists(second, false), true);
}

TEST(TempFileNames, MemoryFilesReserveTheirNames) {
  const std::string a = MakeTempFileName("MEMORY", ".TMP", true);
  const std::string b = MakeTempFileName("MEMORY", ".TMP", true);
  EXPECT_NE(a, b);
  EXPECT_TRUE(FileListExists(a, true));
  EXPECT_EQ(FileList().DeleteFile(a, true), 0);
  EXPECT_EQ(FileList().DeleteFile(b, true), 0);
}

TEST(TempFileNames, MissingFolderRaisesInsteadOfLooping) {
  EXPECT_THROW(MakeTempFileName("/nonexistent/jw/folder", ".TMP", false), EQuireEngineError);
}

TEST(UniversalName, TwoSpellingsOfOneFolderAreOneName) {
  TempFolder folder;
  std::filesystem::create_directory(folder.Path() + "/sub");
  EXPECT_EQ(GetUniversalName(folder.Path() + "/sub/../sub/"),
            GetUniversalName(folder.Path() + "/sub"));
  EXPECT_EQ(GetUniversalName(folder.Path() + "/sub"), folder.Path() + "/sub");
  EXPECT_EQ(GetUniversalName(folder.Path() + "/missing"), "");
}

TEST(EngineLocales, ListHasTheNamesAndIdsOfTheLocaleTable) {
  const auto list = EngineLocaleList();
  ASSERT_EQ(list.size(), 99u);
  EXPECT_STREQ(list[0].Name, "ANSI Standard");
  EXPECT_EQ(list[0].LanguageId, 0);
  const std::pair<const char*, uint16_t> telling[] = {{"Afrikaans", 0x0436},
                                                      {"Arabic (Saudi Arabia)", 0x0401},
                                                      {"Arabic (Qatar)", 0x4001},
                                                      {"English (USA)", 0x0409},
                                                      {"English (UK)", 0x0809},
                                                      {"German (Standard)", 0x0407},
                                                      {"Portuguese (Standard)", 0x0816},
                                                      {"Portuguese (Brazilian)", 0x0416},
                                                      {"Serbian (Latin)", 0x081A},
                                                      {"Serbian (Cyrillic)", 0x0C1A},
                                                      {"Spanish (Castilian)", 0x040A},
                                                      {"Spanish (Modern)", 0x0C0A},
                                                      {"Spanish (Puerto Rico)", 0x500A},
                                                      {"Ukranian", 0x0422},
                                                      {"Vietnamese", 0x042A}};
  for (const auto& [name, id] : telling) {
    bool found = false;
    for (const TEngineLocale& locale : list) {
      if (std::string(locale.Name) == name) {
        found = true;
        EXPECT_EQ(locale.LanguageId, id) << name;
      }
    }
    EXPECT_TRUE(found) << name;
  }
  EXPECT_STREQ(list[98].Name, "Vietnamese");
  EXPECT_STREQ(list[28].Name, "English (USA)");
  // Every listed language is a locale of the platform table and back.
  std::set<uint16_t> ids;
  for (size_t i = 1; i < list.size(); ++i) {
    EXPECT_TRUE(IsValidLocale(list[i].LanguageId)) << list[i].Name;
    ids.insert(list[i].LanguageId);
  }
  EXPECT_EQ(ids.size(), 98u);
  for (const TLocaleEntry& entry : LocaleEntries()) EXPECT_EQ(ids.count(entry.LanguageId), 1u);
}

}  // namespace
}  // namespace jw
