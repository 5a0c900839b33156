// The classes a stored form may name, by class name: each entry makes a component of that class
// with a given owner. The standard registry knows every control of the model; other layers add
// their own classes (the language component, the application's windows).
#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>

#include "platform/Component.h"

namespace ui {

class TClassRegistry {
 public:
  using Factory = std::function<platform::TComponent*(platform::TComponent* owner)>;

  // Registers (or replaces) a class under its name, compared ignoring case.
  void Register(const std::string& className, Factory factory);
  template <typename T>
  void Register(const std::string& className) {
    Register(className, [](platform::TComponent* owner) -> platform::TComponent* { return new T(owner); });
  }
  bool Contains(std::string_view className) const;
  // A new component of that class owned by owner, or nullptr for an unknown class.
  platform::TComponent* Create(std::string_view className, platform::TComponent* owner) const;

 private:
  static std::string Key(std::string_view className);
  std::map<std::string, Factory> factories_;
};

// The process's registry, filled with the model's controls on first use.
TClassRegistry& StandardClasses();

}  // namespace ui
