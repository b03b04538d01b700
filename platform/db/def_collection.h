// TDefCollection: the common shape of the field and index definition lists
// of a dataset: owned items in order, lookup by name without case, and the
// up-to-date flag through which the dataset fills the list on demand.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/db/db_errors.h"
#include "platform/rtl/persistent.h"
#include "platform/rtl/strings.h"

namespace jw {

class TDataSet;

template <class Item>
class TDefCollection : public TPersistent {
 public:
  explicit TDefCollection(TDataSet* dataset) : dataset_(dataset) {}

  TDataSet* DataSet() const { return dataset_; }
  int Count() const { return static_cast<int>(items_.size()); }
  Item* Items(int index) const {
    if (index < 0 || index >= Count()) {
      throw EListError(Format("List index out of bounds (%d)", index));
    }
    return items_[index].get();
  }
  // The position of the first item whose name equals name without case; -1.
  int IndexOf(const std::string& name) const {
    for (int i = 0; i < Count(); ++i) {
      if (SameText(items_[i]->Name(), name)) return i;
    }
    return -1;
  }
  Item* FindItem(const std::string& name) const {
    const int index = IndexOf(name);
    return index < 0 ? nullptr : items_[index].get();
  }
  void Clear() {
    items_.clear();
    Changed();
  }
  void Delete(int index) {
    Items(index);
    items_.erase(items_.begin() + index);
    Changed();
  }

  bool Updated() const { return updated_; }
  void SetUpdated(bool updated) { updated_ = updated; }
  // Has the dataset fill the list when it is out of date.
  void Update() {
    if (updated_ || dataset_ == nullptr) return;
    ++filling_;
    try {
      Fill();
    } catch (...) {
      --filling_;
      throw;
    }
    --filling_;
    updated_ = true;
  }

 protected:
  Item& AddItem(std::unique_ptr<Item> item) {
    items_.push_back(std::move(item));
    Changed();
    return *items_.back();
  }
  // A change the dataset did not make while filling the list counts as the
  // user's own definition, which the dataset may want to keep.
  void Changed() {
    if (filling_ == 0 && dataset_ != nullptr) NotifyChanged();
  }
  virtual void Fill() = 0;
  virtual void NotifyChanged() = 0;

 private:
  TDataSet* dataset_;
  std::vector<std::unique_ptr<Item>> items_;
  bool updated_ = false;
  int filling_ = 0;
};

}  // namespace jw
