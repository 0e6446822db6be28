// Tests of http/IdCookie.cpp and http/IdAuthentication.cpp (its registry).
// The cookie rules: parsing a server's cookie, the date reader, domain and path
// matching, storing and replacing, choosing and ordering for a request, the
// store under concurrent readers and writers; and the authentication registry.
#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

#include "http/IdAuthentication.h"
#include "http/IdCookie.h"
#include "tests/support/ZoneGuard.h"

namespace vto {
namespace {

class CookieTest : public ::testing::Test {
 protected:
  vto::testing::ZoneGuard zone_{"Europe/Berlin"};
};

std::unique_ptr<TIdCookie> Parse(std::string_view text, std::string_view url) {
  auto c = std::make_unique<TIdCookie>();
  if (!c->ParseServerCookie(text, TIdURI(url))) return nullptr;
  return c;
}

std::string Header(TIdCookieManager& m, std::string_view url, bool secure = false) {
  TIdHeaderList h(QuoteHTTP);
  m.GenerateClientCookies(TIdURI(url), secure, h);
  return h.Values("Cookie");
}

// ---------------------------------------------------------------- dates

TEST_F(CookieTest, DatesInTheUsualForms) {
  const TDateTime want = UtcToLocal(EncodeDate(1994, 11, 6) + EncodeTime(8, 49, 37, 0));
  EXPECT_DOUBLE_EQ(ParseCookieDate("Sun, 06 Nov 1994 08:49:37 GMT"), want);
  EXPECT_DOUBLE_EQ(ParseCookieDate("Sunday, 06-Nov-94 08:49:37 GMT"), want);
  EXPECT_DOUBLE_EQ(ParseCookieDate("Sun Nov  6 08:49:37 1994"), want);
  EXPECT_DOUBLE_EQ(ParseCookieDate("06 11 1994 08:49:37"), want);  // numeric month
  EXPECT_DOUBLE_EQ(ParseCookieDate("6 november 1994 8:49:37"), want);
}

TEST_F(CookieTest, DatesThatAreRefused) {
  EXPECT_EQ(ParseCookieDate(""), 0);
  EXPECT_EQ(ParseCookieDate("garbage"), 0);
  EXPECT_EQ(ParseCookieDate("Sun, 06 Nov 1994"), 0);                // no time
  EXPECT_EQ(ParseCookieDate("Sun, 06 Nov 1994 24:00:00 GMT"), 0);   // hour out of range
  EXPECT_EQ(ParseCookieDate("Sun, 06 Nov 1994 08:049:37 GMT"), 0);  // three digits
  EXPECT_EQ(ParseCookieDate("Sun, 32 Nov 1994 08:49:37 GMT"), 0);
  EXPECT_EQ(ParseCookieDate("Sun, 31 Nov 1994 08:49:37 GMT"), 0);  // no such day
  EXPECT_EQ(ParseCookieDate("1994 Nov 06 08:49:37"), 0);           // year before the day
  EXPECT_EQ(ParseCookieDate("06 Nov 1600 08:49:37"), 0);
  EXPECT_EQ(ParseCookieDate("06 13 1994 08:49:37"), 0);
}

TEST_F(CookieTest, TwoDigitYears) {
  int y, m, d;
  DecodeDate(ParseCookieDate("01 Jan 69 12:00:00"), y, m, d);
  EXPECT_EQ(y, 2069);
  DecodeDate(ParseCookieDate("01 Jan 70 12:00:00"), y, m, d);
  EXPECT_EQ(y, 1970);
}

// ---------------------------------------------------------------- matching

TEST(CookieMatching, Domains) {
  EXPECT_TRUE(DomainMatches("a.y.z", "y.z"));
  EXPECT_TRUE(DomainMatches("B.Y.Z", "y.z"));
  EXPECT_TRUE(DomainMatches("y.z", "Y.Z"));
  EXPECT_FALSE(DomainMatches("y.zz", "y.z"));
  EXPECT_FALSE(DomainMatches("xy.z", "y.z"));
  EXPECT_FALSE(DomainMatches(".a.y.z", "y.z"));
  EXPECT_FALSE(DomainMatches("10.0.0.1", "0.0.1"));
  EXPECT_FALSE(DomainMatches("::1", "1"));
  EXPECT_TRUE(DomainMatches("10.0.0.1", "10.0.0.1"));
  EXPECT_FALSE(DomainMatches("", "y.z"));
  EXPECT_FALSE(DomainMatches("y.z", ""));
}

TEST(CookieMatching, Paths) {
  EXPECT_TRUE(PathMatches("/a/", "/a"));
  EXPECT_TRUE(PathMatches("/a", "/A"));
  EXPECT_TRUE(PathMatches("/a/b/", "/a/"));
  EXPECT_TRUE(PathMatches("/anything/", "/"));
  EXPECT_FALSE(PathMatches("/ab/", "/a"));
  EXPECT_FALSE(PathMatches("/", "/a"));
}

TEST(CookieMatching, DefaultPath) {
  EXPECT_EQ(DefaultCookiePath(TIdURI("http://h/a/b/c.jnlp")), "/a/b");
  EXPECT_EQ(DefaultCookiePath(TIdURI("http://h/a/b/")), "/a/b");
  EXPECT_EQ(DefaultCookiePath(TIdURI("http://h/c.jnlp")), "/");
  EXPECT_EQ(DefaultCookiePath(TIdURI("http://h")), "/");
}

// ---------------------------------------------------------------- parsing

TEST_F(CookieTest, NameValueAndAttributes) {
  auto c = Parse(" sid = \"abc def\" ; Path=/x; Secure; HttpOnly; Unknown=1", "http://h.y.z/p/q");
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->CookieName(), "sid");
  EXPECT_EQ(c->Value(), "abc def");
  EXPECT_EQ(c->Path(), "/x");
  EXPECT_TRUE(c->Secure());
  EXPECT_TRUE(c->HttpOnly());
  EXPECT_TRUE(c->HostOnly());
  EXPECT_EQ(c->Domain(), "h.y.z");
  EXPECT_FALSE(c->Persistent());
  int y, m, d;
  DecodeDate(c->Expires(), y, m, d);
  EXPECT_EQ(y, 9999);
  EXPECT_EQ(c->CookieText(), "sid=abc def");
}

TEST_F(CookieTest, RefusedCookies) {
  EXPECT_EQ(Parse("novalue", "http://h/"), nullptr);
  EXPECT_EQ(Parse(" =v", "http://h/"), nullptr);
  EXPECT_EQ(Parse("a=b; Domain=other.z", "http://h.y.z/"), nullptr);
  EXPECT_EQ(Parse("a=b; HttpOnly", "ftp://h.y.z/"), nullptr);
  // A control character could end the Cookie line it is sent back in.
  EXPECT_EQ(Parse("a=b\rInjected: 1", "http://h/"), nullptr);
  EXPECT_EQ(Parse(std::string("a=b\0c", 5), "http://h/"), nullptr);
  EXPECT_NE(Parse("a=b\tc", "http://h/"), nullptr);
}

TEST_F(CookieTest, DomainAttribute) {
  auto c = Parse("a=b; Domain=.X.Y.Z:8080", "http://w.x.y.z/");
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->Domain(), "x.y.z");
  EXPECT_FALSE(c->HostOnly());
  auto empty = Parse("a=b; Domain=", "http://w.x.y.z/");
  ASSERT_NE(empty, nullptr);
  EXPECT_TRUE(empty->HostOnly());
}

TEST_F(CookieTest, PathAttributeThatIsNoPathTakesTheDefault) {
  EXPECT_EQ(Parse("a=b; Path=rel", "http://h/d/e/f")->Path(), "/d/e");
  EXPECT_EQ(Parse("a=b; Path=", "http://h/d/e/f")->Path(), "/d/e");
  EXPECT_EQ(Parse("a=b", "http://h/d/e/f")->Path(), "/d/e");
}

TEST_F(CookieTest, ExpiryRules) {
  auto past = Parse("a=b; Expires=Sun, 06 Nov 1994 08:49:37 GMT", "http://h/");
  ASSERT_NE(past, nullptr);
  EXPECT_TRUE(past->Persistent());
  EXPECT_TRUE(past->IsExpired());
  auto unreadable = Parse("a=b; Expires=someday", "http://h/");
  EXPECT_FALSE(unreadable->Persistent());
  EXPECT_FALSE(unreadable->IsExpired());
  auto seconds = Parse("a=b; Expires=3600", "http://h/");
  EXPECT_NEAR(seconds->Expires(), Now() + 1.0 / 24, 1e-4);
  // Max-Age wins over Expires, wherever it stands.
  auto both = Parse("a=b; Max-Age=60; Expires=Sun, 06 Nov 1994 08:49:37 GMT", "http://h/");
  EXPECT_FALSE(both->IsExpired());
  auto gone = Parse("a=b; Max-Age=-1", "http://h/");
  EXPECT_TRUE(gone->IsExpired());
  auto notNumber = Parse("a=b; Max-Age=soon", "http://h/");
  EXPECT_FALSE(notNumber->Persistent());
}

// ---------------------------------------------------------------- the store

TEST_F(CookieTest, ReplacingKeepsTheFirstCreationTime) {
  TIdCookies store;
  const TIdURI uri("http://h/");
  auto first = Parse("a=1", "http://h/");
  first->SetCreatedAt(100);
  EXPECT_TRUE(store.AddCookie(std::move(first), &uri));
  EXPECT_TRUE(store.AddCookie(Parse("A=2", "http://H/"), &uri));
  TIdCookieList& list = store.LockCookieList(caRead);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0]->Value(), "2");
  EXPECT_EQ(list[0]->CreatedAt(), 100);
  store.UnlockCookieList(caRead);
}

TEST_F(CookieTest, ExpiredCookieOnlyDeletesItsNamesake) {
  TIdCookieManager m;
  m.AddServerCookie("a=1; Path=/", TIdURI("http://h/"));
  m.AddServerCookie("b=1; Path=/", TIdURI("http://h/"));
  EXPECT_EQ(m.CookieCollection().Count(), 2);
  m.AddServerCookie("a=x; Path=/; Max-Age=-1", TIdURI("http://h/"));
  EXPECT_EQ(m.CookieCollection().Count(), 1);
  EXPECT_EQ(Header(m, "http://h/"), "b=1");
  m.AddServerCookie("c=x; Max-Age=-1", TIdURI("http://h/"));
  EXPECT_EQ(m.CookieCollection().Count(), 1);
}

TEST_F(CookieTest, HttpOnlyCookieIsNotReplacedFromAnotherProtocol) {
  TIdCookies store;
  const TIdURI http("http://h/");
  const TIdURI ftp("ftp://h/");
  EXPECT_TRUE(store.AddCookie(Parse("a=1; HttpOnly; Path=/", "http://h/"), &http));
  EXPECT_FALSE(store.AddCookie(Parse("a=2; Path=/", "ftp://h/"), &ftp));
  EXPECT_EQ(store.Count(), 1);
}

TEST_F(CookieTest, LongerPathFirstThenOlder) {
  TIdCookieManager m;
  m.AddServerCookie("root=1; Path=/", TIdURI("http://h/"));
  m.AddServerCookie("a=2; Path=/a", TIdURI("http://h/"));
  m.AddServerCookie("root2=3; Path=/", TIdURI("http://h/"));
  EXPECT_EQ(Header(m, "http://h/a/doc"), "a=2; root=1; root2=3");
  EXPECT_EQ(Header(m, "http://h/b/doc"), "root=1; root2=3");
}

TEST_F(CookieTest, SecureOnlyOverSecureRequests) {
  TIdCookieManager m;
  m.AddServerCookie("s=1; Secure; Path=/", TIdURI("https://h/"));
  EXPECT_EQ(Header(m, "http://h/"), "");
  EXPECT_EQ(Header(m, "https://h/", true), "s=1");
}

TEST_F(CookieTest, NothingAppliesAddsNoLine) {
  TIdCookieManager m;
  TIdHeaderList h(QuoteHTTP);
  h.Add("Host: h");
  m.GenerateClientCookies(TIdURI("http://h/"), false, h);
  EXPECT_EQ(h.Count(), 1);
}

TEST_F(CookieTest, ManyReadersOneWriter) {
  TIdCookieManager m;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&m, t] {
      for (int i = 0; i < 300; ++i) {
        if (t == 0)
          m.AddServerCookie("c" + std::to_string(i % 20) + "=" + std::to_string(i) + "; Path=/",
                            TIdURI("http://h/"));
        else
          Header(m, "http://h/x");
      }
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(m.CookieCollection().Count(), 20);
}

TEST_F(CookieTest, StoreStaysBoundedWhateverServersSend) {
  // Name and value together: 4096 bytes are kept, one more is refused.
  EXPECT_NE(Parse("n=" + std::string(4095, 'v'), "http://h/"), nullptr);
  EXPECT_EQ(Parse("n=" + std::string(4095, 'v') + "w", "http://h/"), nullptr);
  EXPECT_EQ(Parse(std::string(4097, 'n') + "=", "http://h/"), nullptr);

  // Fifty cookies per domain: the 51st pushes out the oldest of that domain only.
  TIdCookieManager m;
  TIdCookies& store = m.CookieCollection();
  auto other = Parse("other=1; Path=/", "http://o/");
  other->SetCreatedAt(1);
  store.AddCookie(std::move(other), nullptr);
  for (int i = 0; i < 60; ++i) {
    auto c = Parse("c" + std::to_string(i) + "=" + std::to_string(i) + "; Path=/", "http://h/");
    c->SetCreatedAt(1000 + i);
    store.AddCookie(std::move(c), nullptr);
  }
  EXPECT_EQ(store.Count(), 51);
  // A newcomer older than all of its domain is the one that goes.
  auto elder = Parse("elder=1; Path=/", "http://h/");
  elder->SetCreatedAt(2);
  EXPECT_FALSE(store.AddCookie(std::move(elder), nullptr));
  EXPECT_EQ(store.Count(), 51);
  const std::string sent = Header(m, "http://h/");
  EXPECT_EQ(sent.find("c9="), std::string::npos);
  EXPECT_EQ(sent.rfind("c10=10", 0), 0u);  // the oldest kept goes first
  EXPECT_NE(sent.find("c59=59"), std::string::npos);
  EXPECT_EQ(Header(m, "http://o/"), "other=1");

  // Three thousand in all: then the oldest of the store makes room.
  for (int d = 0; d < 70; ++d)
    for (int i = 0; i < 50; ++i) {
      auto c = Parse("k" + std::to_string(i) + "=1", "http://d" + std::to_string(d) + "/");
      c->SetCreatedAt(5000 + d * 50 + i);
      store.AddCookie(std::move(c), nullptr);
    }
  EXPECT_EQ(store.Count(), 3000);
  EXPECT_EQ(Header(m, "http://o/"), "");  // the oldest of all, gone first
  EXPECT_EQ(Header(m, "http://h/"), "");
  EXPECT_EQ(Header(m, "http://d9/"), "");
  EXPECT_EQ(Header(m, "http://d10/").substr(0, 5), "k0=1;");
}

// ---------------------------------------------------------------- authentication

TEST(AuthRegistry, BasicIsRegistered) {
  TIdAuthenticationClass basic = FindAuthClass("bAsIc");
  ASSERT_NE(basic, nullptr);
  EXPECT_NE(dynamic_cast<TIdBasicAuthentication*>(basic().get()), nullptr);
  EXPECT_EQ(FindAuthClass("Digest"), nullptr);
  EXPECT_EQ(FindAuthClass(""), nullptr);
}

TEST(AuthRegistry, RegisterAndUnregister) {
  RegisterAuthenticationMethod("X-Test", []() -> std::unique_ptr<TIdAuthentication> {
    return std::make_unique<TIdBasicAuthentication>();
  });
  EXPECT_NE(FindAuthClass("x-test"), nullptr);
  UnregisterAuthenticationMethod("X-TEST");
  EXPECT_EQ(FindAuthClass("x-test"), nullptr);
}

TEST(BasicSteps, OneRequestThenFail) {
  TIdBasicAuthentication b;
  b.AuthParams().Add("Digest realm=\"d\"");
  b.AuthParams().Add("Basic realm=\"the realm\", charset=\"UTF-8\"");
  EXPECT_EQ(b.Next(), wnAskTheProgram);  // no user name
  b.SetUsername("user");
  b.SetPassword("p\xC3\xA9");
  EXPECT_EQ(b.Next(), wnDoRequest);
  EXPECT_EQ(b.Realm(), "the realm");
  EXPECT_EQ(b.Charset(), "UTF-8");
  EXPECT_EQ(b.Authentication(), "Basic dXNlcjpww6k=");
  EXPECT_EQ(b.CurrentStep(), 1);
  EXPECT_EQ(b.Next(), wnFail);
  b.Reset();
  EXPECT_EQ(b.Next(), wnDoRequest);
}

TEST(BasicSteps, CharsetFallbacks) {
  TIdBasicAuthentication b;
  b.SetUsername("u");
  b.AuthParams().Add("Basic realm=x, enc=latin1");
  b.Next();
  EXPECT_EQ(b.Charset(), "latin1");
  TIdBasicAuthentication c;
  c.SetUsername("u");
  c.AuthParams().Add("basic realm=x");
  c.Next();
  EXPECT_EQ(c.Charset(), "ISO-8859-1");
}

}  // namespace
}  // namespace vto
