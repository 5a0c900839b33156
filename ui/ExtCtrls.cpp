#include "ui/ExtCtrls.h"

namespace ui {

using platform::PropertyTable;

const PropertyTable& TImage::ClassProperties() {
  static const PropertyTable table = PropertyTable(&TControl::ClassProperties())
                                         .Property("Picture", &TImage::Picture, &TImage::SetPicture)
                                         .Property("Stretch", &TImage::Stretch, &TImage::SetStretch);
  return table;
}

const PropertyTable& TBevel::ClassProperties() {
  static const PropertyTable table = [] {
    PropertyTable t(&TControl::ClassProperties());
    t.Enumeration("Shape", &TBevel::Shape, &TBevel::SetShape,
                  {{"bsBox", bsBox},
                   {"bsFrame", bsFrame},
                   {"bsTopLine", bsTopLine},
                   {"bsBottomLine", bsBottomLine},
                   {"bsLeftLine", bsLeftLine},
                   {"bsRightLine", bsRightLine},
                   {"bsSpacer", bsSpacer}})
        .Enumeration("Style", &TBevel::Style, &TBevel::SetStyle, {{"bsLowered", bsLowered}, {"bsRaised", bsRaised}});
    return t;
  }();
  return table;
}

PropertyTable TTitledControl::TitlesTable(const char* titles, const char* index) {
  PropertyTable table(&TControl::ClassProperties());
  table.Property(titles, &TTitledControl::Titles, &TTitledControl::SetTitles);
  if (index != nullptr) table.Property(index, &TTitledControl::TitleIndex, &TTitledControl::SetTitleIndex);
  return table;
}

const PropertyTable& THeader::ClassProperties() {
  static const PropertyTable table = TitlesTable("Sections", nullptr);
  return table;
}

const PropertyTable& TTabSet::ClassProperties() {
  static const PropertyTable table = TitlesTable("Tabs", "TabIndex");
  return table;
}

const PropertyTable& TNotebook::ClassProperties() {
  static const PropertyTable table = TitlesTable("Pages", "PageIndex");
  return table;
}

const PropertyTable& TTabbedNotebook::ClassProperties() {
  static const PropertyTable table = TitlesTable("Pages", "PageIndex");
  return table;
}

}  // namespace ui
