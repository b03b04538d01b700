// TDirtyMark and TDirtyList: a cache object's dirty flag that, while the
// object is cached, keeps it on its cache's list of dirty objects, so that a
// write-back visits the dirty objects only, however many clean ones the
// cache holds. Every assignment of the flag goes through the mark, so no
// path that dirties or cleans an object can leave the list behind.
#pragma once

#include <cstdint>

namespace jw {

template <typename T>
class TDirtyList;

template <typename T>
class TDirtyMark {
 public:
  explicit TDirtyMark(T* object) : object_(object) {}
  TDirtyMark(const TDirtyMark&) = delete;
  TDirtyMark& operator=(const TDirtyMark&) = delete;

  operator bool() const { return dirty_; }
  TDirtyMark& operator=(bool dirty) {
    if (dirty == dirty_) return *this;
    dirty_ = dirty;
    if (list_ != nullptr) {
      if (dirty) {
        list_->Link(this);
      } else {
        list_->Unlink(this);
      }
    }
    return *this;
  }

 private:
  friend class TDirtyList<T>;

  T* object_;
  bool dirty_ = false;
  // The list of the cache that holds the object; nullptr while uncached.
  TDirtyList<T>* list_ = nullptr;
  TDirtyMark* previous_ = nullptr;
  TDirtyMark* next_ = nullptr;
};

// The dirty objects of one cache, in no order. An object joins the cache
// with Attach and leaves it with Detach; between the two its mark keeps its
// place on the list right.
template <typename T>
class TDirtyList {
 public:
  int32_t Count() const { return count_; }

  void Attach(TDirtyMark<T>& mark) {
    mark.list_ = this;
    if (mark.dirty_) Link(&mark);
  }
  void Detach(TDirtyMark<T>& mark) {
    if (mark.list_ != this) return;
    if (mark.dirty_) Unlink(&mark);
    mark.list_ = nullptr;
  }
  template <typename Visit>
  void ForEach(Visit visit) const {
    for (const TDirtyMark<T>* mark = first_; mark != nullptr; mark = mark->next_) {
      visit(mark->object_);
    }
  }

 private:
  friend class TDirtyMark<T>;

  void Link(TDirtyMark<T>* mark) {
    mark->previous_ = nullptr;
    mark->next_ = first_;
    if (first_ != nullptr) first_->previous_ = mark;
    first_ = mark;
    ++count_;
  }
  void Unlink(TDirtyMark<T>* mark) {
    if (mark->previous_ != nullptr) {
      mark->previous_->next_ = mark->next_;
    } else {
      first_ = mark->next_;
    }
    if (mark->next_ != nullptr) mark->next_->previous_ = mark->previous_;
    mark->previous_ = nullptr;
    mark->next_ = nullptr;
    --count_;
  }

  TDirtyMark<T>* first_ = nullptr;
  int32_t count_ = 0;
};

}  // namespace jw
