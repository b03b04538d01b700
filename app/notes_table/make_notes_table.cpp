// Build-time tool that makes the empty notes table of the ready folder.
//
//   jw_make_notes_table <folder>
//
// Refuses (status 1) when the folder holds a notes table already.
#include <cstdio>
#include <exception>

#include "app/notes_table/notes_table.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
    return 2;
  }
  try {
    jw::CreateScrapTable(argv[1]);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "jw_make_notes_table: %s\n", error.what());
    return 1;
  }
  return 0;
}
