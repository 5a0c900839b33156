// What the application needs of a front end, whichever it picked (Qt or headless): present its
// main window, run the message loop, and end that loop with an exit code.
#pragma once

namespace ui {

class TForm;

class TFrontEnd {
 public:
  virtual ~TFrontEnd() = default;
  // Shows form as the program's main window. Closing it, by the window's close box or by the
  // form's Close, ends Run with exit code 0 unless Quit was called first.
  virtual void Present(TForm& form) = 0;
  // Runs the message loop until Quit (or the platform's quit message) and returns the exit code.
  virtual int Run() = 0;
  // Ends Run with exitCode through the platform's quit message.
  virtual void Quit(int exitCode) = 0;
};

}  // namespace ui
