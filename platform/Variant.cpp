#include "platform/Variant.h"

#include <cmath>
#include <sstream>

#include "platform/StringList.h"

namespace platform {

namespace {

std::string Quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    out += c;
    if (c == '\'') out += '\'';  // a stored form doubles an embedded quote
  }
  return out + "'";
}

}  // namespace

void Variant::Mismatch(const char* expected) const {
  throw EVariantError(std::string("expected ") + expected + ", got " + ToString());
}

bool Variant::AsBool() const {
  if (const auto* b = std::get_if<bool>(&value_)) return *b;
  if (const auto* id = std::get_if<Identifier>(&value_)) {
    // Stored forms write booleans as the words True and False.
    if (SameText(id->name, "True")) return true;
    if (SameText(id->name, "False")) return false;
  }
  Mismatch("a boolean");
}

std::int64_t Variant::AsInt() const {
  if (const auto* i = std::get_if<std::int64_t>(&value_)) return *i;
  if (const auto* d = std::get_if<double>(&value_)) {
    // 2^63 itself does not fit; every double below it in magnitude with no fraction does.
    constexpr double kLimit = 9223372036854775808.0;
    if (std::isfinite(*d) && std::trunc(*d) == *d && *d >= -kLimit && *d < kLimit) {
      return static_cast<std::int64_t>(*d);
    }
  }
  Mismatch("an integer");
}

double Variant::AsDouble() const {
  if (const auto* d = std::get_if<double>(&value_)) return *d;
  if (const auto* i = std::get_if<std::int64_t>(&value_)) return static_cast<double>(*i);
  Mismatch("a number");
}

const std::string& Variant::AsString() const {
  if (const auto* s = std::get_if<std::string>(&value_)) return *s;
  Mismatch("a text");
}

const StringVector& Variant::AsStrings() const {
  if (const auto* v = std::get_if<StringVector>(&value_)) return *v;
  Mismatch("a list of texts");
}

const Identifier& Variant::AsIdentifier() const {
  if (const auto* id = std::get_if<Identifier>(&value_)) return *id;
  Mismatch("an identifier");
}

std::string Variant::ToString() const {
  struct Renderer {
    std::string operator()(std::monostate) const { return "(empty)"; }
    std::string operator()(bool b) const { return b ? "True" : "False"; }
    std::string operator()(std::int64_t i) const { return std::to_string(i); }
    std::string operator()(double d) const {
      std::ostringstream out;
      out.precision(15);
      out << d;
      return out.str();
    }
    std::string operator()(const std::string& s) const { return Quoted(s); }
    std::string operator()(const StringVector& v) const {
      std::string out = "(";
      for (std::size_t i = 0; i < v.size(); ++i) out += (i == 0 ? "" : ", ") + Quoted(v[i]);
      return out + ")";
    }
    std::string operator()(const Identifier& id) const { return id.name; }
  };
  return std::visit(Renderer{}, value_);
}

}  // namespace platform
