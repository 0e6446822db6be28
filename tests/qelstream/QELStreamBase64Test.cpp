// Tests of qelstream/QELStreamBase64.cpp.
// Base64: the one-line encoder, the line decoder, the strict fallback, and
// agreement with coreutils base64.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "qelstream/QELStream.h"
#include "tests/qelstream/QELTestUtil.h"

namespace vto {
namespace {

using test::Bytes;
using test::Fill;
using namespace std::string_literals;
using ::testing::StrEq;
using ::testing::ThrowsMessage;

TEST(Base64Encode, Examples) {
  EXPECT_EQ(EncodeBase64(""), "");
  EXPECT_EQ(EncodeBase64("abc"), "YWJj");
  EXPECT_EQ(EncodeBase64("\x00\xFF\xFF\x01"s), "AP//AQ==");
  EXPECT_EQ(EncodeBase64("f"), "Zg==");
  EXPECT_EQ(EncodeBase64("fo"), "Zm8=");
  EXPECT_EQ(EncodeBase64("foobar"), "Zm9vYmFy");
}

TEST(Base64Encode, RfcVectorsFromPeerData) {
  // RFC 4648 section 10, as listed in the shared vectors file.
  const std::pair<const char*, const char*> vectors[] = {{"", ""},
                                                         {"f", "Zg=="},
                                                         {"fo", "Zm8="},
                                                         {"foo", "Zm9v"},
                                                         {"foob", "Zm9vYg=="},
                                                         {"fooba", "Zm9vYmE="},
                                                         {"foobar", "Zm9vYmFy"}};
  for (const auto& [plain, encoded] : vectors) {
    EXPECT_EQ(EncodeBase64(plain), encoded);
    EXPECT_EQ(DecodeBase64Lines(encoded), plain);
    EXPECT_EQ(DecodeBase64(encoded), plain);
  }
}

TEST(Base64Encode, StreamEncodingPositionAndEmpty) {
  TQELMemoryStream s;
  s.Base64EncodeData();
  EXPECT_EQ(s.Size(), 0);
  EXPECT_EQ(s.Position(), 0);
  Fill(s, "abcd");
  s.SetPosition(1);
  s.Base64EncodeData();
  EXPECT_EQ(Bytes(s), "YWJjZA==");
  EXPECT_EQ(s.Position(), 8);
}

TEST(Base64Encode, MatchesCoreutilsOnRandomData) {
  const std::string path = test::TempPath("b64in");
  for (std::size_t n : {1u, 2u, 3u, 4u, 5u, 17u, 57u, 58u, 76u, 1000u, 65535u, 65536u, 100001u}) {
    std::string data = test::RandomBytes(n, static_cast<unsigned>(n));
    test::WriteFile(path, data);
    int status = 0;
    std::string expected = test::Run("base64 -w0 " + path, status);
    ASSERT_EQ(status, 0);
    TQELMemoryStream s;
    Fill(s, data);
    s.Base64EncodeData();
    EXPECT_EQ(Bytes(s), expected) << "length " << n;
    // And back, through the decoder coreutils wraps at 76 columns.
    std::string wrapped = test::Run("base64 " + path, status);
    ASSERT_EQ(status, 0);
    Fill(s, wrapped);
    s.Base64DecodeData();
    EXPECT_EQ(Bytes(s), data) << "length " << n;
  }
  std::remove(path.c_str());
}

TEST(Base64Decode, CoreutilsDecodesOurOutput) {
  const std::string path = test::TempPath("b64out");
  std::string data = test::RandomBytes(200000, 77);
  test::WriteFile(path, EncodeBase64(data));
  int status = 0;
  EXPECT_EQ(test::Run("base64 -d " + path, status), data);
  EXPECT_EQ(status, 0);
  std::remove(path.c_str());
}

TEST(Base64Decode, LineExamples) {
  EXPECT_EQ(DecodeBase64Lines("Zm9v\r\nYmFy"), "foobar");
  EXPECT_EQ(DecodeBase64Lines("Zm9v\rYmFy\n"), "foobar");
  EXPECT_EQ(DecodeBase64Lines("QQ=="), "A");
  EXPECT_EQ(DecodeBase64Lines("QUI="), "AB");
  EXPECT_EQ(DecodeBase64Lines(""), "");
}

TEST(Base64Decode, LineTailsAreDropped) {
  EXPECT_EQ(DecodeBase64Lines("Zm9vY"), "foo");
  EXPECT_EQ(DecodeBase64Lines("Zm9\nYmFy"), "bar");
  EXPECT_EQ(DecodeBase64Lines("Z\nZm\nZm9"), "");
  EXPECT_EQ(DecodeBase64Lines("Zm9vYmE\nZm8="), "foofo");
}

TEST(Base64Decode, WhitespaceAndForeignCharactersCountAs63) {
  // The space takes part in the second group.
  std::string spaced = DecodeBase64Lines("Zm9v YmFy");
  EXPECT_EQ(spaced.substr(0, 3), "foo");
  EXPECT_NE(spaced, "foobar");
  EXPECT_EQ(spaced.size(), 6u);
  // " " has value 63 like "/": "Zm9v" + " Ym" decodes as "/Ym".
  EXPECT_EQ(spaced.substr(3), DecodeBase64Lines("/YmF").substr(0, 3));
  EXPECT_EQ(DecodeBase64Lines("////"), DecodeBase64Lines("\x80\xFF*?"));
  EXPECT_EQ(DecodeBase64Lines("////"), "\xFF\xFF\xFF");
}

TEST(Base64Decode, EqualsSignOnlyTrimsAtTheLineEnd) {
  // In the middle it decodes as 63 and the data goes on.
  EXPECT_EQ(DecodeBase64Lines("QQ==QUJD"),
            "A\x0F\xFF"
            "ABC");
  // At the line end of whole groups, even with a tail behind it.
  EXPECT_EQ(DecodeBase64Lines("QUI=Q"), "AB");
  EXPECT_EQ(DecodeBase64Lines("QQ==\nQUI="), "AAB");
}

TEST(Base64Decode, NulEndsTheData) {
  EXPECT_EQ(DecodeBase64Lines("Zm9v\0YmFy"s), "foo");
}

TEST(Base64Decode, StrictDecoder) {
  EXPECT_EQ(DecodeBase64(""), "");
  EXPECT_EQ(DecodeBase64("QQ=="), "A");
  EXPECT_EQ(DecodeBase64("QUI="), "AB");
  EXPECT_EQ(DecodeBase64("Zm9vYmFy"), "foobar");
  // "/" and "=" count as 63 in the strict table; only the last group trims.
  EXPECT_EQ(DecodeBase64("////"), "\xFF\xFF\xFF");
  EXPECT_EQ(DecodeBase64("QQ==QUJD"), DecodeBase64Lines("QQ==QUJD"));
  EXPECT_EQ(DecodeBase64("QQ=x"), "A");  // third character "=" decides
  ASSERT_THAT([] { DecodeBase64("abc"); },
              ThrowsMessage<Exception>(StrEq("Base64: Incorrect string format")));
  EXPECT_THROW(DecodeBase64("Zm9v\r\n"), Exception);
}

TEST(Base64Decode, StreamDecodingPosition) {
  TQELMemoryStream s;
  s.Base64DecodeData();
  EXPECT_EQ(s.Size(), 0);
  EXPECT_EQ(s.Position(), 0);
  Fill(s, "Zm9v\r\nYmFy\r\n");
  s.SetPosition(0);
  s.Base64DecodeData();
  EXPECT_EQ(Bytes(s), "foobar");
  EXPECT_EQ(s.Position(), 6);
  Fill(s, "QQ");
  s.Base64DecodeData();
  EXPECT_EQ(s.Size(), 0);
  EXPECT_EQ(s.Position(), 0);
}

}  // namespace
}  // namespace vto
