// The headless front end: what it writes for status, listing and received texts on a small form of
// the test's own, how it answers every kind of box under each QUILLSTAGE_ANSWER value, that each
// line leaves at once, and that its loop runs until the application quits or closes the window.
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/Application.h"
#include "platform/MessageLoop.h"
#include "ui/ComCtrls.h"
#include "ui/Form.h"
#include "ui/FormReader.h"
#include "ui/StdCtrls.h"
#include "ui/headless/HeadlessFrontEnd.h"

namespace {

class TSmallWindow : public ui::TForm {
 public:
  TSmallWindow() : ui::TForm(nullptr) {
    ui::ReadForm(R"(object SmallWindow: TSmallWindow
  Caption = 'Small'
  object Bar: TStatusBar
    SimplePanel = True
    SimpleText = 'stored text is not an event'
  end
  object Listing: TMemo
  end
  object Received: TMemo
  end
  object Other: TMemo
  end
end
)",
                 "small.form", *this);
  }
  std::string ClassName() const override { return "TSmallWindow"; }
  ui::TStatusBar& Bar() { return Get<ui::TStatusBar>("Bar"); }
  ui::TMemo& Listing() { return Get<ui::TMemo>("Listing"); }
  ui::TMemo& Received() { return Get<ui::TMemo>("Received"); }
  ui::TMemo& Other() { return Get<ui::TMemo>("Other"); }

 private:
  template <typename T>
  T& Get(const char* name) {
    return dynamic_cast<T&>(*FindComponent(name));
  }
};

// Sets or unsets QUILLSTAGE_ANSWER for its lifetime.
class AnswerVariable {
 public:
  explicit AnswerVariable(const char* value) {
    if (const char* old = std::getenv("QUILLSTAGE_ANSWER")) saved_ = old;
    if (value != nullptr) {
      setenv("QUILLSTAGE_ANSWER", value, 1);
    } else {
      unsetenv("QUILLSTAGE_ANSWER");
    }
  }
  ~AnswerVariable() {
    if (saved_) {
      setenv("QUILLSTAGE_ANSWER", saved_->c_str(), 1);
    } else {
      unsetenv("QUILLSTAGE_ANSWER");
    }
  }

 private:
  std::optional<std::string> saved_;
};

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(HeadlessFrontEnd, WritesStatusListingAndReceivedNames) {
  std::ostringstream out;
  TSmallWindow window;
  headless::HeadlessFrontEnd front(out);
  front.SetListingMemo(&window.Listing());
  front.SetReceivedMemo(&window.Received());
  front.Present(window);

  window.Bar().SetSimpleText("Please wait.....");
  window.Listing().AddLine("operation complete");  // added, not set: no listing
  window.Listing().SetText("SetupORV.exe\r\nreadme.txt\r\n");
  window.Received().AddLine("SetupORV.exe");
  window.Bar().SetSimpleText("SetupORV.exe Downloading...40960");
  window.Received().AddLine("readme.txt");
  window.Other().SetText("not designated");
  window.Other().AddLine("not designated");
  window.Received().SetText("a whole text is not a received name");
  window.Listing().Clear();  // an empty listing writes nothing
  window.Bar().SetSimpleText("two\r\nlines");
  window.SetCaption("captions are not written");

  EXPECT_EQ(Lines(out.str()), (std::vector<std::string>{
                                  "status: Please wait.....",
                                  "listing: SetupORV.exe",
                                  "listing: readme.txt",
                                  "received: SetupORV.exe",
                                  "status: SetupORV.exe Downloading...40960",
                                  "received: readme.txt",
                                  "status: two lines",
                              }));
}

TEST(HeadlessFrontEnd, ADesignatedMemoThatIsDestroyedIsForgotten) {
  std::ostringstream out;
  headless::HeadlessFrontEnd front(out);
  {
    TSmallWindow window;
    front.SetReceivedMemo(&window.Received());
  }
  TSmallWindow another;  // may reuse the freed addresses
  another.Received().AddLine("x");
  EXPECT_EQ(out.str(), "");
}

struct BoxCase {
  ui::TMsgDlgButtons buttons;
  const char* answerVariable;  // nullptr: unset
  ui::TModalResult expected;
};

class HeadlessBoxes : public testing::TestWithParam<BoxCase> {};

TEST_P(HeadlessBoxes, AreWrittenAndAnsweredByThePolicy) {
  const BoxCase& c = GetParam();
  AnswerVariable variable(c.answerVariable);
  std::ostringstream out;
  headless::HeadlessFrontEnd front(out);
  const ui::TModalResult result = ui::MessageBox("FTP Error: 10061", "Line one\rline two\r\nthree\nend", ui::mtWarning, c.buttons);
  EXPECT_EQ(result, c.expected);
  EXPECT_EQ(Lines(out.str()), (std::vector<std::string>{"box: FTP Error: 10061 | Line one line two three end",
                                                        std::string("answer: ") + headless::ButtonName(c.expected)}));
}

constexpr ui::TMsgDlgButtons kYesNoCancel = ui::mbYes | ui::mbNo | ui::mbCancel;

INSTANTIATE_TEST_SUITE_P(
    EveryKind, HeadlessBoxes,
    testing::Values(
        // The end-of-run question follows the variable; "no" without it or for an unknown value.
        BoxCase{kYesNoCancel, "yes", ui::mrYes}, BoxCase{kYesNoCancel, "no", ui::mrNo},
        BoxCase{kYesNoCancel, "cancel", ui::mrCancel}, BoxCase{kYesNoCancel, nullptr, ui::mrNo},
        BoxCase{kYesNoCancel, "YES", ui::mrNo}, BoxCase{kYesNoCancel, "", ui::mrNo},
        // Every other box takes its only or default button, whatever the variable says.
        BoxCase{ui::mbOK, "no", ui::mrOk}, BoxCase{ui::mbOK, nullptr, ui::mrOk},
        BoxCase{ui::mbOK | ui::mbCancel, "cancel", ui::mrOk}, BoxCase{ui::mbYes | ui::mbNo, "no", ui::mrYes},
        BoxCase{ui::mbCancel, "yes", ui::mrCancel}, BoxCase{ui::mbRetry | ui::mbCancel, "cancel", ui::mrRetry},
        BoxCase{ui::mbAbort | ui::mbRetry | ui::mbIgnore, "no", ui::mrAbort},
        BoxCase{ui::mbYes | ui::mbNo | ui::mbCancel | ui::mbOK, "yes", ui::mrYes}));

TEST(HeadlessFrontEnd, TheRuntimesBoxesGoThroughIt) {
  std::ostringstream out;
  headless::HeadlessFrontEnd front(out);
  ui::SetApplicationTitle("ORV Data Downloader Setup");
  ui::ShowMessage("Required files not complete !");
  ui::MessageDlg("Transfer timed out", ui::mtInformation, ui::mbOK);
  ui::SetApplicationTitle("");
  EXPECT_EQ(Lines(out.str()), (std::vector<std::string>{"box: ORV Data Downloader Setup | Required files not complete !",
                                                        "answer: ok", "box: Information | Transfer timed out",
                                                        "answer: ok"}));
}

TEST(HeadlessFrontEnd, RestoresThePrompterItReplaced) {
  ui::TPrompter* before = &ui::Prompter();
  {
    std::ostringstream out;
    headless::HeadlessFrontEnd front(out);
    EXPECT_NE(&ui::Prompter(), before);
  }
  EXPECT_EQ(&ui::Prompter(), before);
}

// Standard output goes to a pipe for the test's lifetime.
class StdoutPipe {
 public:
  StdoutPipe() {
    std::cout.flush();
    if (pipe(fds_) != 0) throw std::runtime_error("pipe");
    saved_ = dup(STDOUT_FILENO);
    dup2(fds_[1], STDOUT_FILENO);
  }
  ~StdoutPipe() {
    std::cout.flush();
    dup2(saved_, STDOUT_FILENO);
    close(saved_);
    close(fds_[0]);
    close(fds_[1]);
  }
  // What arrives within limitMs, up to the first line end.
  std::string ReadLine(int limitMs) {
    std::string line;
    pollfd p{fds_[0], POLLIN, 0};
    while (line.empty() || line.back() != '\n') {
      if (poll(&p, 1, limitMs) != 1) break;
      char c;
      if (read(fds_[0], &c, 1) != 1) break;
      line += c;
    }
    return line;
  }

 private:
  int fds_[2] = {-1, -1};
  int saved_ = -1;
};

TEST(HeadlessFrontEnd, EachLineReachesStandardOutputAtOnce) {
  TSmallWindow window;
  StdoutPipe pipe;
  headless::HeadlessFrontEnd front;  // writes to standard output
  window.Bar().SetSimpleText("Connected to Main Server");
  // Nothing else is written and the stream stays open: the line must already have left.
  EXPECT_EQ(pipe.ReadLine(5000), "status: Connected to Main Server\n");
}

struct LoopProbe {
  headless::HeadlessFrontEnd* front = nullptr;
  TSmallWindow* window = nullptr;
  int ticks = 0;
  bool closeInsteadOfQuit = false;
};
LoopProbe* gLoop = nullptr;

void LoopTick(platform::HWND, platform::UINT, platform::UINT_PTR id, std::uint32_t) {
  LoopProbe& p = *gLoop;
  ++p.ticks;
  p.window->Bar().SetSimpleText("tick " + std::to_string(p.ticks));
  if (p.ticks == 2) throw std::runtime_error("a handler failed");
  if (p.ticks < 3) return;
  platform::KillTimer(0, id);
  if (p.closeInsteadOfQuit) {
    p.window->Close();
  } else {
    p.front->Quit(7);
  }
}

TEST(HeadlessFrontEnd, RunsTheLoopUntilQuitOrTheWindowCloses) {
  for (const bool close : {false, true}) {
    SCOPED_TRACE(close ? "window closed" : "quit");
    std::ostringstream out;
    TSmallWindow window;
    headless::HeadlessFrontEnd front(out);
    front.Present(window);
    LoopProbe probe{&front, &window, 0, close};
    gLoop = &probe;
    ASSERT_NE(platform::SetTimer(0, 0, 10, LoopTick), 0u);
    const int exitCode = front.Run();
    gLoop = nullptr;
    EXPECT_EQ(exitCode, close ? 0 : 7);
    EXPECT_EQ(probe.ticks, 3);
    EXPECT_EQ(Lines(out.str()), (std::vector<std::string>{"status: tick 1", "status: tick 2", "error: a handler failed",
                                                          "status: tick 3"}));
  }
}

}  // namespace
