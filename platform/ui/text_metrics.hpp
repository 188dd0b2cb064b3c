#pragma once
// Text size estimates for the headless model, which has no font metrics.

#include <string_view>

#include "platform/ui/graphics.hpp"

namespace platform::ui::detail {

// Characters (UTF-8 code points) in the text.
inline std::size_t codePoints(std::string_view text) {
  std::size_t count = 0;
  for (unsigned char c : text) count += (c & 0xC0) != 0x80;
  return count;
}

// One line of `text` in `font`: an average glyph is a little over half the
// point size wide (bold a little wider); the line is 1.2 point sizes high.
inline Size estimateTextSize(std::string_view text, const Font& font) {
  const double glyph = font.pointSize * (font.bold ? 0.6 : 0.55);
  return {static_cast<double>(codePoints(text)) * glyph, text.empty() ? 0.0 : font.pointSize * 1.2};
}

}  // namespace platform::ui::detail
