// Tests of net/IdURI.cpp: splitting, composing, encoding, decoding, merging paths.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "desktop/TextCodec.h"
#include "net/IdURI.h"

namespace vto {
namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::StrEq;
using ::testing::ThrowsMessage;

// The parts, in the order protocol|user|password|host|port|path|document|params|bookmark.
void ExpectParts(const std::string& text, const std::string& want, TIdIPVersion ip = Id_IPv4) {
  SCOPED_TRACE(text);
  TIdURI u(text);
  const std::string got = u.Protocol() + "|" + u.Username() + "|" + u.Password() + "|" + u.Host() +
                          "|" + u.Port() + "|" + u.Path() + "|" + u.Document() + "|" + u.Params() +
                          "|" + u.Bookmark();
  EXPECT_EQ(got, want);
  EXPECT_EQ(u.IPVersion(), ip);
}

TEST(UriSplitting, AbsoluteForms) {
  ExpectParts("https://host", "https|||host||/|||");
  ExpectParts("https://host/a/b/c.jnlp?x=1#top", "https|||host||/a/b/|c.jnlp|x=1|top");
  // "?" is looked for before "#".
  ExpectParts("https://host/a#b?c", "https|||host||/|a#b|c|");
  ExpectParts("https://host?x=1", "https|||host||/||x=1|");
  ExpectParts("https://host#frag", "https|||host||/|||frag");
  ExpectParts("HTTP://Host:8080/", "HTTP|||Host|8080|/|||");
}

TEST(UriSplitting, IPv6LiteralLosesItsBrackets) {
  ExpectParts("https://[::1]:8443/x", "https|||::1|8443|/|x||", Id_IPv6);
  ExpectParts("http://[fe80::1%25eth0]/", "http|||fe80::1%25eth0||/|||", Id_IPv6);
  // A "]" before the "[" is no literal.
  ExpectParts("http://a]b[c:1/", "http|||a]b[c|1|/|||");
}

TEST(UriSplitting, UserInfo) {
  ExpectParts("ftp://u:p@x@host/", "ftp|u|p@x|host||/|||");
  ExpectParts("ftp://user@host/", "ftp|user||host||/|||");
  ExpectParts("ftp://:secret@host/", "ftp|||host||/|||");
  ExpectParts("ftp://u:a:b@host/", "ftp|u|a:b|host||/|||");
}

TEST(UriSplitting, PortIsKeptAsWritten) {
  ExpectParts("http://host:80:90/", "http|||host|80:90|/|||");
  ExpectParts("http://host:/", "http|||host||/|||");
  ExpectParts("http://host:abc/", "http|||host|abc|/|||");
}

TEST(UriSplitting, RelativeReferences) {
  ExpectParts("/a/b.jnlp", "|||||/a/|b.jnlp||");
  ExpectParts("b.jnlp", "||||||b.jnlp||");
  ExpectParts("a/b?q#f", "|||||a/|b|q|f");
  ExpectParts("?q#f", "|||||||q|f");
  ExpectParts("", "||||||||");
}

TEST(UriSplitting, BackslashesBecomeSlashesBeforeQuery) {
  ExpectParts("https://host\\a\\b.jnlp?p=\\x", "https|||host||/a/|b.jnlp|p=\\x|");
  // The two separators right after the colon stay; without "://" it is relative.
  std::string t = "http:\\\\host\\a";
  TIdURI::NormalizePath(t);
  EXPECT_EQ(t, "http:\\\\host/a");
  ExpectParts("http:\\\\host\\a", "|||||http:\\\\host/|a||");
  std::string f = "a\\b#c\\d";
  TIdURI::NormalizePath(f);
  EXPECT_EQ(f, "a/b#c\\d");
}

TEST(UriSplitting, AssigningReplacesEveryPart) {
  TIdURI u("https://u:p@[::1]:1/a/b?c#d");
  u.SetURI("x");
  EXPECT_EQ(u.Protocol(), "");
  EXPECT_EQ(u.Host(), "");
  EXPECT_EQ(u.Username(), "");
  EXPECT_EQ(u.Password(), "");
  EXPECT_EQ(u.Port(), "");
  EXPECT_EQ(u.Path(), "");
  EXPECT_EQ(u.Params(), "");
  EXPECT_EQ(u.Bookmark(), "");
  EXPECT_EQ(u.IPVersion(), Id_IPv4);
  EXPECT_EQ(u.Document(), "x");
}

TEST(UriComposing, DefaultPortsAreLeftOutByExactText) {
  TIdURI u("HTTPS://host:443/a");
  EXPECT_EQ(u.URI(), "HTTPS://host/a");
  u.SetURI("https://host:0443/a");
  EXPECT_EQ(u.URI(), "https://host:0443/a");
  u.SetURI("gopher://host:70/");
  EXPECT_EQ(u.URI(), "gopher://host:70/");
  u.SetURI("http://host:80/");
  EXPECT_EQ(u.URI(), "http://host/");
  u.SetURI("ftp://host:21/");
  EXPECT_EQ(u.URI(), "ftp://host/");
  u.SetURI("http://host:443/");
  EXPECT_EQ(u.URI(), "http://host:443/");
}

TEST(UriComposing, OptionalFields) {
  TIdURI u("https://me:pw@[::1]:8443/d/f.txt?q=1#top");
  EXPECT_EQ(u.URI(), "https://[::1]:8443/d/f.txt?q=1");
  EXPECT_EQ(u.GetFullURI(), "https://me:pw@[::1]:8443/d/f.txt?q=1#top");
  EXPECT_EQ(u.GetFullURI({ofAuthInfo}), "https://me:pw@[::1]:8443/d/f.txt?q=1");
  EXPECT_EQ(u.GetFullURI({ofBookmark}), "https://[::1]:8443/d/f.txt?q=1#top");
  u.SetPassword("");
  EXPECT_EQ(u.GetFullURI({ofAuthInfo}), "https://me@[::1]:8443/d/f.txt?q=1");
  EXPECT_EQ(u.GetPathAndParams(), "/d/f.txt?q=1");
}

TEST(UriComposing, MissingProtocolOrHostRaises) {
  TIdURI rel("/a/b");
  ASSERT_THAT([&] { rel.URI(); }, ThrowsMessage<EIdURIException>(StrEq("Protocol field is empty")));
  TIdURI noHost("http:///a");
  ASSERT_THAT([&] { noHost.GetFullURI(); },
              ThrowsMessage<EIdURIException>(StrEq("Host field is empty")));
  // The check is an EIdException for the callers that catch the family.
  EXPECT_THROW(TIdURI().URI(), EIdException);
}

TEST(UriComposing, PropertiesStoreAsGiven) {
  TIdURI u;
  u.SetProtocol("http");
  u.SetHost("h");
  u.SetPath("p/");
  u.SetDocument("d e");
  EXPECT_EQ(u.URI(), "http://hp/d e");
}

TEST(UriPathMerge, Examples) {
  EXPECT_EQ(ResolvePath("/a/b/", "../c/", "/"), "/a/c/");
  EXPECT_EQ(ResolvePath("/a/b/", "", "/"), "/a/b/");
  EXPECT_EQ(ResolvePath("/a/b", "x//y", "/"), "/a/b/x/y");
  EXPECT_EQ(ResolvePath("/a/", "/z/", "/"), "/z/");
  EXPECT_EQ(ResolvePath("/a/b/", "./c", "/"), "/a/b/./c");
  EXPECT_EQ(ResolvePath("/a/", "/../x", "/"), "/../x");  // absolute: untouched
}

TEST(UriPathMerge, NeverClimbsAboveRoot) {
  EXPECT_EQ(ResolvePath("/", "../../x", "/"), "/x");
  EXPECT_EQ(ResolvePath("/a/b/", "../../../c", "/"), "/c");
  EXPECT_EQ(ResolvePath("", "", "/"), "");
  EXPECT_EQ(ResolvePath("/", "", "/"), "/");
  EXPECT_EQ(ResolvePath("/a/b/", "c/", "/"), "/a/b/c/");
  EXPECT_EQ(ResolvePath("/a/b/", "c", "/"), "/a/b/c");
}

TEST(UriEncoding, PathAndParams) {
  EXPECT_EQ(TIdURI::PathEncode("a b+c"), "a%20b%2Bc");
  EXPECT_EQ(TIdURI::ParamsEncode("a b+c"), "a%20b+c");
  EXPECT_EQ(TIdURI::PathEncode("\xC3\xA9"), "%C3%A9");
  EXPECT_EQ(TIdURI::PathEncode(""), "");
  EXPECT_EQ(TIdURI::PathEncode("*<>#%\"{}|\\^[]`+"),
            "%2A%3C%3E%23%25%22%7B%7D%7C%5C%5E%5B%5D%60%2B");
  EXPECT_EQ(TIdURI::ParamsEncode("*<>#%\"{}|\\^[]`+"),
            "%2A%3C%3E%23%25%22%7B%7D%7C%5C%5E%5B%5D%60+");
  // DEL passes; controls and characters beyond the BMP are encoded byte by byte.
  EXPECT_EQ(TIdURI::PathEncode(std::string("\x7F\t\x01", 3)), "\x7F%09%01");
  EXPECT_EQ(TIdURI::PathEncode("\xF0\x9F\x98\x80"), "%F0%9F%98%80");
  EXPECT_EQ(TIdURI::PathEncode(std::string(1, '\0')), "%00");
}

TEST(UriEncoding, WholeUri) {
  EXPECT_EQ(TIdURI::URLEncode("http://u:p@host:81/a b/c d.txt?x=a b+c#frag"),
            "http://host:81/a%20b/c%20d.txt?x=a%20b+c");
  EXPECT_THROW(TIdURI::URLEncode("/relative/path"), EIdURIException);
}

TEST(UriEncoding, InvalidUtf8RaisesWithByteIndex) {
  ASSERT_THAT(
      [] { TIdURI::PathEncode("ab\xC3"); },
      ThrowsMessage<EArgumentOutOfRangeException>(StrEq(
          "High surrogate char without a following low surrogate char at index: 2. Check that "
          "the string is encoded properly")));
  ASSERT_THAT(
      [] { TIdURI::ParamsEncode("a\xA9"); },
      ThrowsMessage<EArgumentOutOfRangeException>(StrEq(
          "Low surrogate char without a preceding high surrogate char at index: 1. Check that "
          "the string is encoded properly")));
  // Encoded surrogates: ED A0..AF is a high half, ED B0..BF a low one.
  EXPECT_THROW(TIdURI::PathEncode("x\xED\xA0\x80"), EArgumentOutOfRangeException);
  ASSERT_THAT([] { TIdURI::PathEncode("\xED\xB0\x80"); },
              ThrowsMessage<EArgumentOutOfRangeException>(
                  AllOf(HasSubstr("Low surrogate"), HasSubstr("index: 0."))));
}

TEST(UriDecoding, Escapes) {
  EXPECT_EQ(TIdURI::URLDecode("%41%u00e9%zz"), "A\xC3\xA9");
  EXPECT_EQ(TIdURI::URLDecode("a%20b+c"), "a b+c");
  EXPECT_EQ(TIdURI::URLDecode("%C3%A9"), "\xC3\xA9");
  EXPECT_EQ(TIdURI::URLDecode("%U0041x"), "Ax");
  // Truncated escapes: what is there is read, what is not hexadecimal adds nothing.
  EXPECT_EQ(TIdURI::URLDecode("%4"), "\x04");
  EXPECT_EQ(TIdURI::URLDecode("%"), "");
  EXPECT_EQ(TIdURI::URLDecode("%u12"), "");
  EXPECT_EQ(TIdURI::URLDecode("%uzzzzA"), "A");
  EXPECT_EQ(TIdURI::URLDecode("%g1b"), "b");
}

TEST(UriDecoding, ResultIsAlwaysUtf8) {
  // A lone byte that starts no sequence becomes U+FFFD.
  EXPECT_EQ(TIdURI::URLDecode("%E9"), "\xEF\xBF\xBD");
  EXPECT_EQ(TIdURI::URLDecode("%uD800"), "\xEF\xBF\xBD");
  // An escaped surrogate pair is one character.
  EXPECT_EQ(TIdURI::URLDecode("%uD83D%uDE00"), "\xF0\x9F\x98\x80");
  // Characters of the text itself keep their UTF-8 form.
  EXPECT_EQ(TIdURI::URLDecode("\xC3\xA9%21"), "\xC3\xA9!");
}

TEST(UriDecoding, RoundTripWithEncoding) {
  const std::string texts[] = {"plain", "a b+c", "\xC3\xA9t\xC3\xA9 100%", "x?y#z*[]",
                               "\xE2\x82\xAC/\\"};
  for (const auto& t : texts) {
    EXPECT_EQ(TIdURI::URLDecode(TIdURI::PathEncode(t)), t);
    EXPECT_EQ(TIdURI::URLDecode(TIdURI::ParamsEncode(t)), t);
  }
}

// ISO-8859-1 as another byte encoding.
class Latin1 : public IIdTextEncoding {
 public:
  std::string GetBytes(std::string_view text) const override { return TextToAnsi(text); }
  std::string GetString(std::string_view bytes) const override { return AnsiToText(bytes); }
};

TEST(UriEncoding, OtherByteEncodings) {
  const Latin1 latin1;
  EXPECT_EQ(TIdURI::PathEncode("caf\xC3\xA9 +", &latin1), "caf%E9%20%2B");
  EXPECT_EQ(TIdURI::ParamsEncode("\xE2\x82\xAC", &latin1), "%3F");  // not in the code page
  EXPECT_EQ(TIdURI::URLDecode("caf%E9%u00FC\xC3\xA4", &latin1), "caf\xC3\xA9\xC3\xBC\xC3\xA4");
  EXPECT_EQ(TIdURI::URLEncode("http://h/\xC3\xA9?\xC3\xA9", &latin1), "http://h/%E9?%E9");
  EXPECT_THROW(TIdURI::PathEncode("\xC3", &latin1), EArgumentOutOfRangeException);
}

// Every entry point takes any bytes without crashing or reading out of bounds.
TEST(UriRobustness, RandomAndTruncatedInput) {
  std::mt19937 rng(4711);
  const std::string alphabet = ":/\\?#@[]%uU.0123456789abcdefABCDEF \t\x80\xC3\xA9\xED\xFF";
  const std::string seeds[] = {"https://u:p@[::1]:8443/a/b/c.jnlp?x=1#top",
                               "%41%u00e9%zz%uD83D%uDE00", "http:\\\\host\\a\\..\\b",
                               "/a/../../b//c/./d"};
  int raised = 0;
  for (int round = 0; round < 4000; ++round) {
    std::string s;
    if (round % 2 == 0) {
      const std::string& seed = seeds[round % 4];
      s = seed.substr(0, rng() % (seed.size() + 1));
      if (!s.empty() && rng() % 2) s[rng() % s.size()] = alphabet[rng() % alphabet.size()];
    } else {
      const std::size_t len = rng() % 24;
      for (std::size_t k = 0; k < len; ++k) s.push_back(alphabet[rng() % alphabet.size()]);
    }
    TIdURI u(s);
    try {
      (void)u.GetFullURI();
    } catch (const EIdURIException&) {
      ++raised;
    }
    (void)u.GetPathAndParams();
    std::string n = s;
    TIdURI::NormalizePath(n);
    EXPECT_EQ(n.size(), s.size());
    for (auto enc : {TIdURI::PathEncode, TIdURI::ParamsEncode, TIdURI::URLEncode}) {
      try {
        (void)enc(s, nullptr);
      } catch (const EArgumentOutOfRangeException&) {
      } catch (const EIdURIException&) {
      }
    }
    (void)TIdURI::URLDecode(s);
    (void)ResolvePath(s, n, "/");
    (void)ResolvePath(n, s, "/");
  }
  EXPECT_GT(raised, 0);
}

}  // namespace
}  // namespace vto
