// The program's main window in the Qt front end (offscreen): it stays shown, in place and at its
// size through every form change; Qt's own dialog texts follow the window's language; the window's
// icon is the program's picture.
#include <gtest/gtest.h>

#include <QApplication>
#include <QIcon>
#include <QImage>
#include <QWindow>

#include "tests/qt/MainWindowHarness.h"
#include "ui/FormReader.h"

namespace {

class WindowStays : public testing::TestWithParam<FormChange> {};

TEST_P(WindowStays, ShownInPlaceAndAtItsSizeAfterTheChange) {
  MainWindowHarness h({"ORV", "E"});
  QWidget& window = h.Widget();
  ASSERT_TRUE(window.isVisible());
  const QPoint place = window.pos();
  const QWidget* before = &window;
  GetParam().apply(h);
  MainWindowHarness::Settle();
  ASSERT_EQ(&h.Widget(), before);
  EXPECT_TRUE(window.isVisible());
  ASSERT_NE(window.windowHandle(), nullptr);
  EXPECT_TRUE(window.windowHandle()->isVisible());
  EXPECT_EQ(window.pos(), place);
  EXPECT_EQ(window.size(), QSize(494, 327));
  // The change did reach the window.
  EXPECT_EQ(window.windowTitle().toStdString(), h.Window().Caption());
}

INSTANTIATE_TEST_SUITE_P(Changes, WindowStays, testing::ValuesIn(FormChanges()),
                         [](const testing::TestParamInfo<FormChange>& info) { return std::string(info.param.name); });

struct LanguageCase {
  const char* name;
  std::vector<std::string> params;
  int languageClicks;
  std::vector<std::string> buttons;  // Yes, No, Cancel as the box shows them
};

void PrintTo(const LanguageCase& c, std::ostream* os) { *os << c.name; }

const std::vector<std::string> kEnglish = {"&Yes", "&No", "Cancel"};
// Qt's Traditional Chinese translation (qtbase_zh_TW.qm of Debian's qt6-translations-l10n).
const std::vector<std::string> kChinese = {"是(&Y)", "否(&N)", "取消"};

class DialogTexts : public testing::TestWithParam<LanguageCase> {};

TEST_P(DialogTexts, BoxButtonsAreInTheWindowsLanguage) {
  const LanguageCase& c = GetParam();
  MainWindowHarness h(c.params);
  for (int i = 0; i < c.languageClicks; ++i) {
    h.ClickLanguage();
    MainWindowHarness::Settle();
  }
  EXPECT_EQ(h.BoxButtonTexts(), c.buttons);
}

INSTANTIATE_TEST_SUITE_P(
    Languages, DialogTexts,
    testing::Values(LanguageCase{"English", {"ORV", "E"}, 0, kEnglish},
                    LanguageCase{"EnglishSwitchedToChinese", {"ORV", "E"}, 1, kChinese},
                    LanguageCase{"EnglishSwitchedTwice", {"ORV", "E"}, 2, kEnglish},
                    LanguageCase{"Chinese", {"ORV", "C"}, 0, kChinese},
                    LanguageCase{"ChineseSwitchedToEnglish", {"ORV", "C"}, 1, kEnglish},
                    LanguageCase{"DefaultIsChinese", {}, 0, kChinese}),
    [](const testing::TestParamInfo<LanguageCase>& info) { return std::string(info.param.name); });

TEST(WindowIcon, IsTheProgramsPicture) {
  MainWindowHarness h({"ORV", "E"});
  const QIcon icon = h.Widget().windowIcon();
  ASSERT_FALSE(icon.isNull());
  const QImage picture(QString::fromStdString(ui::FindResourceFile("ProgramIcon.png").string()));
  ASSERT_FALSE(picture.isNull());
  EXPECT_EQ(icon.pixmap(picture.size()).toImage().convertToFormat(QImage::Format_ARGB32),
            picture.convertToFormat(QImage::Format_ARGB32));
}

}  // namespace
