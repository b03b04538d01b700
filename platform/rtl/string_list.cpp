#include "platform/rtl/string_list.h"

#include <algorithm>

#include "platform/rtl/exceptions.h"
#include "platform/rtl/streams.h"
#include "platform/rtl/strings.h"

namespace jw {

namespace {

bool IsBlank(char c) {
  return static_cast<unsigned char>(c) <= ' ';
}

bool NeedsQuotes(const std::string& s) {
  return std::any_of(s.begin(), s.end(), [](char c) { return IsBlank(c) || c == '"' || c == ','; });
}

std::string Quoted(const std::string& s) {
  std::string result = "\"";
  for (char c : s) {
    if (c == '"') result += '"';
    result += c;
  }
  return result + '"';
}

// Reads a quoted item starting at the opening quote; a doubled quote stands
// for one quote, and a missing closing quote ends the item at the end.
std::string ExtractQuoted(const std::string& text, size_t& pos) {
  std::string result;
  ++pos;
  while (pos < text.size()) {
    if (text[pos] == '"') {
      if (pos + 1 < text.size() && text[pos + 1] == '"') {
        result += '"';
        pos += 2;
        continue;
      }
      ++pos;
      break;
    }
    result += text[pos++];
  }
  return result;
}

}  // namespace

void TStrings::SetStrings(int index, const std::string& s) {
  void* object = Objects(index);
  Delete(index);
  InsertObject(index, s, object);
}

int TStrings::AddObject(const std::string& s, void* object) {
  const int index = Count();
  InsertObject(index, s, object);
  return index;
}

void TStrings::Exchange(int index1, int index2) {
  BeginUpdate();
  const std::string s1 = Strings(index1);
  void* object1 = Objects(index1);
  SetStrings(index1, Strings(index2));
  SetObjects(index1, Objects(index2));
  SetStrings(index2, s1);
  SetObjects(index2, object1);
  EndUpdate();
}

void TStrings::AddStrings(const TStrings& source) {
  BeginUpdate();
  for (int i = 0; i < source.Count(); ++i) AddObject(source.Strings(i), source.Objects(i));
  EndUpdate();
}

void TStrings::Assign(const TStrings& source) {
  if (&source == this) return;
  BeginUpdate();
  Clear();
  AddStrings(source);
  EndUpdate();
}

void TStrings::Assign(TPersistent* source) {
  if (const auto* strings = dynamic_cast<const TStrings*>(source)) {
    Assign(*strings);
  } else {
    TPersistent::Assign(source);
  }
}

int TStrings::IndexOf(const std::string& s) const {
  for (int i = 0; i < Count(); ++i) {
    if (CompareStrings(Strings(i), s) == 0) return i;
  }
  return -1;
}

int TStrings::IndexOfObject(void* object) const {
  for (int i = 0; i < Count(); ++i) {
    if (Objects(i) == object) return i;
  }
  return -1;
}

int TStrings::IndexOfName(const std::string& name) const {
  for (int i = 0; i < Count(); ++i) {
    const std::string s = Strings(i);
    const size_t eq = s.find('=');
    if (eq != std::string::npos && CompareStrings(s.substr(0, eq), name) == 0) return i;
  }
  return -1;
}

std::string TStrings::Text() const {
  std::string text;
  for (int i = 0; i < Count(); ++i) {
    text += Strings(i);
    text += "\r\n";
  }
  return text;
}

void TStrings::SetText(const std::string& text) {
  BeginUpdate();
  Clear();
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string::npos) {
      Add(text.substr(pos));
      break;
    }
    Add(text.substr(pos, end - pos));
    pos = end + 1;
    if (text[end] == '\r' && pos < text.size() && text[pos] == '\n') ++pos;
  }
  EndUpdate();
}

std::string TStrings::CommaText() const {
  if (Count() == 1 && Strings(0).empty()) return "\"\"";
  std::string text;
  for (int i = 0; i < Count(); ++i) {
    if (i > 0) text += ',';
    const std::string s = Strings(i);
    text += NeedsQuotes(s) ? Quoted(s) : s;
  }
  return text;
}

void TStrings::SetCommaText(const std::string& text) {
  BeginUpdate();
  Clear();
  size_t pos = 0;
  auto skip_blanks = [&] {
    while (pos < text.size() && IsBlank(text[pos])) ++pos;
  };
  skip_blanks();
  while (pos < text.size()) {
    if (text[pos] == '"') {
      Add(ExtractQuoted(text, pos));
    } else {
      const size_t start = pos;
      while (pos < text.size() && !IsBlank(text[pos]) && text[pos] != ',') ++pos;
      Add(text.substr(start, pos - start));
    }
    skip_blanks();
    if (pos < text.size() && text[pos] == ',') {
      // A comma at the very end still separates an empty last item.
      if (pos + 1 == text.size()) Add("");
      ++pos;
      skip_blanks();
    }
  }
  EndUpdate();
}

std::string TStrings::Names(int index) const {
  const std::string s = Strings(index);
  const size_t eq = s.find('=');
  return eq == std::string::npos ? std::string() : s.substr(0, eq);
}

std::string TStrings::Values(const std::string& name) const {
  const int index = IndexOfName(name);
  if (index < 0) return std::string();
  const std::string s = Strings(index);
  return s.substr(s.find('=') + 1);
}

void TStrings::SetValues(const std::string& name, const std::string& value) {
  int index = IndexOfName(name);
  if (value.empty()) {
    if (index >= 0) Delete(index);
    return;
  }
  if (index < 0) {
    Add(name + "=" + value);
  } else {
    SetStrings(index, name + "=" + value);
  }
}

void TStrings::BeginUpdate() {
  if (update_count_ == 0) Changing();
  ++update_count_;
}

void TStrings::EndUpdate() {
  if (update_count_ > 0 && --update_count_ == 0) Changed();
}

void TStrings::SaveToStream(TStream& stream) const {
  const std::string text = Text();
  stream.WriteBuffer(text.data(), static_cast<int64_t>(text.size()));
}

void TStrings::LoadFromStream(TStream& stream) {
  const int64_t size = stream.Size() - stream.Position();
  std::string text(static_cast<size_t>(std::max<int64_t>(size, 0)), '\0');
  stream.ReadBuffer(text.data(), static_cast<int64_t>(text.size()));
  SetText(text);
}

void TStrings::SaveToFile(const std::string& path) const {
  TFileStream file(path, fmCreate);
  SaveToStream(file);
}

void TStrings::LoadFromFile(const std::string& path) {
  TFileStream file(path, fmOpenRead);
  LoadFromStream(file);
}

int TStrings::CompareStrings(const std::string& a, const std::string& b) const {
  return CompareText(a, b);
}

void TStrings::Changing() {
  if (update_count_ == 0 && OnChanging) OnChanging(this);
}

void TStrings::Changed() {
  if (update_count_ == 0 && OnChange) OnChange(this);
}

void TStringList::CheckIndex(int index, int limit) const {
  if (index < 0 || index >= limit) {
    throw EListError("List index out of bounds (" + IntToStr(int32_t{index}) + ")");
  }
}

std::string TStringList::Strings(int index) const {
  CheckIndex(index, Count());
  return items_[index].text;
}

void TStringList::SetStrings(int index, const std::string& s) {
  if (sorted_) throw EListError("Operation not allowed on sorted string list");
  CheckIndex(index, Count());
  Changing();
  items_[index].text = s;
  Changed();
}

void* TStringList::Objects(int index) const {
  CheckIndex(index, Count());
  return items_[index].object;
}

void TStringList::SetObjects(int index, void* object) {
  CheckIndex(index, Count());
  Changing();
  items_[index].object = object;
  Changed();
}

void TStringList::InsertObject(int index, const std::string& s, void* object) {
  if (sorted_) throw EListError("Operation not allowed on sorted string list");
  CheckIndex(index, Count() + 1);
  InsertItem(index, s, object);
}

void TStringList::InsertItem(int index, const std::string& s, void* object) {
  Changing();
  items_.insert(items_.begin() + index, Item{s, object});
  Changed();
}

void TStringList::Delete(int index) {
  CheckIndex(index, Count());
  Changing();
  items_.erase(items_.begin() + index);
  Changed();
}

void TStringList::Clear() {
  if (items_.empty()) return;
  Changing();
  items_.clear();
  Changed();
}

int TStringList::AddObject(const std::string& s, void* object) {
  int index = Count();
  if (sorted_ && Find(s, index)) {
    switch (duplicates_) {
      case dupIgnore:
        return index;
      case dupError:
        throw EListError("String list does not allow duplicates");
      case dupAccept:
        break;
    }
  }
  InsertItem(index, s, object);
  return index;
}

void TStringList::Exchange(int index1, int index2) {
  CheckIndex(index1, Count());
  CheckIndex(index2, Count());
  Changing();
  std::swap(items_[index1], items_[index2]);
  Changed();
}

int TStringList::IndexOf(const std::string& s) const {
  if (!sorted_) return TStrings::IndexOf(s);
  int index;
  return Find(s, index) ? index : -1;
}

bool TStringList::Find(const std::string& s, int& index) const {
  const auto it = std::lower_bound(items_.begin(), items_.end(), s,
                                   [this](const Item& item, const std::string& key) {
                                     return CompareStrings(item.text, key) < 0;
                                   });
  index = static_cast<int>(it - items_.begin());
  return it != items_.end() && CompareStrings(it->text, s) == 0;
}

void TStringList::Sort() {
  Changing();
  std::stable_sort(items_.begin(), items_.end(), [this](const Item& a, const Item& b) {
    return CompareStrings(a.text, b.text) < 0;
  });
  Changed();
}

void TStringList::SetSorted(bool sorted) {
  if (sorted == sorted_) return;
  if (sorted) Sort();
  sorted_ = sorted;
}

void TStringList::SetCaseSensitive(bool case_sensitive) {
  if (case_sensitive == case_sensitive_) return;
  case_sensitive_ = case_sensitive;
  if (sorted_) Sort();
}

int TStringList::CompareStrings(const std::string& a, const std::string& b) const {
  if (case_sensitive_) return a.compare(b);
  return CompareText(a, b);
}

}  // namespace jw
