#include "testing/Sha256.h"

#include <gtest/gtest.h>

#include <string>

namespace pelmar::test {
namespace {

TEST(Sha256Test, MatchesKnownDigestsWhateverTheChunking) {
    EXPECT_EQ(Sha256::hexOf(""),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Sha256::hexOf("abc"),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");

    const std::string million(1000000, 'a');
    Sha256 chunked;
    for (size_t i = 0; i < million.size(); i += 4093) {
        chunked.update(std::string_view(million).substr(i, 4093));
    }
    EXPECT_EQ(chunked.finishHex(),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(Sha256Test, RefusesUseAfterFinish) {
    Sha256 sha;
    sha.finishHex();
    EXPECT_THROW(sha.update("x"), std::logic_error);
    EXPECT_THROW(sha.finishHex(), std::logic_error);
}

}  // namespace
}  // namespace pelmar::test
