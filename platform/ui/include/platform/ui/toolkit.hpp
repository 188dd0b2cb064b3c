#pragma once
// The toolkit behind the UI model: what differs between the headless model
// and real widgets. The model calls it on the main thread; a GUI front end
// installs its own before building any view.

#include <functional>
#include <memory>

#include "platform/ui/geometry.hpp"

namespace platform::ui {

class AlertView;
class Layer;
struct LayerAnimation;
class NavigationItem;
class ScrollView;
class View;
class ViewController;
class WebView;
class Window;

struct AnimationRequest {
  double duration = 0;
  double delay = 0;
  unsigned options = 0;  // AnimationOptions bits
};

class Toolkit {
 public:
  virtual ~Toolkit() = default;

  // A new web view of this toolkit.
  virtual std::shared_ptr<WebView> makeWebView(Rect frame) = 0;
  // Runs `animations` (setting the final values) and calls `completion` on
  // the main queue once done, never inside this call.
  virtual void animate(const AnimationRequest& request, std::function<void()> animations,
                       std::function<void(bool finished)> completion) = 0;

  // Notices so that real widgets can follow the model. The defaults do nothing.
  virtual void viewDidChange(View& view) {}
  // An animation was added to a view's layer, before the changes it animates.
  virtual void layerDidAddAnimation(Layer& layer, const LayerAnimation& animation) {}
  // A navigation stack shown in `stackView` is about to change its top screen,
  // animated: forward for a push, back for a pop.
  virtual void navigationWillMove(View& stackView, bool forward) {}
  // The program moved a scroll view's content (setContentOffset): a real
  // view scrolls there. Not sent when the model follows the real view.
  virtual void scrollViewDidSetContentOffset(ScrollView& scrollView) {}
  virtual void navigationItemDidChange(NavigationItem& item) {}
  virtual void windowDidBecomeVisible(Window& window) {}
  virtual void alertDidShow(AlertView& alert) {}
  virtual void alertDidDismiss(AlertView& alert) {}
  virtual void didPresent(ViewController& presenter, ViewController& presented, bool animated) {}
  virtual void didDismiss(ViewController& presenter, ViewController& presented, bool animated) {}
};

// The toolkit in force: the headless one unless another was installed.
Toolkit& toolkit();
// Installs `toolkit` (not owned; must outlive its use), or the headless one for null.
void setToolkit(Toolkit* toolkit) noexcept;

}  // namespace platform::ui
