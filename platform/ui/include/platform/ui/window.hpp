#pragma once
// The screen the program draws on and its window.

#include <memory>
#include <optional>

#include "platform/ui/view.hpp"
#include "platform/ui/view_controller.hpp"

namespace platform::ui {

enum class UserInterfaceIdiom { Phone, Pad };

// The main screen's facts. Process-wide; main thread.
class Screen {
 public:
  static Screen& main();

  // Bounds in points. Until set: the size platform::Device reports, else
  // 320 x 568 on a phone and 768 x 1024 on a tablet.
  Rect bounds() const;
  void setBounds(Rect bounds);
  double scale() const { return scale_; }
  void setScale(double scale) { scale_ = scale; }

  // Phone or tablet (phone until set).
  UserInterfaceIdiom idiom() const { return idiom_; }
  void setIdiom(UserInterfaceIdiom idiom) { idiom_ = idiom; }

  // Back to the defaults (tests).
  void reset();

 private:
  std::optional<Rect> bounds_;
  double scale_ = 1;
  UserInterfaceIdiom idiom_ = UserInterfaceIdiom::Phone;
};

// A window: the root of a view tree, hidden until made visible.
class Window : public View {
 public:
  explicit Window(Rect frame);
  ~Window() override;
  static std::shared_ptr<Window> create(Rect frame);

  // The controller whose view fills the window; its view replaces the old one's.
  const std::shared_ptr<ViewController>& rootViewController() const { return root_; }
  void setRootViewController(std::shared_ptr<ViewController> controller);

  // Shows the window and makes it the application's key window; the
  // controllers inside it hear their appearance events now.
  void makeKeyAndVisible();
  bool isKeyWindow() const;

  void layoutSubviews() override;

 private:
  std::shared_ptr<ViewController> root_;
};

}  // namespace platform::ui
