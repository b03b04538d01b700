// TQuireSessionList: every session of the process in creation order, the
// numbers taken by automatic session names, and the one global engine lock
// that serialises session-level engine work. The dataset components' start-up
// creates the list with the default session "Default"; their shutdown frees
// every session, the default one last, which stops the engine.
#pragma once

#include <string>
#include <vector>

#include "platform/rtl/bits.h"
#include "platform/rtl/sync.h"

namespace jw {

class TQuireSession;

class TQuireSessionList {
 public:
  TQuireSessionList() = default;
  // Frees every session.
  ~TQuireSessionList();
  TQuireSessionList(const TQuireSessionList&) = delete;
  TQuireSessionList& operator=(const TQuireSessionList&) = delete;

  // The first session ever added becomes the default session.
  void AddSession(TQuireSession* session);
  void RemoveSession(TQuireSession* session);
  // An empty name gives the default session; else the first session of that
  // name without regard to case, or nullptr.
  TQuireSession* FindSession(const std::string& name);
  // As FindSession, but raises "Session name x is not valid." for none.
  TQuireSession* GetSession(const std::string& name);
  // Frees every session, the last first.
  void FreeAllSessions();

  int Count();
  TQuireSession* Sessions(int index);
  TQuireSession* Default() const { return default_; }

  // The global engine lock; re-entrant for the thread that holds it.
  TCriticalSection& EngineLock() { return engine_lock_; }
  // Takes the lowest free automatic session number; under the engine lock.
  int TakeAutoNumber();
  void ReleaseAutoNumber(int number);

 private:
  TCriticalSection list_lock_;
  std::vector<TQuireSession*> sessions_;
  TQuireSession* default_ = nullptr;
  TBits auto_numbers_;
  TCriticalSection engine_lock_;
};

// The session list while the dataset components are started, else nullptr.
TQuireSessionList* Sessions();
// The session "Default".
TQuireSession* DefaultSession();

// Start-up and shutdown of the dataset components, counted: the first start
// makes the list and the default session, the last stop frees them.
void InitQuireSessions();
void DoneQuireSessions();

}  // namespace jw
