// A program run on the slave side of a pseudo-terminal, typed at and read from the master side.
// Kept apart from the socket names (which clash with the system headers' macros).
#pragma once

#include <string>
#include <vector>

class TPtyProcess {
 public:
  // Starts path with args (args[0] is the program's name); Started() tells whether it ran.
  TPtyProcess(const std::string& path, const std::vector<std::string>& args);
  ~TPtyProcess();  // a program still running is killed
  TPtyProcess(const TPtyProcess&) = delete;
  TPtyProcess& operator=(const TPtyProcess&) = delete;

  bool Started() const { return pid_ > 0 && master_ >= 0; }
  void Type(const std::string& keys);
  // Collects what the program printed so far, without waiting.
  void Drain();
  const std::string& Screen() const { return screen_; }
  // Whether the program has its terminal in line-by-line (canonical) mode, where the terminal, not
  // the program, collects a typed line until Enter.
  bool LineByLine() const;

 private:
  int pid_ = -1;
  int master_ = -1;
  std::string screen_;
};
