#pragma once
// Controls: views that send actions on user events — buttons and the
// pull-to-refresh control.

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/view.hpp"

namespace platform::ui {

enum ControlEvent : unsigned {
  kControlEventTouchDown = 1 << 0,
  kControlEventTouchUpInside = 1 << 6,
  kControlEventValueChanged = 1 << 12,
};

enum ControlState : unsigned {
  kControlStateNormal = 0,
  kControlStateHighlighted = 1 << 0,
  kControlStateDisabled = 1 << 1,
  kControlStateSelected = 1 << 2,
};

enum class ContentHorizontalAlignment { Center, Left, Right, Fill };

class Control : public View {
 public:
  using Action = std::function<void(Control& sender)>;
  using View::View;

  // Adds an action for the events in the mask; actions run in the order added.
  void addAction(unsigned events, Action action);
  // Runs the actions registered for any event in the mask (on the caller's
  // thread, which must be the main thread).
  void sendActions(unsigned events);

  bool isEnabled() const { return enabled_; }
  void setEnabled(bool enabled);
  ContentHorizontalAlignment contentHorizontalAlignment() const { return alignment_; }
  void setContentHorizontalAlignment(ContentHorizontalAlignment alignment);

 private:
  std::vector<std::pair<unsigned, Action>> actions_;
  bool enabled_ = true;
  ContentHorizontalAlignment alignment_ = ContentHorizontalAlignment::Center;
};

enum class ButtonType { Custom, System };

class Button : public Control {
 public:
  explicit Button(ButtonType type = ButtonType::Custom, Rect frame = {});
  static std::shared_ptr<Button> create(ButtonType type = ButtonType::Custom);

  ButtonType buttonType() const { return type_; }

  // Image and title per state; a state without its own falls back to Normal.
  void setImage(Image image, unsigned state = kControlStateNormal);
  Image imageForState(unsigned state) const;
  void setTitle(std::string title, unsigned state = kControlStateNormal);
  std::string titleForState(unsigned state) const;

  EdgeInsets titleEdgeInsets() const { return titleInsets_; }
  void setTitleEdgeInsets(EdgeInsets insets);
  EdgeInsets imageEdgeInsets() const { return imageInsets_; }
  void setImageEdgeInsets(EdgeInsets insets);
  EdgeInsets contentEdgeInsets() const { return contentInsets_; }
  void setContentEdgeInsets(EdgeInsets insets);
  Font titleFont() const { return titleFont_; }
  void setTitleFont(Font font);

  // Image and title around the title text's natural size.
  Size sizeThatFits(Size size) const override;

  // A user's tap: sends TouchUpInside when enabled.
  void tap();

 private:
  ButtonType type_;
  std::map<unsigned, Image> images_;
  std::map<unsigned, std::string> titles_;
  EdgeInsets titleInsets_;
  EdgeInsets imageInsets_;
  EdgeInsets contentInsets_;
  Font titleFont_ = Font::systemFont(15);
};

// Pull-to-refresh, placed in a scroll view.
class RefreshControl : public Control {
 public:
  RefreshControl();
  static std::shared_ptr<RefreshControl> create();

  bool isRefreshing() const { return refreshing_; }
  void beginRefreshing();
  void endRefreshing();

  // The user pulled the content down: starts refreshing and sends ValueChanged.
  void pull();

 private:
  bool refreshing_ = false;
};

}  // namespace platform::ui
