#include "parameter_archive.hpp"

#include <cstdint>

namespace analytics {

namespace {

constexpr std::string_view kMagic = "ANP1";

void putLength(std::string& out, std::size_t length) {
  while (length >= 0x80) {
    out.push_back(static_cast<char>((length & 0x7F) | 0x80));
    length >>= 7;
  }
  out.push_back(static_cast<char>(length));
}

bool takeLength(std::string_view& in, std::size_t& length) {
  length = 0;
  for (int shift = 0; shift < 35; shift += 7) {
    if (in.empty()) return false;
    auto byte = static_cast<unsigned char>(in.front());
    in.remove_prefix(1);
    length |= static_cast<std::size_t>(byte & 0x7F) << shift;
    if ((byte & 0x80) == 0) return length <= in.size();
  }
  return false;
}

bool takeText(std::string_view& in, std::string& text) {
  std::size_t length = 0;
  if (!takeLength(in, length)) return false;
  text.assign(in.substr(0, length));
  in.remove_prefix(length);
  return true;
}

}  // namespace

std::string encodeParameterArchive(const platform::Dictionary& parameters) {
  std::string out(kMagic);
  for (const auto& [key, value] : parameters) {
    const std::string* text = value.string();
    if (!text && !value.isNull()) continue;
    out.push_back(text ? 'S' : 'N');
    putLength(out, key.size());
    out.append(key);
    if (text) {
      putLength(out, text->size());
      out.append(*text);
    }
  }
  return out;
}

std::optional<platform::Dictionary> decodeParameterArchive(std::string_view in) {
  if (in.substr(0, kMagic.size()) != kMagic) return std::nullopt;
  in.remove_prefix(kMagic.size());
  platform::Dictionary parameters;
  while (!in.empty()) {
    char tag = in.front();
    in.remove_prefix(1);
    if (tag != 'S' && tag != 'N') return std::nullopt;
    std::string key;
    if (!takeText(in, key)) return std::nullopt;
    if (tag == 'N') {
      parameters.set(std::move(key), platform::Value::null());
      continue;
    }
    std::string value;
    if (!takeText(in, value)) return std::nullopt;
    parameters.set(std::move(key), platform::Value(std::move(value)));
  }
  return parameters;
}

}  // namespace analytics
