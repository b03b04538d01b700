// The program: starts the engine's sessions and the application object,
// takes the instance lock (a second start from the same folder only tells
// the user and ends), creates the manager window, the data module, which loads the notes, and
// the about box, and runs the event loop
// until the manager window closes: through "Exit", or when the program is
// ended from outside (a signal or the end of the desktop session), which
// closes it the same way so that notes and settings are saved; when the X
// server goes away they are saved without a question.
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "app/about_box.h"
#include "app/data_module.h"
#include "app/scrap_main.h"
#include "app/session_end.h"
#include "app/settings.h"
#include "components/kit_application.h"
#include "engine/dataset/session_list.h"
#include "platform/gui/application.h"
#include "platform/gui/dialogs.h"

namespace jw {
namespace {

// The dataset components' sessions, the default one among them, for the
// whole run: the note table is closed before they go.
class EngineSessions {
 public:
  EngineSessions() { InitQuireSessions(); }
  ~EngineSessions() { DoneQuireSessions(); }
  EngineSessions(const EngineSessions&) = delete;
  EngineSessions& operator=(const EngineSessions&) = delete;
};

// The manager window and the data module while the event loop runs with
// every note loaded.
TScrapMain* running_main = nullptr;
TDM* running_data = nullptr;

// Sets the two above for its lifetime.
class RunningNotes {
 public:
  RunningNotes(TScrapMain& scrap_main, TDM& data_module) {
    running_main = &scrap_main;
    running_data = &data_module;
  }
  ~RunningNotes() {
    running_main = nullptr;
    running_data = nullptr;
  }
  RunningNotes(const RunningNotes&) = delete;
  RunningNotes& operator=(const RunningNotes&) = delete;
};

// Qt ends the process through exit() when the X server goes away, from
// inside its event loop: nothing unwinds and nothing can be asked. What the
// close saves is saved here, failures go to stderr, the notes table is
// closed, and the process ends with Qt's status before the rest of exit
// frees the engine's sessions under windows that were never destroyed.
void SaveWhenTheDisplayEnds() {
  if (running_main == nullptr) return;
  if (const std::string problem = running_data->TrySaveAllScraps(); !problem.empty())
    std::fprintf(stderr, "jotterwick: The scraps could not be saved. %s\n", problem.c_str());
  running_data->DataModuleDestroy(running_data);
  try {
    SaveSettings(running_main->IniFile());
  } catch (const std::exception& error) {
    std::fprintf(stderr, "jotterwick: The settings could not be saved. %s\n", error.what());
  }
  std::_Exit(1);
}

int RunProgram(int& argc, char** argv) {
  EngineSessions engine;
  TApplication app(argc, argv);
  app.SetTitle("Jotterwick");
  try {
    // Two copies on one notes table would each write their own notes back
    // over the other's.
    if (KitApplication().InstanceRunning()) {
      ShowMessage("Jotterwick is already running.");
      return 0;
    }
    TScrapMain* scrap_main = nullptr;
    // Watching from before the windows exist: an end asked for while the
    // program starts ends it too.
    TSessionEndWatch session_end([&] {
      if (scrap_main != nullptr) {
        scrap_main->Close();
      } else {
        app.Terminate();
      }
    });
    scrap_main = app.CreateForm<TScrapMain>();
    TDM* data_module = MakeForm<TDM>(&app, scrap_main->Tips);
    // Only a store that has finished loading saves: before that every note
    // is as stored.
    scrap_main->SaveAllScraps = [data_module] { return data_module->SaveAllScrapsOrAsk(); };
    scrap_main->AboutBox = app.CreateForm<TAboutBox>();
    const RunningNotes running(*scrap_main, *data_module);
    std::atexit(SaveWhenTheDisplayEnds);
    app.Run();
  } catch (const std::exception& error) {
    // Start-up failed before the event loop could show it.
    app.ShowException(error);
    return 1;
  }
  return 0;
}

}  // namespace
}  // namespace jw

int main(int argc, char** argv) {
  try {
    return jw::RunProgram(argc, argv);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "jotterwick: %s\n", error.what());
    return 1;
  }
}
