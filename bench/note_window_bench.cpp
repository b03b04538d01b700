// The cost of note windows: repainting a note full of text, one keystroke,
// creating and showing a desktop's worth of notes, and the note store's
// start and exit with that many notes: loading them from the notes table
// into shown windows, and saving them all back. The shipped papers are
// copied into the paper folder beside the benchmark executable.
#include <malloc.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <QCoreApplication>
#include <QWidget>
#include <QtGlobal>

#include "app/data_module.h"
#include "app/folders.h"
#include "app/notes_table/notes_table.h"
#include "app/scrap_form.h"
#include "app/settings.h"
#include "engine/dataset/session_list.h"
#include "platform/gui/application.h"
#include "platform/gui/dialogs_scripted.h"
#include "platform/rtl/exceptions.h"

namespace jw {
namespace {

const char* const kPapers[] = {"yellow.bmp", "lined.bmp", "oval.bmp", "tilted.bmp", "bubble.bmp"};

void CopyShippedPapers() {
  std::filesystem::create_directories(PaperFolder());
  for (const char* name : kPapers) {
    std::filesystem::copy_file(std::string(JW_PAPER_DIR) + "/" + name, PaperFolder() + name,
                               std::filesystem::copy_options::overwrite_existing);
  }
}

// Words of varied length with a line break now and then, like typed notes.
std::string NoteText(size_t length) {
  static const char* const kWords[] = {"the",   "quick", "brown",     "fox,", "jumps", "over",
                                       "lazy",  "dog.",  "Remember",  "milk", "and",   "call",
                                       "Jo at", "5pm;",  "tomorrow!", "a",    "note"};
  std::string text;
  for (size_t i = 0; text.size() < length; ++i) {
    text += kWords[(i * 7 + i / 3) % std::size(kWords)];
    text += i % 37 == 36 ? '\r' : ' ';
  }
  text.resize(length);
  return text;
}

std::unique_ptr<TScrapForm> MakeNote(const char* paper, double scale) {
  std::unique_ptr<TScrapForm> form(MakeForm<TScrapForm>(nullptr));
  form->PaperFile = paper;
  form->ImageScale = scale;
  form->RebuildShape();
  return form;
}

// A 2,000-character note at scale 4, shown and painted once.
std::unique_ptr<TScrapForm> ShownLargeNote() {
  std::unique_ptr<TScrapForm> form = MakeNote("yellow.bmp", 4);
  form->Message = NoteText(2000);
  form->Show();
  QCoreApplication::processEvents();
  return form;
}

void BM_NoteRepaint(benchmark::State& state) {
  std::unique_ptr<TScrapForm> form = ShownLargeNote();
  for (auto _ : state) form->sfImageForm1->Repaint();
}
BENCHMARK(BM_NoteRepaint)->Unit(benchmark::kMillisecond);

// Typing and deleting one character in turn keeps the note's length, and
// the event loop paints what the keystroke asked for.
void BM_NoteKeystroke(benchmark::State& state) {
  std::unique_ptr<TScrapForm> form = ShownLargeNote();
  bool type = true;
  for (auto _ : state) {
    char32_t key = type ? U'x' : char32_t(8);
    type = !type;
    form->FormKeyPress(nullptr, key);
    QCoreApplication::processEvents();
  }
}
BENCHMARK(BM_NoteKeystroke)->Unit(benchmark::kMillisecond);

// The heap each shown note holds, with the papers spread over the notes.
void BM_NoteMemory(benchmark::State& state) {
  const auto count = static_cast<size_t>(state.range(0));
  for (auto _ : state) {
    MakeNote(kPapers[0], 1.0)->Show();
    QCoreApplication::processEvents();
    const size_t before = mallinfo2().uordblks;
    std::vector<std::unique_ptr<TScrapForm>> notes;
    std::vector<TCustomForm*> bottom_to_top;
    for (size_t i = 0; i < count; ++i) {
      notes.push_back(MakeNote(kPapers[i % std::size(kPapers)], 1.0));
      bottom_to_top.push_back(notes.back().get());
    }
    TCustomForm::ShowStacked(bottom_to_top);
    QCoreApplication::processEvents();
    state.counters["kB_per_note"] = double(mallinfo2().uordblks - before) / 1024.0 / double(count);
  }
}
BENCHMARK(BM_NoteMemory)->Arg(200)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_ShowNotes(benchmark::State& state) {
  const auto count = static_cast<size_t>(state.range(0));
  for (auto _ : state) {
    std::vector<std::unique_ptr<TScrapForm>> notes;
    std::vector<TCustomForm*> bottom_to_top;
    for (size_t i = 0; i < count; ++i) {
      notes.push_back(MakeNote(kPapers[i % std::size(kPapers)], 1.0));
      notes.back()->SetLeft(int(i % 20) * 40);
      notes.back()->SetTop(int(i / 20) * 40);
      bottom_to_top.push_back(notes.back().get());
    }
    TCustomForm::ShowStacked(bottom_to_top);
    QCoreApplication::processEvents();
    state.PauseTiming();
    notes.clear();
    QCoreApplication::processEvents();
    // Making a window waits for the display to take the old ones down, which
    // would otherwise slow the next round.
    QWidget().winId();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_ShowNotes)->Arg(200)->Unit(benchmark::kMillisecond);

// A notes table in a folder of its own holding count notes of 200
// characters, spread over the papers and the screen.
class StoredNotes {
 public:
  explicit StoredNotes(size_t count) {
    std::string pattern = (std::filesystem::temp_directory_path() / "jw-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw Exception("Cannot make a folder for the notes");
    folder_ = pattern + "/";
    CreateScrapTable(folder_);
    std::unique_ptr<TDM> dm = Start();
    for (size_t i = 0; i < count; ++i) {
      std::unique_ptr<TScrapForm> note = MakeNote(kPapers[i % std::size(kPapers)], 1.0);
      note->Message = NoteText(200);
      note->SetLeft(int(i % 20) * 40);
      note->SetTop(int(i / 20) * 40);
      note->Show();
      note.release();
    }
    if (!dm->SaveAllScrapsOrAsk()) throw Exception("The notes were not saved");
    CloseNotes();
  }
  ~StoredNotes() {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }

  // The data module of a start: the notes loaded and shown.
  std::unique_ptr<TDM> Start() const {
    return std::unique_ptr<TDM>(MakeForm<TDM>(nullptr, nullptr, folder_));
  }

  static void CloseNotes() {
    for (int i = Screen->FormCount() - 1; i >= 0; --i) {
      if (auto* note = dynamic_cast<TScrapForm*>(Screen->Forms(i))) delete note;
    }
    QCoreApplication::processEvents();
    QWidget().winId();
  }

 private:
  std::string folder_;
};

void BM_LoadAllScraps(benchmark::State& state) {
  const StoredNotes stored(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    std::unique_ptr<TDM> dm = stored.Start();
    state.PauseTiming();
    StoredNotes::CloseNotes();
    dm.reset();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_LoadAllScraps)->Arg(200)->Unit(benchmark::kMillisecond);

// Every note changed since it was loaded, as after a day's work.
void BM_SaveAllScraps(benchmark::State& state) {
  const StoredNotes stored(static_cast<size_t>(state.range(0)));
  std::unique_ptr<TDM> dm = stored.Start();
  int round = 0;
  for (auto _ : state) {
    state.PauseTiming();
    ++round;
    for (int i = 0; i < Screen->FormCount(); ++i) {
      if (auto* note = dynamic_cast<TScrapForm*>(Screen->Forms(i)))
        note->Message = NoteText(200 + size_t(round % 50));
    }
    state.ResumeTiming();
    if (!dm->SaveAllScrapsOrAsk()) state.SkipWithError("the notes were not saved");
  }
  StoredNotes::CloseNotes();
}
BENCHMARK(BM_SaveAllScraps)->Arg(200)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace jw

namespace jw {
namespace {

// The offscreen platform warns for every shaped window it shows.
QtMessageHandler previous_handler = nullptr;
void DropUnsupportedWarnings(QtMsgType type, const QMessageLogContext& context,
                             const QString& message) {
  if (message.startsWith("This plugin does not support")) return;
  previous_handler(type, context, message);
}

}  // namespace
}  // namespace jw

int main(int argc, char** argv) {
  jw::previous_handler = qInstallMessageHandler(jw::DropUnsupportedWarnings);
  jw::InitQuireSessions();
  jw::TApplication app(argc, argv);
  // A question would wait for an answer nobody gives; without one it raises.
  jw::SetDialogService(std::make_unique<jw::ScriptedDialogs>());
  jw::ScrapSettings.DefaultFontDesc = "DejaVu Sans,12,0";
  jw::CopyShippedPapers();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  jw::DoneQuireSessions();
  return 0;
}
