#include "platform/ui/layer.hpp"

#include <algorithm>

#include "platform/ui/toolkit.hpp"
#include "platform/ui/view.hpp"

namespace platform::ui {

namespace {
// Keyless animations are finished long before this many more are added.
constexpr std::size_t kKeylessHistory = 8;
}  // namespace

LayerAnimation LayerAnimation::basic(std::string keyPath, double duration, MediaTimingFunction timing) {
  LayerAnimation a;
  a.kind = Kind::Basic;
  a.keyPath = std::move(keyPath);
  a.duration = duration;
  a.timing = timing;
  return a;
}

LayerAnimation LayerAnimation::transition(std::string type, std::string subtype, double duration,
                                          MediaTimingFunction timing) {
  LayerAnimation a;
  a.kind = Kind::Transition;
  a.type = std::move(type);
  a.subtype = std::move(subtype);
  a.duration = duration;
  a.timing = timing;
  return a;
}

void Layer::changed() { toolkit().viewDidChange(owner_); }

void Layer::setMasksToBounds(bool value) {
  masksToBounds_ = value;
  changed();
}
void Layer::setShadowColor(Color value) {
  shadowColor_ = value;
  changed();
}
void Layer::setShadowOffset(Size value) {
  shadowOffset_ = value;
  changed();
}
void Layer::setShadowOpacity(double value) {
  shadowOpacity_ = value;
  changed();
}
void Layer::setShadowRadius(double value) {
  shadowRadius_ = value;
  changed();
}
void Layer::setShadowPath(std::optional<Rect> path) {
  shadowPath_ = path;
  changed();
}

void Layer::addAnimation(LayerAnimation animation, std::string key) {
  if (!key.empty()) {
    std::erase_if(animations_, [&](const auto& entry) { return entry.first == key; });
  } else {
    const auto keyless = std::count_if(animations_.begin(), animations_.end(),
                                       [](const auto& entry) { return entry.first.empty(); });
    if (static_cast<std::size_t>(keyless) >= kKeylessHistory) {
      animations_.erase(std::find_if(animations_.begin(), animations_.end(),
                                     [](const auto& entry) { return entry.first.empty(); }));
    }
  }
  animations_.emplace_back(std::move(key), std::move(animation));
  toolkit().layerDidAddAnimation(*this, animations_.back().second);
  changed();
}

std::optional<LayerAnimation> Layer::animationForKey(const std::string& key) const {
  for (const auto& [k, animation] : animations_) {
    if (k == key && !key.empty()) return animation;
  }
  return std::nullopt;
}

void Layer::removeAllAnimations() {
  animations_.clear();
  changed();
}

}  // namespace platform::ui
