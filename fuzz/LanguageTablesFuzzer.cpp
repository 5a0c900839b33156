// The language component's tables on any text: a word table, character sets and positions for a
// window with a few controls, switched to each language and back; and the string library's file.
// Only platform::Exception may come out, and a library string cut to a length keeps valid UTF-8 valid.
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/FuzzInput.h"
#include "lang/MLang.h"
#include "lang/StringLibrary.h"
#include "platform/StringList.h"
#include "ui/Form.h"
#include "ui/StdCtrls.h"

namespace {

class TWindow : public ui::TForm {
 public:
  TWindow() : ui::TForm(nullptr) {}
  std::string ClassName() const override { return "TFuzzWindow"; }
};

// The lines of text; a last line without its line end counts when it is not empty.
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  for (std::size_t from = 0; from < text.size();) {
    const std::size_t end = std::min(text.find('\n', from), text.size());
    lines.emplace_back(text, from, end - from);
    from = end + 1;
  }
  return lines;
}

}  // namespace

// Longer inputs are turned away (they only slow the run down).
FUZZ_LONGEST_INPUT(4096);

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kLongestInput) return 0;
  fuzz::TInput in(data, size);
  const std::uint8_t languages = static_cast<std::uint8_t>(1 + in.Byte() % 4);
  const std::string words = in.Text(1024);
  const std::string charSets = in.Text(256);
  const std::string positions = in.Text(256);
  const std::size_t cut = in.Upto(64);
  const std::string library = in.Rest();

  try {
    auto window = std::make_unique<TWindow>();
    window->SetName("Window1");
    auto* label = new ui::TLabel(window.get());
    label->SetName("Label1");
    auto* button = new ui::TButton(window.get());
    button->SetName("Button1");
    auto* memo = new ui::TMemo(window.get());
    memo->SetName("Memo1");
    auto* lang = new TMultiLang(window.get());
    lang->SetName("MultiLang1");
    lang->SetLanguages(languages);
    lang->SetWords(platform::TStringList(Lines(words)));
    lang->SetCharSets(platform::TStringList(Lines(charSets)));
    lang->SetPositions(platform::TStringList(Lines(positions)));
    for (std::uint8_t l = 0; l <= languages; ++l) {
      try {
        lang->SetActiveLanguage(l);
      } catch (const platform::Exception&) {
      }
    }
    lang->SetActiveLanguage(0);
  } catch (const platform::Exception&) {
  }

  try {
    const TStringLibrary strings = TStringLibrary::Parse(library, "fuzz.txt");
    for (std::int32_t id : {0, 1, 2, 100, -1}) {
      const auto whole = strings.String(id);
      const auto part = strings.String(id, cut);
      FUZZ_CHECK(whole.has_value() == part.has_value());
      if (!whole) continue;
      FUZZ_CHECK(whole->compare(0, part->size(), *part) == 0);
      if (fuzz::ValidUtf8(*whole)) FUZZ_CHECK(fuzz::ValidUtf8(*part));
    }
  } catch (const platform::Exception&) {
  }
  SetGlobalLanguageIndex(0);
  return 0;
}
