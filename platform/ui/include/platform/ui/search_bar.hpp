#pragma once
// A search field with its delegate.

#include <memory>
#include <string>

#include "platform/ui/view.hpp"

namespace platform::ui {

class SearchBar;

// Callbacks on the main thread. Delegates are not owned.
class SearchBarDelegate {
 public:
  virtual ~SearchBarDelegate() = default;
  virtual void searchBarSearchButtonClicked(SearchBar& searchBar) {}
  virtual void searchBarTextDidChange(SearchBar& searchBar, const std::string& text) {}
};

class SearchBar : public View {
 public:
  using View::View;
  static std::shared_ptr<SearchBar> create(Rect frame = {});

  const std::string& text() const { return text_; }
  // Sets the text without telling the delegate (a program's change).
  void setText(std::string text);
  const std::string& placeholder() const { return placeholder_; }
  void setPlaceholder(std::string placeholder);
  // An empty image means a blank background.
  const Image& backgroundImage() const { return backgroundImage_; }
  void setBackgroundImage(Image image);

  std::shared_ptr<SearchBarDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(std::weak_ptr<SearchBarDelegate> delegate) { delegate_ = std::move(delegate); }

  // Width of the superview (or the screen), standard height 44.
  Size sizeThatFits(Size size) const override;

  // A user typed: sets the text and tells the delegate.
  void type(std::string text);
  // A user pressed the search button.
  void tapSearchButton();

 private:
  std::string text_;
  std::string placeholder_;
  Image backgroundImage_;
  std::weak_ptr<SearchBarDelegate> delegate_;
};

}  // namespace platform::ui
