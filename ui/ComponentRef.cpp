#include "ui/ComponentRef.h"

namespace ui {

TComponentRef::~TComponentRef() {
  if (target_ != nullptr) holder_.RemoveFreeNotification(target_);
}

void TComponentRef::Set(platform::TComponent* target) {
  if (target != nullptr && !accepts_(*target)) {
    throw platform::Exception(target->Name() + " (" + target->ClassName() + ") cannot be referred to here");
  }
  if (target_ != nullptr) holder_.RemoveFreeNotification(target_);
  target_ = target;
  pending_.clear();
  if (target_ != nullptr) holder_.FreeNotification(target_);
}

platform::Variant TComponentRef::Value() const {
  if (target_ != nullptr) return platform::Variant(platform::Identifier{target_->Name()});
  if (!pending_.empty()) return platform::Variant(platform::Identifier{pending_});
  return platform::Variant();
}

platform::TComponent* TComponentRef::FindByName(const std::string& name) const {
  // Components of one window are owned by the window: look among the holder's siblings.
  const platform::TComponent* window = holder_.Owner() != nullptr ? holder_.Owner() : &holder_;
  return window->FindComponent(name);
}

void TComponentRef::SetValue(const platform::Variant& value) {
  const std::string name = value.IsEmpty() ? std::string() : value.AsIdentifier().name;
  if (name.empty() || platform::SameText(name, "nil")) return Set(nullptr);
  platform::TComponent* found = FindByName(name);
  if (found == nullptr) {
    if (!holder_.IsLoading()) throw platform::EVariantError("no component named " + name);
    Set(nullptr);
    pending_ = name;
    return;
  }
  if (!accepts_(*found)) throw platform::EVariantError(name + " is a " + found->ClassName() + ", not a fitting kind");
  Set(found);
}

void TComponentRef::Resolve() {
  if (pending_.empty()) return;
  const std::string name = pending_;
  platform::TComponent* found = FindByName(name);
  if (found == nullptr) throw platform::Exception("No component named " + name + " for " + holder_.Name());
  Set(found);
}

}  // namespace ui
