// What the main window tells about its download run to whoever decides things the window does
// not: the headless program uses it to end with an exit code that says why it ended.
#pragma once

#include <exception>

class TRunObserver {
 public:
  virtual ~TRunObserver() = default;
  // A client event arrived or the run took a step.
  virtual void RunMoved() {}
  // The run ended and the window is idle again; allReceived when every listed file arrived
  // (also when the listing was empty) and no error box was shown.
  virtual void RunEnded(bool /*allReceived*/) {}
  // The connection ended or could not be made, and the run cannot go on.
  virtual void RunBroken() {}
  // Starting the run raised (for example the server's address cannot be resolved).
  virtual void RunNotStarted(const std::exception& /*error*/) {}
  // Install was pressed; started tells whether the setup program is running. The program ends.
  virtual void InstallDone(bool /*started*/) {}
};
