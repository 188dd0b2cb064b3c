#include "sites/site_content.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <sstream>

namespace devserver {
namespace {

// splitmix64: small, fast and the same on every platform.
class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}
  std::uint64_t next() {
    std::uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
  }
  template <typename List>
  const auto& pick(const List& list) {
    return list[next() % list.size()];
  }

 private:
  std::uint64_t state_;
};

std::uint64_t hashText(std::uint64_t seed, const std::string& text) {
  std::uint64_t hash = 0xcbf29ce484222325ULL ^ seed;
  for (unsigned char c : text) hash = (hash ^ c) * 0x100000001b3ULL;
  return hash;
}

struct Vocabulary {
  std::vector<const char*> subjects;
  std::vector<const char*> actions;
  std::vector<const char*> objects;
};

const Vocabulary& vocabularyFor(const std::string& siteKey) {
  static const std::map<std::string, Vocabulary> vocabularies = {
      {"vestavind",
       {{"Bystyret", "Fylkeslegen", "Fiskerne på Hitra", "Statsministeren", "Havnesjefen", "Elevrådet", "Værvarslerne",
         "Kystverket", "Ferjeselskapet", "Ordføreren"},
        {"vil stanse", "åpner for", "advarer mot", "krever svar om", "sier nei til", "jubler over", "vedtar",
         "utsetter", "feirer", "gransker"},
        {"ny sykkelplan", "stormflo i sentrum", "rekordfangst av torsk", "nattåpne ferjer", "bompenger på broen",
         "ny skole på Nordnes", "strømpris-sjokket", "mørketidsfestival", "kaifornyelse", "skrantende lakseoppdrett"}}},
      {"glimt",
       {{"Popstjernen", "Skuespilleren", "Realitydeltakeren", "Kokkeeksperten", "Talkshowverten", "Influenseren"},
        {"avslører", "raser mot", "forteller om", "viser frem", "drømmer om", "angrer på"},
        {"hemmelig bryllup", "ny kjæreste", "livet etter finalen", "luksushytta", "comeback-turneen",
         "tøff barndom"}}},
      {"joypunkt",
       {{"Utvikleren", "Den nye konsollen", "Indiestudioet", "E-sportlaget", "Oppfølgeren", "Spillsjefen"},
        {"lanserer", "forsinker", "imponerer med", "skuffer med", "avslører", "lover"},
        {"åpen verden", "nytt rollespill", "gratis utvidelse", "kryssplattform-spill", "retro-samling",
         "flerspillermodus"}}},
      {"strima",
       {{"Se:", "Video:", "Direkte:", "Klipp:", "Reportasje:"},
        {"slik ble", "bak kulissene på", "høydepunktene fra", "reaksjonene etter", "dette skjedde på"},
        {"cupfinalen", "nyttårskonserten", "valgvaken", "stormnatten", "fjellmaratonet", "byfesten"}}},
      {"kanal",
       {{"Kveldens film:", "Ny sesong:", "Tips:", "Sendeplan:", "Direkte:"},
        {"ikke gå glipp av", "se igjen", "alt om", "dette må du se:", "klart for"},
        {"krimserien fra Ålesund", "naturdokumentaren", "quizfinalen", "skihoppuka", "familiefilmen",
         "matprogrammet"}}},
      {"spillboks",
       {{"Dagens", "Ukens", "Nytt:", "Klassisk", "Vanskelig"},
        {"kryssord", "sudoku", "kabal", "ordjakt", "bildepuslespill"},
        {"for nybegynnere", "med tidtaker", "for hele familien", "på tid", "med premie"}}},
  };
  auto found = vocabularies.find(siteKey);
  return found != vocabularies.end() ? found->second : vocabularies.at("vestavind");
}

const std::array<const char*, 12> kSentences = {
    "Saken har skapt sterke reaksjoner blant innbyggerne.",
    "Flere av dem vi har snakket med, sier de ble overrasket.",
    "Det er ventet at saken blir behandlet på nytt før sommeren.",
    "Ifølge fagfolk er det for tidlig å trekke konklusjoner.",
    "Tallene viser en klar økning sammenlignet med i fjor.",
    "Lokale politikere lover å følge opp saken tett.",
    "Mange møtte opp da saken ble lagt frem tirsdag kveld.",
    "Kritikerne mener prosessen har gått altfor fort.",
    "– Vi må ta dette på største alvor, sier en av de involverte.",
    "Det endelige svaret kommer etter planen i løpet av høsten.",
    "Også naboene følger utviklingen med stor interesse.",
    "Vestavind kommer tilbake med mer i saken.",
};

std::string slugOf(const std::string& title) {
  std::string slug;
  for (std::size_t i = 0; i < title.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(title[i]);
    if (std::isalnum(c) && c < 0x80) {
      slug += static_cast<char>(std::tolower(c));
    } else if (title.compare(i, 2, "æ") == 0 || title.compare(i, 2, "Æ") == 0) {
      slug += "ae", ++i;
    } else if (title.compare(i, 2, "ø") == 0 || title.compare(i, 2, "Ø") == 0) {
      slug += "o", ++i;
    } else if (title.compare(i, 2, "å") == 0 || title.compare(i, 2, "Å") == 0) {
      slug += "a", ++i;
    } else if (!slug.empty() && slug.back() != '-') {
      slug += '-';
    }
  }
  while (!slug.empty() && slug.back() == '-') slug.pop_back();
  return slug;
}

// Lower case for ASCII and the Norwegian capitals, enough for archive search.
std::string foldCase(const std::string& text) {
  std::string folded;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text.compare(i, 2, "Æ") == 0) folded += "æ", ++i;
    else if (text.compare(i, 2, "Ø") == 0) folded += "ø", ++i;
    else if (text.compare(i, 2, "Å") == 0) folded += "å", ++i;
    else folded += static_cast<char>(std::tolower(static_cast<unsigned char>(text[i])));
  }
  return folded;
}

Article makeArticle(std::uint64_t seed, const Site& site, const SiteSection& section, int index) {
  Random random(hashText(seed, site.key + "/" + section.slug + "/" + std::to_string(index)));
  const Vocabulary& words = vocabularyFor(site.key);
  Article article;
  article.siteKey = site.key;
  article.section = section.slug;
  article.id = 100000 + random.next() % 900000;
  article.title = std::string(random.pick(words.subjects)) + " " + random.pick(words.actions) + " " +
                  random.pick(words.objects);
  article.lead = std::string(random.pick(kSentences)) + " " + random.pick(kSentences);
  for (int paragraph = 0; paragraph < 3; ++paragraph) {
    std::string text;
    for (int sentence = 0; sentence < 3; ++sentence) text += std::string(sentence ? " " : "") + random.pick(kSentences);
    article.paragraphs.push_back(text);
  }
  article.path = "/" + section.slug + "/" + std::to_string(article.id) + "-" + slugOf(article.title);
  char published[32];
  std::snprintf(published, sizeof published, "2026-%02d-%02d %02d:%02d", 11 - index / 4, 28 - index % 28,
                static_cast<int>(7 + random.next() % 14), static_cast<int>(random.next() % 60));
  article.published = published;
  return article;
}

}  // namespace

SiteContent::SiteContent(std::uint64_t seed) {
  for (const Site& site : siteCatalog()) {
    for (const SiteSection& section : site.sections) {
      auto& list = bySection_[site.key + "/" + section.slug];
      for (int index = 0; index < kArticlesPerSection; ++index) {
        Article article = makeArticle(seed, site, section, index);
        // Ids must be unique within a site; step past a collision.
        while (findArticle(site.key, article.id) != nullptr ||
               std::any_of(list.begin(), list.end(), [&](const Article& other) { return other.id == article.id; })) {
          ++article.id;
          article.path = "/" + section.slug + "/" + std::to_string(article.id) + article.path.substr(article.path.find('-'));
        }
        list.push_back(std::move(article));
      }
    }
  }
  for (const auto& [key, list] : bySection_) {
    for (const Article& article : list) all_.push_back(&article);
  }
}

const std::vector<Article>& SiteContent::sectionArticles(const std::string& siteKey, const std::string& section) const {
  static const std::vector<Article> none;
  auto found = bySection_.find(siteKey + "/" + section);
  return found == bySection_.end() ? none : found->second;
}

const Article* SiteContent::findArticle(const std::string& siteKey, std::uint64_t id) const {
  for (const auto& [key, list] : bySection_) {
    for (const Article& article : list) {
      if (article.siteKey == siteKey && article.id == id) return &article;
    }
  }
  return nullptr;
}

std::vector<const Article*> SiteContent::frontPage(const std::string& siteKey, int perSection) const {
  std::vector<const Article*> front;
  const Site* site = nullptr;
  for (const Site& candidate : siteCatalog()) {
    if (candidate.key == siteKey) site = &candidate;
  }
  if (site == nullptr) return front;
  for (int rank = 0; rank < perSection; ++rank) {
    for (const SiteSection& section : site->sections) {
      const auto& list = sectionArticles(siteKey, section.slug);
      if (rank < static_cast<int>(list.size())) front.push_back(&list[rank]);
    }
  }
  return front;
}

std::vector<const Article*> SiteContent::search(const std::string& query) const {
  std::vector<std::string> words;
  std::istringstream stream(foldCase(query));
  for (std::string word; stream >> word;) words.push_back(word);
  std::vector<const Article*> found;
  if (words.empty()) return found;
  for (const Article* article : all_) {
    if (article->siteKey != mainSite().key) continue;
    std::string haystack = foldCase(article->title + " " + article->lead);
    bool all = std::all_of(words.begin(), words.end(),
                           [&](const std::string& word) { return haystack.find(word) != std::string::npos; });
    if (all) found.push_back(article);
  }
  return found;
}

const Article& SiteContent::neighbour(const Article& article, int step) const {
  std::vector<const Article*> sameSite;
  for (const Article* candidate : all_) {
    if (candidate->siteKey == article.siteKey) sameSite.push_back(candidate);
  }
  auto self = std::find(sameSite.begin(), sameSite.end(), &article);
  std::size_t index = self == sameSite.end() ? 0 : static_cast<std::size_t>(self - sameSite.begin());
  return *sameSite[(index + static_cast<std::size_t>(step)) % sameSite.size()];
}

}  // namespace devserver
