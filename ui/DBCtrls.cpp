#include "ui/DBCtrls.h"

namespace ui {

using platform::PropertyTable;

const PropertyTable& TField::ClassProperties() {
  static const PropertyTable table = PropertyTable(&platform::TComponent::ClassProperties())
                                         .Property("FieldName", &TField::FieldName, &TField::SetFieldName)
                                         .Property("DisplayLabel", &TField::DisplayLabel, &TField::SetDisplayLabel);
  return table;
}

const PropertyTable& TDBGrid::ClassProperties() {
  static const PropertyTable table =
      PropertyTable(&TControl::ClassProperties()).Property("Columns", &TDBGrid::Columns, &TDBGrid::SetColumns);
  return table;
}

const PropertyTable& TDBNavigator::ClassProperties() {
  static const PropertyTable table =
      PropertyTable(&TControl::ClassProperties()).Property("Hints", &TDBNavigator::Hints, &TDBNavigator::SetHints);
  return table;
}

}  // namespace ui
