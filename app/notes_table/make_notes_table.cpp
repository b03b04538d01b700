// Build-time tool that makes the empty notes table of the ready folder; the
// end-to-end checks and the start-up benchmark also have it fill the new
// table with a desktop's worth of notes.
//
//   jw_make_notes_table <folder> [<notes>]
//
// With a count, note i says "Note i", sits on a 20-column grid 40 pixels
// apart (wrapping at 1,000 by 720 pixels), takes the shipped papers in turn
// and is stacked behind note i - 1. Refuses (status 1) when the folder holds
// a notes table already.
#include <charconv>
#include <cstdio>
#include <exception>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>

#include "app/notes_table/notes_table.h"
#include "engine/dataset/quire_database.h"
#include "engine/dataset/quire_session.h"
#include "engine/dataset/quire_table.h"
#include "engine/dataset/session_list.h"
#include "platform/db/field.h"

namespace jw {
namespace {

constexpr int kMaxNotes = 100000;
constexpr const char* kPapers[] = {"yellow.bmp", "lined.bmp", "oval.bmp", "tilted.bmp",
                                   "bubble.bmp"};

void FillScrapTable(const std::string& folder, int count) {
  InitQuireSessions();
  {
    TQuireDatabase database(nullptr);
    database.SetDatabaseName("Fill");
    database.SetDirectory(folder);
    database.SetConnected(true);
    database.Session()->AddPassword(kScrapTablePassword);
    TQuireTable table(nullptr);
    table.SetDatabaseName("Fill");
    table.SetTableName(kScrapTableName);
    table.Open();
    for (int i = 0; i < count; ++i) {
      table.Insert();
      table.FieldByName("message")->SetAsString("Note " + std::to_string(i));
      table.FieldByName("top")->SetAsInteger((i / 20) * 40 % 720);
      table.FieldByName("left")->SetAsInteger(i % 20 * 40 % 1000);
      table.FieldByName("paperFile")->SetAsString(kPapers[size_t(i) % std::size(kPapers)]);
      table.FieldByName("imagescale")->SetAsFloat(1.0);
      table.FieldByName("FontDesc")->SetAsString("DejaVu Sans,10,0");
      table.FieldByName("Zorder")->SetAsInteger(i);
      table.Post();
    }
    table.Close();
    database.SetConnected(false);
  }
  DoneQuireSessions();
}

int Run(int argc, char** argv) {
  int count = 0;
  if (argc == 3) {
    const std::string_view text = argv[2];
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), count);
    if (error != std::errc() || end != text.data() + text.size() || count < 0 ||
        count > kMaxNotes)
      argc = 0;
  }
  if (argc != 2 && argc != 3) {
    std::fprintf(stderr, "usage: %s <folder> [<notes, 0 to %d>]\n", argv[0], kMaxNotes);
    return 2;
  }
  try {
    CreateScrapTable(argv[1]);
    if (count > 0) FillScrapTable(argv[1], count);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "jw_make_notes_table: %s\n", error.what());
    return 1;
  }
  return 0;
}

}  // namespace
}  // namespace jw

int main(int argc, char** argv) {
  return jw::Run(argc, argv);
}
