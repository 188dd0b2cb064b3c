#include "query_engine.hpp"

#include "backend_error.hpp"
#include "field_operations.hpp"

#include <devserver/limited_json.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <sstream>
#include <tuple>

namespace devserver::backend {
namespace {

constexpr std::int64_t kDefaultLimit = 100;
constexpr std::int64_t kMaxLimit = 1000;
constexpr std::size_t kMaxIncludeDepth = 8;
constexpr std::size_t kMaxIncludes = 32;
// A regex search costs far more than comparing a value; so many steps each.
constexpr std::uint64_t kRegexBaseCost = 16;

Json evaluationView(const StoredObject& object) {
  Json view = object.fields;
  view["objectId"] = object.objectId;
  view["createdAt"] = dateValue(object.createdAt);
  view["updatedAt"] = dateValue(object.updatedAt);
  return view;
}

const Json* lookup(const Json& view, const std::string& path) {
  const Json* current = &view;
  std::size_t start = 0;
  while (true) {
    if (!current->is_object()) return nullptr;
    auto dot = path.find('.', start);
    auto it = current->find(path.substr(start, dot == std::string::npos ? std::string::npos : dot - start));
    if (it == current->end()) return nullptr;
    current = &*it;
    if (dot == std::string::npos) return current;
    start = dot + 1;
  }
}

std::optional<std::int64_t> dateMillis(const Json& value) {
  if (!hasType(value, "Date")) return std::nullopt;
  auto iso = value.find("iso");
  if (iso == value.end() || !iso->is_string()) return std::nullopt;
  return parseTimestamp(iso->get_ref<const std::string&>());
}

bool valuesEqual(const Json& a, const Json& b) {
  auto da = dateMillis(a);
  auto db = dateMillis(b);
  if (da || db) return da && db && *da == *db;
  return sameElement(a, b);
}

bool equalsOrContains(const Json* field, const Json& value) {
  if (!field) return value.is_null();
  if (valuesEqual(*field, value)) return true;
  if (field->is_array()) {
    for (const auto& element : *field) {
      if (valuesEqual(element, value)) return true;
    }
  }
  return false;
}

int typeRank(const Json* value) {
  if (!value || value->is_null()) return 0;
  if (value->is_boolean()) return 1;
  if (value->is_number()) return 2;
  if (value->is_string()) return 3;
  if (dateMillis(*value)) return 4;
  return 5;
}

template <typename T>
int threeWay(const T& a, const T& b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}

// Compares two values of the same rank; -1, 0 or 1.
int compareSameRank(int rank, const Json& a, const Json& b) {
  switch (rank) {
    case 1: return threeWay(a.get<bool>(), b.get<bool>());
    case 2: return threeWay(a.get<double>(), b.get<double>());
    case 3: return threeWay(a.get_ref<const std::string&>(), b.get_ref<const std::string&>());
    case 4: return threeWay(*dateMillis(a), *dateMillis(b));
    case 5: return threeWay(a.dump(), b.dump());
    default: return 0;
  }
}

// Total order used by "order": missing < booleans < numbers < strings <
// dates < anything else.
int compareForOrder(const Json* a, const Json* b) {
  int ra = typeRank(a);
  int rb = typeRank(b);
  if (ra != rb) return ra < rb ? -1 : 1;
  return ra == 0 ? 0 : compareSameRank(ra, *a, *b);
}

// For "$lt" and friends: only values of one comparable kind compare.
std::optional<int> compareValues(const Json* field, const Json& operand) {
  int rank = typeRank(field);
  if (rank == 0 || rank == 5 || rank != typeRank(&operand)) return std::nullopt;
  return compareSameRank(rank, *field, operand);
}

struct Geo {
  double latitude;
  double longitude;
};

std::optional<Geo> asGeo(const Json& value) {
  if (!hasType(value, "GeoPoint")) return std::nullopt;
  auto lat = value.find("latitude");
  auto lon = value.find("longitude");
  if (lat == value.end() || lon == value.end() || !lat->is_number() || !lon->is_number()) return std::nullopt;
  return Geo{lat->get<double>(), lon->get<double>()};
}

double distanceInRadians(const Geo& a, const Geo& b) {
  constexpr double kRadians = 0.017453292519943295;
  double lat1 = a.latitude * kRadians, lat2 = b.latitude * kRadians;
  double dLat = lat1 - lat2, dLon = (a.longitude - b.longitude) * kRadians;
  double h = std::sin(dLat / 2) * std::sin(dLat / 2) +
             std::cos(lat1) * std::cos(lat2) * std::sin(dLon / 2) * std::sin(dLon / 2);
  return 2 * std::asin(std::sqrt(std::min(1.0, h)));
}

bool isConstraintMap(const Json& constraint) {
  if (!constraint.is_object() || constraint.empty() || constraint.contains("__type")) return false;
  for (const auto& [key, value] : constraint.items()) {
    if (key.empty() || key[0] != '$') return false;
  }
  return true;
}

// "limit" and "skip" travel as decimal text; numbers are accepted too.
std::optional<std::int64_t> parseCount(const Json& params, const char* name) {
  auto it = params.find(name);
  if (it == params.end() || it->is_null()) return std::nullopt;
  if (it->is_number_integer()) return it->get<std::int64_t>();
  if (it->is_string()) {
    const auto& text = it->get_ref<const std::string&>();
    std::int64_t value = 0;
    std::size_t start = !text.empty() && text[0] == '-' ? 1 : 0;
    if (text.size() == start || text.size() - start > 12) {
      throw BackendError(code::kInvalidQuery, std::string("\"") + name + "\" must be an integer");
    }
    for (std::size_t i = start; i < text.size(); ++i) {
      if (text[i] < '0' || text[i] > '9') {
        throw BackendError(code::kInvalidQuery, std::string("\"") + name + "\" must be an integer");
      }
      value = value * 10 + (text[i] - '0');
    }
    return start ? -value : value;
  }
  throw BackendError(code::kInvalidQuery, std::string("\"") + name + "\" must be an integer");
}

bool isFlagSet(const Json& params, const char* name) {
  auto it = params.find(name);
  if (it == params.end()) return false;
  if (it->is_boolean()) return it->get<bool>();
  if (it->is_number()) return it->get<double>() != 0;
  if (it->is_string()) return *it == "1" || *it == "true";
  return false;
}

std::vector<std::string> splitList(const std::string& text) {
  std::vector<std::string> parts;
  std::stringstream stream(text);
  std::string part;
  while (std::getline(stream, part, ',')) {
    part.erase(0, part.find_first_not_of(' '));
    part.erase(part.find_last_not_of(' ') + 1);
    if (!part.empty()) parts.push_back(part);
  }
  return parts;
}

const std::string& stringParam(const Json& params, const char* name, const std::string& fallback) {
  auto it = params.find(name);
  if (it == params.end() || it->is_null()) return fallback;
  if (!it->is_string()) throw BackendError(code::kInvalidQuery, std::string("\"") + name + "\" must be a string");
  return it->get_ref<const std::string&>();
}

bool isReservedClass(const std::string& name) {
  return name == "_User" || name == "_Role" || name == "_Installation" || name == "_Product";
}

std::string checkedClassName(const Json& spec, const char* key, const char* alternative) {
  auto it = spec.find(key);
  if (it == spec.end()) it = spec.find(alternative);
  if (it == spec.end() || !it->is_string()) throw BackendError(code::kInvalidClassName, "missing class name");
  const auto& name = it->get_ref<const std::string&>();
  if (!isValidKeyName(name) && !isReservedClass(name)) {
    throw BackendError(code::kInvalidClassName, "invalid class name: " + name);
  }
  return name;
}

Json whereOf(const Json& spec, const char* key, const char* alternative) {
  auto it = spec.find(key);
  if (it == spec.end()) it = spec.find(alternative);
  if (it == spec.end() || it->is_null()) return Json::object();
  if (it->is_string()) {
    // Stored commands may carry their constraints as JSON text.
    auto parsed = parseJsonLimited(it->get_ref<const std::string&>());
    if (!parsed) throw BackendError(code::kInvalidQuery, "the constraints are not valid JSON (or nested too deeply)");
    if (parsed->is_object()) return *parsed;
  }
  if (!it->is_object()) throw BackendError(code::kInvalidQuery, "the constraints must be an object");
  return *it;
}

// Orders objects by "order" keys, or by distance for a "$nearSphere" query.
void sortObjects(std::vector<StoredObject>& objects, const std::string& order, const Json& where) {
  std::vector<std::pair<std::string, bool>> keys;  // key, descending
  for (auto& part : splitList(order)) {
    bool descending = part[0] == '-';
    keys.emplace_back(descending ? part.substr(1) : part, descending);
  }
  std::vector<std::pair<Json, StoredObject>> decorated;
  decorated.reserve(objects.size());
  for (auto& object : objects) decorated.emplace_back(evaluationView(object), std::move(object));

  if (!keys.empty()) {
    std::stable_sort(decorated.begin(), decorated.end(), [&](const auto& a, const auto& b) {
      for (const auto& [key, descending] : keys) {
        int c = compareForOrder(lookup(a.first, key), lookup(b.first, key));
        if (c != 0) return descending ? c > 0 : c < 0;
      }
      return false;
    });
  } else if (where.is_object()) {
    for (auto entry = where.begin(); entry != where.end(); ++entry) {
      const std::string& key = entry.key();
      const Json& constraint = entry.value();
      if (!constraint.is_object() || !constraint.contains("$nearSphere")) continue;
      auto center = asGeo(constraint["$nearSphere"]);
      if (!center) break;
      auto distance = [&](const Json& view) {
        const Json* field = lookup(view, key);
        auto point = field ? asGeo(*field) : std::nullopt;
        return point ? distanceInRadians(*center, *point) : 1e9;
      };
      std::stable_sort(decorated.begin(), decorated.end(),
                       [&](const auto& a, const auto& b) { return distance(a.first) < distance(b.first); });
      break;
    }
  }
  objects.clear();
  for (auto& entry : decorated) objects.push_back(std::move(entry.second));
}

void applyPaging(std::vector<StoredObject>& objects, std::int64_t skip, std::int64_t limit) {
  auto begin = std::min<std::size_t>(objects.size(), static_cast<std::size_t>(skip));
  auto end = std::min<std::size_t>(objects.size(), begin + static_cast<std::size_t>(limit));
  objects = std::vector<StoredObject>(std::make_move_iterator(objects.begin() + begin),
                                      std::make_move_iterator(objects.begin() + end));
}

Json selectKeys(const Json& data, const std::string& fields) {
  Json selected = Json::object();
  for (const char* fixed : {"objectId", "createdAt", "updatedAt"}) selected[fixed] = data[fixed];
  for (const auto& path : splitList(fields)) {
    std::string top = path.substr(0, path.find('.'));
    auto it = data.find(top);
    if (it != data.end()) selected[top] = *it;
  }
  return selected;
}

using ScanKey = ObjectStore::ScanKey;

std::optional<ScanKey::Column> storedColumn(const std::string& key) {
  if (key == "createdAt") return ScanKey::Column::Created;
  if (key == "updatedAt") return ScanKey::Column::Updated;
  if (key == "objectId") return ScanKey::Column::Id;
  return std::nullopt;
}

bool hasNearSphere(const Json& where) {
  if (!where.is_object()) return false;
  return std::any_of(where.begin(), where.end(),
                     [](const Json& constraint) { return constraint.is_object() && constraint.contains("$nearSphere"); });
}

// The order as keys the store can sort by, or nothing when the order needs
// field values (or distances) and so every match in memory.
std::optional<std::vector<ScanKey>> storedOrder(const std::string& order, const Json& where) {
  if (hasNearSphere(where)) return std::nullopt;
  std::vector<ScanKey> keys;
  for (const auto& part : splitList(order)) {
    bool descending = part[0] == '-';
    auto column = storedColumn(descending ? part.substr(1) : part);
    if (!column) return std::nullopt;
    keys.push_back({*column, descending});
  }
  return keys;
}

// The object ids `where` limits the query to, when it names them with an
// equality or "$in" on "objectId": those objects are read by id instead of
// scanning the class.
std::optional<std::set<std::string>> idsNamedBy(const Json& where) {
  auto id = where.is_object() ? where.find("objectId") : where.end();
  if (id == where.end()) return std::nullopt;
  if (id->is_string()) return std::set<std::string>{id->get<std::string>()};
  if (!id->is_object() || id->size() != 1 || !id->contains("$in")) return std::nullopt;
  const Json& list = (*id)["$in"];
  if (!list.is_array() || list.size() > QueryEngine::kMaxListLength) return std::nullopt;
  std::set<std::string> ids;
  for (const auto& element : list) {
    if (!element.is_string()) return std::nullopt;
    ids.insert(element.get<std::string>());
  }
  return ids;
}

std::int64_t columnValue(const StoredObject& object, ScanKey::Column column) {
  return column == ScanKey::Column::Created ? object.createdAt : object.updatedAt;
}

// The ids an access list may name for `caller`.
std::vector<std::string> readerIds(const Caller& caller) {
  std::vector<std::string> ids{"*"};
  if (caller.userId) ids.push_back(*caller.userId);
  for (const auto& role : caller.roleNames) ids.push_back("role:" + role);
  return ids;
}

// Sorts objects the way ObjectStore::scan() returns them.
void sortLikeScan(std::vector<StoredObject>& objects, const std::vector<ScanKey>& order) {
  auto before = [&](const StoredObject& a, const StoredObject& b) {
    for (const ScanKey& key : order) {
      int c = key.column == ScanKey::Column::Id ? threeWay(a.objectId, b.objectId)
                                                : threeWay(columnValue(a, key.column), columnValue(b, key.column));
      if (c != 0) return key.descending ? c > 0 : c < 0;
    }
    return std::tie(a.createdAt, a.objectId) < std::tie(b.createdAt, b.objectId);
  };
  std::sort(objects.begin(), objects.end(), before);
}

}  // namespace

Json objectData(const StoredObject& object) {
  Json data = object.fields;
  data["objectId"] = object.objectId;
  data["createdAt"] = formatTimestamp(object.createdAt);
  data["updatedAt"] = formatTimestamp(object.updatedAt);
  return data;
}

struct QueryEngine::SubqueryResult {
  std::string className;
  std::set<std::string> ids;
  std::vector<Json> views;
};

QueryEngine::QueryEngine(ObjectStore& store, const Caller& caller, CommandBudget& budget)
    : store_(store), caller_(caller), budget_(budget) {}

QueryEngine::~QueryEngine() = default;

Json QueryEngine::find(const Json& params) {
  auto started = std::chrono::steady_clock::now();
  std::string className = checkedClassName(params, "classname", "className");
  if (className == "_Installation") {
    throw BackendError(code::kOperationForbidden, "clients may not query the installation class");
  }
  Json where = whereOf(params, "data", "where");

  bool redirected = false;
  static const std::string kNone;
  const std::string& redirectKey = stringParam(params, "redirectClassNameForKey", kNone);
  if (!redirectKey.empty()) {
    auto related = where.find("$relatedTo");
    auto owner = related != where.end() && related->is_object() ? asPointer(related->value("object", Json()))
                                                                : std::nullopt;
    if (!owner) throw BackendError(code::kInvalidQuery, "redirectClassNameForKey needs a $relatedTo constraint");
    // Only a reader of the owner learns which class its relation holds.
    auto ownerObject = store_.find(owner->className, owner->objectId);
    if (ownerObject && canRead(*ownerObject, caller_)) {
      auto field = ownerObject->fields.find(redirectKey);
      if (field != ownerObject->fields.end() && hasType(*field, "Relation")) {
        className = field->value("className", className);
        redirected = true;
      }
    }
  }

  std::int64_t limit = parseCount(params, "limit").value_or(kDefaultLimit);
  if (limit < 0) limit = kDefaultLimit;
  limit = std::min(limit, kMaxLimit);
  std::int64_t skip = parseCount(params, "skip").value_or(0);
  if (skip < 0) throw BackendError(code::kInvalidQuery, "\"skip\" must not be negative");

  const std::string& order = stringParam(params, "order", kNone);
  bool counted = isFlagSet(params, "count");
  auto scanOrder = storedOrder(order, where);
  std::vector<StoredObject> matched;
  ObjectStore::Skip skipped;
  if (scanOrder && !counted) {
    // Without constraints the store can also pass over the skipped objects
    // itself, so a deep page costs no more than the first.
    if (where.empty()) skipped = {skip, readerIds(caller_)};
    // The store sorts; reading stops once the page is full.
    auto wanted = static_cast<std::size_t>(skip - skipped.count + limit);
    if (wanted > 0) {
      forEachMatch(
          className, where, *scanOrder,
          [&](StoredObject&& object) {
            matched.push_back(std::move(object));
            return matched.size() < wanted;
          },
          skipped);
    }
  } else {
    matched = select(className, where);
    sortObjects(matched, order, where);
  }
  std::size_t total = matched.size();
  applyPaging(matched, skip - skipped.count, limit);

  const std::string& fields = stringParam(params, "fields", kNone);
  std::vector<std::vector<std::string>> includes;
  for (const auto& path : splitList(stringParam(params, "include", kNone))) {
    std::vector<std::string> segments;
    std::stringstream stream(path);
    std::string segment;
    while (std::getline(stream, segment, '.')) segments.push_back(segment);
    // Objects may point at each other, so an include path is what bounds the
    // expansion.
    if (segments.size() > kMaxIncludeDepth || includes.size() >= kMaxIncludes) {
      throw BackendError(code::kInvalidQuery, "\"include\" names too many or too deep paths");
    }
    includes.push_back(std::move(segments));
  }

  Json results = Json::array();
  for (const auto& object : matched) {
    Json data = objectData(object);
    if (params.contains("fields")) data = selectKeys(data, fields);
    for (const auto& path : includes) includePath(data, path, 0);
    results.push_back(Json{{"data", std::move(data)}});
  }

  Json answer{{"results", std::move(results)}};
  if (counted) answer["count"] = total;
  if (redirected) answer["className"] = className;
  if (isFlagSet(params, "trace")) {
    auto micros =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started).count();
    answer["trace"] = "Server: class " + className + ", " + std::to_string(total) + " matched, " +
                      std::to_string(answer["results"].size()) + " answered in " + std::to_string(micros) +
                      " microseconds\n";
  }
  return answer;
}

std::vector<StoredObject> QueryEngine::select(const std::string& className, const Json& where) {
  std::vector<StoredObject> result;
  forEachMatch(className, where, {}, [&](StoredObject&& object) {
    result.push_back(std::move(object));
    return true;
  });
  return result;
}

void QueryEngine::forEachMatch(const std::string& className, const Json& where,
                               const std::vector<ObjectStore::ScanKey>& order, const Visit& visit,
                               const ObjectStore::Skip& skip) {
  auto examine = [&](StoredObject&& object) {
    budget_.spend();
    if (!canRead(object, caller_)) return true;
    Json view = evaluationView(object);
    if (!matches(object, view, where)) return true;
    return visit(std::move(object));
  };
  auto ids = idsNamedBy(where);
  if (!ids) {
    store_.scan(className, order, examine, skip);
    return;
  }
  std::vector<StoredObject> named;
  for (const auto& id : *ids) {
    budget_.spend();
    if (auto object = store_.find(className, id)) named.push_back(std::move(*object));
  }
  sortLikeScan(named, order);
  for (auto& object : named) {
    if (!examine(std::move(object))) return;
  }
}

bool QueryEngine::matches(const StoredObject& object, const Json& view, const Json& where) {
  if (!where.is_object()) throw BackendError(code::kInvalidQuery, "constraints must be an object");
  for (const auto& [key, constraint] : where.items()) {
    budget_.spend();
    if (key == "$or" || key == "$and") {
      if (!constraint.is_array()) throw BackendError(code::kInvalidQuery, key + " needs a list of constraints");
      CommandBudget::checkCap(constraint.size(), kMaxBranches, key + " has too many branches");
      bool isOr = key == "$or";
      bool result = !isOr;
      for (const auto& branch : constraint) {
        if (matches(object, view, branch) == isOr) {
          result = isOr;
          break;
        }
      }
      if (!result) return false;
    } else if (key == "$relatedTo") {
      if (!isRelated(object, constraint)) return false;
    } else if (!key.empty() && key[0] == '$') {
      throw BackendError(code::kInvalidQuery, "unknown top-level operator " + key);
    } else if (!matchesKey(view, key, constraint)) {
      return false;
    }
  }
  return true;
}

bool QueryEngine::isRelated(const StoredObject& object, const Json& constraint) {
  auto owner = constraint.is_object() ? asPointer(constraint.value("object", Json())) : std::nullopt;
  auto relationKey = constraint.is_object() ? constraint.find("key") : constraint.end();
  if (!owner || relationKey == constraint.end() || !relationKey->is_string()) {
    throw BackendError(code::kInvalidQuery, "$relatedTo needs {\"object\": pointer, \"key\": name}");
  }
  // One read of the relation per query, not one per object examined.
  std::string cacheKey = owner->className + '\0' + owner->objectId + '\0' + relationKey->get<std::string>();
  auto members = relationMembers_.find(cacheKey);
  if (members == relationMembers_.end()) {
    // A relation is part of its owner: empty for those who may not read it.
    auto ownerObject = store_.find(owner->className, owner->objectId);
    std::vector<std::string> targets;
    if (ownerObject && canRead(*ownerObject, caller_))
      targets = store_.relationTargets(owner->className, owner->objectId, *relationKey);
    members = relationMembers_.emplace(cacheKey, std::set<std::string>(targets.begin(), targets.end())).first;
  }
  return members->second.count(object.objectId) > 0;
}

bool QueryEngine::matchesKey(const Json& view, const std::string& key, const Json& constraint) {
  const Json* field = lookup(view, key);
  if (!isConstraintMap(constraint)) return equalsOrContains(field, constraint);
  for (const auto& [op, operand] : constraint.items()) {
    if (op == "$options" || op == "$maxDistance") continue;  // modifiers of $regex and $nearSphere
    if (!matchesOperator(field, op, operand, constraint)) return false;
  }
  return true;
}

bool QueryEngine::matchesOperator(const Json* field, const std::string& op, const Json& operand,
                                  const Json& constraints) {
  if (op == "$gt" || op == "$gte" || op == "$lt" || op == "$lte") {
    auto c = compareValues(field, operand);
    if (!c) return false;
    if (op == "$gt") return *c > 0;
    if (op == "$gte") return *c >= 0;
    if (op == "$lt") return *c < 0;
    return *c <= 0;
  }
  if (op == "$ne") return !equalsOrContains(field, operand);
  if (op == "$in" || op == "$nin" || op == "$all") {
    if (!operand.is_array()) throw BackendError(code::kInvalidQuery, op + " needs a list");
    CommandBudget::checkCap(operand.size(), kMaxListLength, op + " lists too many values");
    budget_.spend(operand.size());
  }
  if (op == "$in" || op == "$nin") {
    bool any = std::any_of(operand.begin(), operand.end(), [&](const Json& e) { return equalsOrContains(field, e); });
    return op == "$in" ? any : !any;
  }
  if (op == "$all") {
    if (!field || !field->is_array()) return false;
    return std::all_of(operand.begin(), operand.end(), [&](const Json& wanted) {
      return std::any_of(field->begin(), field->end(), [&](const Json& e) { return valuesEqual(e, wanted); });
    });
  }
  if (op == "$exists") {
    if (!operand.is_boolean()) throw BackendError(code::kInvalidQuery, "$exists needs true or false");
    return (field != nullptr) == operand.get<bool>();
  }
  if (op == "$regex") return matchesRegex(field, operand, constraints);
  if (op == "$nearSphere") {
    auto center = asGeo(operand);
    if (!center) throw BackendError(code::kInvalidQuery, "$nearSphere needs a GeoPoint");
    auto point = field ? asGeo(*field) : std::nullopt;
    if (!point) return false;
    auto max = constraints.find("$maxDistance");
    if (max == constraints.end()) return true;
    if (!max->is_number()) throw BackendError(code::kInvalidQuery, "$maxDistance needs a number of radians");
    return distanceInRadians(*center, *point) <= max->get<double>();
  }
  if (op == "$within") {
    auto box = operand.is_object() ? operand.find("$box") : operand.end();
    if (box == operand.end() || !box->is_array() || box->size() != 2) {
      throw BackendError(code::kInvalidQuery, "$within needs {\"$box\": [southwest, northeast]}");
    }
    auto southWest = asGeo((*box)[0]);
    auto northEast = asGeo((*box)[1]);
    if (!southWest || !northEast) throw BackendError(code::kInvalidQuery, "$box corners must be GeoPoints");
    auto point = field ? asGeo(*field) : std::nullopt;
    if (!point) return false;
    if (point->latitude < southWest->latitude || point->latitude > northEast->latitude) return false;
    if (southWest->longitude <= northEast->longitude) {
      return point->longitude >= southWest->longitude && point->longitude <= northEast->longitude;
    }
    // A box across the antimeridian.
    return point->longitude >= southWest->longitude || point->longitude <= northEast->longitude;
  }
  if (op == "$inQuery" || op == "$notInQuery") {
    const SubqueryResult& result = subquery(operand);
    auto isMember = [&](const Json& value) {
      auto pointer = asPointer(value);
      return pointer && pointer->className == result.className && result.ids.count(pointer->objectId) > 0;
    };
    bool in = field && (isMember(*field) || (field->is_array() && std::any_of(field->begin(), field->end(), isMember)));
    return op == "$inQuery" ? in : !in;
  }
  if (op == "$select" || op == "$dontSelect") {
    auto query = operand.is_object() ? operand.find("query") : operand.end();
    auto key = operand.is_object() ? operand.find("key") : operand.end();
    if (query == operand.end() || key == operand.end() || !key->is_string()) {
      throw BackendError(code::kInvalidQuery, op + " needs {\"query\": ..., \"key\": name}");
    }
    const SubqueryResult& result = subquery(*query);
    bool in = std::any_of(result.views.begin(), result.views.end(), [&](const Json& view) {
      const Json* value = lookup(view, key->get_ref<const std::string&>());
      return value && equalsOrContains(field, *value);
    });
    return op == "$select" ? in : !in;
  }
  throw BackendError(code::kInvalidQuery, "unknown query operator " + op);
}

bool QueryEngine::matchesRegex(const Json* field, const Json& operand, const Json& constraints) {
  if (!operand.is_string()) throw BackendError(code::kInvalidQuery, "$regex needs a string");
  std::string options;
  auto it = constraints.find("$options");
  if (it != constraints.end()) {
    if (!it->is_string()) throw BackendError(code::kInvalidQuery, "$options needs a string");
    options = it->get<std::string>();
  }
  std::string cacheKey = options + '/' + operand.get<std::string>();
  auto cached = regexes_.find(cacheKey);
  if (cached == regexes_.end()) {
    cached = regexes_.emplace(cacheKey, RegexMatcher(operand.get_ref<const std::string&>(), options)).first;
  }
  if (!field || !field->is_string()) return false;
  const auto& subject = field->get_ref<const std::string&>();
  budget_.spend(kRegexBaseCost + subject.size() / 64);
  return cached->second.search(subject);
}

const QueryEngine::SubqueryResult& QueryEngine::subquery(const Json& spec) {
  std::string key = spec.dump();
  auto cached = subqueries_.find(key);
  if (cached != subqueries_.end()) return *cached->second;
  auto result = std::make_unique<SubqueryResult>();
  if (!spec.is_object()) throw BackendError(code::kInvalidQuery, "a subquery must be an object");
  result->className = checkedClassName(spec, "className", "classname");
  CommandBudget::checkCap(subqueryDepth_ + 1, kMaxSubqueryDepth, "sub-queries are nested too deeply");
  ++subqueryDepth_;
  std::vector<StoredObject> objects;
  try {
    objects = runSubquery(spec);
  } catch (...) {
    --subqueryDepth_;
    throw;
  }
  --subqueryDepth_;
  for (const auto& object : objects) {
    result->ids.insert(object.objectId);
    result->views.push_back(evaluationView(object));
  }
  return *subqueries_.emplace(key, std::move(result)).first->second;
}

std::vector<StoredObject> QueryEngine::runSubquery(const Json& spec) {
  Json where = whereOf(spec, "where", "data");
  std::vector<StoredObject> objects = select(checkedClassName(spec, "className", "classname"), where);
  static const std::string kNone;
  sortObjects(objects, stringParam(spec, "order", kNone), where);
  auto limit = parseCount(spec, "limit");
  auto skip = parseCount(spec, "skip");
  if (limit || skip) {
    applyPaging(objects, std::max<std::int64_t>(0, skip.value_or(0)),
                limit && *limit >= 0 ? *limit : static_cast<std::int64_t>(objects.size()));
  }
  return objects;
}

void QueryEngine::includePath(Json& value, const std::vector<std::string>& path, std::size_t index) {
  if (index >= path.size() || !value.is_object()) return;
  auto it = value.find(path[index]);
  if (it == value.end()) return;
  auto expand = [&](Json& element) {
    budget_.spend();
    if (hasType(element, "Pointer")) {
      auto pointer = asPointer(element);
      auto target = pointer ? store_.find(pointer->className, pointer->objectId) : std::nullopt;
      if (!target || !canRead(*target, caller_)) return;
      Json embedded = objectData(*target);
      embedded["__type"] = "Object";
      embedded["className"] = target->className;
      element = std::move(embedded);
    }
    if (hasType(element, "Object")) includePath(element, path, index + 1);
  };
  if (it->is_array()) {
    for (auto& element : *it) expand(element);
  } else {
    expand(*it);
  }
}

}  // namespace devserver::backend
