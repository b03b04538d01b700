#include <gtest/gtest.h>

#include <QLineEdit>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/dataset/password_prompt.h"
#include "engine/dataset/quire_session.h"
#include "engine/dataset_ui/password_dialog.h"
#include "platform/gui/application.h"
#include "tests/engine/dataset/session_fixture.h"

namespace jw {
namespace {

using test_support::SessionTest;

class PasswordDialog : public SessionTest {
 protected:
  std::vector<std::string> Passwords() { return DefaultSession()->EngineSession()->Passwords(); }

  // Works the dialog as a user would once its modal run has started.
  static void Script(std::function<void(TQuirePasswordDialog&)> user) {
    QTimer::singleShot(0, [user = std::move(user)] {
      for (int i = 0; i < Screen->FormCount(); ++i) {
        if (auto* dialog = dynamic_cast<TQuirePasswordDialog*>(Screen->Forms(i))) {
          user(*dialog);
          return;
        }
      }
      ADD_FAILURE() << "no password dialog is showing";
    });
  }

  // The enabled state of Add, Remove, Remove all and OK.
  static std::string Enabled(const TQuirePasswordDialog& dialog) {
    std::string state;
    for (const TButton* button :
         {dialog.AddButton, dialog.RemoveButton, dialog.RemoveAllButton, dialog.OKButton}) {
      state += button->Enabled() ? '1' : '0';
    }
    return state;
  }

  static void Type(TQuirePasswordDialog& dialog, const std::string& text) {
    dialog.Edit->SetText(text);
  }
  // A click on a disabled button does nothing, as for the user.
  static void Press(TButton* button) {
    if (button->Enabled()) button->Click();
  }
};

TEST_F(PasswordDialog, ButtonsFollowTheEditBoxAndWhatWasAdded) {
  std::unique_ptr<TQuirePasswordDialog> dialog(
      MakeForm<TQuirePasswordDialog>(Application, *DefaultSession()));
  EXPECT_EQ(dialog->Caption(), "Enter password");
  EXPECT_EQ(Enabled(*dialog), "0010");
  Type(*dialog, "secret");
  EXPECT_EQ(static_cast<QLineEdit*>(dialog->Edit->Handle())->displayText(), "******");
  EXPECT_EQ(Enabled(*dialog), "1111");
  Type(*dialog, "");
  EXPECT_EQ(Enabled(*dialog), "0010");

  Type(*dialog, "secret");
  Press(dialog->AddButton);
  EXPECT_EQ(dialog->Edit->Text(), "");
  EXPECT_EQ(Enabled(*dialog), "0011");
  EXPECT_EQ(Passwords(), std::vector<std::string>{"secret"});

  // Removing compares with regard to case.
  Type(*dialog, "SECRET");
  Press(dialog->RemoveButton);
  EXPECT_EQ(Passwords(), std::vector<std::string>{"secret"});
  Type(*dialog, "secret");
  Press(dialog->RemoveButton);
  EXPECT_TRUE(Passwords().empty());
  EXPECT_EQ(dialog->Edit->Text(), "");

  // Remove all empties the list and leaves the text in place.
  Type(*dialog, "one");
  Press(dialog->AddButton);
  Type(*dialog, "two");
  Press(dialog->RemoveAllButton);
  EXPECT_TRUE(Passwords().empty());
  EXPECT_EQ(dialog->Edit->Text(), "two");
}

TEST_F(PasswordDialog, AnswersTheSessionsPasswordPromptFromStartUp) {
  ASSERT_EQ(PasswordPrompt(), &ShowPasswordDialog);
  TQuireSession* session = DefaultSession();

  // OK after Add answers yes without adding anything more.
  Script([](TQuirePasswordDialog& dialog) {
    Type(dialog, "first");
    Press(dialog.AddButton);
    Press(dialog.OKButton);
  });
  EXPECT_TRUE(session->PasswordCallback());
  EXPECT_EQ(Passwords(), std::vector<std::string>{"first"});

  // OK adds what the edit box holds.
  Script([](TQuirePasswordDialog& dialog) {
    Type(dialog, "second");
    Press(dialog.OKButton);
  });
  EXPECT_TRUE(session->PasswordCallback());
  EXPECT_EQ(Passwords(), (std::vector<std::string>{"first", "second"}));

  // Cancel answers no; what was added before stays.
  Script([](TQuirePasswordDialog& dialog) {
    Type(dialog, "third");
    Press(dialog.AddButton);
    Type(dialog, "fourth");
    Press(dialog.CancelButton);
  });
  EXPECT_FALSE(session->PasswordCallback());
  EXPECT_EQ(Passwords(), (std::vector<std::string>{"first", "second", "third"}));

  // A handler answers instead of the dialog.
  session->OnPassword = [](TPersistent*, bool& continue_open) { continue_open = true; };
  EXPECT_TRUE(session->PasswordCallback());
}

}  // namespace
}  // namespace jw
