#include "app/terminal_command.hpp"

#include <gtest/gtest.h>

namespace app::terminal {
namespace {

template <class T>
T expectCommand(std::string_view line) {
  auto parsed = parseCommand(line);
  if (auto* error = std::get_if<ParseError>(&parsed)) ADD_FAILURE() << line << ": " << error->message;
  const Command* command = std::get_if<Command>(&parsed);
  if (!command || !std::holds_alternative<T>(*command)) {
    ADD_FAILURE() << line << ": wrong command";
    return T{};
  }
  return std::get<T>(*command);
}

std::string errorOf(std::string_view line) {
  auto parsed = parseCommand(line);
  auto* error = std::get_if<ParseError>(&parsed);
  return error ? error->message : "<parsed>";
}

TEST(TerminalCommands, ArgumentsAreReadAsTheirKind) {
  EXPECT_EQ(expectCommand<SelectRow>("  select 3 ").row, 3);
  EXPECT_EQ(expectCommand<AnswerAlert>("answer 1").button, 1);
  EXPECT_EQ(expectCommand<Search>("search bergen by & fjord").text, "bergen by & fjord");
  EXPECT_EQ(expectCommand<Search>("search").text, "");
  EXPECT_EQ(expectCommand<TapLink>("tap http://www.vestavind.test/a?b=1").url, "http://www.vestavind.test/a?b=1");
  const Pan pan = expectCommand<Pan>("pan -200 -900.5");
  EXPECT_EQ(pan.dx, -200);
  EXPECT_EQ(pan.velocity, -900.5);
  EXPECT_EQ(expectCommand<Pan>("pan 100").velocity, 0);
  EXPECT_EQ(expectCommand<DeliverToken>("token 0A1bff").bytes, (std::vector<std::uint8_t>{0x0a, 0x1b, 0xff}));
  EXPECT_EQ(expectCommand<DeliverPush>(R"(push {"aps": {"alert": "x"}, "url": "u"})").payload["url"],
            platform::Value("u"));
  EXPECT_EQ(expectCommand<SetState>("state background").state, "background");
  expectCommand<BackMenu>("back-menu");
  expectCommand<WebBack>("back");
  expectCommand<Quit>("quit");
}

TEST(TerminalCommands, BadInputIsRefusedWithAReason) {
  EXPECT_EQ(errorOf("   "), "");
  EXPECT_NE(errorOf("select x").find("number"), std::string::npos);
  EXPECT_NE(errorOf("select -1").find("number"), std::string::npos);
  EXPECT_NE(errorOf("select 99999999999999999999").find("number"), std::string::npos);
  EXPECT_NE(errorOf("token abc").find("even"), std::string::npos);
  EXPECT_NE(errorOf("token zz").find("hex"), std::string::npos);
  EXPECT_NE(errorOf("push {not json").find("not JSON"), std::string::npos);
  EXPECT_NE(errorOf("pan nan").find("usage"), std::string::npos);
  EXPECT_NE(errorOf("pan 10 fast").find("usage"), std::string::npos);
  EXPECT_NE(errorOf("state asleep").find("active"), std::string::npos);
  EXPECT_NE(errorOf("quit now").find("no arguments"), std::string::npos);
  EXPECT_NE(errorOf("fly").find("unknown"), std::string::npos);
  EXPECT_NE(errorOf("tap").find("URL"), std::string::npos);
}

TEST(TerminalCommands, HelpListsWhatEachSurfaceTakesAndTheParserKnowsEveryTerminalCommand) {
  const std::string terminal = usage(Surface::Terminal);
  const std::string window = usage(Surface::Window);
  for (const CommandHelp& command : commandHelp()) {
    const std::string synopsis = command.synopsis;
    EXPECT_NE(window.find("  " + synopsis), std::string::npos) << synopsis;
    EXPECT_EQ(terminal.find("  " + synopsis) != std::string::npos, !command.windowOnly) << synopsis;
    if (!command.windowOnly) {
      EXPECT_EQ(errorOf(synopsis.substr(0, synopsis.find(' '))).find("unknown"), std::string::npos) << synopsis;
    }
  }
  EXPECT_NE(terminal.find("  select N             tap row N of the sidebar level\n"), std::string::npos);
}

}  // namespace
}  // namespace app::terminal
