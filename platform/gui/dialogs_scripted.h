// ScriptedDialogs: the dialog service for tests. Every call is logged; each
// answers from its own queue of scripted answers, in order. A message box
// with only an OK button needs no answer; any other call without one raises
// EInvalidOperation, so an unexpected dialog fails the test. A dialog form is
// answered by a function that works its controls as a user would, without an
// event loop, and returns how the form ends.
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/gui/dialogs.h"
#include "platform/rtl/exceptions.h"

namespace jw {

struct DialogCall {
  enum class Kind { Font, OpenFile, Input, Message, Form };
  Kind kind;
  std::string caption;  // title of the box, query or form
  std::string text;     // message, prompt, or the open dialog's start folder
  std::string value;    // pre-filled input, or the font's description
  TMsgDlgType type = TMsgDlgType::mtCustom;
  TMsgDlgButtons buttons = 0;
};

class ScriptedDialogs : public DialogService {
 public:
  // Accepts the font dialog after change (if given) edits the font; an
  // unaccepted answer leaves the font as it was.
  void AnswerFont(bool accept, std::function<void(TFont&)> change = {});
  // A path, or none for Cancel.
  void AnswerOpenFile(std::optional<std::string> file_name);
  // An entry, or none for Cancel.
  void AnswerInput(std::optional<std::string> value);
  void AnswerMessage(TModalResult result);
  // The next dialog form must be a T; act fills its controls and returns its
  // modal result.
  template <class T>
  void AnswerForm(std::function<TModalResult(T&)> act) {
    forms_.push_back([act = std::move(act)](TCustomForm& form) -> TModalResult {
      auto* typed = dynamic_cast<T*>(&form);
      if (typed == nullptr) throw EInvalidOperation("Unexpected dialog \"" + form.Caption() + "\"");
      return act(*typed);
    });
  }

  const std::vector<DialogCall>& Calls() const { return calls_; }
  // The answers not used yet, all queues together.
  int PendingAnswers() const;

  bool ChooseFont(TFont& font) override;
  bool ChooseOpenFile(const TOpenFileRequest& request, std::string& file_name) override;
  bool InputQuery(const std::string& caption, const std::string& prompt,
                  std::string& value) override;
  TModalResult MessageBox(const std::string& caption, const std::string& text, TMsgDlgType type,
                          TMsgDlgButtons buttons) override;
  TModalResult ShowModal(TCustomForm& form) override;

 private:
  struct FontAnswer {
    bool accept;
    std::function<void(TFont&)> change;
  };
  std::deque<FontAnswer> fonts_;
  std::deque<std::optional<std::string>> files_;
  std::deque<std::optional<std::string>> inputs_;
  std::deque<TModalResult> messages_;
  std::deque<std::function<TModalResult(TCustomForm&)>> forms_;
  std::vector<DialogCall> calls_;
};

}  // namespace jw
