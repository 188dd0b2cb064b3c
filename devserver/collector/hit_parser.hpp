#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace devserver {

// One analytics hit: its parameters in the order they were sent, names and
// values percent-decoded ('+' reads as a space).
struct CollectedHit {
  std::string line;  // the line as received
  std::vector<std::pair<std::string, std::string>> parameters;
  // What a well-formed hit lacks: "v", "tid", "cid" (or "uid") and "t".
  std::vector<std::string> problems;
};

// Decodes %XX escapes and '+'; a '%' not followed by two hex digits stays as it is.
std::string percentDecode(std::string_view text);

// One hit from one line of "name=value" pairs joined by '&'. A pair without
// '=' is a name with an empty value; empty pairs are skipped.
CollectedHit parseHitLine(std::string_view line);

// Every hit of a collection payload: one hit per line ("\n" or "\r\n"),
// empty lines skipped.
std::vector<CollectedHit> parseCollectPayload(std::string_view payload);

}  // namespace devserver
