// A stored form sets DefaultLanguage before Languages (the order the properties are published in):
// the value is checked against the number of languages the whole form ends up with, once loaded.
#include <gtest/gtest.h>

#include <string>

#include "lang/MLang.h"
#include "tests/lang/LangTestSupport.h"
#include "tests/ui/ScriptedPrompter.h"
#include "ui/FormReader.h"
#include "ui/StdCtrls.h"

namespace {

struct StoredCase {
  const char* name;
  const char* properties;  // the language component's stored lines
  int defaultLanguage;     // after loading
  bool tooHighBox;         // "Value must not be higher..." shown
  const char* caption;     // the label's text after loading (language 0 is shown)
};

void PrintTo(const StoredCase& c, std::ostream* os) { *os << c.name; }

class StoredDefaultLanguage : public testing::TestWithParam<StoredCase> {};

TEST_P(StoredDefaultLanguage, IsCheckedAgainstTheLanguagesOfTheLoadedForm) {
  const StoredCase& c = GetParam();
  SetGlobalLanguageIndex(0);
  ScriptedPrompter prompter;
  ui::TClassRegistry classes = ui::StandardClasses();
  RegisterLanguageClasses(classes);
  TTestWindow window;
  ui::ReadForm(std::string("object Stored: TTestWindow\n"
                           "  object Label1: TLabel\n"
                           "  end\n"
                           "  object MultiLang1: TMultiLang\n") +
                   c.properties +
                   "    DefaultEnabled = True\n"
                   "    Words = ('Label1' '' 'one' 'two')\n"
                   "  end\n"
                   "end\n",
               "stored.form", window, classes);
  auto* lang = dynamic_cast<TMultiLang*>(window.FindComponent("MultiLang1"));
  ASSERT_NE(lang, nullptr);
  EXPECT_EQ(lang->DefaultLanguage(), c.defaultLanguage);
  int tooHigh = 0;
  for (const auto& box : prompter.boxes) tooHigh += box.text.rfind("Value must not be higher", 0) == 0 ? 1 : 0;
  EXPECT_EQ(tooHigh, c.tooHighBox ? 1 : 0);
  EXPECT_EQ(dynamic_cast<ui::TLabel*>(window.FindComponent("Label1"))->Caption(), c.caption);
}

INSTANTIATE_TEST_SUITE_P(
    Orders, StoredDefaultLanguage,
    testing::Values(
        // The published order: the default names a language that only Languages = 3 brings.
        StoredCase{"DefaultBeforeLanguages", "    DefaultLanguage = 2\n    Languages = 3\n", 2, false, "two"},
        StoredCase{"DefaultAfterLanguages", "    Languages = 3\n    DefaultLanguage = 2\n", 2, false, "two"},
        // Too high for the loaded form: told once it is loaded, and the default stays 0.
        StoredCase{"DefaultTooHigh", "    DefaultLanguage = 3\n    Languages = 3\n", 0, true, ""},
        StoredCase{"LanguagesCutBelowTheDefault", "    DefaultLanguage = 1\n    Languages = 1\n", 0, true, ""},
        StoredCase{"DefaultWithinTheUsualTwo", "    DefaultLanguage = 1\n", 1, false, "one"}),
    [](const testing::TestParamInfo<StoredCase>& info) { return std::string(info.param.name); });

}  // namespace
