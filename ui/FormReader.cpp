#include "ui/FormReader.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#include "ui/Control.h"
#include "ui/FormParser.h"
#include "ui/Menus.h"

namespace ui {

namespace {

// Shows child inside the component it is nested in, where the kinds allow it.
void Nest(platform::TComponent& child, platform::TComponent& container) {
  auto* control = dynamic_cast<TControl*>(&child);
  auto* parent = dynamic_cast<TControl*>(&container);
  if (control != nullptr && parent != nullptr) return control->SetParent(parent);
  auto* item = dynamic_cast<TMenuItem*>(&child);
  if (item == nullptr) return;
  if (auto* parentItem = dynamic_cast<TMenuItem*>(&container)) return parentItem->Add(item);
  if (auto* menu = dynamic_cast<TMainMenu*>(&container)) return menu->Items().Add(item);
}

class TFormBuilder {
 public:
  TFormBuilder(const std::string& fileName, platform::TComponent& root, const TClassRegistry& classes)
      : fileName_(fileName), root_(root), classes_(classes) {}

  void Build(const TFormObject& form) {
    try {
      if (!platform::SameText(form.className, root_.ClassName())) {
        throw EFormError(fileName_, form.line,
                         "the form is of class " + form.className + ", not " + root_.ClassName());
      }
      root_.BeginLoading();
      loaded_.push_back({&root_, form.line});
      Apply(root_, form);
      for (const TFormObject& child : form.children) Create(child, root_);
      for (const auto& [component, line] : loaded_) {
        Guard(line, [component = component] { component->Loaded(); });
      }
    } catch (...) {
      // Free what this read made, the last first, so that no reference outlives its target.
      for (auto it = created_.rbegin(); it != created_.rend(); ++it) delete *it;
      throw;
    }
  }

 private:
  template <typename F>
  void Guard(int line, F&& step) {
    try {
      step();
    } catch (const EFormError&) {
      throw;
    } catch (const platform::Exception& error) {
      throw EFormError(fileName_, line, error.Message());
    }
  }

  void Apply(platform::TComponent& component, const TFormObject& object) {
    Guard(object.line, [&] { component.SetName(object.name); });
    for (const TFormProperty& property : object.properties) {
      Guard(property.line, [&] { component.SetProperty(property.name, property.value); });
    }
  }

  void Create(const TFormObject& object, platform::TComponent& container) {
    platform::TComponent* component = classes_.Create(object.className, &root_);
    if (component == nullptr) throw EFormError(fileName_, object.line, "unknown class " + object.className);
    created_.push_back(component);
    component->BeginLoading();
    loaded_.push_back({component, object.line});
    Guard(object.line, [&] { Nest(*component, container); });
    Apply(*component, object);
    for (const TFormObject& child : object.children) Create(child, *component);
  }

  const std::string& fileName_;
  platform::TComponent& root_;
  const TClassRegistry& classes_;
  std::vector<platform::TComponent*> created_;
  std::vector<std::pair<platform::TComponent*, int>> loaded_;
};

std::string ReadWholeFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw EFormError(path.string(), 0, "cannot open the form file");
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) throw EFormError(path.string(), 0, "cannot read the form file");
  return text.str();
}

}  // namespace

void ReadForm(std::string_view text, const std::string& fileName, platform::TComponent& root,
              const TClassRegistry& classes) {
  const TFormObject form = ParseForm(text, fileName);
  TFormBuilder(fileName, root, classes).Build(form);
}

void ReadFormFile(const std::filesystem::path& path, platform::TComponent& root, const TClassRegistry& classes) {
  ReadForm(ReadWholeFile(path), path.string(), root, classes);
}

std::unique_ptr<platform::TComponent> CreateForm(std::string_view text, const std::string& fileName,
                                                 const TClassRegistry& classes) {
  const TFormObject form = ParseForm(text, fileName);
  std::unique_ptr<platform::TComponent> root(classes.Create(form.className, nullptr));
  if (!root) throw EFormError(fileName, form.line, "unknown class " + form.className);
  TFormBuilder(fileName, *root, classes).Build(form);
  return root;
}

std::filesystem::path FindResourceFile(std::string_view fileName) {
  std::vector<std::filesystem::path> places;
  if (const char* dir = std::getenv("QUILLSTAGE_RESOURCES"); dir != nullptr && *dir != '\0') places.emplace_back(dir);
  std::error_code error;
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
  if (!error) {
    places.push_back(program.parent_path() / ".." / "share" / "quillstage");
    places.push_back(program.parent_path() / "resources");
  }
#ifdef QS_SOURCE_RESOURCES_DIR
  places.emplace_back(QS_SOURCE_RESOURCES_DIR);
#endif
  std::string looked;
  for (const std::filesystem::path& place : places) {
    const std::filesystem::path candidate = place / fileName;
    if (std::filesystem::is_regular_file(candidate, error)) return candidate.lexically_normal();
    looked += (looked.empty() ? "" : ", ") + place.string();
  }
  throw platform::Exception("Resource file " + std::string(fileName) + " not found (looked in " + looked + ")");
}

}  // namespace ui
