// The writer of the interrupted-commit test, a process that dies by SIGKILL
// inside a commit. It reads one line "<folder/> <exclusive> <first key>
// <count> <write>", opens the table "ROOTS" in that folder (exclusive when
// 1), inserts count rows from the first key on in one transaction and
// commits, saying "commit" as it starts. With write 0 the commit runs
// through (unless the test kills the writer) and the writer answers
// "committed <writes> <microseconds>", the file writes the commit made and
// its time. Else the commit's write of that number fails and the writer
// kills itself at once: the disk is left as a kill after the write before
// it leaves it.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <iostream>
#include <string>
#include <vector>

#include "engine/core/data_cursor.h"
#include "engine/core/data_directory.h"
#include "engine/core/data_session.h"
#include "platform/os/os_file_faults.h"
#include "tests/engine/core/commit_rows.h"

int main() {
  std::string folder;
  int exclusive = 0;
  int32_t first = 0;
  int32_t count = 0;
  int64_t kill_at = 0;
  std::cin >> folder >> exclusive >> first >> count >> kill_at;
  try {
    jw::TDataSession session;
    jw::TDataDirectory* directory = session.OpenDirectory("DB", folder);
    jw::TDataCursor cursor(directory);
    cursor.SetTableName("ROOTS");
    cursor.SetExclusive(exclusive != 0);
    cursor.Open();
    std::vector<uint8_t> image(static_cast<size_t>(cursor.GetRecordSize()));
    directory->StartTransaction();
    for (int32_t key = first; key < first + count; ++key) {
      cursor.InitRecord(image.data());
      jw::test::FillRootsRow(cursor, image.data(), key);
      cursor.InsertRecord(image.data(), false);
    }
    jw::OsFileFaults faults;
    faults.fail_write_at = kill_at;
    std::cout << "commit" << std::endl;
    const auto start = std::chrono::steady_clock::now();
    {
      jw::TScopedOsFileFaults scope(faults);
      try {
        directory->Commit(true);
      } catch (...) {
        if (kill_at > 0) kill(getpid(), SIGKILL);
        throw;
      }
    }
    const auto took = std::chrono::steady_clock::now() - start;
    std::cout << "committed " << faults.writes << " "
              << std::chrono::duration_cast<std::chrono::microseconds>(took).count() << std::endl;
    cursor.Close(false);
    session.CloseDirectory(directory);
  } catch (const std::exception& e) {
    std::cout << "fail " << e.what() << std::endl;
    return 1;
  }
  return 0;
}
