#pragma once

#include <string>
#include <vector>

#include "sites/site_catalog.hpp"
#include "sites/site_content.hpp"

namespace devserver {

// What a page depends on besides the content.
struct PageContext {
  std::string host;        // the host the page is served on
  bool hideHeader = false; // "hideHeader=1": leave out the page's own header
  std::string appHeader;   // value of the reader's request header, if sent
};

// Builds the publisher's HTML pages. Every page is a complete UTF-8 document
// with a <title>; links within a site are relative to the serving host.
class PageRenderer {
 public:
  explicit PageRenderer(const SiteContent& content) : content_(content) {}

  std::string front(const Site& site, const PageContext& context) const;
  std::string section(const Site& site, const SiteSection& section, const PageContext& context) const;
  std::string article(const Site& site, const Article& article, const PageContext& context) const;
  std::string search(const std::string& query, const PageContext& context) const;
  // A frameset of two frames, and the two framed documents.
  std::string frames(const PageContext& context) const;
  std::string frameMenu(const PageContext& context) const;
  std::string frameContent(const PageContext& context) const;
  std::string notFound(const Site& site, const std::string& path, const PageContext& context) const;
  // The one page of the foreign host.
  std::string foreign(const std::string& path) const;

 private:
  std::string document(const Site& site, const std::string& title, const std::string& main,
                       const PageContext& context) const;
  std::string articleList(const std::vector<const Article*>& articles, const Site& site) const;

  const SiteContent& content_;
};

// Escapes &, <, >, " and ' for HTML text and attribute values.
std::string escapeHtml(const std::string& text);

}  // namespace devserver
