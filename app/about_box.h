// TAboutBox: the program's name, version and where to reach its makers.
// Made once at start, it lives for the whole run and shows without
// blocking; OK hides it again.
#pragma once

#include "platform/gui/buttons.h"
#include "platform/gui/forms.h"
#include "platform/gui/std_controls.h"

namespace jw {

class TAboutBox : public TForm {
 public:
  explicit TAboutBox(TComponent* owner);

  TPanel* Panel1;
  TLabel* ProductName;
  TLabel* Version;
  TLabel* Comments;
  TLabel* SupportAddress;
  TLabel* WebSite;
  TButton* OKButton;

  void OKButtonClick(TPersistent* sender);
};

}  // namespace jw
