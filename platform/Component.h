// The component base: an owner, a name, owned components in order, notification when a component
// is inserted or removed, loading and designing state, Loaded, and property access by name.
//
// Every class registers its properties once, in a PropertyTable chained to its base class's table:
//   const PropertyTable& TMyLabel::Properties() const {
//     static const PropertyTable table = PropertyTable(&TComponent::Properties... parent)
//         .String("Caption", &TMyLabel::Caption, &TMyLabel::SetCaption);
//     return table;
//   }
// so that a stored form can set any property by name and tools can read them back.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Variant.h"

namespace platform {

class TComponent;

enum TOperation { opInsert, opRemove };

enum TComponentStateFlag : unsigned {
  csLoading = 1u << 0,
  csDesigning = 1u << 1,
  csDestroying = 1u << 2,
};

struct PropertyInfo {
  std::string name;
  std::function<Variant(const TComponent&)> get;       // empty for write-only properties
  std::function<void(TComponent&, const Variant&)> set;  // empty for read-only properties
};

class PropertyTable {
 public:
  explicit PropertyTable(const PropertyTable* parent = nullptr) : parent_(parent) {}

  PropertyTable& Add(std::string name, std::function<Variant(const TComponent&)> get,
                     std::function<void(TComponent&, const Variant&)> set);

  // Typed registration through member functions of a component class C.
  template <typename C, typename G, typename S>
  PropertyTable& Property(std::string name, G (C::*getter)() const, void (C::*setter)(S)) {
    return Add(std::move(name),
               [getter](const TComponent& c) { return Variant((static_cast<const C&>(c).*getter)()); },
               [setter](TComponent& c, const Variant& v) {
                 (static_cast<C&>(c).*setter)(Convert<std::remove_cvref_t<S>>(v));
               });
  }

  // Names are compared without regard to case, as stored forms do. Searches the parents too.
  const PropertyInfo* Find(std::string_view name) const;
  // Every property, the base class's first, in registration order.
  std::vector<const PropertyInfo*> All() const;

  template <typename T> static T Convert(const Variant& v);

 private:
  const PropertyTable* parent_;
  std::vector<PropertyInfo> own_;
};

class TComponent {
 public:
  explicit TComponent(TComponent* owner);
  virtual ~TComponent();
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  TComponent* Owner() const { return owner_; }
  const std::string& Name() const { return name_; }
  // Raises platform::Exception when another component of the same owner has that name
  // (compared without regard to case); an empty name is always allowed.
  void SetName(const std::string& name);
  virtual std::string ClassName() const { return "TComponent"; }

  int ComponentCount() const { return static_cast<int>(components_.size()); }
  TComponent* Components(int index) const { return components_.at(static_cast<std::size_t>(index)); }
  TComponent* FindComponent(std::string_view name) const;

  // Takes ownership of component (removing it from its previous owner). Notifies the whole family.
  void InsertComponent(TComponent* component);
  // Gives up ownership without freeing the component. Notifies the whole family.
  void RemoveComponent(TComponent* component);

  // Asks to be told (Notification opRemove) when component is destroyed, whoever owns it.
  void FreeNotification(TComponent* component);
  void RemoveFreeNotification(TComponent* component);

  unsigned ComponentState() const { return state_; }
  bool IsLoading() const { return (state_ & csLoading) != 0; }
  bool IsDesigning() const { return (state_ & csDesigning) != 0; }
  bool IsDestroying() const { return (state_ & csDestroying) != 0; }
  // Marks this component and the components it owns as being loaded from a stored form.
  void BeginLoading();
  void SetDesigning(bool designing);
  // Called once a stored form has set every property; clears the loading state.
  virtual void Loaded();

  virtual const PropertyTable& Properties() const;
  bool HasProperty(std::string_view name) const;
  // Raise platform::Exception for an unknown property, a read-only or write-only one, or a value
  // of the wrong kind.
  Variant GetProperty(std::string_view name) const;
  void SetProperty(std::string_view name, const Variant& value);

 protected:
  // Called on the owner and, through it, on every owned component when a component is inserted
  // or removed, and on the components that asked for a free notification.
  virtual void Notification(TComponent* component, TOperation operation);

 private:
  TComponent* owner_ = nullptr;
  std::string name_;
  std::vector<TComponent*> components_;
  std::vector<TComponent*> freeNotifies_;
  unsigned state_ = 0;
};

}  // namespace platform
