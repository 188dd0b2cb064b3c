#include "platform/ui/web_view.hpp"

#include "platform/ui/toolkit.hpp"

namespace platform::ui {

WebView::WebView(Rect frame) : View(frame), scrollView_(ScrollView::create(Rect(Point{}, frame.size))) {
  scrollView_->setAutoresizingMask(kAutoresizingFlexibleWidth | kAutoresizingFlexibleHeight);
  addSubview(scrollView_);
}

WebView::~WebView() = default;

std::shared_ptr<WebView> WebView::create(Rect frame) { return toolkit().makeWebView(frame); }

}  // namespace platform::ui
