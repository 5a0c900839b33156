// A window in code with a language component, for the language tests.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "lang/MLang.h"
#include "platform/StringList.h"
#include "ui/Form.h"

// A window of a class of the test's choosing (the string library matches class names).
class TTestWindow : public ui::TForm {
 public:
  explicit TTestWindow(std::string className = "TTestWindow") : ui::TForm(nullptr), className_(std::move(className)) {}
  std::string ClassName() const override { return className_; }

 private:
  std::string className_;
};

class LangTest : public testing::Test {
 protected:
  void SetUp() override {
    SetGlobalLanguageIndex(0);
    window = std::make_unique<TTestWindow>();
    window->SetName("Window1");
    window->SetCaption("Window");
    lang = new TMultiLang(window.get());
    lang->SetName("MultiLang1");
  }
  void TearDown() override {
    window.reset();
    SetGlobalLanguageIndex(0);
    SetStringLibraryName("");
  }

  template <typename T>
  T* Add(const std::string& name) {
    T* component = new T(window.get());
    component->SetName(name);
    return component;
  }

  void SetWords(std::vector<std::string> lines) { lang->SetWords(platform::TStringList(std::move(lines))); }

  std::unique_ptr<TTestWindow> window;
  TMultiLang* lang = nullptr;
};

inline std::string Joined(const platform::TStringList& lines) {
  std::string text;
  for (int i = 0; i < lines.Count(); ++i) text += (i > 0 ? "|" : "") + lines[i];
  return text;
}
