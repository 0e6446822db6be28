// Tests of http/IdHeaderList.cpp: lookup, parameters, writing and conversion.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "http/IdHeaderList.h"

namespace vto {
namespace {

TIdHeaderList Http(std::initializer_list<const char*> lines) {
  TIdHeaderList l(QuoteHTTP);
  for (const char* line : lines) l.Add(line);
  return l;
}

using Lines = std::vector<std::string>;

TEST(HeaderLookup, NamesCompareWithoutCaseButAsWritten) {
  auto l = Http({"content-length: 10", "Content-Length : 20", "X-\xC3\xA9t\xC3\xA9: yes"});
  EXPECT_EQ(l.Values("Content-Length"), "10");
  EXPECT_EQ(l.IndexOfName("CONTENT-LENGTH"), 0);
  EXPECT_EQ(l.IndexOfName("Content-Length "), 1);  // the name is not trimmed
  EXPECT_EQ(l.Values("x-\xC3\x89T\xC3\x89"), "yes");
  EXPECT_EQ(l.Values("Absent"), "");
  EXPECT_EQ(l.IndexOfName("Absent"), -1);
  EXPECT_EQ(l.Names(1), "Content-Length ");
  EXPECT_EQ(l.Names(7), "");
}

TEST(HeaderLookup, LineWithoutColonHasNoName) {
  auto l = Http({"A: 1", "just text", ": empty", " continued"});
  EXPECT_EQ(l.Names(1), "");
  EXPECT_EQ(l.IndexOfName("just text"), -1);
  EXPECT_EQ(l.ValueFromIndex(1), "just text");
  EXPECT_EQ(l.ValueFromIndex(-1), "");
  EXPECT_EQ(l.ValueFromIndex(4), "");
  // The empty name is the name of such a line, as of one that begins with ":".
  EXPECT_EQ(l.IndexOfName(""), 1);
  EXPECT_EQ(l.Values(""), "just text");
  Lines all;
  l.Extract("", &all);
  EXPECT_EQ(all, (Lines{"just text", "empty continued"}));
  l.SetValues("", "v");
  EXPECT_EQ(l.Lines(), (Lines{"A: 1", ": v", ": empty", " continued"}));
  // A continuation line looked at by itself has the empty name too.
  EXPECT_EQ(Http({"X-A: one", "  two"}).IndexOfName(""), 1);
}

TEST(HeaderLookup, ContinuationLinesAreJoined) {
  auto l = Http({"X-A: one", "  two", "\tthree  ", "X-B: b"});
  EXPECT_EQ(l.Values("X-A"), "one two three");
  EXPECT_EQ(l.Values("X-B"), "b");
  l.SetUnfoldLines(false);
  EXPECT_EQ(l.Values("X-A"), "one");
  // A value whose first line is empty still collects its continuation.
  auto m = Http({"X-C:", " later"});
  EXPECT_EQ(m.Values("X-C"), "later");
}

TEST(HeaderLookup, DuplicatesFirstWinsExtractTakesAll) {
  auto l =
      Http({"Set-Cookie: a=1", "Other: x", " more", "set-cookie: b=2;", "  Path=/", "Set-Cookie:"});
  EXPECT_EQ(l.Values("Set-Cookie"), "a=1");
  Lines all;
  l.Extract("SET-COOKIE", &all);
  EXPECT_EQ(all, (Lines{"a=1", "b=2; Path=/", ""}));
  l.Extract("Set-Cookie", nullptr);  // no destination: nothing happens
  Lines none;
  l.Extract("Absent", &none);
  EXPECT_TRUE(none.empty());
}

TEST(HeaderWriting, ReplaceInPlaceAppendDelete) {
  auto l = Http({"A: 1", "B: 2", " 2b", "C: 3"});
  l.SetValues("b", "new  ");
  EXPECT_EQ(l.Lines(),
            (Lines{"A: 1", "b: new", "C: 3"}));  // caller's spelling, trailing blanks gone
  l.SetValues("D", "4");
  EXPECT_EQ(l.Lines().back(), "D: 4");
  l.SetValues("A", "");
  EXPECT_EQ(l.Lines(), (Lines{"b: new", "C: 3", "D: 4"}));
  l.SetValues("Absent", "");
  EXPECT_EQ(l.Count(), 3);
  // A long value is not folded in an HTTP list.
  const std::string longValue(300, 'v');
  l.SetValues("Long", longValue + " tail");
  EXPECT_EQ(l.Count(), 4);
  EXPECT_EQ(l.Values("Long"), longValue + " tail");
}

TEST(HeaderWriting, ContinuationLinesGoWithTheOldValue) {
  auto l = Http({"A: 1", " 1b", "B: 2"});
  l.SetFoldLines(false);
  l.SetValues("A", "x");
  EXPECT_EQ(l.Lines(), (Lines{"A: x", "B: 2"}));
  EXPECT_EQ(l.Values("A"), "x");
  l.Add(" cont");
  l.SetValues("B", "");
  EXPECT_EQ(l.Lines(), (Lines{"A: x"}));
}

TEST(HeaderWriting, AddValueNeedsNameAndValue) {
  TIdHeaderList l(QuoteHTTP);
  l.AddValue("", "x");
  l.AddValue("X", "");
  EXPECT_EQ(l.Count(), 0);
  l.AddValue("X", "1");
  l.AddValue("X", "2");
  EXPECT_EQ(l.Lines(), (Lines{"X: 1", "X: 2"}));
}

TEST(HeaderWriting, OtherQuotingTypesFoldLongLines) {
  TIdHeaderList l(QuoteRFC822);
  EXPECT_EQ(l.FoldLength(), 78);
  EXPECT_EQ(TIdHeaderList(QuoteHTTP).FoldLength(), 2147483647);
  std::string value;
  for (int i = 0; i < 30; ++i) value += "word" + std::to_string(i) + " ";
  l.SetValues("Subject", value);
  ASSERT_GT(l.Count(), 1);
  for (int i = 0; i < l.Count(); ++i) {
    EXPECT_LE(l.Strings(i).size(), 78u) << l.Strings(i);
    EXPECT_EQ(l.Strings(i).back() == ' ', false);
    if (i > 0) {
      EXPECT_EQ(l.Strings(i)[0], ' ');
    }
  }
  EXPECT_EQ(l.Values("Subject"), value.substr(0, value.size() - 1));
  // No break inside double quotes; a comma breaks after itself.
  const auto lines = FoldHeaderLine("To: \"a, b c d e f g\", x", 10);
  EXPECT_EQ(lines, (Lines{"To:", " \"a, b c d e f g\",", " x"}));
  // A word longer than the length is not cut.
  EXPECT_EQ(FoldHeaderLine("X: " + std::string(20, 'z'), 8),
            (Lines{"X:", " " + std::string(20, 'z')}));
}

TEST(HeaderParams, QuotesEscapesAndSeparators) {
  auto l = Http({"Content-Type: text/plain; charset=\"utf\\\"8\"; q=0.5 ;format=flowed",
                 "Content-Disposition: attachment; filename=\"a;b.txt\"; size=10",
                 "X-Bad: v; =x; noval; empty=; unclosed=\"abc"});
  EXPECT_EQ(l.Params("Content-Type", "CHARSET"), "utf\"8");
  EXPECT_EQ(l.Params("Content-Type", "q"), "0.5");
  EXPECT_EQ(l.Params("Content-Type", "format"), "flowed");
  EXPECT_EQ(l.Params("Content-Disposition", "filename"), "a;b.txt");
  EXPECT_EQ(l.Params("Content-Disposition", "size"), "10");
  EXPECT_EQ(l.Params("X-Bad", "noval"), "");
  EXPECT_EQ(l.Params("X-Bad", "unclosed"), "");
  EXPECT_EQ(l.Params("Absent", "x"), "");
  EXPECT_EQ(l.AllParams("Content-Disposition"), "filename=\"a;b.txt\"; size=10");
  EXPECT_EQ(l.AllParams("X-None"), "");
  // An unquoted value ends at the first separator of the quoting type.
  auto m = Http({"X: a; p=b/c; q=d e"});
  EXPECT_EQ(m.Params("X", "p"), "b");
  // What follows such a value is read as the next name, so the next parameter is
  // lost rather than misread.
  EXPECT_EQ(m.Params("X", "q"), "");
  // An escaped backslash; a quote that never closes gives nothing.
  auto n = Http({"X: a; p=\"x\\\\\"; r=\"open"});
  EXPECT_EQ(n.Params("X", "p"), "x\\");
  EXPECT_EQ(n.Params("X", "r"), "");
  auto o = Http({"X: a; p=\"\" ; r=1"});
  const auto params = SplitHeaderParams(o.Values("X"), QuoteHTTP);
  ASSERT_EQ(params.size(), 2u);
  EXPECT_TRUE(params[0].Quoted);
  EXPECT_EQ(params[0].Value, "");
  EXPECT_EQ(params[1].Name, "r");
}

TEST(HeaderParams, WritingQuotesWhereNeeded) {
  auto l = Http({"Content-Type: text/plain"});
  l.SetParams("Content-Type", "charset", "my charset");
  EXPECT_EQ(l.Values("Content-Type"), "text/plain; charset=\"my charset\"");
  l.SetParams("Content-Type", "CHARSET", "utf-8");
  // The value was quoted when read, so it is quoted again.
  EXPECT_EQ(l.Values("Content-Type"), "text/plain; charset=\"utf-8\"");
  l.SetParams("Content-Type", "name", "a\"b\\c");
  EXPECT_EQ(l.Values("Content-Type"), "text/plain; charset=\"utf-8\"; name=\"a\\\"b\\\\c\"");
  EXPECT_EQ(l.Params("Content-Type", "name"), "a\"b\\c");
  l.SetParams("Content-Type", "charset", "  ");
  EXPECT_EQ(l.Values("Content-Type"), "text/plain; name=\"a\\\"b\\\\c\"");
  // Removing an absent parameter leaves the value as it was.
  auto m = Http({"X: a;b"});
  m.SetParams("X", "none", "");
  EXPECT_EQ(m.Values("X"), "a;b");
  // A header that is absent stays absent.
  m.SetParams("Absent", "p", "v");
  EXPECT_EQ(m.IndexOfName("Absent"), -1);
  // A value that was quoted is quoted again.
  auto q = Http({"X: a; p=\"plain\"; r=1"});
  q.SetParams("X", "r", "2");
  EXPECT_EQ(q.Values("X"), "a; p=\"plain\"; r=2");
}

TEST(HeaderParams, QuotingTypesDiffer) {
  EXPECT_EQ(QuoteHeaderParam("a.b", false, QuoteRFC822), "\"a.b\"");
  EXPECT_EQ(QuoteHeaderParam("a.b", false, QuoteMIME), "a.b");
  EXPECT_EQ(QuoteHeaderParam("a=b", false, QuoteMIME), "\"a=b\"");
  EXPECT_EQ(QuoteHeaderParam("a{b", false, QuoteMIME), "a{b");
  EXPECT_EQ(QuoteHeaderParam("a{b", false, QuoteHTTP), "\"a{b\"");
  EXPECT_EQ(QuoteHeaderParam("a\rb", false, QuoteMIME), "\"a\\\rb\"");
  EXPECT_EQ(QuoteHeaderParam("a\rb", false, QuoteHTTP), "\"a\rb\"");
  EXPECT_EQ(QuoteHeaderParam("a b", false, QuotePlain), "\"a b\"");
  EXPECT_EQ(QuoteHeaderParam("a(b", false, QuotePlain), "a(b");
  EXPECT_EQ(QuoteHeaderParam("x\x7F", false, QuotePlain), "\"x\x7F\"");
  EXPECT_EQ(QuoteHeaderParam("", true, QuoteHTTP), "");
  // A MIME list reads other headers by the RFC 822 rules: "." ends a value.
  TIdHeaderList mime(QuoteMIME);
  mime.Add("X: a; p=1.5");
  mime.Add("Content-Type: a; p=1.5");
  EXPECT_EQ(mime.Params("X", "p"), "1");
  EXPECT_EQ(mime.Params("Content-Type", "p"), "1.5");
  TIdHeaderList rfc(QuoteRFC822);
  rfc.Add("Content-Type: a; p=1.5");
  EXPECT_EQ(rfc.Params("Content-Type", "p"), "1.5");
}

TEST(HeaderParams, AllParamsWrite) {
  auto l = Http({"X: main ; a=1; b=2"});
  l.SetAllParams("X", "c=3");
  EXPECT_EQ(l.Values("X"), "main; c=3");
  l.SetAllParams("X", "");
  EXPECT_EQ(l.Values("X"), "main");
  l.SetAllParams("Absent", "c=3");
  EXPECT_EQ(l.Count(), 1);
}

TEST(HeaderConversion, StdValuesBothWays) {
  TIdHeaderList l(QuoteHTTP);
  l.AddStdValues({"A=1", "B=x=y", "nothing", "=v", "C="});
  EXPECT_EQ(l.Lines(), (Lines{"A: 1", "B: x=y"}));
  l.Add(" folded");
  Lines out{"keep"};
  l.ConvertToStdValues(out);
  EXPECT_EQ(out, (Lines{"keep", "A=1", "B=x=y folded"}));
  TIdHeaderList other(QuoteHTTP);
  other.Add("raw line");
  other.AddStrings(l);
  EXPECT_EQ(other.Count(), 4);
  other.AddStrings(other);
  EXPECT_EQ(other.Count(), 8);
}

TEST(HeaderConversion, TextSplitsAtAnyLineBreak) {
  TIdHeaderList l(QuoteHTTP);
  l.SetText("A: 1\r\nB: 2\nC: 3\rD: 4\r\n\r\nE: 5");
  EXPECT_EQ(l.Lines(), (Lines{"A: 1", "B: 2", "C: 3", "D: 4", "", "E: 5"}));
  EXPECT_EQ(l.Text(), "A: 1\r\nB: 2\r\nC: 3\r\nD: 4\r\n\r\nE: 5\r\n");
}

TEST(HeaderRobustness, LongValuesFoldAndUnfoldInLinearTime) {
  std::string value;
  for (int i = 0; i < 40000; ++i) value += "word" + std::to_string(i % 10) + " ";
  TIdHeaderList l(QuoteMIME);
  l.SetValues("X", value);
  EXPECT_GT(l.Count(), 2000);
  EXPECT_EQ(l.Values("X"), value.substr(0, value.size() - 1));
  // A long run of blanks has no break after the text before it.
  EXPECT_EQ(FoldHeaderLine("X: abc" + std::string(40000, ' ') + "d", 78),
            (Lines{"X: abc", std::string(39928, ' ') + "d"}));
  // A value of one word per continuation line, as a hostile peer might send.
  TIdHeaderList h(QuoteHTTP);
  h.Add("X-Long:");
  for (int i = 0; i < 20000; ++i) h.Add(" " + std::string(40, 'a'));
  EXPECT_EQ(h.Values("X-Long").size(), 20000u * 41 - 1);
}

TEST(HeaderRobustness, RandomAndTruncatedInput) {
  std::mt19937 rng(7);
  const std::string alphabet = "ab:;= \t\"\\,/()[]{}?@.\r\n\x7F\xC3\xA9Xx-";
  for (int round = 0; round < 3000; ++round) {
    std::string text;
    for (std::size_t len = rng() % 60; len > 0; --len)
      text.push_back(alphabet[rng() % alphabet.size()]);
    TIdHeaderList l(static_cast<TIdHeaderQuotingType>(round % 4));
    l.SetText(text);
    const std::string name =
        l.Count() > 0 ? l.Names(static_cast<std::int32_t>(rng() % l.Count())) : "a";
    (void)l.Values(name);
    (void)l.Params(name, "a");
    (void)l.AllParams(name);
    Lines out;
    l.Extract(name, &out);
    l.ConvertToStdValues(out);
    for (const auto& p : SplitHeaderParams(text, l.QuoteType())) {
      // What is written back reads back as the same value.
      const std::string written =
          "v; " + p.Name + "=" + QuoteHeaderParam(p.Value, p.Quoted, l.QuoteType());
      const auto again = SplitHeaderParams(written, l.QuoteType());
      if (p.Name.find_first_of("=;\"") == std::string::npos && !again.empty()) {
        EXPECT_EQ(again[0].Value, p.Value) << text;
      }
    }
    l.SetParams(name, "a", text.substr(0, rng() % (text.size() + 1)));
    l.SetAllParams(name, "x=1");
    l.SetValues(name, text);
    (void)FoldHeaderLine(text, static_cast<std::int32_t>(rng() % 12));
  }
}

}  // namespace
}  // namespace vto
