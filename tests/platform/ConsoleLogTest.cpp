#include "platform/ConsoleLog.h"

#include <gtest/gtest.h>

namespace driftpost {
namespace {

TEST(ConsoleLogTest, KeepsOnlyTheLast201Lines) {
  TConsoleLog log(nullptr);
  for (int i = 1; i <= 500; ++i) log.LogLine("line " + std::to_string(i));
  ASSERT_EQ(log.Count(), 201);
  EXPECT_EQ(log.Lines().front(), "line 300");
  EXPECT_EQ(log.Lines().back(), "line 500");
}

TEST(ConsoleLogTest, EchoesEveryLineAndTellsTheObserver) {
  std::FILE* echo = std::tmpfile();
  ASSERT_NE(echo, nullptr);
  TConsoleLog log(echo);
  int changes = 0;
  log.OnChange = [&] { ++changes; };
  log.LogLine("1: GET /");
  log.LogLine("Server is waiting for connections");
  log.Clear();
  EXPECT_EQ(changes, 3);
  EXPECT_EQ(log.Count(), 0);
  std::rewind(echo);
  char buffer[128] = {};
  std::size_t got = std::fread(buffer, 1, sizeof buffer - 1, echo);
  EXPECT_EQ(std::string(buffer, got), "1: GET /\nServer is waiting for connections\n");
  std::fclose(echo);
}

TEST(ConsoleLogTest, ControlCharactersReachNeitherTheLinesNorTheEchoRaw) {
  std::FILE* echo = std::tmpfile();
  ASSERT_NE(echo, nullptr);
  TConsoleLog log(echo);
  log.LogLine("1: GET /\x1B]0;owned\x07\rforged line");
  EXPECT_EQ(log.Lines().back(), "1: GET /\\x1B]0;owned\\x07\\x0Dforged line");
  std::rewind(echo);
  char buffer[128] = {};
  std::size_t got = std::fread(buffer, 1, sizeof buffer - 1, echo);
  EXPECT_EQ(std::string(buffer, got), "1: GET /\\x1B]0;owned\\x07\\x0Dforged line\n");
  std::fclose(echo);
}

}  // namespace
}  // namespace driftpost
