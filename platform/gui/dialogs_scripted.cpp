#include "platform/gui/dialogs_scripted.h"

#include "platform/rtl/exceptions.h"

namespace jw {

namespace {

std::string Describe(const TFont& font) {
  return font.Name() + "," + std::to_string(font.Size()) + "," + std::to_string(font.Color());
}

}  // namespace

void ScriptedDialogs::AnswerFont(bool accept, std::function<void(TFont&)> change) {
  fonts_.push_back({accept, std::move(change)});
}

void ScriptedDialogs::AnswerOpenFile(std::optional<std::string> file_name) {
  files_.push_back(std::move(file_name));
}

void ScriptedDialogs::AnswerInput(std::optional<std::string> value) {
  inputs_.push_back(std::move(value));
}

void ScriptedDialogs::AnswerMessage(TModalResult result) {
  messages_.push_back(result);
}

int ScriptedDialogs::PendingAnswers() const {
  return static_cast<int>(fonts_.size() + files_.size() + inputs_.size() + messages_.size() +
                          forms_.size());
}

bool ScriptedDialogs::ChooseFont(TFont& font) {
  calls_.push_back({DialogCall::Kind::Font, "Font", "", Describe(font)});
  if (fonts_.empty()) throw EInvalidOperation("Unexpected font dialog");
  FontAnswer answer = std::move(fonts_.front());
  fonts_.pop_front();
  if (answer.accept && answer.change) answer.change(font);
  return answer.accept;
}

bool ScriptedDialogs::ChooseOpenFile(const TOpenFileRequest& request, std::string& file_name) {
  calls_.push_back({DialogCall::Kind::OpenFile, request.Title, request.InitialDir, request.Filter});
  if (files_.empty()) throw EInvalidOperation("Unexpected open dialog");
  std::optional<std::string> answer = std::move(files_.front());
  files_.pop_front();
  if (!answer) return false;
  file_name = *answer;
  return true;
}

bool ScriptedDialogs::InputQuery(const std::string& caption, const std::string& prompt,
                                 std::string& value) {
  calls_.push_back({DialogCall::Kind::Input, caption, prompt, value});
  if (inputs_.empty()) throw EInvalidOperation("Unexpected input query \"" + caption + "\"");
  std::optional<std::string> answer = std::move(inputs_.front());
  inputs_.pop_front();
  if (!answer) return false;
  value = *answer;
  return true;
}

TModalResult ScriptedDialogs::MessageBox(const std::string& caption, const std::string& text,
                                         TMsgDlgType type, TMsgDlgButtons buttons) {
  calls_.push_back({DialogCall::Kind::Message, caption, text, "", type, buttons});
  if (messages_.empty()) {
    if (buttons == mbOK) return mrOk;
    throw EInvalidOperation("Unexpected message box \"" + text + "\"");
  }
  const TModalResult result = messages_.front();
  messages_.pop_front();
  return result;
}

TModalResult ScriptedDialogs::ShowModal(TCustomForm& form) {
  calls_.push_back({DialogCall::Kind::Form, form.Caption(), "", ""});
  if (forms_.empty()) throw EInvalidOperation("Unexpected dialog \"" + form.Caption() + "\"");
  std::function<TModalResult(TCustomForm&)> answer = std::move(forms_.front());
  forms_.pop_front();
  return answer(form);
}

}  // namespace jw
