// Restores the process-wide format settings that a test changes, however the
// test ends.
#pragma once

#include "platform/rtl/format_settings.h"

namespace jw::test_support {

class FormatSettingsScope {
 public:
  FormatSettingsScope() : saved_(FormatSettings()) {}
  ~FormatSettingsScope() { FormatSettings() = saved_; }
  FormatSettingsScope(const FormatSettingsScope&) = delete;
  FormatSettingsScope& operator=(const FormatSettingsScope&) = delete;

 private:
  TFormatSettings saved_;
};

}  // namespace jw::test_support
