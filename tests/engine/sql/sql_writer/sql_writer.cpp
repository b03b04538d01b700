// The writer of the shared-read soak, a second process started with exec.
// It reads one line "<folder/> <rows> <milliseconds> <seed>" and runs statements on
// the table "acc" of that folder for that long, each in its own
// transaction: moves of grp keys, swaps of two bal values, an extra row
// inserted and deleted again, 31 rows copied by INSERT ... SELECT and
// deleted again. Every state it commits holds rows + 0, 1, 31 or 32 rows,
// all with grp >= 0, and the rows with bal >= 1 hold each of 1 .. rows
// once. It answers "done <statements>" or "fail <message>".
#include <chrono>
#include <iostream>
#include <random>
#include <string>

#include "engine/core/data_session.h"
#include "engine/sql/query_statement.h"

int main() {
  std::string folder;
  int rows = 0;
  int64_t milliseconds = 0;
  uint32_t seed = 0;
  std::cin >> folder >> rows >> milliseconds >> seed;
  std::mt19937 rng(seed);
  int64_t statements = 0;
  try {
    jw::TDataSession session;
    jw::TDataDirectory* directory = session.OpenDirectory("DB", folder);
    const auto run = [&](const std::string& text) {
      jw::TQueryStatement statement(session, *directory);
      int32_t consumed = 0;
      statement.Prepare(text.c_str(), consumed);
      statement.Execute();
      ++statements;
    };
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (std::chrono::steady_clock::now() < end) {
      const int first = static_cast<int>(rng() % static_cast<uint32_t>(rows - 19)) + 1;
      const int value = static_cast<int>(rng() % static_cast<uint32_t>(rows / 2)) + 1;
      const std::string mirror = std::to_string(rows + 1);
      switch (rng() % 4) {
        case 0:
          run("UPDATE acc SET grp = grp + " + std::to_string(rng() % 49 + 1) +
              " WHERE id >= " + std::to_string(first) + " AND id < " + std::to_string(first + 20));
          run("UPDATE acc SET grp = grp - 50 WHERE grp >= 50");
          break;
        case 1:
          run("UPDATE acc SET bal = " + mirror + " - bal WHERE bal = " + std::to_string(value) +
              " OR bal = " + std::to_string(rows + 1 - value));
          break;
        case 2:
          run("INSERT INTO acc (id, grp, bal) VALUES (" + std::to_string(rows + 1000) + ", " +
              std::to_string(rng() % 50) + ", 0)");
          run("DELETE FROM acc WHERE id = " + std::to_string(rows + 1000));
          break;
        default:
          run("INSERT INTO acc (id, grp, bal) SELECT id + " + std::to_string(rows + 2000) +
              ", grp, 0 FROM acc WHERE id <= 31");
          run("DELETE FROM acc WHERE id >= " + std::to_string(rows + 2000));
          break;
      }
    }
    session.CloseDirectory(directory);
  } catch (const std::exception& e) {
    std::cout << "fail " << e.what() << std::endl;
    return 1;
  }
  std::cout << "done " << statements << std::endl;
  return 0;
}
