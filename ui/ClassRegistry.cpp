#include "ui/ClassRegistry.h"

#include <cctype>

#include "ui/Actions.h"
#include "ui/ComCtrls.h"
#include "ui/DBCtrls.h"
#include "ui/Dialogs.h"
#include "ui/ExtCtrls.h"
#include "ui/FileCtrls.h"
#include "ui/Form.h"
#include "ui/Menus.h"
#include "ui/StdCtrls.h"
#include "ui/Timer.h"

namespace ui {

std::string TClassRegistry::Key(std::string_view className) {
  std::string key(className);
  for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return key;
}

void TClassRegistry::Register(const std::string& className, Factory factory) {
  factories_[Key(className)] = std::move(factory);
}

bool TClassRegistry::Contains(std::string_view className) const { return factories_.contains(Key(className)); }

platform::TComponent* TClassRegistry::Create(std::string_view className, platform::TComponent* owner) const {
  auto it = factories_.find(Key(className));
  return it == factories_.end() ? nullptr : it->second(owner);
}

namespace {

void RegisterStandardClasses(TClassRegistry& r) {
  r.Register<TForm>("TForm");
  r.Register<TLabel>("TLabel");
  r.Register<TButton>("TButton");
  r.Register<TBitBtn>("TBitBtn");
  r.Register<TCheckBox>("TCheckBox");
  r.Register<TGroupBox>("TGroupBox");
  r.Register<TPanel>("TPanel");
  r.Register<TEdit>("TEdit");
  r.Register<TMaskEdit>("TMaskEdit");
  r.Register<TMemo>("TMemo");
  r.Register<TListBox>("TListBox");
  r.Register<TComboBox>("TComboBox");
  r.Register<TRadioGroup>("TRadioGroup");
  r.Register<TFileListBox>("TFileListBox");
  r.Register<TFilterComboBox>("TFilterComboBox");
  r.Register<TStatusBar>("TStatusBar");
  r.Register<TTreeView>("TTreeView");
  r.Register<TListView>("TListView");
  r.Register<THeaderControl>("THeaderControl");
  r.Register<TTabControl>("TTabControl");
  r.Register<TImage>("TImage");
  r.Register<THeader>("THeader");
  r.Register<TTabSet>("TTabSet");
  r.Register<TNotebook>("TNotebook");
  r.Register<TTabbedNotebook>("TTabbedNotebook");
  r.Register<TMainMenu>("TMainMenu");
  r.Register<TMenuItem>("TMenuItem");
  r.Register<TOpenDialog>("TOpenDialog");
  r.Register<TSaveDialog>("TSaveDialog");
  r.Register<TAction>("TAction");
  r.Register<TActionList>("TActionList");
  r.Register<TTimer>("TTimer");
  r.Register<TField>("TField");
  r.Register<TDBListBox>("TDBListBox");
  r.Register<TDBComboBox>("TDBComboBox");
  r.Register<TDBRadioGroup>("TDBRadioGroup");
  r.Register<TDBGrid>("TDBGrid");
  r.Register<TDBNavigator>("TDBNavigator");
}

}  // namespace

TClassRegistry& StandardClasses() {
  static TClassRegistry registry = [] {
    TClassRegistry r;
    RegisterStandardClasses(r);
    return r;
  }();
  return registry;
}

}  // namespace ui
