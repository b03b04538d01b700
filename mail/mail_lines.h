// The lines of a message as the mail transport composes and sends them: a
// string list whose runs of base64 lines stand for an attachment's bytes and
// are encoded only when they are read. A large attachment so costs its bytes
// once, however often its lines are copied from body to message to client,
// and its encoded form exists one line at a time while it is sent.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/rtl/string_list.h"

namespace jw {

class TMailLines : public TStrings {
 public:
  int Count() const override { return count_; }
  std::string Strings(int index) const override;
  void SetStrings(int index, const std::string& s) override;
  void* Objects(int index) const override;
  void SetObjects(int index, void* object) override;
  void InsertObject(int index, const std::string& s, void* object) override;
  void Delete(int index) override;
  void Clear() override;
  int AddObject(const std::string& s, void* object) override;

  // Appends the bytes as base64 lines of kBase64LineBytes each, the lines
  // EncodeStreamBase64 gives; nothing for no bytes.
  void AddBase64(std::shared_ptr<const std::vector<uint8_t>> bytes);
  // Appends the source's lines; its base64 runs are shared, not encoded.
  void AddLines(const TMailLines& source);
  // Replaces the content with the source's lines, as AddLines adds them.
  void AssignLines(const TMailLines& source);
  // Calls `visit` with every line in order; cheaper than Strings for each.
  void ForEach(const std::function<void(const std::string&)>& visit) const;

 private:
  struct Line {
    std::string text;
    void* object = nullptr;
  };
  // Lines stored as they are, or, with `bytes`, the base64 lines of the bytes.
  struct Run {
    std::vector<Line> lines;
    std::shared_ptr<const std::vector<uint8_t>> bytes;
    int Count() const;
    std::string Text(int line) const;
  };

  void CheckIndex(int index, int limit) const;
  // The run that holds line `index` (the last run for Count()) and the
  // line's place in it.
  std::pair<size_t, int> Locate(int index) const;
  // As Locate, with a base64 run turned into stored lines so that one of
  // them can change.
  std::pair<size_t, int> LocateStored(int index);
  // The last run, made a stored one when it is not.
  std::vector<Line>& StoredTail();

  std::vector<Run> runs_;
  int count_ = 0;
};

}  // namespace jw
