// The component base: an owner, a name, owned components in order, notification when a component
// is inserted or removed, loading and designing state, Loaded, and property access by name.
//
// Every class registers its properties once, in a PropertyTable chained to its base class's table,
// and returns it from Properties():
//   const PropertyTable& TMyLabel::ClassProperties() {
//     static const PropertyTable table = PropertyTable(&TComponent::ClassProperties())
//         .Property("Caption", &TMyLabel::Caption, &TMyLabel::SetCaption);
//     return table;
//   }
//   const PropertyTable& TMyLabel::Properties() const { return ClassProperties(); }
// so that a stored form can set any property by name and tools can read them back.
//
// Ownership: a component created with an owner is freed by that owner, so it is made with
// `new T(owner)` and never held in another owning pointer; it may still be deleted earlier, which
// takes it out of its owner. A component without an owner belongs to whoever created it.
#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/StringList.h"
#include "platform/SysUtils.h"
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
  // The parent is complete by then: its names are indexed here once, so that a lookup is one search
  // whatever the depth of the class.
  explicit PropertyTable(const PropertyTable* parent = nullptr);

  PropertyTable& Add(std::string name, std::function<Variant(const TComponent&)> get,
                     std::function<void(TComponent&, const Variant&)> set);

  // Typed registration through member functions of a component class C. The value types may be
  // bool, any integer type (range-checked on assignment), double, std::string, StringVector,
  // TStringList or Identifier, by value or by const reference.
  template <typename C, typename G, typename S>
  PropertyTable& Property(std::string name, G (C::*getter)() const, void (C::*setter)(S)) {
    return Add(std::move(name),
               [getter](const TComponent& c) { return ToVariant((static_cast<const C&>(c).*getter)()); },
               [setter](TComponent& c, const Variant& v) {
                 (static_cast<C&>(c).*setter)(Convert<std::remove_cvref_t<S>>(v));
               });
  }

  template <typename C, typename G>
  PropertyTable& ReadOnly(std::string name, G (C::*getter)() const) {
    return Add(std::move(name),
               [getter](const TComponent& c) { return ToVariant((static_cast<const C&>(c).*getter)()); },
               nullptr);
  }

  // An enumeration stored as an identifier: names[i].first is the word for names[i].second.
  // Words are matched without regard to case; an unknown word is an invalid value.
  template <typename C, typename E>
  PropertyTable& Enumeration(std::string name, E (C::*getter)() const, void (C::*setter)(E),
                             std::vector<std::pair<std::string, E>> names) {
    auto shared = std::make_shared<const std::vector<std::pair<std::string, E>>>(std::move(names));
    return Add(std::move(name),
               [getter, shared](const TComponent& c) {
                 const E value = (static_cast<const C&>(c).*getter)();
                 for (const auto& [word, e] : *shared) {
                   if (e == value) return Variant(Identifier{word});
                 }
                 return Variant(static_cast<std::int64_t>(value));  // a value without a word
               },
               [setter, shared](TComponent& c, const Variant& v) {
                 const Identifier& id = v.AsIdentifier();
                 for (const auto& [word, e] : *shared) {
                   if (SameText(word, id.name)) return (static_cast<C&>(c).*setter)(e);
                 }
                 throw EVariantError("unknown value " + id.name);
               });
  }

  // Names are compared without regard to case, as stored forms do. Searches the parents too; a
  // class's own registration hides a parent's of the same name.
  const PropertyInfo* Find(std::string_view name) const;
  // Every property, the base class's first, in registration order; a property a class registers
  // again keeps its base class's place.
  std::vector<const PropertyInfo*> All() const;

  // Conversions between property values and the C++ types of getters and setters; a value that
  // does not fit raises EVariantError.
  template <typename T> static T Convert(const Variant& v);
  template <typename T> static Variant ToVariant(const T& value);

 private:
  // Names hashed and compared without regard to ASCII case, so that a lookup by any spelling needs
  // no lowered copy.
  struct NameHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view name) const;
  };
  struct NameEqual {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const { return SameText(a, b); }
  };

  // Where a name's registration is: `depth` tables up the parent chain (0: this one), at `position`
  // in that table's own_. Positions, not pointers, so that a copied table stays right.
  struct Slot {
    std::size_t depth;
    std::size_t position;
  };

  const PropertyTable* parent_;
  std::vector<PropertyInfo> own_;
  // Every name this table and its parents know: forms and the language component look properties
  // up by name for every component they touch.
  std::unordered_map<std::string, Slot, NameHash, NameEqual> index_;
};

class TComponent {
 public:
  explicit TComponent(TComponent* owner);
  virtual ~TComponent();
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  TComponent* Owner() const { return owner_; }
  const std::string& Name() const { return name_; }
  // Raises platform::Exception "A component named X already exists" when another component of the
  // same owner has that name (compared without regard to case); an empty name is always allowed.
  void SetName(const std::string& name);
  virtual std::string ClassName() const { return "TComponent"; }

  int ComponentCount() const { return static_cast<int>(components_.size()); }
  TComponent* Components(int index) const { return components_.at(static_cast<std::size_t>(index)); }
  // The owned component of that name (ignoring case), or nullptr; an empty name finds nothing.
  TComponent* FindComponent(std::string_view name) const;

  // Takes ownership of component (removing it from its previous owner). Notifies the whole family.
  // Refuses a component whose name is taken here, and this component itself or one of its owners.
  void InsertComponent(TComponent* component);
  // Gives up ownership without freeing the component. Notifies the whole family first, so that the
  // leaving component hears of its own removal too.
  void RemoveComponent(TComponent* component);

  // Asks to be told (Notification opRemove) when component is destroyed, whoever owns it. The link
  // goes both ways: whichever of the two is destroyed first tells the other, and the survivor
  // forgets it, so neither keeps a dangling pointer.
  void FreeNotification(TComponent* component);
  void RemoveFreeNotification(TComponent* component);

  unsigned ComponentState() const { return state_; }
  bool IsLoading() const { return (state_ & csLoading) != 0; }
  bool IsDesigning() const { return (state_ & csDesigning) != 0; }
  bool IsDestroying() const { return (state_ & csDestroying) != 0; }
  // Marks this component and the components it owns as being loaded from a stored form.
  void BeginLoading();
  // Sets or clears the designing state of this component and the components it owns; a component
  // inserted into a designed owner becomes designed too.
  void SetDesigning(bool designing);
  // Called once a stored form has set every property; clears the loading state. The form reader
  // calls it on every component it created; derived classes call this base version first.
  virtual void Loaded();

  static const PropertyTable& ClassProperties();
  virtual const PropertyTable& Properties() const { return ClassProperties(); }
  bool HasProperty(std::string_view name) const;
  // Raise platform::Exception "Unknown property X of class Y", "Property X is read-only",
  // "Property X is write-only" or "Invalid value for property X: ...".
  Variant GetProperty(std::string_view name) const;
  void SetProperty(std::string_view name, const Variant& value);

 protected:
  // Called on the owner and, through it, on every owned component when a component is inserted
  // or removed, and on the components that asked for a free notification. During destruction the
  // component named may already be down to its TComponent part: compare its address, do not call
  // into it. Overrides call this base version so that owned components hear too.
  virtual void Notification(TComponent* component, TOperation operation);
  // Tells the components that asked for a free notification now. A component whose users call
  // into it when they hear (a port and its data packets) calls this first in its own destructor,
  // while it is still whole; the base destructor then finds nobody left to tell.
  void SendFreeNotifications();

 private:
  void ForgetFreeNotify(TComponent* component);
  void DestroyComponents();
  void CheckNameFree(const std::string& name, const TComponent* exempt) const;

  TComponent* owner_ = nullptr;
  std::string name_;
  std::vector<TComponent*> components_;
  std::vector<TComponent*> freeNotifies_;
  unsigned state_ = 0;
};

template <typename T>
T PropertyTable::Convert(const Variant& v) {
  if constexpr (std::is_same_v<T, Variant>) {
    return v;
  } else if constexpr (std::is_same_v<T, bool>) {
    return v.AsBool();
  } else if constexpr (std::is_integral_v<T>) {
    const std::int64_t value = v.AsInt();
    if (!std::in_range<T>(value)) {
      throw EVariantError("expected an integer from " + std::to_string(std::numeric_limits<T>::min()) + " to " +
                          std::to_string(std::numeric_limits<T>::max()) + ", got " + v.ToString());
    }
    return static_cast<T>(value);
  } else if constexpr (std::is_floating_point_v<T>) {
    return static_cast<T>(v.AsDouble());
  } else if constexpr (std::is_same_v<T, std::string>) {
    return v.AsString();
  } else if constexpr (std::is_same_v<T, StringVector>) {
    return v.AsStrings();
  } else if constexpr (std::is_same_v<T, TStringList>) {
    return TStringList(v.AsStrings());
  } else if constexpr (std::is_same_v<T, Identifier>) {
    return v.AsIdentifier();
  } else {
    static_assert(sizeof(T) == 0, "no property conversion for this type");
  }
}

template <typename T>
Variant PropertyTable::ToVariant(const T& value) {
  if constexpr (std::is_same_v<T, Variant>) {
    return value;
  } else if constexpr (std::is_same_v<T, bool>) {
    return Variant(value);
  } else if constexpr (std::is_integral_v<T>) {
    return Variant(static_cast<std::int64_t>(value));
  } else if constexpr (std::is_floating_point_v<T>) {
    return Variant(static_cast<double>(value));
  } else if constexpr (std::is_same_v<T, std::string> || std::is_same_v<T, StringVector> ||
                       std::is_same_v<T, Identifier>) {
    return Variant(value);
  } else if constexpr (std::is_same_v<T, TStringList>) {
    return Variant(value.Lines());
  } else {
    static_assert(sizeof(T) == 0, "no property conversion for this type");
  }
}

}  // namespace platform
