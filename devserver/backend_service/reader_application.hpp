#pragma once

namespace devserver::backend {

// The reader's own backend application, known to the service from the start
// so the reader works out of the box. The one place the server side names it.
inline constexpr const char* kReaderApplicationId = "Qx7mTfa2Lr9WcYh3NbVe8KpZs1DuGo6JiRl4MwEn";
inline constexpr const char* kReaderClientKey = "Hc2vRk8TyBn5WqLm3ZxAe7JfUd9GsPo1KiNt6VaY";

}  // namespace devserver::backend
