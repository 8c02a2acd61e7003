#include "msglink/sha1.h"

#include <gtest/gtest.h>
#include <nettle/sha1.h>

#include <cctype>
#include <random>

#include "tests/msglink/test_support.h"

namespace vantera {
namespace {

std::string Hex(const Sha1::Digest& d) {
  return testing::ToHex(std::string_view(reinterpret_cast<const char*>(d.data()), d.size()));
}

std::string Lower(std::string s) {
  for (char& c : s)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

TEST(Sha1, PublishedVectorsIncludingOneMillionA) {
  auto rows = testing::ReadVectorFile("sha1.txt");
  ASSERT_EQ(rows.size(), 4u);
  bool saw_million = false;
  for (const auto& row : rows) {
    ASSERT_EQ(row.size(), 2u);
    std::string message = row[0];
    if (message == "\"\"") {
      message.clear();
    } else if (message == "million-a") {
      message.assign(1000000, 'a');
      saw_million = true;
      // Fed in uneven pieces as well: the running state must not depend on the cut.
      Sha1 sha;
      for (std::size_t pos = 0, step = 1; pos < message.size(); pos += step, step = step % 97 + 1)
        sha.Update(std::string_view(message).substr(pos, step));
      EXPECT_EQ(Lower(Hex(sha.Finish())), row[1]);
    }
    EXPECT_EQ(Lower(Hex(Sha1::Of(message))), row[1]) << row[0];
  }
  EXPECT_TRUE(saw_million);
}

TEST(Sha1, MatchesNettleAroundEveryPaddingBoundary) {
  std::mt19937 rng(7);
  for (std::size_t len = 0; len <= 200; ++len) {
    std::string msg = testing::RandomBytes(rng, len);
    sha1_ctx ctx;
    sha1_init(&ctx);
    sha1_update(&ctx, msg.size(), testing::U8(msg));
    uint8_t expected[SHA1_DIGEST_SIZE];
    sha1_digest(&ctx, sizeof expected, expected);

    Sha1 sha;
    sha.Update(std::string_view(msg).substr(0, len / 3));
    sha.Update(std::string_view(msg).substr(len / 3));
    Sha1::Digest got = sha.Finish();
    ASSERT_EQ(std::string(got.begin(), got.end()), std::string(expected, expected + 20))
        << "length " << len;
    // Finish resets: the same object digests the next message from scratch.
    EXPECT_EQ(Hex(sha.Finish()), Hex(Sha1::Of("")));
  }
}

}  // namespace
}  // namespace vantera
