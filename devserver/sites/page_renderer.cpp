#include "sites/page_renderer.hpp"

namespace devserver {
namespace {

std::string sectionTitle(const Site& site, const std::string& slug) {
  for (const SiteSection& section : site.sections) {
    if (section.slug == slug) return section.title;
  }
  return slug;
}

const char* kStyle =
    "body{font-family:sans-serif;margin:0;color:#222}"
    "header{background:#0b3954;color:#fff;padding:8px 12px}header a{color:#fff;margin-right:10px}"
    "main{padding:12px}footer{border-top:1px solid #ccc;padding:12px;font-size:small}"
    "li{margin:6px 0}.mobile main{padding:6px}.lead{font-weight:bold}";

}  // namespace

std::string escapeHtml(const std::string& text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': escaped += "&amp;"; break;
      case '<': escaped += "&lt;"; break;
      case '>': escaped += "&gt;"; break;
      case '"': escaped += "&quot;"; break;
      case '\'': escaped += "&#39;"; break;
      default: escaped += c;
    }
  }
  return escaped;
}

std::string PageRenderer::document(const Site& site, const std::string& title, const std::string& main,
                                   const PageContext& context) const {
  std::string html = "<!DOCTYPE html>\n<html lang=\"nb\"><head><meta charset=\"utf-8\">"
                     "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
                     "<title>" + escapeHtml(title) + "</title><style>" + kStyle + "</style></head>\n";
  html += "<body class=\"" + deviceKindOfHost(context.host) + " site-" + site.key + "\" data-app-header=\"" +
          escapeHtml(context.appHeader) + "\">\n";
  if (!context.hideHeader) {
    html += "<header id=\"site-header\"><a class=\"logo\" href=\"/\">" + escapeHtml(site.name) + "</a><nav>";
    for (const SiteSection& section : site.sections) {
      html += "<a href=\"/" + section.slug + "/\">" + escapeHtml(section.title) + "</a>";
    }
    html += "</nav></header>\n";
  }
  html += "<main>\n" + main + "</main>\n<footer>" + escapeHtml(site.name) + " – " + escapeHtml(site.tagline) +
          ". Fra samme hus:";
  for (const Site& sister : siteCatalog()) {
    if (sister.key == site.key) continue;
    html += " <a href=\"http://" + sister.desktopHost + "/\">" + escapeHtml(sister.name) + "</a>";
  }
  html += " · Kort adresse: <a href=\"http://" + std::string(kShortDomainHost) + "/\">" + kShortDomainHost +
          "</a></footer>\n</body></html>\n";
  return html;
}

std::string PageRenderer::articleList(const std::vector<const Article*>& articles, const Site& site) const {
  std::string html = "<ul class=\"articles\">\n";
  for (const Article* article : articles) {
    html += "<li><a href=\"" + article->path + "\">" + escapeHtml(article->title) + "</a> <small>" +
            escapeHtml(sectionTitle(site, article->section)) + " · " + article->published + "</small></li>\n";
  }
  return html + "</ul>\n";
}

std::string PageRenderer::front(const Site& site, const PageContext& context) const {
  std::string main = "<h1>" + escapeHtml(site.name) + "</h1>\n<p>" + escapeHtml(site.tagline) + "</p>\n";
  main += articleList(content_.frontPage(site.key, 2), site);
  if (site.key == mainSite().key) {
    main += "<p><a href=\"/rammer/\">Vestavind i rammer</a> · <a href=\"/tekstarkiv/?q=\">Tekstarkivet</a></p>\n";
  }
  return document(site, site.name + " – " + site.tagline, main, context);
}

std::string PageRenderer::section(const Site& site, const SiteSection& section, const PageContext& context) const {
  std::vector<const Article*> articles;
  for (const Article& article : content_.sectionArticles(site.key, section.slug)) articles.push_back(&article);
  std::string main = "<h1>" + escapeHtml(section.title) + "</h1>\n" + articleList(articles, site);
  return document(site, section.title + " – " + site.name, main, context);
}

std::string PageRenderer::article(const Site& site, const Article& article, const PageContext& context) const {
  std::string main = "<article data-article-id=\"" + std::to_string(article.id) + "\">\n<h1>" +
                     escapeHtml(article.title) + "</h1>\n<p class=\"published\">" + article.published + " · " +
                     escapeHtml(sectionTitle(site, article.section)) + "</p>\n<p class=\"lead\">" +
                     escapeHtml(article.lead) + "</p>\n";
  for (const std::string& paragraph : article.paragraphs) main += "<p>" + escapeHtml(paragraph) + "</p>\n";
  main += "</article>\n<aside><h2>Les også</h2><ul class=\"related\">\n";
  const Article& next = content_.neighbour(article, 1);
  const Article& other = content_.neighbour(article, 5);
  main += "<li><a class=\"same-site\" href=\"" + next.path + "\">" + escapeHtml(next.title) + "</a></li>\n";
  main += "<li><a class=\"same-site\" href=\"" + other.path + "\">" + escapeHtml(other.title) + "</a></li>\n";
  // A sister site's front page, the main site through its short domain, and a host outside the publisher.
  const Site& sister = siteCatalog()[1 + article.id % (siteCatalog().size() - 1)];
  const Site& sisterOrMain = sister.key == site.key ? mainSite() : sister;
  main += "<li><a class=\"sister-site\" href=\"http://" + sisterOrMain.desktopHost + "/\">Mer fra " +
          escapeHtml(sisterOrMain.name) + "</a></li>\n";
  const auto& mainArticles = content_.frontPage(mainSite().key, 1);
  const Article& shortLinked = *mainArticles[article.id % mainArticles.size()];
  main += "<li><a class=\"short-domain\" href=\"http://" + std::string(kShortDomainHost) + shortLinked.path + "\">" +
          escapeHtml(shortLinked.title) + "</a></li>\n";
  main += "<li><a class=\"foreign\" href=\"http://" + std::string(kForeignHost) + "/omtale/" +
          std::to_string(article.id) + "\">Omtale hos en annen avis</a></li>\n</ul></aside>\n";
  return document(site, article.title + " – " + site.name, main, context);
}

std::string PageRenderer::search(const std::string& query, const PageContext& context) const {
  const Site& site = mainSite();
  std::string main = "<h1>Tekstarkivet</h1>\n<form action=\"/tekstarkiv/\" method=\"get\"><input name=\"q\" value=\"" +
                     escapeHtml(query) + "\"><button>Søk</button></form>\n";
  std::string title;
  if (query.empty()) {
    main += "<p class=\"hint\">Skriv inn et søkeord.</p>\n";
    title = "Tekstarkivet – " + site.name;
  } else {
    auto found = content_.search(query);
    main += "<p class=\"count\">" + std::to_string(found.size()) + " treff for «" + escapeHtml(query) + "»</p>\n";
    main += articleList(found, site);
    title = "Søk etter «" + query + "» – " + site.name;
  }
  return document(site, title, main, context);
}

std::string PageRenderer::frames(const PageContext& context) const {
  return "<!DOCTYPE html>\n<html lang=\"nb\"><head><meta charset=\"utf-8\"><title>Vestavind i rammer</title></head>\n"
         "<frameset cols=\"30%,70%\">\n<frame name=\"meny\" src=\"/rammer/meny\">\n"
         "<frame name=\"innhold\" src=\"/rammer/innhold\">\n</frameset>\n</html>\n";
}

std::string PageRenderer::frameMenu(const PageContext& context) const {
  std::string main = "<h2>Seksjoner</h2><ul>\n";
  for (const SiteSection& section : mainSite().sections) {
    main += "<li><a target=\"innhold\" href=\"/" + section.slug + "/\">" + escapeHtml(section.title) + "</a></li>\n";
  }
  PageContext framed = context;
  framed.hideHeader = true;
  return document(mainSite(), "Rammemeny – Vestavind", main + "</ul>\n", framed);
}

std::string PageRenderer::frameContent(const PageContext& context) const {
  PageContext framed = context;
  framed.hideHeader = true;
  std::string main = "<h1>Siste nytt</h1>\n" + articleList(content_.frontPage(mainSite().key, 1), mainSite());
  return document(mainSite(), "Rammeinnhold – Vestavind", main, framed);
}

std::string PageRenderer::notFound(const Site& site, const std::string& path, const PageContext& context) const {
  std::string main = "<h1>Fant ikke siden</h1>\n<p>Vi finner ingen side på adressen " + escapeHtml(path) +
                     ".</p>\n<p><a href=\"/\">Til forsiden</a></p>\n";
  return document(site, "Fant ikke siden – " + site.name, main, context);
}

std::string PageRenderer::foreign(const std::string& path) const {
  return "<!DOCTYPE html>\n<html lang=\"nb\"><head><meta charset=\"utf-8\"><title>Nabosiden</title></head>\n"
         "<body><h1>Nabosiden</h1><p>En side utenfor Vestavind-huset (" + escapeHtml(path) +
         ").</p><p><a href=\"http://www.vestavind.test/\">Tilbake til Vestavind</a></p></body></html>\n";
}

}  // namespace devserver
