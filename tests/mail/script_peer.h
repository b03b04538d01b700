// A scripted peer for the TCP and SMTP tests: a Python process on a free
// loopback port that plays the given steps (see script_peer.py) and records
// every byte the client sent.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tests/mail/python_peer.h"

namespace jw::test_support {

class ScriptedPeer {
 public:
  explicit ScriptedPeer(const std::vector<std::string>& steps);
  uint16_t Port() const { return port_; }
  // Everything the client sent; waits for the peer to finish.
  std::string Received();

 private:
  TempFolder dir_;
  std::unique_ptr<PythonProcess> process_;
  uint16_t port_ = 0;
};

// A loopback port nobody listens on.
uint16_t UnusedPort();

}  // namespace jw::test_support
