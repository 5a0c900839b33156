#include "ui/Methods.h"

#include <cctype>

namespace ui {

std::string TMethodProvider::Lowered(std::string_view name) {
  std::string lowered(name);
  for (char& c : lowered) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lowered;
}

const TMethodProvider* MethodProviderOf(const platform::TComponent& component) {
  for (const platform::TComponent* c = &component; c != nullptr; c = c->Owner()) {
    if (const auto* provider = dynamic_cast<const TMethodProvider*>(c)) return provider;
  }
  return nullptr;
}

}  // namespace ui
