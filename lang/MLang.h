// The language component that windows hold: gives each kind of control its texts from the word
// table (ApplyWords), collects them back for a word editor (CollectWords), and SetGlobalLanguage
// switches every language component of the process at once.
#pragma once

#include <cstdint>
#include <string>

#include "lang/MLBase.h"
#include "ui/ClassRegistry.h"

class TMultiLang : public TBaseMultiLang {
 public:
  explicit TMultiLang(platform::TComponent* owner) : TBaseMultiLang(owner) {}
  std::string ClassName() const override { return "TMultiLang"; }

  void ApplyWords(platform::TComponent* component, int& index) override;
  // Raises platform::Exception when grid is null.
  void CollectWords(platform::TComponent* component, int firstRow, TWordGrid* grid) override;

 private:
  class TWalker;
  class TCollector;
};

// Switches every language component that has more than language languages, in creation order;
// the others are left alone. GlobalLanguage becomes language in any case. When a component's
// switch fails the others are still switched, and the first error is raised at the end.
void SetGlobalLanguage(std::uint8_t language);

// Adds the language component to a class registry, so that stored forms can hold it.
void RegisterLanguageClasses(ui::TClassRegistry& classes);
