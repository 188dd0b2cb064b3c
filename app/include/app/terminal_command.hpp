#pragma once
// The commands of the reader's terminal mode, one per input line.

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/value.hpp"

namespace app::terminal {

struct ListMenu {};                 // menu
struct OpenSidebar {};              // open
struct SelectRow { int row = 0; };  // select N
struct BackMenu {};                 // back-menu
struct Search { std::string text; };
struct TapLink { std::string url; };
struct WebBack {};                  // back
struct WebForward {};               // forward
struct GoHome {};                   // home
struct TapLogo {};                  // logo
struct Refresh {};                  // refresh
struct Share {};                    // share
struct Pan { double dx = 0; double velocity = 0; };
struct DeliverToken { std::vector<std::uint8_t> bytes; };
struct DeliverPush { platform::Value payload; };
struct AnswerAlert { int button = 0; };
struct SetState { std::string state; };  // "active", "inactive" or "background"
struct ListScreens {};              // screens
struct Quit {};
struct Help {};

using Command = std::variant<ListMenu, OpenSidebar, SelectRow, BackMenu, Search, TapLink, WebBack, WebForward, GoHome,
                             TapLogo, Refresh, Share, Pan, DeliverToken, DeliverPush, AnswerAlert, SetState,
                             ListScreens, Quit, Help>;

struct ParseError {
  std::string message;
};

// Parses one line (surrounding blanks ignored). An empty line gives an
// empty message error that callers may skip silently.
std::variant<Command, ParseError> parseCommand(std::string_view line);

// Where a command is read: the terminal mode, or the window's command
// channel, which also takes a few commands of its own.
enum class Surface { Terminal, Window };

// One command as help lists it.
struct CommandHelp {
  const char* synopsis;
  const char* description;  // empty when the synopsis says it all
  bool windowOnly = false;
};

// Every command of both surfaces, in the order help lists them.
const std::vector<CommandHelp>& commandHelp();

// The usage text listing the commands `surface` takes.
std::string usage(Surface surface = Surface::Terminal);

}  // namespace app::terminal
