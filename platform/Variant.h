// The value type of property access by name: what a stored form can hold (booleans, integers,
// reals, texts, lists of texts, identifiers such as enumeration names or component references).
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "platform/SysUtils.h"

namespace platform {

// An unquoted word of a stored form: an enumeration value (alTop, fsBold), a set member list's
// item, or the name of another component.
struct Identifier {
  std::string name;
  bool operator==(const Identifier&) const = default;
};

using StringVector = std::vector<std::string>;

// Raised when a value does not have the kind asked for. Detail() says what was expected and what
// was found, so that property access can name the property in its own message.
class EVariantError : public Exception {
 public:
  explicit EVariantError(std::string detail)
      : Exception("Invalid property value: " + detail), detail_(std::move(detail)) {}
  const std::string& Detail() const noexcept { return detail_; }

 private:
  std::string detail_;
};

class Variant {
 public:
  using Storage = std::variant<std::monostate, bool, std::int64_t, double, std::string, StringVector, Identifier>;

  Variant() = default;
  Variant(bool v) : value_(v) {}
  Variant(int v) : value_(static_cast<std::int64_t>(v)) {}
  Variant(unsigned v) : value_(static_cast<std::int64_t>(v)) {}
  Variant(std::int64_t v) : value_(v) {}
  Variant(double v) : value_(v) {}
  Variant(const char* v) : value_(std::string(v)) {}
  Variant(std::string v) : value_(std::move(v)) {}
  Variant(StringVector v) : value_(std::move(v)) {}
  Variant(Identifier v) : value_(std::move(v)) {}

  bool IsEmpty() const { return std::holds_alternative<std::monostate>(value_); }
  template <typename T> bool Is() const { return std::holds_alternative<T>(value_); }

  // Conversions raise EVariantError when the value does not fit.
  bool AsBool() const;          // also accepts the identifiers True and False (any case)
  std::int64_t AsInt() const;   // also accepts a real with no fraction
  double AsDouble() const;      // also accepts an integer
  const std::string& AsString() const;
  const StringVector& AsStrings() const;
  const Identifier& AsIdentifier() const;

  // A readable rendering, for error messages and tests: True, 12, 2.5, 'text' (quotes doubled),
  // ('a', 'b'), alTop, (empty).
  std::string ToString() const;

  const Storage& Raw() const { return value_; }
  bool operator==(const Variant&) const = default;

 private:
  [[noreturn]] void Mismatch(const char* expected) const;

  Storage value_;
};

}  // namespace platform
