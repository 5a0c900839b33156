// A property that refers to another component of the same window by name (a control's Action).
// A stored form may name a component that it creates further down, so a name not found while the
// holder is loading is kept and resolved by Loaded. The reference is dropped when its target goes.
#pragma once

#include <functional>
#include <string>

#include "platform/Component.h"

namespace ui {

class TComponentRef {
 public:
  // accepts tells whether a component is of the kind the property may refer to.
  TComponentRef(platform::TComponent& holder, std::function<bool(const platform::TComponent&)> accepts)
      : holder_(holder), accepts_(std::move(accepts)) {}
  TComponentRef(const TComponentRef&) = delete;
  TComponentRef& operator=(const TComponentRef&) = delete;
  ~TComponentRef();

  platform::TComponent* Get() const { return target_; }
  // Raises platform::Exception when target is not of the accepted kind.
  void Set(platform::TComponent* target);
  // The property's value: the target's name, or empty.
  platform::Variant Value() const;
  // Sets from a component name (nil or empty clears). Raises EVariantError for an unknown name,
  // except while the holder is loading, when the name waits for Resolve.
  void SetValue(const platform::Variant& value);
  // Called from the holder's Loaded: resolves a waiting name or raises platform::Exception.
  void Resolve();
  // Called from the holder's Notification.
  void Removed(const platform::TComponent* component) {
    if (component == target_) target_ = nullptr;
  }

 private:
  platform::TComponent* FindByName(const std::string& name) const;

  platform::TComponent& holder_;
  std::function<bool(const platform::TComponent&)> accepts_;
  platform::TComponent* target_ = nullptr;
  std::string pending_;
};

}  // namespace ui
