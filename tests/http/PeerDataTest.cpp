// Tests of http/IdGlobalProtocols.cpp (dates) and net/IdURI.cpp (resolution).
// Interoperability with public peers' test tables, where their rules and ours
// agree; each row left out is named with the reason.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <map>
#include <string>

#include "desktop/DateTime.h"
#include "http/IdGlobalProtocols.h"
#include "net/IdURI.h"
#include "tests/support/PeerData.h"
#include "tests/support/ZoneGuard.h"

namespace vto {
namespace {

// Dates from curl's own test table (lib517.c). curl reads its tokens in any order
// and with its own zone rules, so these rows differ from the forms read here.
const std::map<std::string, const char*>& CurlRowsLeftOut() {
  static const std::map<std::string, const char*> rows = {
      // Orders and separators that are not among the forms read here.
      {"Nov      Sun      6 8:9:7 1994", "weekday after the month"},
      {"1994 Nov 6 08:49:37", "year first"},
      {"GMT 08:49:37 06-Nov-94 Sunday", "zone and time first"},
      {"94 6 Nov 08:49:37", "year first"},
      {"1994 Nov 6", "year first"},
      {"1994.Nov.6", "full stops between date parts"},
      {"Sun/Nov/6/94/GMT", "slashes between date parts"},
      {"20040912 15:05:58 -0700", "compact date"},
      {"20040911 +0200", "compact date"},
      {"Thu, 19/Apr\\2007 16:00:00 GMT", "slash and backslash between date parts"},
      {", 1-Jan-2003 00:00:00 GMT", "leading comma"},
      {"Sat, 15-Apr-17\"21:01:22\"GMT", "quotes between date parts"},
      {"22:50:12 Thu Apr 18 2007 GMT", "time first"},
      {"Thu 22:50:12 Apr 18 2007 GMT", "time before the month"},
      {"Thu Apr 22:50:12 18 2007 GMT", "time before the day"},
      {"Thu Apr 18 2007 GMT 22:50:12", "time after the zone"},
      {"\"Thu Apr 18 22:50:12 2007 GMT\"", "quoted"},
      {"-\"22:50:12 Thu Apr 18 2007 GMT\"", "quoted"},
      {"*\"Thu 22:50:12 Apr 18 2007 GMT\"", "quoted"},
      {";\"Thu Apr 22:50:12 18 2007 GMT\"", "quoted"},
      {".\"Thu Apr 18 22:50:12 2007 GMT\"", "quoted"},
      {"\"Thu Apr 18 2007 22:50:12 GMT\"", "quoted"},
      {"\"Thu Apr 18 2007 GMT 22:50:12\"", "quoted"},
      {"15-Sat, Apr-17 21:01:22 GMT", "weekday inside the date"},
      {"15-Sat, Apr 21:01:22 GMT 17", "weekday inside the date"},
      {"15-Sat, Apr 21:01:22 GMT 2017", "weekday inside the date"},
      {"15 17 Apr 21:01:22", "year before the month"},
      {"20110623 12:34:56", "compact date"},
      {"20110623 12:3", "compact date"},
      {"20110623 1:3", "compact date"},
      {"20110623 1:30", "compact date"},
      {"20110623 12:12:3", "compact date"},
      {"20110623 01:12:3", "compact date"},
      {"2094 Nov 6 08:49:37", "year first"},
      {"Sun, 06-Nov/1994 08:49:37", "mixed separators"},
      // Zones: names compare without regard to case, the zone table has its own
      // offsets (EST is +1100), and an unknown name counts as UTC.
      {"Sun, 06 Nov 1994 08:49:37 cet", "zone name in lower case"},
      {"Sun, 06 Nov 1994 08:49:37 utc", "zone name in lower case"},
      {"Sun, 06 Nov 1994 08:49:37 gmt", "zone name in lower case"},
      {"06 Nov 1994 08:49:37 EST", "EST is +1100 in the zone table"},
      {"Sat, 15-Apr-17 21:01:22 DST", "unknown zone counts as UTC"},
      {"06 Nov 1994 08:49:37 J", "unknown zone counts as UTC"},
      // Words after the first zone word are not looked at; curl rejects them.
      {"Sat, 15-Apr-17 21:01:22 (hello there)", "comment after the time"},
      {"Sat, 15-Apr-17 21:01:22 11:22:33", "second time after the time"},
      {"Sat, 15-Apr-17 ::00 21:01:22", "the first word with a colon is the time"},
      {"Sat, 15-Apr-17 boink:z 21:01:22", "the first word with a colon is the time"},
      {"Sun Nov  6 008:09:37 1994", "an hour with a leading zero is a number"},
      // Impossible dates and times are no date here; curl rolls them over.
      {"Wed, 31 Dec 2008 23:59:60 GMT", "leap second"},
      {"29 Feb 2023 12:00:00 GMT", "day beyond the month"},
      {"31 Apr 2024 12:00:00 GMT", "day beyond the month"},
      {"30 Feb 2024 12:00:00 GMT", "day beyond the month"},
      // curl rejects years before 1583; a date-time holds them.
      {"Thu, 01-Jan-1499 00:00:00 GMT", "year before 1583"},
      {"01 Jan 1500 00:00:00 GMT", "year before 1583"},
      // Two-digit years 50 to 99 are 1950 to 1999 here; curl reads 69 as 2069.
      {"01 Jan 69 00:00:00 GMT", "two-digit year window"},
      // ISO 8601 is read here and not by curl.
      {"1994-11-06T08:49:37Z", "ISO 8601"},
      // curl gives 0 for this instant to keep -1 as its error value.
      {"Thu, 31-Dec-1969 23:59:59 GMT", "curl's error value"},
  };
  return rows;
}

class UtcZone : public ::testing::Test {
 protected:
  vto::testing::ZoneGuard zone_{"UTC"};
};

TEST_F(UtcZone, CurlDateTableWhereTheRulesAgree) {
  VTO_SKIP_WITHOUT_PEER_DATA("curl_dates.tsv");
  std::ifstream in(vto::testing::PeerDataPath("curl_dates.tsv"));
  ASSERT_TRUE(in) << "peer data missing";
  std::string line;
  int rows = 0, compared = 0, leftOut = 0;
  while (std::getline(in, line)) {
    ++rows;
    const std::size_t tab = line.rfind('\t');
    ASSERT_NE(tab, std::string::npos);
    const std::string text = line.substr(0, tab);
    const long long want = std::stoll(line.substr(tab + 1));
    if (CurlRowsLeftOut().count(text) != 0) {
      ++leftOut;
      continue;
    }
    ++compared;
    const TDateTime v = ParseHttpDate(text);
    if (want == -1) {
      EXPECT_EQ(v, 0) << text;
    } else {
      EXPECT_NE(v, 0) << text;
      EXPECT_EQ(DateTimeToUnix(LocalToUtc(v)), want) << text;
    }
  }
  EXPECT_EQ(rows, 181);
  EXPECT_GE(compared, 120);
  EXPECT_EQ(static_cast<std::size_t>(leftOut), CurlRowsLeftOut().size());
}

// The reference resolution examples of RFC 3986 (5.4), merged the way the HTTP
// client merges a request URL into its current URI: the path through ResolvePath,
// document and query from the reference.
TEST(UriPeerData, Rfc3986ResolutionWhereTheRulesAgree) {
  VTO_SKIP_WITHOUT_PEER_DATA("rfc3986_resolution.tsv");
  const std::map<std::string, const char*> leftOut = {
      {"g:h", "a reference without \"://\" is always relative"},
      {"http:g", "a reference without \"://\" is always relative"},
      {"//g", "a reference without \"://\" is always relative"},
      {"", "the reference's empty document and query replace the base's"},
      {"?y", "the reference's empty document replaces the base's"},
      {"#s", "the reference's empty document and query replace the base's"},
      {".", "the last segment is the document and takes no part in the merge"},
      {"..", "the last segment is the document and takes no part in the merge"},
      {"../..", "the last segment is the document and takes no part in the merge"},
      {"./", "a single-dot segment stays"},
      {"./g", "a single-dot segment stays"},
      {"./g/.", "a single-dot segment stays"},
      {"g/./h", "a single-dot segment stays"},
      {"g;x=1/./y", "a single-dot segment stays"},
      {"./../g", "\"..\" takes away the \"./\" before it"},
      {"/./g", "an absolute path is taken as it stands"},
      {"/../g", "an absolute path is taken as it stands"},
  };
  std::ifstream in(vto::testing::PeerDataPath("rfc3986_resolution.tsv"));
  ASSERT_TRUE(in) << "peer data missing";
  std::string line;
  int compared = 0;
  while (std::getline(in, line)) {
    const std::size_t t1 = line.find('\t');
    const std::size_t t2 = line.find('\t', t1 + 1);
    ASSERT_NE(t2, std::string::npos);
    const std::string base = line.substr(0, t1);
    const std::string ref = line.substr(t1 + 1, t2 - t1 - 1);
    const std::string want = line.substr(t2 + 1);
    if (leftOut.count(ref) != 0) continue;
    ++compared;
    TIdURI current(base);
    const TIdURI u(ref);
    current.SetPath(ResolvePath(current.Path(), u.Path(), "/"));
    current.SetDocument(u.Document());
    current.SetParams(u.Params());
    current.SetBookmark(u.Bookmark());
    EXPECT_EQ(current.GetFullURI(), want) << ref;
  }
  EXPECT_EQ(compared, 42 - static_cast<int>(leftOut.size()));
}

}  // namespace
}  // namespace vto
