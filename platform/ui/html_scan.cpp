#include "html_scan.hpp"

#include <cctype>
#include <cstdint>
#include <optional>

namespace platform::ui::detail {

namespace {

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

std::string lower(std::string_view text) {
  std::string out(text);
  for (auto& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// Case-insensitive search for `needle` (lower case) from `from`.
std::size_t findNoCase(std::string_view hay, std::string_view needle, std::size_t from) {
  if (needle.empty() || hay.size() < needle.size()) return std::string_view::npos;
  for (std::size_t i = from; i + needle.size() <= hay.size(); ++i) {
    std::size_t k = 0;
    while (k < needle.size() && std::tolower(static_cast<unsigned char>(hay[i + k])) == needle[k]) ++k;
    if (k == needle.size()) return i;
  }
  return std::string_view::npos;
}

void appendUtf8(std::string& out, std::uint32_t cp) {
  if (cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

std::optional<std::uint32_t> numericReference(std::string_view body) {
  // body is what stands between "&#" and ";".
  const bool hex = !body.empty() && (body[0] == 'x' || body[0] == 'X');
  if (hex) body.remove_prefix(1);
  if (body.empty() || body.size() > 8) return std::nullopt;
  std::uint32_t value = 0;
  for (char c : body) {
    int digit;
    if (c >= '0' && c <= '9') digit = c - '0';
    else if (hex && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    else if (hex && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    else return std::nullopt;
    value = value * (hex ? 16 : 10) + static_cast<std::uint32_t>(digit);
  }
  return value;
}

std::string collapseWhitespace(std::string_view text) {
  std::string out;
  bool pendingSpace = false;
  for (char c : text) {
    if (isSpace(c)) {
      pendingSpace = !out.empty();
      continue;
    }
    if (pendingSpace) out += ' ';
    pendingSpace = false;
    out += c;
  }
  return out;
}

struct Tag {
  std::string name;  // lower case; starts with '/' for a closing tag
  std::vector<std::pair<std::string, std::string>> attributes;
  std::size_t end = 0;  // index just past '>'
};

// Reads the tag that starts at html[pos] == '<'.
Tag readTag(std::string_view html, std::size_t pos) {
  Tag tag;
  std::size_t i = pos + 1;
  const std::size_t nameStart = i;
  if (i < html.size() && html[i] == '/') ++i;
  while (i < html.size() && !isSpace(html[i]) && html[i] != '>' && html[i] != '/') ++i;
  tag.name = lower(html.substr(nameStart, i - nameStart));
  while (i < html.size() && html[i] != '>') {
    while (i < html.size() && (isSpace(html[i]) || html[i] == '/')) ++i;
    if (i >= html.size() || html[i] == '>') break;
    const std::size_t attrStart = i;
    while (i < html.size() && !isSpace(html[i]) && html[i] != '=' && html[i] != '>') ++i;
    std::string name = lower(html.substr(attrStart, i - attrStart));
    while (i < html.size() && isSpace(html[i])) ++i;
    std::string value;
    if (i < html.size() && html[i] == '=') {
      ++i;
      while (i < html.size() && isSpace(html[i])) ++i;
      if (i < html.size() && (html[i] == '"' || html[i] == '\'')) {
        const char quote = html[i++];
        const std::size_t close = html.find(quote, i);
        const std::size_t stop = close == std::string_view::npos ? html.size() : close;
        value = std::string(html.substr(i, stop - i));
        i = close == std::string_view::npos ? html.size() : close + 1;
      } else {
        const std::size_t valueStart = i;
        while (i < html.size() && !isSpace(html[i]) && html[i] != '>') ++i;
        value = std::string(html.substr(valueStart, i - valueStart));
      }
    }
    if (!name.empty()) tag.attributes.emplace_back(std::move(name), decodeEntities(value));
  }
  tag.end = i < html.size() ? i + 1 : html.size();
  return tag;
}

std::optional<std::string> attribute(const Tag& tag, std::string_view name) {
  for (const auto& [n, v] : tag.attributes) {
    if (n == name) return v;
  }
  return std::nullopt;
}

std::string trim(std::string_view text) {
  while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && isSpace(text.back())) text.remove_suffix(1);
  return std::string(text);
}

}  // namespace

std::string decodeEntities(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '&') {
      out += text[i];
      continue;
    }
    const std::size_t semi = text.find(';', i + 1);
    if (semi == std::string_view::npos || semi - i > 12) {
      out += '&';
      continue;
    }
    const std::string_view body = text.substr(i + 1, semi - i - 1);
    std::optional<std::uint32_t> cp;
    if (!body.empty() && body[0] == '#') cp = numericReference(body.substr(1));
    else if (body == "amp") cp = '&';
    else if (body == "lt") cp = '<';
    else if (body == "gt") cp = '>';
    else if (body == "quot") cp = '"';
    else if (body == "apos") cp = '\'';
    else if (body == "nbsp") cp = 0xA0;
    else if (body == "aring") cp = 0xE5;
    else if (body == "oslash") cp = 0xF8;
    else if (body == "aelig") cp = 0xE6;
    else if (body == "Aring") cp = 0xC5;
    else if (body == "Oslash") cp = 0xD8;
    else if (body == "AElig") cp = 0xC6;
    if (!cp) {
      out += '&';
      continue;
    }
    appendUtf8(out, *cp);
    i = semi;
  }
  return out;
}

PageOutline scanPage(std::string_view html) {
  PageOutline outline;
  bool haveTitle = false;
  std::size_t i = 0;
  while ((i = html.find('<', i)) != std::string_view::npos) {
    if (html.substr(i, 4) == "<!--") {
      const std::size_t close = html.find("-->", i + 4);
      i = close == std::string_view::npos ? html.size() : close + 3;
      continue;
    }
    const Tag tag = readTag(html, i);
    i = tag.end;
    if (tag.name == "script" || tag.name == "style" || tag.name == "title") {
      // Raw text up to the closing tag: not markup.
      const std::size_t close = findNoCase(html, "</" + tag.name, i);
      const std::size_t stop = close == std::string_view::npos ? html.size() : close;
      if (tag.name == "title" && !haveTitle) {
        outline.title = collapseWhitespace(decodeEntities(html.substr(i, stop - i)));
        haveTitle = true;
      }
      i = stop;
    } else if (tag.name == "a") {
      if (auto href = attribute(tag, "href")) {
        if (auto link = trim(*href); !link.empty()) outline.links.push_back(std::move(link));
      }
    } else if (tag.name == "frame" || tag.name == "iframe") {
      if (auto src = attribute(tag, "src")) {
        if (auto frame = trim(*src); !frame.empty()) outline.frames.push_back(std::move(frame));
      }
    }
  }
  return outline;
}

}  // namespace platform::ui::detail
