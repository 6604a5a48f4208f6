// SHA-256 against the published test vectors, and against sha256sum at the
// padding's edges (55, 56 and 64 bytes), fed whole and in uneven pieces.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "record/sha256.h"

namespace {

std::string digest(const std::string &text, size_t piece) {
  sha256_state state;
  sha256_start(&state);
  for (size_t at = 0; at < text.size(); at += piece)
    sha256_add(&state, reinterpret_cast<const uint8_t *>(text.data()) + at,
               std::min(piece, text.size() - at));
  return sha256_hex(&state);
}

TEST(Sha256, MatchesTheVectorsAndSha256sum) {
  const std::vector<std::tuple<std::string, std::string>> cases = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",  // 56 bytes
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(55, 'a'), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
      {std::string(64, 'a'), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
      {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"}};
  for (const auto &c : cases)
    for (const size_t piece : {size_t{1000000}, size_t{7}, size_t{64}})
      EXPECT_EQ(digest(std::get<0>(c), piece), std::get<1>(c))
          << std::get<0>(c).size() << " bytes by " << piece;
}

}  // namespace
