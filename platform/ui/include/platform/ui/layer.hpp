#pragma once
// The drawing layer behind each view: shadow properties and the layer
// animations (property animations and transitions) added to it.

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/ui/geometry.hpp"
#include "platform/ui/graphics.hpp"

namespace platform::ui {

enum class MediaTimingFunction { Default, Linear, EaseIn, EaseOut, EaseInEaseOut };

// Transition types and subtypes, as the toolkit names them.
inline constexpr const char* kTransitionFade = "fade";
inline constexpr const char* kTransitionMoveIn = "moveIn";
inline constexpr const char* kTransitionPush = "push";
inline constexpr const char* kTransitionReveal = "reveal";
inline constexpr const char* kTransitionFromRight = "fromRight";
inline constexpr const char* kTransitionFromLeft = "fromLeft";
inline constexpr const char* kTransitionFromTop = "fromTop";
inline constexpr const char* kTransitionFromBottom = "fromBottom";

// One animation added to a layer.
struct LayerAnimation {
  enum class Kind { Basic, Transition };
  Kind kind = Kind::Basic;
  double duration = 0.25;
  MediaTimingFunction timing = MediaTimingFunction::Default;
  // Basic: the animated key path and, for "shadowPath", the starting path.
  std::string keyPath;
  std::optional<Rect> fromPath;
  // Transition: type and subtype (constants above).
  std::string type;
  std::string subtype;

  static LayerAnimation basic(std::string keyPath, double duration, MediaTimingFunction timing);
  static LayerAnimation transition(std::string type, std::string subtype, double duration, MediaTimingFunction timing);
};

class View;

class Layer {
 public:
  explicit Layer(View& owner) : owner_(owner) {}
  Layer(const Layer&) = delete;
  Layer& operator=(const Layer&) = delete;

  bool masksToBounds() const { return masksToBounds_; }
  void setMasksToBounds(bool value);
  Color shadowColor() const { return shadowColor_; }
  void setShadowColor(Color value);
  Size shadowOffset() const { return shadowOffset_; }
  void setShadowOffset(Size value);
  double shadowOpacity() const { return shadowOpacity_; }
  void setShadowOpacity(double value);
  double shadowRadius() const { return shadowRadius_; }
  void setShadowRadius(double value);
  // The shadow's outline; nullopt when none was set.
  const std::optional<Rect>& shadowPath() const { return shadowPath_; }
  void setShadowPath(std::optional<Rect> path);

  // Adds an animation. A non-empty key replaces an animation under the same
  // key; keyless ones are kept in order (the most recent few). The toolkit
  // plays it; the headless toolkit only records it.
  void addAnimation(LayerAnimation animation, std::string key = {});
  // The animation under `key`, nullopt when none.
  std::optional<LayerAnimation> animationForKey(const std::string& key) const;
  // All recorded animations with their keys ("" for keyless), oldest first.
  const std::vector<std::pair<std::string, LayerAnimation>>& animations() const { return animations_; }
  void removeAllAnimations();

  View& owner() const { return owner_; }

 private:
  void changed();

  View& owner_;
  bool masksToBounds_ = false;
  Color shadowColor_ = Color::blackColor();
  Size shadowOffset_{0, -3};
  double shadowOpacity_ = 0;
  double shadowRadius_ = 3;
  std::optional<Rect> shadowPath_;
  std::vector<std::pair<std::string, LayerAnimation>> animations_;
};

}  // namespace platform::ui
