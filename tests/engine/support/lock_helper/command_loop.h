// The command loop of the test programs that stand in for a second process:
// says "ready", then reads one command per line from stdin until "exit" or
// the end of input, and runs each through the caller's handler, which
// answers one line on stdout ("ok ...", "busy", "fail"). An engine error
// answers "err <engine code>".
#pragma once

#include <iostream>
#include <sstream>
#include <string>

#include "engine/support/engine_errors.h"

namespace jw::test_support {

template <class Handler>
int RunCommandLoop(Handler handler) {
  std::string line;
  std::cout << "ready" << std::endl;
  while (std::getline(std::cin, line)) {
    std::istringstream args(line);
    std::string command;
    args >> command;
    if (command == "exit") break;
    try {
      handler(command, args);
    } catch (const EQuireEngineError& e) {
      std::cout << "err " << e.Code() << std::endl;
    }
  }
  return 0;
}

}  // namespace jw::test_support
