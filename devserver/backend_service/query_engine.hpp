#pragma once

#include "access_control.hpp"
#include "command_budget.hpp"
#include "object_store.hpp"
#include "regex_matcher.hpp"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace devserver::backend {

// The "data" form of an object as answers carry it: its fields plus
// "objectId", "createdAt" and "updatedAt" (timestamp text).
Json objectData(const StoredObject& object);

// Evaluates queries for one caller: constraints, ordering, paging,
// includes, selected keys. Objects the caller may not read are invisible.
// Throws BackendError(102) for a malformed query and BackendError(124) when
// the query costs more than `budget` allows or exceeds a cap ($or branches,
// $in lists, nested sub-queries).
class QueryEngine {
 public:
  static constexpr std::size_t kMaxBranches = 100;      // per $or / $and
  static constexpr std::size_t kMaxListLength = 1000;   // per $in / $nin / $all
  static constexpr std::size_t kMaxSubqueryDepth = 4;   // $inQuery inside $inQuery ...

  QueryEngine(ObjectStore& store, const Caller& caller, CommandBudget& budget);
  ~QueryEngine();

  // Answers a "find" command: {"results": [{"data": ...}, ...]} plus
  // "count" when asked, "className" when redirected, "trace" when traced.
  Json find(const Json& params);

  // The readable objects of `className` that match `where` (no paging).
  std::vector<StoredObject> select(const std::string& className, const Json& where);

 private:
  struct SubqueryResult;
  using Visit = std::function<bool(StoredObject&&)>;

  void forEachMatch(const std::string& className, const Json& where, const std::vector<ObjectStore::ScanKey>& order,
                    const Visit& visit, const ObjectStore::Skip& skip = {});
  bool matches(const StoredObject& object, const Json& view, const Json& where);
  bool matchesKey(const Json& view, const std::string& key, const Json& constraint);
  bool matchesOperator(const Json* field, const std::string& op, const Json& operand, const Json& constraints);
  bool matchesRegex(const Json* field, const Json& operand, const Json& constraints);
  bool isRelated(const StoredObject& object, const Json& constraint);
  const SubqueryResult& subquery(const Json& spec);
  std::vector<StoredObject> runSubquery(const Json& spec);
  void includePath(Json& value, const std::vector<std::string>& path, std::size_t index);

  ObjectStore& store_;
  const Caller& caller_;
  CommandBudget& budget_;
  std::size_t subqueryDepth_ = 0;
  std::map<std::string, std::unique_ptr<SubqueryResult>> subqueries_;
  std::map<std::string, RegexMatcher> regexes_;
  std::map<std::string, std::set<std::string>> relationMembers_;  // by owner and key
};

}  // namespace devserver::backend
