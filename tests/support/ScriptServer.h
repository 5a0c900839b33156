#pragma once
// A test server run as a child process (a Python script of the tests) that prints "READY <port>"
// on its standard output once it listens; killed and reaped when the object goes.
#include <sys/types.h>

#include <string>
#include <vector>

namespace testsupport {

class ScriptServer {
 public:
  // args[0] is the program's path. Port() is 0 when the server did not say it was ready within 10 s.
  explicit ScriptServer(std::vector<std::string> args);
  ~ScriptServer();
  ScriptServer(const ScriptServer&) = delete;
  ScriptServer& operator=(const ScriptServer&) = delete;

  int Port() const { return port_; }

 private:
  pid_t pid_ = -1;
  int port_ = 0;
};

}  // namespace testsupport
