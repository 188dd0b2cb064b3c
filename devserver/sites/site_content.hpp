#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "sites/site_catalog.hpp"

namespace devserver {

// One generated article.
struct Article {
  std::string siteKey;
  std::string section;  // slug
  std::uint64_t id = 0;
  std::string title;
  std::string lead;
  std::vector<std::string> paragraphs;
  std::string path;       // "/<section>/<id>-<slug>"
  std::string published;  // "yyyy-MM-dd HH:mm"
};

// The publisher's articles, generated once and the same for the same seed.
// Immutable after construction, so it is safe to share between threads.
class SiteContent {
 public:
  static constexpr int kArticlesPerSection = 8;

  explicit SiteContent(std::uint64_t seed);

  // Articles of one section of a site, newest first (empty for an unknown one).
  const std::vector<Article>& sectionArticles(const std::string& siteKey, const std::string& section) const;
  // The article with `id` on a site, or nullptr.
  const Article* findArticle(const std::string& siteKey, std::uint64_t id) const;
  // The newest articles across a site's sections, `perSection` of each.
  std::vector<const Article*> frontPage(const std::string& siteKey, int perSection) const;
  // Main-site articles whose title or lead holds every word of `query`
  // (case-insensitive for ASCII and Norwegian letters).
  std::vector<const Article*> search(const std::string& query) const;
  // A deterministic pick of another article on the same site.
  const Article& neighbour(const Article& article, int step) const;

 private:
  std::map<std::string, std::vector<Article>> bySection_;  // key: siteKey + "/" + section
  std::vector<const Article*> all_;
};

}  // namespace devserver
