// Methods a window offers to stored forms by name: a form file binds an event to a method of the
// window it builds ("OnClick = btnExitClick"), and the window class lists those methods once.
#pragma once

#include <any>
#include <map>
#include <string>
#include <string_view>
#include <type_traits>

#include "platform/Component.h"
#include "platform/StringList.h"
#include "ui/Events.h"

namespace ui {

class TMethodProvider {
 public:
  virtual ~TMethodProvider() = default;

  // Offers a method under name. Calls the handler with the window's own object identity, so that
  // two bindings of the same name compare equal.
  template <typename... Args>
  void RegisterMethod(const std::string& name, std::type_identity_t<std::function<void(Args...)>> call) {
    methods_[Lowered(name)] = Entry{name, TEvent<Args...>(this, name, std::move(call))};
  }

  // The method of that name (ignoring case) with the handler type asked for, or nullptr when the
  // name is unknown or the method's parameters differ.
  template <typename... Args>
  const TEvent<Args...>* FindMethod(std::string_view name) const {
    auto it = methods_.find(Lowered(name));
    return it == methods_.end() ? nullptr : std::any_cast<TEvent<Args...>>(&it->second.event);
  }

 private:
  struct Entry {
    std::string name;
    std::any event;
  };
  static std::string Lowered(std::string_view name);

  std::map<std::string, Entry> methods_;
};

// The window that provides methods to component: the first owner, from the component itself
// upwards, that is a method provider; nullptr when there is none.
const TMethodProvider* MethodProviderOf(const platform::TComponent& component);

// Registers an event property: reads as the bound method's name (empty when none or bound in
// code), is set from a method name of the component's window, or cleared by an empty value or nil.
template <typename C, typename... Args>
void AddEventProperty(platform::PropertyTable& table, std::string name, const TEvent<Args...>& (C::*getter)() const,
                      void (C::*setter)(TEvent<Args...>)) {
  table.Add(
      std::move(name),
      [getter](const platform::TComponent& c) {
        const std::string bound = (static_cast<const C&>(c).*getter)().Name();
        return bound.empty() ? platform::Variant() : platform::Variant(platform::Identifier{bound});
      },
      [setter](platform::TComponent& c, const platform::Variant& v) {
        if (v.IsEmpty() || (v.Is<platform::Identifier>() && platform::SameText(v.AsIdentifier().name, "nil"))) {
          return (static_cast<C&>(c).*setter)(TEvent<Args...>());
        }
        const std::string& method = v.AsIdentifier().name;
        const TMethodProvider* provider = MethodProviderOf(c);
        const TEvent<Args...>* event = provider != nullptr ? provider->FindMethod<Args...>(method) : nullptr;
        if (event == nullptr) throw platform::EVariantError("no method " + method + " of a fitting kind");
        (static_cast<C&>(c).*setter)(*event);
      });
}

}  // namespace ui
