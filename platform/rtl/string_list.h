// TStrings, the host library's abstract list of texts with attached
// pointers (text, comma text, name=value pairs, streams, change events), and
// TStringList, its stored implementation with sorting and duplicate rules.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/rtl/persistent.h"

namespace jw {

class TStream;

class TStrings : public TPersistent {
 public:
  // The storage a descendant provides. Index errors raise
  // EListError "List index out of bounds (<index>)".
  virtual int Count() const = 0;
  virtual std::string Strings(int index) const = 0;
  virtual void SetStrings(int index, const std::string& s);
  virtual void* Objects(int index) const = 0;
  virtual void SetObjects(int index, void* object) = 0;
  virtual void InsertObject(int index, const std::string& s, void* object) = 0;
  virtual void Delete(int index) = 0;
  virtual void Clear() = 0;

  // Appends (or, in a sorted list, inserts in order) and returns the index.
  virtual int AddObject(const std::string& s, void* object);
  int Add(const std::string& s) { return AddObject(s, nullptr); }
  void Insert(int index, const std::string& s) { InsertObject(index, s, nullptr); }
  virtual void Exchange(int index1, int index2);
  void AddStrings(const TStrings& source);
  // Replaces the content with the source's texts and objects.
  void Assign(const TStrings& source);
  // A TStrings source as above; other sources as TPersistent decides.
  void Assign(TPersistent* source) override;

  // First index whose text matches (see CompareStrings), or -1.
  virtual int IndexOf(const std::string& s) const;
  int IndexOfObject(void* object) const;
  // First index of a "name=..." line whose name matches, or -1.
  int IndexOfName(const std::string& name) const;

  // Every line followed by CR LF.
  std::string Text() const;
  // Replaces the content with the lines of `text`; CR LF, CR and LF each end
  // a line, and a break at the very end adds no empty line.
  void SetText(const std::string& text);
  // Items joined with ','; an item holding a byte <= ' ', a '"' or a ',' is
  // written in double quotes with inner quotes doubled. A single empty item
  // is written as "".
  std::string CommaText() const;
  // Replaces the content with the items of a comma text: quoted items as
  // written above, unquoted items end at a blank or a comma.
  void SetCommaText(const std::string& text);

  // The part of line `index` before its first '=' (empty without '=').
  std::string Names(int index) const;
  // The part after '=' of the first line named `name`; empty when absent.
  std::string Values(const std::string& name) const;
  // Sets the value of the first line named `name`, adding "name=value" when
  // absent; an empty value deletes the line.
  void SetValues(const std::string& name, const std::string& value);

  // Changes between BeginUpdate and the matching EndUpdate raise no events;
  // the first BeginUpdate raises OnChanging and the last EndUpdate OnChange.
  // The events name the list as their sender.
  void BeginUpdate();
  void EndUpdate();

  // Writes Text() from the stream's position; reads the rest of the stream
  // and replaces the content with its lines (SetText rules).
  void SaveToStream(TStream& stream) const;
  void LoadFromStream(TStream& stream);
  void SaveToFile(const std::string& path) const;
  void LoadFromFile(const std::string& path);

  TNotifyEvent OnChanging;
  TNotifyEvent OnChange;

 protected:
  // Text comparison for IndexOf and IndexOfName: ASCII case-insensitive
  // here; TStringList makes it follow CaseSensitive.
  virtual int CompareStrings(const std::string& a, const std::string& b) const;
  // Raise the events unless an update is in progress.
  void Changing();
  void Changed();
  int UpdateCount() const { return update_count_; }

 private:
  int update_count_ = 0;
};

enum TDuplicates { dupIgnore, dupAccept, dupError };

class TStringList : public TStrings {
 public:
  int Count() const override { return static_cast<int>(items_.size()); }
  std::string Strings(int index) const override;
  // Raises EListError "Operation not allowed on sorted string list" when Sorted.
  void SetStrings(int index, const std::string& s) override;
  void* Objects(int index) const override;
  void SetObjects(int index, void* object) override;
  // Raises EListError "Operation not allowed on sorted string list" when Sorted.
  void InsertObject(int index, const std::string& s, void* object) override;
  void Delete(int index) override;
  void Clear() override;
  // In a sorted list the text goes to its place; an equal text is then
  // ignored (its index returned), added, or refused with EListError
  // "String list does not allow duplicates", as Duplicates says.
  int AddObject(const std::string& s, void* object) override;
  void Exchange(int index1, int index2) override;
  int IndexOf(const std::string& s) const override;

  // Binary search of a sorted list: true when `s` is present; `index` is the
  // first matching index, or where `s` would be inserted.
  bool Find(const std::string& s, int& index) const;
  // Stable sort by CompareStrings.
  void Sort();

  bool Sorted() const { return sorted_; }
  // Turning it on sorts the list.
  void SetSorted(bool sorted);
  TDuplicates Duplicates() const { return duplicates_; }
  void SetDuplicates(TDuplicates duplicates) { duplicates_ = duplicates; }
  // ASCII only; off by default. Turning it on or off re-sorts a sorted list.
  bool CaseSensitive() const { return case_sensitive_; }
  void SetCaseSensitive(bool case_sensitive);

 protected:
  int CompareStrings(const std::string& a, const std::string& b) const override;

 private:
  struct Item {
    std::string text;
    void* object = nullptr;
  };

  void CheckIndex(int index, int limit) const;
  void InsertItem(int index, const std::string& s, void* object);

  std::vector<Item> items_;
  bool sorted_ = false;
  bool case_sensitive_ = false;
  TDuplicates duplicates_ = dupIgnore;
};

}  // namespace jw
