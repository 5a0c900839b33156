#include "port/QsSelPortForm.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "port/QsSelPort.h"
#include "ui/FormReader.h"

namespace {

constexpr int kHighestPort = 50;

const ui::TClassRegistry& DialogClasses() {
  static const ui::TClassRegistry classes = [] {
    ui::TClassRegistry r = ui::StandardClasses();
    r.Register<ui::TBevel>("TBevel");
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
ui::TBitBtn& TComSelectForm::OkBtn() const { return Part<ui::TBitBtn>(*this, "OkBtn"); }
ui::TBitBtn& TComSelectForm::AbortBtn() const { return Part<ui::TBitBtn>(*this, "AbortBtn"); }

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
