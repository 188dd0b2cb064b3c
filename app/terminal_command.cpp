#include "app/terminal_command.hpp"

#include <cerrno>
#include <charconv>
#include <cmath>

#include "platform/json.hpp"

namespace app::terminal {
namespace {

std::string_view trim(std::string_view text) {
  const auto begin = text.find_first_not_of(" \t\r\n");
  if (begin == std::string_view::npos) return {};
  const auto end = text.find_last_not_of(" \t\r\n");
  return text.substr(begin, end - begin + 1);
}

std::pair<std::string_view, std::string_view> splitWord(std::string_view text) {
  const auto space = text.find_first_of(" \t");
  if (space == std::string_view::npos) return {text, {}};
  return {text.substr(0, space), trim(text.substr(space))};
}

bool parseInt(std::string_view text, int& out) {
  const auto result = std::from_chars(text.data(), text.data() + text.size(), out);
  return result.ec == std::errc() && result.ptr == text.data() + text.size();
}

bool parseNumber(std::string_view text, double& out) {
  const auto result = std::from_chars(text.data(), text.data() + text.size(), out);
  return result.ec == std::errc() && result.ptr == text.data() + text.size() && std::isfinite(out);
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::variant<Command, ParseError> parseToken(std::string_view hex) {
  if (hex.empty() || hex.size() % 2 != 0) return ParseError{"token: give an even number of hex digits"};
  DeliverToken token;
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    const int high = hexDigit(hex[i]);
    const int low = hexDigit(hex[i + 1]);
    if (high < 0 || low < 0) return ParseError{"token: not a hex digit in \"" + std::string(hex) + "\""};
    token.bytes.push_back(static_cast<std::uint8_t>(high * 16 + low));
  }
  return Command(std::move(token));
}

std::variant<Command, ParseError> parsePan(std::string_view arguments) {
  const auto [first, rest] = splitWord(arguments);
  Pan pan;
  if (!parseNumber(first, pan.dx)) return ParseError{"pan: usage: pan DX [VELOCITY]"};
  if (!rest.empty() && !parseNumber(rest, pan.velocity)) return ParseError{"pan: usage: pan DX [VELOCITY]"};
  return Command(pan);
}

}  // namespace

std::variant<Command, ParseError> parseCommand(std::string_view line) {
  const auto [word, arguments] = splitWord(trim(line));
  if (word.empty()) return ParseError{};
  auto noArguments = [&, word = word, arguments = arguments](Command command) -> std::variant<Command, ParseError> {
    if (!arguments.empty()) return ParseError{std::string(word) + ": takes no arguments"};
    return command;
  };
  if (word == "menu") return noArguments(ListMenu{});
  if (word == "open") return noArguments(OpenSidebar{});
  if (word == "back-menu") return noArguments(BackMenu{});
  if (word == "back") return noArguments(WebBack{});
  if (word == "forward") return noArguments(WebForward{});
  if (word == "home") return noArguments(GoHome{});
  if (word == "logo") return noArguments(TapLogo{});
  if (word == "refresh") return noArguments(Refresh{});
  if (word == "share") return noArguments(Share{});
  if (word == "screens") return noArguments(ListScreens{});
  if (word == "quit") return noArguments(Quit{});
  if (word == "help") return noArguments(Help{});
  if (word == "search") return Command(Search{std::string(arguments)});
  if (word == "select" || word == "answer") {
    int number = 0;
    if (!parseInt(arguments, number) || number < 0) return ParseError{std::string(word) + ": give a row or button number"};
    if (word == "select") return Command(SelectRow{number});
    return Command(AnswerAlert{number});
  }
  if (word == "tap") {
    if (arguments.empty()) return ParseError{"tap: give a URL"};
    return Command(TapLink{std::string(arguments)});
  }
  if (word == "pan") return parsePan(arguments);
  if (word == "token") return parseToken(arguments);
  if (word == "push") {
    auto payload = platform::json::parse(arguments);
    if (!payload) return ParseError{"push: not JSON: " + payload.error().description()};
    return Command(DeliverPush{std::move(payload).value()});
  }
  if (word == "state") {
    if (arguments != "active" && arguments != "inactive" && arguments != "background") {
      return ParseError{"state: give active, inactive or background"};
    }
    return Command(SetState{std::string(arguments)});
  }
  return ParseError{"unknown command \"" + std::string(word) + "\" (try help)"};
}

const std::vector<CommandHelp>& commandHelp() {
  static const std::vector<CommandHelp> commands{
      {"menu", "list the current sidebar level"},
      {"open", "show the sidebar"},
      {"select N", "tap row N of the sidebar level"},
      {"back-menu", "swipe back one sidebar level"},
      {"search TEXT", "search the archive from the sidebar"},
      {"tap URL", "click a link in the front screen"},
      {"back | forward", "web history of the front screen"},
      {"home", "the front screen's home button"},
      {"logo", "the home screen's logo"},
      {"refresh", "pull to refresh"},
      {"share", "share the front page"},
      {"pan DX [VELOCITY]", "drag the front sideways and let go"},
      {"token HEX", "the platform delivers a device token"},
      {"push JSON", "a remote notification arrives"},
      {"answer N", "press button N of the open alert"},
      {"state active|inactive|background", ""},
      {"screens", "the front stack: nav type, title, URL"},
      {"quit", ""},
      {"screenshot PATH", "save what the window shows as PNG", true},
      {"tap X Y", "click the window at a point", true},
      {"touchpad X Y DX DY", "scroll with two fingers at a point", true},
      {"links", "the link URLs of the front page", true},
      {"scroll", "where the front page is scrolled to, and where its model says", true},
      {"images", "the image files the last frame drew", true},
      {"selection", "the text selected in the front page", true},
      {"parts", "the texts and images the last frame drew, where they show", true},
  };
  return commands;
}

std::string usage(Surface surface) {
  std::string text = "commands:\n";
  for (const CommandHelp& command : commandHelp()) {
    if (command.windowOnly && surface != Surface::Window) continue;
    std::string line = "  " + std::string(command.synopsis);
    if (*command.description) line += std::string(line.size() < 23 ? 23 - line.size() : 1, ' ') + command.description;
    text += line + "\n";
  }
  return text;
}

}  // namespace app::terminal
