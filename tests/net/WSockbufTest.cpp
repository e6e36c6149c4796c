#include "net/WSockbuf.h"

#include <gtest/gtest.h>
#include <string>

namespace driftpost {
namespace {

std::string Unsent(const TBuffer& buffer) {
  int length = 0;
  const char* data = buffer.Peek(length);
  return data ? std::string(data, static_cast<std::size_t>(length)) : std::string();
}

TEST(TBuffer, FillsTakesAndRewindsWhenDrained) {
  TBuffer buffer(8);
  EXPECT_EQ(buffer.Write("abcdefghij", 10), 8);  // only what fits
  EXPECT_EQ(buffer.Write("x", 1), 0);
  EXPECT_EQ(buffer.Remove(3), 3);
  EXPECT_EQ(Unsent(buffer), "defgh");
  EXPECT_EQ(buffer.Write("x", 1), 0);  // the room is behind the fill count, not before it
  EXPECT_EQ(buffer.Remove(100), 5);    // never more than is unsent
  EXPECT_EQ(buffer.UnsentCount(), 0);
  int length = -1;
  EXPECT_EQ(buffer.Peek(length), nullptr);
  EXPECT_EQ(length, 0);
  EXPECT_EQ(buffer.Remove(1), 0);
  // Drained: filled again from its start.
  EXPECT_EQ(buffer.Write("12345678", 8), 8);
  EXPECT_EQ(Unsent(buffer), "12345678");
}

TEST(TBuffer, SizeDefaultsAndResizingKeepsUnsentBytes) {
  EXPECT_EQ(TBuffer(0).Size(), 1514);
  EXPECT_EQ(TBuffer(-5).Size(), 1514);
  TBuffer buffer(4);
  buffer.Write("wxyz", 4);
  buffer.Remove(1);
  buffer.SetSize(2);  // never below what it holds
  EXPECT_EQ(buffer.Size(), 4);
  buffer.SetSize(16);
  EXPECT_EQ(Unsent(buffer), "xyz");
  EXPECT_EQ(buffer.Write("0123456789ABCDEF", 16), 12);
  EXPECT_EQ(Unsent(buffer), "xyz0123456789AB");
}

}  // namespace
}  // namespace driftpost
