#pragma once

#include "access_control.hpp"
#include "object_store.hpp"
#include "regex_matcher.hpp"

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
// Throws BackendError(102) for a malformed query.
class QueryEngine {
 public:
  QueryEngine(ObjectStore& store, const Caller& caller);
  ~QueryEngine();

  // Answers a "find" command: {"results": [{"data": ...}, ...]} plus
  // "count" when asked, "className" when redirected, "trace" when traced.
  Json find(const Json& params);

  // The readable objects of `className` that match `where` (no paging).
  std::vector<StoredObject> select(const std::string& className, const Json& where);

 private:
  struct SubqueryResult;

  bool matches(const StoredObject& object, const Json& where);
  bool matchesKey(const Json& view, const std::string& key, const Json& constraint);
  bool matchesOperator(const Json* field, const std::string& op, const Json& operand, const Json& constraints);
  bool matchesRegex(const Json* field, const Json& operand, const Json& constraints);
  const SubqueryResult& subquery(const Json& spec);
  std::vector<StoredObject> runSubquery(const Json& spec);
  void includePath(Json& value, const std::vector<std::string>& path, std::size_t index);

  ObjectStore& store_;
  const Caller& caller_;
  std::map<std::string, std::unique_ptr<SubqueryResult>> subqueries_;
  std::map<std::string, RegexMatcher> regexes_;
};

}  // namespace devserver::backend
