#pragma once
// Gesture recognizers: pan, tap and swipe. A recognizer is attached to a view
// (which owns it); the toolkit (or a test) feeds it touches through the
// driver calls below, in window coordinates, on the main thread. Actions run
// synchronously inside those calls.

#include <functional>
#include <memory>
#include <vector>

#include "platform/ui/geometry.hpp"

namespace platform::ui {

class GestureRecognizer;
class View;

enum class GestureRecognizerState { Possible, Began, Changed, Ended, Cancelled, Failed };
inline constexpr GestureRecognizerState kGestureRecognized = GestureRecognizerState::Ended;

// Not owned by the recognizer.
class GestureRecognizerDelegate {
 public:
  virtual ~GestureRecognizerDelegate() = default;
  // Asked when the recognizer would begin (pan: after the first move; tap and
  // swipe: before recognising); false makes it fail.
  virtual bool gestureRecognizerShouldBegin(GestureRecognizer& recognizer) { return true; }
};

class GestureRecognizer {
 public:
  using Action = std::function<void(GestureRecognizer& recognizer)>;

  explicit GestureRecognizer(Action action = {});
  virtual ~GestureRecognizer() = default;
  GestureRecognizer(const GestureRecognizer&) = delete;
  GestureRecognizer& operator=(const GestureRecognizer&) = delete;

  void addAction(Action action);
  GestureRecognizerState state() const { return state_; }
  // A disabled recognizer ignores touches; disabling one in progress cancels it.
  bool isEnabled() const { return enabled_; }
  void setEnabled(bool enabled);
  // The view it is attached to, or null. Not owning.
  View* view() const { return view_; }
  std::shared_ptr<GestureRecognizerDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(std::weak_ptr<GestureRecognizerDelegate> delegate) { delegate_ = std::move(delegate); }

  // The current touch in `view`'s coordinates (window coordinates for null).
  Point locationInView(const View* view) const;

 protected:
  // Whether touches are taken at all: enabled and attached.
  bool accepts() const;
  bool askShouldBegin();
  // Sets the state and runs the actions.
  void transition(GestureRecognizerState state);
  void setLocation(Point windowLocation) { location_ = windowLocation; }
  // Sets the state without running the actions (failing, resetting).
  void setStateQuietly(GestureRecognizerState state) { state_ = state; }

 private:
  friend class View;
  std::vector<Action> actions_;
  GestureRecognizerState state_ = GestureRecognizerState::Possible;
  bool enabled_ = true;
  View* view_ = nullptr;
  std::weak_ptr<GestureRecognizerDelegate> delegate_;
  Point location_;
};

class PanGestureRecognizer : public GestureRecognizer {
 public:
  using GestureRecognizer::GestureRecognizer;

  // The finger's travel since the touch went down (less any setTranslation),
  // the same in every view of the model (no scaling).
  Point translationInView(const View* view) const;
  void setTranslation(Point translation, const View* view);
  // Points per second at the last move.
  Point velocityInView(const View* view) const { return velocity_; }

  // Driver calls. touchDown starts tracking; the first touchMoved asks
  // shouldBegin (failing or beginning), later ones change; touchUp ends.
  void touchDown(Point windowLocation);
  void touchMoved(Point windowLocation, Point velocity);
  void touchUp(Point windowLocation, Point velocity);
  void touchCancelled();

 private:
  bool tracking_ = false;
  Point start_;
  Point velocity_;
};

class TapGestureRecognizer : public GestureRecognizer {
 public:
  using GestureRecognizer::GestureRecognizer;

  int numberOfTapsRequired() const { return taps_; }
  void setNumberOfTapsRequired(int taps) { taps_ = taps; }

  // Driver call: a tap at the location; answers whether it was recognised.
  bool tap(Point windowLocation);

 private:
  int taps_ = 1;
};

enum SwipeDirection : unsigned {
  kSwipeDirectionRight = 1 << 0,
  kSwipeDirectionLeft = 1 << 1,
  kSwipeDirectionUp = 1 << 2,
  kSwipeDirectionDown = 1 << 3,
};

class SwipeGestureRecognizer : public GestureRecognizer {
 public:
  using GestureRecognizer::GestureRecognizer;

  // The directions it recognises; rightwards by default.
  unsigned direction() const { return direction_; }
  void setDirection(unsigned direction) { direction_ = direction; }

  // Driver call: a swipe in one direction; answers whether it was recognised
  // (the direction is in the mask and the delegate agreed).
  bool swipe(SwipeDirection direction, Point windowLocation = {});

 private:
  unsigned direction_ = kSwipeDirectionRight;
};

}  // namespace platform::ui
