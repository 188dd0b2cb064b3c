#pragma once
// A tolerant scan of an HTML page for what the headless web view reports:
// the title, the links and the frames. Not a parser: it reads tags and
// attributes, skips comments and script/style bodies, and never fails.

#include <string>
#include <string_view>
#include <vector>

namespace platform::ui::detail {

struct PageOutline {
  std::string title;                // whitespace collapsed, entities decoded
  std::vector<std::string> links;   // <a href> values as written (decoded), document order
  std::vector<std::string> frames;  // <frame src> and <iframe src> values, document order
};

PageOutline scanPage(std::string_view html);

// Decodes the common named entities and numeric references; unknown ones stay.
std::string decodeEntities(std::string_view text);

}  // namespace platform::ui::detail
