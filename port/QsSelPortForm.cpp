#include "port/QsSelPortForm.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "port/QsSelPort.h"
#include "ui/FormReader.h"

namespace comselect {

void TModalBitBtn::Click() {
  ui::TBitBtn::Click();
  if (modalResult_ == 0) return;
  if (auto* host = dynamic_cast<TModalHost*>(Owner())) host->SetModalResult(modalResult_);
}

const platform::PropertyTable& TModalBitBtn::ClassProperties() {
  static const platform::PropertyTable table = platform::PropertyTable(&ui::TBitBtn::ClassProperties())
                                                   .Property("ModalResult", &TModalBitBtn::ModalResult,
                                                             &TModalBitBtn::SetModalResult);
  return table;
}

const platform::PropertyTable& TBevel::ClassProperties() {
  static const platform::PropertyTable table = [] {
    platform::PropertyTable t(&ui::TControl::ClassProperties());
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

const platform::PropertyTable& TStyledComboBox::ClassProperties() {
  static const platform::PropertyTable table = [] {
    platform::PropertyTable t(&ui::TComboBox::ClassProperties());
    t.Enumeration("Style", &TStyledComboBox::Style, &TStyledComboBox::SetStyle,
                  {{"csDropDown", csDropDown},
                   {"csSimple", csSimple},
                   {"csDropDownList", csDropDownList},
                   {"csOwnerDrawFixed", csOwnerDrawFixed},
                   {"csOwnerDrawVariable", csOwnerDrawVariable}});
    return t;
  }();
  return table;
}

}  // namespace comselect

namespace {

constexpr int kHighestPort = 50;

const ui::TClassRegistry& DialogClasses() {
  static const ui::TClassRegistry classes = [] {
    ui::TClassRegistry r = ui::StandardClasses();
    r.Register<comselect::TBevel>("TBevel");
    r.Register<comselect::TModalBitBtn>("TBitBtn");
    r.Register<comselect::TStyledComboBox>("TComboBox");
    return r;
  }();
  return classes;
}

template <typename T>
T& Part(const TComSelectForm& form, const char* name) {
  auto* part = dynamic_cast<T*>(form.FindComponent(name));
  if (part == nullptr) throw platform::Exception(std::string("ComSelect.form has no ") + name);
  return *part;
}

std::mutex gRunnerLock;
TComSelectRunner gRunner;

}  // namespace

TComSelectForm::TComSelectForm(platform::TComponent* owner) : ui::TForm(owner) {
  RegisterMethod<platform::TComponent*>("FormCreate", [this](platform::TComponent* sender) { FormCreate(sender); });
  ui::ReadFormFile(ui::FindResourceFile("ComSelect.form"), *this, DialogClasses());
}

void TComSelectForm::FormCreate(platform::TComponent* /*sender*/) {
  platform::TStringList ports;
  for (int number = 1; number <= kHighestPort; ++number) {
    if (!IsPortAvailable(number)) continue;
    char item[16];
    std::snprintf(item, sizeof item, "COM%d", number);
    ports.Add(item);
  }
  ui::TComboBox& list = PortsComboBox();
  list.SetItems(ports);
  list.SetItemIndex(ports.Count() > 0 ? 0 : -1);
}

int TComSelectForm::SelectedPort() const {
  const ui::TComboBox& list = PortsComboBox();
  if (list.ItemIndex() < 0) return 0;
  const std::string& item = list.Items().Strings(list.ItemIndex());
  return item.size() > 3 ? std::atoi(item.c_str() + 3) : 0;
}

ui::TComboBox& TComSelectForm::PortsComboBox() const { return Part<ui::TComboBox>(*this, "PortsComboBox"); }
comselect::TModalBitBtn& TComSelectForm::OkBtn() const { return Part<comselect::TModalBitBtn>(*this, "OkBtn"); }
comselect::TModalBitBtn& TComSelectForm::AbortBtn() const {
  return Part<comselect::TModalBitBtn>(*this, "AbortBtn");
}

TComSelectRunner SetComSelectRunner(TComSelectRunner runner) {
  std::lock_guard guard(gRunnerLock);
  std::swap(gRunner, runner);
  return runner;
}

int RunComSelectDialog(int& selectedPort) {
  TComSelectRunner runner;
  {
    std::lock_guard guard(gRunnerLock);
    runner = gRunner;
  }
  TComSelectForm dialog;
  dialog.DoCreate();
  int result = runner ? runner(dialog) : kSelectionCancel;
  if (result == 0) result = kSelectionCancel;  // closed without an answer
  dialog.DoDestroy();
  if (result != kSelectionOk) return result;
  const int chosen = dialog.SelectedPort();
  if (chosen <= 0) return kSelectionCancel;
  selectedPort = chosen;
  return kSelectionOk;
}

void InstallComSelectDialog() { SetPortSelectionDialog(&RunComSelectDialog); }
