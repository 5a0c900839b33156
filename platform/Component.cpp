#include "platform/Component.h"

#include <algorithm>

namespace platform {

namespace {

void EraseValue(std::vector<TComponent*>& list, const TComponent* value) {
  list.erase(std::remove(list.begin(), list.end(), value), list.end());
}

bool Contains(const std::vector<TComponent*>& list, const TComponent* value) {
  return std::find(list.begin(), list.end(), value) != list.end();
}

}  // namespace

// ---- PropertyTable ----

std::size_t PropertyTable::NameHash::operator()(std::string_view name) const {
  std::size_t hash = 14695981039346656037ull;  // FNV-1a over the lowered letters
  for (char c : name) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  }
  return hash;
}

PropertyTable::PropertyTable(const PropertyTable* parent) : parent_(parent) {
  if (parent_ == nullptr) return;
  for (const auto& [name, slot] : parent_->index_) index_.emplace(name, Slot{slot.depth + 1, slot.position});
}

PropertyTable& PropertyTable::Add(std::string name, std::function<Variant(const TComponent&)> get,
                                  std::function<void(TComponent&, const Variant&)> set) {
  // A class's own registration hides a base class's; within one class the first one counts.
  const auto [it, added] = index_.try_emplace(name, Slot{0, own_.size()});
  if (!added && it->second.depth > 0) it->second = Slot{0, own_.size()};
  own_.push_back(PropertyInfo{std::move(name), std::move(get), std::move(set)});
  return *this;
}

const PropertyInfo* PropertyTable::Find(std::string_view name) const {
  const auto it = index_.find(name);
  if (it == index_.end()) return nullptr;
  const PropertyTable* table = this;
  for (std::size_t up = it->second.depth; up > 0; --up) table = table->parent_;
  return &table->own_[it->second.position];
}

std::vector<const PropertyInfo*> PropertyTable::All() const {
  std::vector<const PropertyInfo*> all = parent_ != nullptr ? parent_->All() : std::vector<const PropertyInfo*>{};
  for (const PropertyInfo& info : own_) {
    auto hidden = std::find_if(all.begin(), all.end(),
                               [&info](const PropertyInfo* p) { return SameText(p->name, info.name); });
    if (hidden != all.end()) {
      *hidden = &info;
    } else {
      all.push_back(&info);
    }
  }
  return all;
}

// ---- TComponent: ownership ----

TComponent::TComponent(TComponent* owner) {
  if (owner != nullptr) owner->InsertComponent(this);
}

TComponent::~TComponent() {
  state_ |= csDestroying;
  DestroyComponents();
  if (owner_ != nullptr) owner_->RemoveComponent(this);
  SendFreeNotifications();
}

void TComponent::DestroyComponents() {
  // Last inserted first, each taken out (with notification) before it goes, so that no survivor
  // keeps a pointer to a freed sibling.
  while (!components_.empty()) {
    TComponent* component = components_.back();
    RemoveComponent(component);
    delete component;
  }
}

void TComponent::CheckNameFree(const std::string& name, const TComponent* exempt) const {
  if (name.empty()) return;
  const TComponent* found = FindComponent(name);
  if (found != nullptr && found != exempt) {
    throw Exception("A component named " + name + " already exists");
  }
}

void TComponent::SetName(const std::string& name) {
  if (name == name_) return;
  if (owner_ != nullptr) owner_->CheckNameFree(name, this);
  name_ = name;
}

TComponent* TComponent::FindComponent(std::string_view name) const {
  if (name.empty()) return nullptr;
  for (TComponent* component : components_) {
    if (SameText(component->name_, name)) return component;
  }
  return nullptr;
}

void TComponent::InsertComponent(TComponent* component) {
  if (component == nullptr || component->owner_ == this) return;
  for (const TComponent* owner = this; owner != nullptr; owner = owner->owner_) {
    if (owner == component) throw Exception("A component cannot own itself or one of its owners");
  }
  CheckNameFree(component->name_, nullptr);
  if (component->owner_ != nullptr) component->owner_->RemoveComponent(component);
  components_.push_back(component);
  component->owner_ = this;
  if (IsDesigning()) component->SetDesigning(true);
  Notification(component, opInsert);
}

void TComponent::RemoveComponent(TComponent* component) {
  if (component == nullptr || component->owner_ != this) return;
  Notification(component, opRemove);
  component->owner_ = nullptr;
  EraseValue(components_, component);
}

void TComponent::Notification(TComponent* component, TOperation operation) {
  // Backwards, and tolerant of an owned component that leaves while it is being told.
  std::size_t i = components_.size();
  while (i > 0) {
    --i;
    components_[i]->Notification(component, operation);
    i = std::min(i, components_.size());
  }
}

// ---- TComponent: free notification ----

void TComponent::FreeNotification(TComponent* component) {
  if (component == nullptr || component == this) return;
  if (!Contains(freeNotifies_, component)) freeNotifies_.push_back(component);
  if (!Contains(component->freeNotifies_, this)) component->freeNotifies_.push_back(this);
}

void TComponent::RemoveFreeNotification(TComponent* component) {
  if (component == nullptr) return;
  ForgetFreeNotify(component);
  component->ForgetFreeNotify(this);
}

void TComponent::ForgetFreeNotify(TComponent* component) { EraseValue(freeNotifies_, component); }

void TComponent::SendFreeNotifications() {
  while (!freeNotifies_.empty()) {
    TComponent* other = freeNotifies_.back();
    freeNotifies_.pop_back();
    other->ForgetFreeNotify(this);
    other->Notification(this, opRemove);
  }
}

// ---- TComponent: state ----

void TComponent::BeginLoading() {
  state_ |= csLoading;
  for (TComponent* component : components_) component->BeginLoading();
}

void TComponent::SetDesigning(bool designing) {
  state_ = designing ? (state_ | csDesigning) : (state_ & ~static_cast<unsigned>(csDesigning));
  for (TComponent* component : components_) component->SetDesigning(designing);
}

void TComponent::Loaded() { state_ &= ~static_cast<unsigned>(csLoading); }

// ---- TComponent: properties by name ----

const PropertyTable& TComponent::ClassProperties() {
  static const PropertyTable table = PropertyTable().Property("Name", &TComponent::Name, &TComponent::SetName);
  return table;
}

bool TComponent::HasProperty(std::string_view name) const { return Properties().Find(name) != nullptr; }

namespace {

const PropertyInfo& FindOrRaise(const TComponent& component, std::string_view name) {
  const PropertyInfo* info = component.Properties().Find(name);
  if (info == nullptr) {
    throw Exception("Unknown property " + std::string(name) + " of class " + component.ClassName());
  }
  return *info;
}

}  // namespace

Variant TComponent::GetProperty(std::string_view name) const {
  const PropertyInfo& info = FindOrRaise(*this, name);
  if (!info.get) throw Exception("Property " + info.name + " is write-only");
  return info.get(*this);
}

void TComponent::SetProperty(std::string_view name, const Variant& value) {
  const PropertyInfo& info = FindOrRaise(*this, name);
  if (!info.set) throw Exception("Property " + info.name + " is read-only");
  try {
    info.set(*this, value);
  } catch (const EVariantError& error) {
    throw Exception("Invalid value for property " + info.name + ": " + error.Detail());
  }
}

}  // namespace platform
