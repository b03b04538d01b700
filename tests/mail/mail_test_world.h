// What the mail message and MIME tests share: a fixed time, host and random
// source for the header lines they compose, and the lines of a string list
// to compare.
#pragma once

#include <arpa/inet.h>

#include <string>
#include <vector>

#include "mail/tcpip.h"
#include "platform/rtl/clock.h"
#include "platform/rtl/date_time.h"
#include "platform/rtl/random.h"
#include "platform/rtl/string_list.h"

namespace jw::test_support {

// A random source that always draws 0x5EED (less when the range is
// smaller), so a Message-ID ends in "5EED5EED".
class FixedRandom : public TRandomSource {
 public:
  int32_t Random(int32_t range) override { return range > 0 ? 0x5EED % range : 0; }
  double RandomFloat() override { return 0.5; }
  void Randomize() override {}
};

// 2024-01-15 10:00:00 local time, ten hours east of Greenwich, on host
// "myhost.example" (192.168.1.5), with a fixed random source.
struct FixedWorld {
  TFixedClock clock{EncodeDate(2024, 1, 15) + EncodeTime(10, 0, 0, 0), 600};
  TScopedClock clock_scope{clock};
  TScopedLocalHost host{"myhost.example", htonl(0xC0A80105)};
  FixedRandom random;
  TScopedRandomSource random_scope{random};
};

inline std::vector<std::string> LinesOf(const TStrings& list) {
  std::vector<std::string> lines;
  for (int i = 0; i < list.Count(); ++i) lines.push_back(list.Strings(i));
  return lines;
}

}  // namespace jw::test_support
