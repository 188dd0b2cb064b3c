// The parameters of a query's "find" command:
//   "order"     the order text                 when an order is set
//   "limit"     the limit as decimal text      when it is 0 or more
//   "skip"      the skip as decimal text       when it is 1 or more
//   "include"   the include keys joined by "," when there are any
//   "fields"    the selected keys joined by "," when keys were selected
//   "trace"     "1"                            when tracing
//   extra options, each as it is
//   "data"      the encoded constraints        when there are any
//   "classname" the class name                 always

#include <string>

#include "backend/internal/internal_utils.hpp"
#include "backend/query.hpp"
#include "platform/exceptions.hpp"

namespace backend {
namespace {

std::string joined(const std::vector<std::string>& parts) {
  std::string text;
  for (std::size_t i = 0; i < parts.size(); ++i) text += (i ? "," : "") + parts[i];
  return text;
}

// A query inside a constraint becomes its own find parameters, with "data"
// named "where" and "classname" named "className".
Value subqueryForm(const Query& query) {
  const Value params = query.constructFindParams();
  platform::Dictionary form;
  for (const auto& [key, value] : *params.dictionary()) {
    if (key == "data") {
      form.append("where", value);
    } else if (key == "classname") {
      form.append("className", value);
    } else {
      form.append(key, value);
    }
  }
  return Value(std::move(form));
}

Value withSubqueriesEncoded(const Value& value) {
  if (auto query = value.object<Query>()) return subqueryForm(*query);
  const platform::Dictionary* entries = value.dictionary();
  if (!entries) return value;
  platform::Dictionary encoded;
  encoded.reserve(entries->size());
  for (const auto& [key, member] : *entries) encoded.append(key, withSubqueriesEncoded(member));
  return Value(std::move(encoded));
}

void refuseIf(bool condition, const char* message) {
  if (condition) throw platform::InvalidArgumentException(message);
}

Value orBranch(const Query& subquery) {
  refuseIf(subquery.limit() >= 0, "OR queries do not support sub queries with limits");
  refuseIf(subquery.skip() >= 1, "OR queries do not support sub queries with skip");
  refuseIf(subquery.order().has_value(), "OR queries do not support sub queries with order");
  const Value params = subquery.constructFindParams();
  refuseIf(params.dictionary()->contains("include"), "OR queries do not support sub-queries with includes");
  refuseIf(params.dictionary()->contains("fields"), "OR queries do not support sub-queries with selectKeys");
  const Value data = params["data"];
  return data.isNil() ? Value::emptyDictionary() : data;
}

Value orBranches(const Value& subqueries) {
  platform::Array branches;
  if (const platform::Array* list = subqueries.array()) {
    branches.reserve(list->size());
    for (const Value& subquery : *list) branches.push_back(orBranch(*subquery.object<Query>()));
  }
  return Value(std::move(branches));
}

}  // namespace

Value Query::encodedConstraints() const {
  platform::Dictionary encoded;
  encoded.reserve(where_.size());
  for (const auto& [key, entry] : where_) {
    if (key == "$or") {
      encoded.append(key, orBranches(entry));
    } else {
      encoded.append(key, InternalUtils::encodeObject(withSubqueriesEncoded(entry), UnsavedChildren::Disallow,
                                                      DataObjects::Allow));
    }
  }
  return Value(std::move(encoded));
}

Value Query::constructFindParams() const {
  platform::Dictionary params;
  if (order_) params.append("order", Value(*order_));
  if (limit_ >= 0) params.append("limit", Value(std::to_string(limit_)));
  if (skip_ >= 1) params.append("skip", Value(std::to_string(skip_)));
  if (!include_.empty()) params.append("include", Value(joined(include_)));
  if (selectedKeys_) params.append("fields", Value(joined(*selectedKeys_)));
  if (trace_) params.append("trace", Value("1"));
  for (const auto& [key, value] : extraOptions_) params.set(key, value);
  if (!where_.empty()) params.set("data", encodedConstraints());
  params.set("classname", Value(className_));
  return Value(std::move(params));
}

Value Query::constructCountParams() const {
  Value params = constructFindParams();
  params.dictionary()->set("limit", Value("0"));
  params.dictionary()->set("count", Value("1"));
  return params;
}

}  // namespace backend
