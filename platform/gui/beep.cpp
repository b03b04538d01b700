#include "platform/gui/beep.h"

#include <QApplication>

namespace jw {

namespace {

TBeeper& CurrentBeeper() {
  static TBeeper beeper;
  return beeper;
}

}  // namespace

void MessageBeep(uint32_t /*type*/) {
  if (CurrentBeeper()) {
    CurrentBeeper()();
  } else {
    QApplication::beep();
  }
}

TBeeper SetBeeper(TBeeper beeper) {
  TBeeper previous = std::move(CurrentBeeper());
  CurrentBeeper() = std::move(beeper);
  return previous;
}

}  // namespace jw
