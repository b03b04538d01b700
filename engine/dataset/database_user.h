// TQuireDatabaseUser: what a database component and its session ask of a
// dataset bound to them. The dataset base's TQuireDBDataSet implements it; a
// database keeps the datasets that use it as a list of these.
#pragma once

#include <string>

namespace jw {

class TQuireDatabaseUser {
 public:
  virtual ~TQuireDatabaseUser() = default;

  // The database closes: the dataset closes and, as it does, leaves the
  // database's list (TQuireDatabase::RemoveDataSet).
  virtual void CloseForDatabase() = 0;
  // The database closed while the dataset was still on its list: the dataset
  // forgets the database and its in-use reasons without releasing it.
  virtual void DatabaseDetached() = 0;

  virtual const std::string& SessionName() const = 0;
  // The published setter, with its checks.
  virtual void SetSessionName(const std::string& name) = 0;
  // Stores the name without checks: the dataset joined the owner of an
  // auto-session.
  virtual void StoreSessionName(const std::string& name) = 0;
};

}  // namespace jw
