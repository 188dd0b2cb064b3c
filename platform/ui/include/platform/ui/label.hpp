#pragma once
// Display views: a text label, an image view and the activity indicator.

#include <memory>
#include <string>

#include "platform/ui/view.hpp"

namespace platform::ui {

enum class TextAlignment { Left, Center, Right };

class Label : public View {
 public:
  using View::View;
  static std::shared_ptr<Label> create(Rect frame = {});

  const std::string& text() const { return text_; }
  void setText(std::string text);
  Color textColor() const { return textColor_; }
  void setTextColor(Color color);
  Font font() const { return font_; }
  void setFont(Font font);
  Size shadowOffset() const { return shadowOffset_; }
  void setShadowOffset(Size offset);
  TextAlignment textAlignment() const { return alignment_; }
  void setTextAlignment(TextAlignment alignment);

  // One line of the text in the font, estimated from its character count
  // (the headless model has no font metrics; toolkits may measure).
  Size sizeThatFits(Size size) const override;

 private:
  std::string text_;
  Color textColor_ = Color::blackColor();
  Font font_;
  Size shadowOffset_{0, -1};
  TextAlignment alignment_ = TextAlignment::Left;
};

class ImageView : public View {
 public:
  explicit ImageView(Image image = {});
  static std::shared_ptr<ImageView> create(Image image = {});

  const Image& image() const { return image_; }
  void setImage(Image image);
  Size sizeThatFits(Size size) const override { return image_.size(); }

 private:
  Image image_;
};

enum class ActivityIndicatorStyle { WhiteLarge, White, Gray };

class ActivityIndicatorView : public View {
 public:
  explicit ActivityIndicatorView(Rect frame = {});
  static std::shared_ptr<ActivityIndicatorView> create(Rect frame = {});

  ActivityIndicatorStyle style() const { return style_; }
  void setStyle(ActivityIndicatorStyle style);
  bool hidesWhenStopped() const { return hidesWhenStopped_; }
  // Hides the view at once when it is stopped.
  void setHidesWhenStopped(bool hides);
  void startAnimating();
  void stopAnimating();
  bool isAnimating() const { return animating_; }

 private:
  ActivityIndicatorStyle style_ = ActivityIndicatorStyle::White;
  bool hidesWhenStopped_ = true;
  bool animating_ = false;
};

}  // namespace platform::ui
