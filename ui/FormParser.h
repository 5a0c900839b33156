// The syntax of stored forms (see FormReader.h): turns a form's text into a tree of objects with
// their properties, before any component is made, so that a syntax error creates nothing.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/Variant.h"

namespace ui {

struct TFormProperty {
  std::string name;
  platform::Variant value;
  int line = 0;
};

struct TFormObject {
  std::string name;
  std::string className;
  int line = 0;
  std::vector<TFormProperty> properties;
  std::vector<TFormObject> children;
};

// Raises EFormError (FormReader.h) with the line and reason of the first syntax error.
TFormObject ParseForm(std::string_view text, const std::string& fileName);

}  // namespace ui
