#include "mail/mail_lines.h"

#include <limits>

#include "mail/encoders.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/strings.h"

namespace jw {

int TMailLines::Run::Count() const {
  if (!bytes) return static_cast<int>(lines.size());
  return static_cast<int>((bytes->size() + kBase64LineBytes - 1) / kBase64LineBytes);
}

std::string TMailLines::Run::Text(int line) const {
  if (!bytes) return lines[static_cast<size_t>(line)].text;
  const size_t start = static_cast<size_t>(line) * kBase64LineBytes;
  const size_t size = std::min<size_t>(kBase64LineBytes, bytes->size() - start);
  return EncodeLine6(kEncodeBase64, bytes->data() + start, static_cast<int>(size));
}

void TMailLines::CheckIndex(int index, int limit) const {
  if (index < 0 || index >= limit) {
    throw EListError("List index out of bounds (" + IntToStr(int32_t{index}) + ")");
  }
}

std::pair<size_t, int> TMailLines::Locate(int index) const {
  for (size_t run = 0; run < runs_.size(); ++run) {
    const int count = runs_[run].Count();
    if (index < count || (index == count && run + 1 == runs_.size())) return {run, index};
    index -= count;
  }
  return {0, 0};
}

std::pair<size_t, int> TMailLines::LocateStored(int index) {
  if (runs_.empty()) runs_.emplace_back();
  const auto [run, line] = Locate(index);
  Run& found = runs_[run];
  if (found.bytes) {
    std::vector<Line> lines;
    lines.reserve(static_cast<size_t>(found.Count()));
    for (int i = 0; i < found.Count(); ++i) lines.push_back({found.Text(i)});
    found.lines = std::move(lines);
    found.bytes.reset();
  }
  return {run, line};
}

std::vector<TMailLines::Line>& TMailLines::StoredTail() {
  if (runs_.empty() || runs_.back().bytes) runs_.emplace_back();
  return runs_.back().lines;
}

std::string TMailLines::Strings(int index) const {
  CheckIndex(index, count_);
  const auto [run, line] = Locate(index);
  return runs_[run].Text(line);
}

void TMailLines::SetStrings(int index, const std::string& s) {
  CheckIndex(index, count_);
  Changing();
  const auto [run, line] = LocateStored(index);
  runs_[run].lines[static_cast<size_t>(line)].text = s;
  Changed();
}

void* TMailLines::Objects(int index) const {
  CheckIndex(index, count_);
  const auto [run, line] = Locate(index);
  return runs_[run].bytes ? nullptr : runs_[run].lines[static_cast<size_t>(line)].object;
}

void TMailLines::SetObjects(int index, void* object) {
  CheckIndex(index, count_);
  Changing();
  const auto [run, line] = LocateStored(index);
  runs_[run].lines[static_cast<size_t>(line)].object = object;
  Changed();
}

void TMailLines::InsertObject(int index, const std::string& s, void* object) {
  CheckIndex(index, count_ + 1);
  Changing();
  if (index == count_) {
    StoredTail().push_back({s, object});
  } else {
    const auto [run, line] = LocateStored(index);
    auto& lines = runs_[run].lines;
    lines.insert(lines.begin() + line, Line{s, object});
  }
  ++count_;
  Changed();
}

int TMailLines::AddObject(const std::string& s, void* object) {
  InsertObject(count_, s, object);
  return count_ - 1;
}

void TMailLines::Delete(int index) {
  CheckIndex(index, count_);
  Changing();
  const auto [run, line] = LocateStored(index);
  auto& lines = runs_[run].lines;
  lines.erase(lines.begin() + line);
  --count_;
  Changed();
}

void TMailLines::Clear() {
  if (runs_.empty()) return;
  Changing();
  runs_.clear();
  count_ = 0;
  Changed();
}

void TMailLines::AddBase64(std::shared_ptr<const std::vector<uint8_t>> bytes) {
  if (!bytes || bytes->empty()) return;
  Run run{{}, std::move(bytes)};
  if (run.bytes->size() / kBase64LineBytes >=
      static_cast<size_t>(std::numeric_limits<int>::max() - count_)) {
    throw EListError("Too many lines for a list");
  }
  Changing();
  count_ += run.Count();
  runs_.push_back(std::move(run));
  Changed();
}

void TMailLines::AddLines(const TMailLines& source) {
  if (source.count_ == 0) return;
  if (source.count_ > std::numeric_limits<int>::max() - count_) {
    throw EListError("Too many lines for a list");
  }
  Changing();
  // Copied first, so that a list may add its own lines.
  const std::vector<Run> runs = source.runs_;
  for (const Run& run : runs) {
    if (run.bytes) {
      runs_.push_back(run);
    } else {
      auto& tail = StoredTail();
      tail.insert(tail.end(), run.lines.begin(), run.lines.end());
    }
  }
  count_ += source.count_;
  Changed();
}

void TMailLines::AssignLines(const TMailLines& source) {
  if (&source == this) return;
  BeginUpdate();
  Clear();
  AddLines(source);
  EndUpdate();
}

void TMailLines::ForEach(const std::function<void(const std::string&)>& visit) const {
  for (const Run& run : runs_) {
    if (!run.bytes) {
      for (const Line& line : run.lines) visit(line.text);
    } else {
      for (int i = 0; i < run.Count(); ++i) visit(run.Text(i));
    }
  }
}

}  // namespace jw
