// The language component's state and switching: the word table (one text per language for every
// translated component of the window that owns it), one font per language, optional positions per
// language, and the switch that applies a language to the whole window. How a component receives
// its texts depends on its kind: ApplyWords, which TMultiLang implements.
//
// Word table layout: groups of Languages + 1 lines, a key and then the texts of languages 0, 1, ...
// Keys: "%Form%" (the window's caption), a component name (its first or only text), a line holding
// only a double quote (the next item of the component named before it) and "\".Hint" (its hint).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <utility>
#include <string>
#include <vector>

#include "lang/WordGrid.h"
#include "platform/Component.h"
#include "platform/StringList.h"
#include "ui/Events.h"

enum TSwitchPositions { spNone, spControlsOnly, spFormAndControls };
enum TTranslateEdits { teNever, teReadOnly, teAlways };

// (Sender, NewLanguage, in-out AllowIt)
using TBeforeLanguageChange = ui::TEvent<platform::TComponent*, std::uint8_t, bool&>;
// (Sender, NewLanguage)
using TAfterLanguageChanged = ui::TEvent<platform::TComponent*, std::uint8_t>;
// (Sender, id, in-out Res)
using TIdNotFoundError = ui::TEvent<platform::TComponent*, const std::string&, std::string&>;

class TBaseMultiLang : public platform::TComponent {
 public:
  explicit TBaseMultiLang(platform::TComponent* owner);
  ~TBaseMultiLang() override;
  std::string ClassName() const override { return "TBaseMultiLang"; }

  std::string About() const { return "3.76"; }
  void SetAbout(const std::string&) {}  // the version is fixed; stored forms may still write it

  const TBeforeLanguageChange& BeforeLanguageChange() const { return beforeLanguageChange_; }
  void SetBeforeLanguageChange(TBeforeLanguageChange event) { beforeLanguageChange_ = std::move(event); }
  const TAfterLanguageChanged& AfterLanguageChanged() const { return afterLanguageChanged_; }
  void SetAfterLanguageChanged(TAfterLanguageChanged event) { afterLanguageChanged_ = std::move(event); }
  const TIdNotFoundError& IdNotFoundError() const { return idNotFoundError_; }
  void SetIdNotFoundError(TIdNotFoundError event) { idNotFoundError_ = std::move(event); }

  std::uint8_t DefaultLanguage() const { return defaultLanguage_; }
  void SetDefaultLanguage(std::uint8_t value);
  bool DefaultEnabled() const { return defaultEnabled_; }
  void SetDefaultEnabled(bool value);
  std::uint8_t Languages() const { return languages_; }
  void SetLanguages(std::uint8_t value);
  std::uint8_t ActiveLanguage() const { return activeLanguage_; }
  // The switch: see the class comment and MLBase.cpp.
  void SetActiveLanguage(std::uint8_t value);

  const platform::TStringList& Words() const { return words_; }
  platform::TStringList& Words() { return words_; }
  void SetWords(const platform::TStringList& value) { words_ = value; }
  const platform::TStringList& DoNot() const { return doNot_; }
  void SetDoNot(const platform::TStringList& value) { doNot_ = value; }
  TSwitchPositions SwitchPositions() const { return switchPositions_; }
  void SetSwitchPositions(TSwitchPositions value);
  TTranslateEdits TranslateEdits() const { return translateEdits_; }
  void SetTranslateEdits(TTranslateEdits value) { translateEdits_ = value; }
  const platform::TStringList& Positions() const { return positions_; }
  void SetPositions(const platform::TStringList& value) { positions_ = value; }
  const platform::TStringList& CharSets() const { return charSets_; }
  void SetCharSets(const platform::TStringList& value) { charSets_ = value; }

  // Switches to GlobalLanguage unless designing, then reads the string library if one is named.
  void Loaded() override;

  // Gives component its texts from the group at index, moving index past every group it read
  // (at least past the component's own group), also when it raises.
  virtual void ApplyWords(platform::TComponent* component, int& index) = 0;
  // Appends component's current texts to grid, starting at firstRow (a word editor's use).
  virtual void CollectWords(platform::TComponent* component, int firstRow, TWordGrid* grid) = 0;

  // Reads the active language's text of the group at index into word and moves index to the next
  // group; false (index unchanged) when the table has no such text.
  bool NextWord(int& index, std::string& word) const;
  // Whether an edit-like component receives texts (TranslateEdits, ReadOnly, Action).
  bool ShouldTranslate(const platform::TComponent& component) const;
  // Positions per language of component (index -1 means the window itself).
  void ApplyPositions(platform::TComponent& component, int index);
  void StorePositions(platform::TComponent& component, int index);

  static const platform::PropertyTable& ClassProperties();
  const platform::PropertyTable& Properties() const override { return ClassProperties(); }

 protected:
  // Whether the table holds the active language's text of the group at index.
  bool HasText(int index) const;
  // Whether the group at index is a continuation group or a hint group.
  bool IsContinuation(int index) const;
  bool IsHintKey(int index) const;
  int GroupSize() const { return languages_ + 1; }

 private:
  void SaveCharSet();
  // The font of language's line of CharSets, or nothing when there is no line; raises
  // platform::Exception for a line that does not parse.
  std::optional<std::pair<std::string, int>> CharSetOf(std::uint8_t language) const;
  void ApplyCharSet();
  void WalkWords();
  void ChangeLanguageCount(std::uint8_t count);
  bool AllowsPositions(int index) const;
  void LoadStringLibrary();

  TBeforeLanguageChange beforeLanguageChange_;
  TAfterLanguageChanged afterLanguageChanged_;
  TIdNotFoundError idNotFoundError_;
  std::uint8_t defaultLanguage_ = 0;
  // DefaultLanguage as a stored form sets it, checked in Loaded against the final Languages (the
  // form sets DefaultLanguage before Languages).
  std::optional<std::uint8_t> storedDefaultLanguage_;
  bool defaultEnabled_ = false;
  std::uint8_t languages_ = 2;
  std::uint8_t activeLanguage_ = 0;
  platform::TStringList words_;
  platform::TStringList doNot_;
  TSwitchPositions switchPositions_ = spNone;
  TTranslateEdits translateEdits_ = teReadOnly;
  platform::TStringList positions_;
  platform::TStringList charSets_;
};

// Every language component of the process, in creation order.
const std::vector<TBaseMultiLang*>& MultiLangInstances();
// The language last set for all windows (0 at program start); windows read later open in it.
std::uint8_t GlobalLanguage();
void SetGlobalLanguageIndex(std::uint8_t language);
// Told the new language after each SetGlobalLanguage, so that texts outside the word tables (a
// front end's own button texts) can follow it. Returns the listener it replaces.
using TGlobalLanguageListener = std::function<void(std::uint8_t language)>;
TGlobalLanguageListener SetGlobalLanguageListener(TGlobalLanguageListener listener);
void TellGlobalLanguageListener(std::uint8_t language);
// The optional string library read by every language component's Loaded (empty: none).
const std::string& StringLibraryName();
void SetStringLibraryName(const std::string& name);
