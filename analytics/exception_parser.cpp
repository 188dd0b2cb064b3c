#include "exception_parser.hpp"

#include <cxxabi.h>
#include <dlfcn.h>
#include <execinfo.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <typeinfo>

#include "platform/exceptions.hpp"

namespace analytics {

namespace {

std::string demangle(const char* name) {
  int status = 0;
  std::unique_ptr<char, decltype(&std::free)> text(abi::__cxa_demangle(name, nullptr, nullptr, &status), &std::free);
  return status == 0 && text ? std::string(text.get()) : std::string(name);
}

// A demangled function name as one word: no argument list, no spaces, so a
// frame line splits into exactly its five parts.
std::string compactSymbol(std::string symbol) {
  std::size_t depth = 0;
  for (std::size_t i = 0; i < symbol.size(); ++i) {
    char c = symbol[i];
    if (c == '<') ++depth;
    if (c == '>' && depth > 0) --depth;
    // The argument list is the first "(" outside template brackets that is
    // not the "(anonymous namespace)" prefix.
    if (c == '(' && depth == 0 && symbol.compare(i, 21, "(anonymous namespace)") != 0) {
      symbol.resize(i);
      break;
    }
  }
  std::string out;
  for (char c : symbol) {
    if (c != ' ' && c != '\t') out.push_back(c);
  }
  return out.empty() ? "?" : out;
}

std::vector<std::string_view> words(std::string_view line) {
  std::vector<std::string_view> parts;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\n' || line[i] == '\r')) ++i;
    std::size_t start = i;
    while (i < line.size() && !(line[i] == ' ' || line[i] == '\t' || line[i] == '\n' || line[i] == '\r')) ++i;
    if (i > start) parts.push_back(line.substr(start, i - start));
  }
  return parts;
}

}  // namespace

std::vector<std::string> ExceptionReport::currentCallStack() {
  void* frames[64];
  int count = backtrace(frames, 64);
  std::vector<std::string> lines;
  lines.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    Dl_info info{};
    std::string module = "?";
    std::string symbol = "?";
    unsigned long offset = 0;
    if (dladdr(frames[i], &info) != 0) {
      if (info.dli_fname) {
        std::string path = info.dli_fname;
        module = path.substr(path.rfind('/') == std::string::npos ? 0 : path.rfind('/') + 1);
      }
      if (info.dli_sname) {
        symbol = compactSymbol(demangle(info.dli_sname));
        offset = static_cast<unsigned long>(static_cast<char*>(frames[i]) - static_cast<char*>(info.dli_saddr));
      }
    }
    char line[1024];
    std::snprintf(line, sizeof line, "%-4d %-30s 0x%016lx %s + %lu", i, module.c_str(),
                  reinterpret_cast<unsigned long>(frames[i]), symbol.c_str(), offset);
    lines.emplace_back(line);
  }
  return lines;
}

ExceptionReport ExceptionReport::fromException(const std::exception_ptr& exception) {
  ExceptionReport report;
  report.callStackSymbols = currentCallStack();
  if (!exception) return report;
  try {
    std::rethrow_exception(exception);
  } catch (const platform::NamedException& e) {
    report.name = e.name();
    report.reason = e.what();
  } catch (const std::exception& e) {
    report.name = demangle(typeid(e).name());
    report.reason = e.what();
  } catch (...) {
    auto* type = abi::__cxa_current_exception_type();
    report.name = type ? demangle(type->name()) : "unknown exception";
  }
  return report;
}

std::string ExceptionParser::exceptionDescription(const ExceptionReport& exception, std::size_t maxLength) {
  std::string text = exception.name;
  const auto& frames = exception.callStackSymbols;
  bool traceStarted = false;
  for (std::size_t i = 2; i < frames.size(); ++i) {
    auto symbol = symbolFromStackFrame(frames[i]);
    if (!symbol) continue;
    if (!traceStarted) {
      text += "\nTrace:";
      traceStarted = true;
    }
    text += "\n" + *symbol;
    if (maxLength != 0 && text.size() >= maxLength) break;
  }
  if (maxLength != 0 && text.size() > maxLength) {
    std::size_t cut = maxLength;
    // Never split a UTF-8 sequence.
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    text.resize(cut);
  }
  return text;
}

std::optional<std::string> ExceptionParser::symbolFromStackFrame(std::string_view frame) {
  auto parts = words(frame);
  if (parts.size() < 5) return std::nullopt;
  if (parts[3] == "+[NSException") return std::nullopt;
  if (parts[4] != "+") return std::string(parts[3]) + " " + std::string(parts[4]);
  return std::string(parts[3]);
}

std::optional<std::string> Util::descriptionFromException(const ExceptionReport* exception) {
  if (!exception) return std::nullopt;
  return ExceptionParser::exceptionDescription(*exception, 150);
}

std::optional<std::string> Util::descriptionFromError(const platform::Error* error) {
  if (!error) return std::nullopt;
  return error->domain + " " + std::to_string(error->code) + ": " + error->message();
}

}  // namespace analytics
