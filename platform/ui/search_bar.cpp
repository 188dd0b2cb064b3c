#include "platform/ui/search_bar.hpp"

#include "platform/ui/window.hpp"

namespace platform::ui {

std::shared_ptr<SearchBar> SearchBar::create(Rect frame) { return std::make_shared<SearchBar>(frame); }

void SearchBar::setText(std::string text) {
  text_ = std::move(text);
  changed();
}

void SearchBar::setPlaceholder(std::string placeholder) {
  placeholder_ = std::move(placeholder);
  changed();
}

void SearchBar::setBackgroundImage(Image image) {
  backgroundImage_ = std::move(image);
  changed();
}

Size SearchBar::sizeThatFits(Size) const {
  const double width = superview() ? superview()->bounds().width() : Screen::main().bounds().width();
  return {width, 44};
}

void SearchBar::type(std::string text) {
  setText(std::move(text));
  if (auto d = delegate()) d->searchBarTextDidChange(*this, text_);
}

void SearchBar::tapSearchButton() {
  if (auto d = delegate()) d->searchBarSearchButtonClicked(*this);
}

}  // namespace platform::ui
