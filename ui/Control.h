// The base of every visible control: position and size, visibility, hint, tab order, colour, font
// (shared with the parent while ParentFont is set), the parent control that holds it, an optional
// action that supplies its texts, and a click event. Front ends present controls; the model only
// holds their state.
#pragma once

#include <string>
#include <vector>

#include "platform/Component.h"
#include "ui/Changes.h"
#include "ui/ComponentRef.h"
#include "ui/Events.h"
#include "ui/Graphics.h"

namespace ui {

class TControl : public platform::TComponent {
 public:
  explicit TControl(platform::TComponent* owner);
  ~TControl() override;
  std::string ClassName() const override { return "TControl"; }

  int Left() const { return left_; }
  void SetLeft(int value) { SetBounds(value, top_, width_, height_); }
  int Top() const { return top_; }
  void SetTop(int value) { SetBounds(left_, value, width_, height_); }
  int Width() const { return width_; }
  void SetWidth(int value) { SetBounds(left_, top_, value, height_); }
  int Height() const { return height_; }
  void SetHeight(int value) { SetBounds(left_, top_, width_, value); }
  void SetBounds(int left, int top, int width, int height);

  bool Visible() const { return visible_; }
  void SetVisible(bool value) { visible_ = value; Changed(ccVisible); }
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value) { enabled_ = value; Changed(ccEnabled); }
  const std::string& Hint() const { return hint_; }
  void SetHint(const std::string& value) { hint_ = value; }
  bool ShowHint() const { return showHint_; }
  void SetShowHint(bool value) { showHint_ = value; }
  int TabOrder() const { return tabOrder_; }
  void SetTabOrder(int value) { tabOrder_ = value; }
  bool TabStop() const { return tabStop_; }
  void SetTabStop(bool value) { tabStop_ = value; }
  TColor Color() const { return color_; }
  void SetColor(TColor value) { color_ = value; Changed(ccColor); }

  const TFont& Font() const { return font_; }
  // Setting a font clears ParentFont; controls that follow this one's font take it too.
  void SetFont(const TFont& font);
  bool ParentFont() const { return parentFont_; }
  void SetParentFont(bool value);

  TControl* Parent() const { return parent_; }
  // The parent holds the control on screen; ownership stays with the owner.
  void SetParent(TControl* parent);
  const std::vector<TControl*>& Controls() const { return controls_; }
  // The child controls in tab order (ties keep their insertion order).
  std::vector<TControl*> TabOrderList() const;

  platform::TComponent* Action() const { return action_.Get(); }
  void SetAction(platform::TComponent* action);

  const TNotifyEvent& OnClick() const { return onClick_; }
  void SetOnClick(TNotifyEvent event) { onClick_ = std::move(event); }
  // A user's click: the action's Execute when there is an action, else OnClick.
  virtual void Click();

  // Called by an action whose texts changed; controls with texts of their own take them.
  virtual void ActionChanged();

  void Loaded() override;
  static const platform::PropertyTable& ClassProperties();
  const platform::PropertyTable& Properties() const override { return ClassProperties(); }

 protected:
  // Tells the front end (ui/Changes.h), unless the control is being read from a stored form.
  void Changed(TControlChange change) {
    if (!IsLoading()) NotifyChanged(*this, change);
  }
  void Notification(platform::TComponent* component, platform::TOperation operation) override;

 private:
  void FontChanged();

  int left_ = 0;
  int top_ = 0;
  int width_ = 0;
  int height_ = 0;
  bool visible_ = true;
  bool enabled_ = true;
  std::string hint_;
  bool showHint_ = false;
  int tabOrder_ = -1;
  bool tabStop_ = false;
  TColor color_ = clBtnFace;
  TFont font_;
  bool parentFont_ = true;
  TControl* parent_ = nullptr;
  std::vector<TControl*> controls_;
  TComponentRef action_;
  TNotifyEvent onClick_;
};

}  // namespace ui
