#include "tests/mail/script_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace jw::test_support {

ScriptedPeer::ScriptedPeer(const std::vector<std::string>& steps) {
  std::string script;
  for (const auto& step : steps) script += step + "\n";
  WriteFileBytes(dir_.File("steps"), script);
  process_ = std::make_unique<PythonProcess>(
      "script_peer.py", std::vector<std::string>{dir_.File("steps"), dir_.File("received")});
  port_ = static_cast<uint16_t>(std::stoi("0" + process_->ReadLine()));
}

std::string ScriptedPeer::Received() {
  EXPECT_EQ(process_->Wait(15000), 0);
  return ReadFileBytes(dir_.File("received"));
}

uint16_t UnusedPort() {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  close(fd);
  return ntohs(address.sin_port);
}

}  // namespace jw::test_support
