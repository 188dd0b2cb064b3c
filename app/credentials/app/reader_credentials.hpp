#pragma once
// The reader's backend credentials on the client side: the reader configures
// its backend client with them, and backendctl, the client's tests and
// benchmarks act as the reader with them. (The devserver keeps its own copy.)

namespace app {

inline constexpr const char* kReaderApplicationId = "Qx7mTfa2Lr9WcYh3NbVe8KpZs1DuGo6JiRl4MwEn";
inline constexpr const char* kReaderClientKey = "Hc2vRk8TyBn5WqLm3ZxAe7JfUd9GsPo1KiNt6VaY";

}  // namespace app
