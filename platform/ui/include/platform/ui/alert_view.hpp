#pragma once
// Alert views: a title, a message and buttons; the delegate hears which
// button dismissed it.

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform::ui {

class AlertView;

// Called on the main thread. Not owned by the alert.
class AlertViewDelegate {
 public:
  virtual ~AlertViewDelegate() = default;
  virtual void alertViewClickedButtonAtIndex(AlertView& alertView, int buttonIndex) {}
};

class AlertView : public std::enable_shared_from_this<AlertView> {
 public:
  // Buttons are numbered from 0: the cancel button first when there is one,
  // then the other titles in order.
  static std::shared_ptr<AlertView> create(std::string title, std::string message,
                                           std::weak_ptr<AlertViewDelegate> delegate,
                                           std::optional<std::string> cancelButtonTitle,
                                           std::vector<std::string> otherButtonTitles = {});

  const std::string& title() const { return title_; }
  const std::string& message() const { return message_; }
  int tag() const { return tag_; }
  void setTag(int tag) { tag_ = tag; }
  int numberOfButtons() const { return static_cast<int>(buttons_.size()); }
  // "" for an index out of range.
  std::string buttonTitleAtIndex(int index) const;
  // -1 without a cancel button.
  int cancelButtonIndex() const { return hasCancel_ ? 0 : -1; }
  std::shared_ptr<AlertViewDelegate> delegate() const { return delegate_.lock(); }

  // Shows the alert; the shown list keeps it alive until dismissed. Showing a
  // shown alert has no effect.
  void show();
  bool isVisible() const { return visible_; }
  // The user (or program) pressed a button: the alert leaves the screen, then
  // the delegate hears the index. An index out of range is refused (false).
  bool dismissWithClickedButtonIndex(int index, bool animated = true);

  // Alerts on screen, oldest first.
  static std::vector<std::shared_ptr<AlertView>> visibleAlerts();

 private:
  AlertView() = default;
  std::string title_;
  std::string message_;
  std::weak_ptr<AlertViewDelegate> delegate_;
  std::vector<std::string> buttons_;
  bool hasCancel_ = false;
  int tag_ = 0;
  bool visible_ = false;
};

}  // namespace platform::ui
