// The static controls: TLabel (a caption, optionally word-wrapped, in its
// own font), TPanel (a coloured surface with a bevel that holds other
// controls) and TImage (a picture drawn at its size or stretched).
#pragma once

#include <memory>
#include <string>

#include "platform/gui/controls.h"
#include "platform/gui/font.h"
#include "platform/gui/picture.h"

class QLabel;

namespace jw {

class TLabel : public TWinControl {
 public:
  explicit TLabel(TComponent* owner);

  void SetCaption(const std::string& caption) override;
  bool WordWrap() const { return word_wrap_; }
  void SetWordWrap(bool on);
  TFont& Font() { return font_; }
  // A transparent label shows its parent's colour; otherwise its own.
  bool Transparent() const { return transparent_; }
  void SetTransparent(bool on);

 protected:
  std::unique_ptr<QWidget> CreateWidget(const TCreateParams& params) override;

 private:
  void ApplyLook();
  void ApplyLook(QLabel& label);

  bool word_wrap_ = false;
  bool transparent_ = true;
  TFont font_;
};

enum class TPanelBevel { bvNone, bvLowered, bvRaised };

class TPanel : public TWinControl {
 public:
  explicit TPanel(TComponent* owner);

  TPanelBevel BevelOuter() const { return bevel_outer_; }
  void SetBevelOuter(TPanelBevel bevel);

 protected:
  void Paint() override;

 private:
  TPanelBevel bevel_outer_ = TPanelBevel::bvRaised;
};

class TImage : public TGraphicControl {
 public:
  explicit TImage(TComponent* owner);
  ~TImage() override;

  TPicture& Picture() { return *picture_; }
  bool Stretch() const { return stretch_; }
  void SetStretch(bool on);

 protected:
  void Paint() override;

 private:
  std::unique_ptr<TPicture> picture_;
  bool stretch_ = false;
};

}  // namespace jw
