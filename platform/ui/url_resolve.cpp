#include "url_resolve.hpp"

#include <cctype>
#include <optional>
#include <vector>

namespace platform::ui::detail {

namespace {

struct Parts {
  std::string scheme;
  std::optional<std::string> authority;
  std::string path;
  std::optional<std::string> query;
  std::optional<std::string> fragment;
};

// The scheme, when `text` starts with one ("http:", "mailto:").
std::optional<std::string> schemeOf(std::string_view text) {
  if (text.empty() || !std::isalpha(static_cast<unsigned char>(text[0]))) return std::nullopt;
  for (std::size_t i = 1; i < text.size(); ++i) {
    const char c = text[i];
    if (c == ':') return std::string(text.substr(0, i));
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.') return std::nullopt;
  }
  return std::nullopt;
}

Parts split(std::string_view text) {
  Parts p;
  if (auto scheme = schemeOf(text)) {
    p.scheme = *scheme;
    text.remove_prefix(scheme->size() + 1);
  }
  if (auto hash = text.find('#'); hash != std::string_view::npos) {
    p.fragment = std::string(text.substr(hash + 1));
    text = text.substr(0, hash);
  }
  if (auto question = text.find('?'); question != std::string_view::npos) {
    p.query = std::string(text.substr(question + 1));
    text = text.substr(0, question);
  }
  if (text.starts_with("//")) {
    text.remove_prefix(2);
    const auto slash = text.find('/');
    p.authority = std::string(text.substr(0, slash));
    text = slash == std::string_view::npos ? std::string_view() : text.substr(slash);
  }
  p.path = std::string(text);
  return p;
}

std::string removeDotSegments(std::string_view path) {
  std::vector<std::string> out;
  const bool absolute = path.starts_with('/');
  std::size_t i = absolute ? 1 : 0;
  bool trailingSlash = false;
  while (i <= path.size()) {
    const auto slash = path.find('/', i);
    const std::string_view segment = path.substr(i, slash == std::string_view::npos ? std::string_view::npos : slash - i);
    const bool last = slash == std::string_view::npos;
    if (segment == ".") {
      trailingSlash = last;
    } else if (segment == "..") {
      if (!out.empty()) out.pop_back();
      trailingSlash = last;
    } else {
      out.emplace_back(segment);
      trailingSlash = false;
    }
    if (last) break;
    i = slash + 1;
  }
  std::string result = absolute ? "/" : "";
  for (std::size_t k = 0; k < out.size(); ++k) {
    if (k > 0) result += '/';
    result += out[k];
  }
  if (trailingSlash && !result.empty() && result.back() != '/') result += '/';
  return result;
}

std::string join(const Parts& p) {
  std::string out = p.scheme + ":";
  if (p.authority) out += "//" + *p.authority;
  out += p.path;
  if (p.query) out += "?" + *p.query;
  if (p.fragment) out += "#" + *p.fragment;
  return out;
}

}  // namespace

std::string resolveURL(std::string_view base, std::string_view reference) {
  if (schemeOf(reference)) return std::string(reference);
  const Parts b = split(base);
  if (b.scheme.empty() || !b.authority) return std::string(reference);
  const Parts r = split(reference);
  Parts t;
  t.scheme = b.scheme;
  t.fragment = r.fragment;
  if (r.authority) {
    t.authority = r.authority;
    t.path = removeDotSegments(r.path);
    t.query = r.query;
  } else {
    t.authority = b.authority;
    if (r.path.empty()) {
      t.path = b.path;
      t.query = r.query ? r.query : b.query;
    } else {
      if (r.path.starts_with('/')) {
        t.path = removeDotSegments(r.path);
      } else {
        const std::string basePath = b.path.empty() ? "/" : b.path;
        t.path = removeDotSegments(basePath.substr(0, basePath.rfind('/') + 1) + r.path);
      }
      t.query = r.query;
    }
  }
  if (t.path.empty()) t.path = "/";
  return join(t);
}

}  // namespace platform::ui::detail
