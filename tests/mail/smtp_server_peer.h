// A real SMTP server on loopback for tests (smtp_server.py over aiosmtpd):
// it stores every message it accepts in a folder of its own.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/mail/python_peer.h"
#include "tests/support/temp_folder.h"

namespace jw::test_support {

class SmtpServerPeer {
 public:
  // refused: an address the server refuses at RCPT TO; empty for none.
  explicit SmtpServerPeer(const std::string& refused = "")
      : server_("smtp_server.py", refused.empty()
                                      ? std::vector<std::string>{dir_.Path()}
                                      : std::vector<std::string>{dir_.Path(), refused}) {
    port_ = static_cast<uint16_t>(std::stoi("0" + server_.ReadLine(20000)));
  }
  // 0 when the server did not start.
  uint16_t Port() const { return port_; }
  // The n-th message accepted, without extension: ".eml" holds the data as
  // received, ".env" the envelope sender and recipients.
  std::string Stored(int n) const { return dir_.Path() + "message-" + std::to_string(n); }

 private:
  TempFolder dir_;
  PythonProcess server_;
  uint16_t port_ = 0;
};

}  // namespace jw::test_support
