// Tests of launcher/CommandLine.cpp: splitting the command line, its switches.
#include <gtest/gtest.h>

#include "launcher/CommandLine.h"

using namespace vto;
using Args = std::vector<std::string>;

namespace {
bool Has(const Args& args, const char* name) {
  SetCommandLineArguments(args);
  return HasSwitch(name);
}
// The value of switch u, or "<none>" when it is absent.
std::string U(const Args& args) {
  SetCommandLineArguments(args);
  std::string value = "stale";
  if (!GetSwitchValue("u", value)) return value.empty() ? "<none>" : "<not cleared>";
  return value;
}
}  // namespace

TEST(HasSwitchTest, EitherSwitchCharacterAnyCaseWholeArgumentOnly) {
  for (const char* a : {"-h", "/h", "-H", "/H"}) EXPECT_TRUE(Has({a}, "h")) << a;
  for (const char* a : {"-help", "--h", "h", "-", "/", "+h"}) EXPECT_FALSE(Has({a}, "h")) << a;
  EXPECT_TRUE(Has({"x", "-u", "U", "-h"}, "h"));  // anywhere on the line
  EXPECT_TRUE(Has({"-d"}, "d"));
  EXPECT_FALSE(Has({"-debug"}, "d"));
  EXPECT_TRUE(Has({"-é"}, "É"));  // Latin-1 letters fold too
  EXPECT_FALSE(Has({}, "h"));
}

TEST(GetSwitchValueTest, ValueInTheNextArgumentAppendedOrAfterAColon) {
  EXPECT_EQ(U({"-u", "http://a/b"}), "http://a/b");
  EXPECT_EQ(U({"/U", "http://a/b"}), "http://a/b");
  EXPECT_EQ(U({"-uhttp://a/b"}), "http://a/b");
  EXPECT_EQ(U({"-u:http://a/b"}), "http://a/b");
  EXPECT_EQ(U({"-u::x"}), ":x");  // only one colon goes
  EXPECT_EQ(U({"-user"}), "ser");
  EXPECT_EQ(U({"-u:"}), "");
}

TEST(GetSwitchValueTest, BareSwitchFirstMatchAndAbsence) {
  EXPECT_EQ(U({"-u"}), "");
  EXPECT_EQ(U({"-u", "-d"}), "");
  EXPECT_EQ(U({"-u", "/x"}), "");
  EXPECT_EQ(U({"-u", "one", "-u", "two"}), "one");
  EXPECT_EQ(U({"-uone", "-utwo"}), "one");
  EXPECT_EQ(U({"-d", "x"}), "<none>");
  EXPECT_EQ(U({"u", "x"}), "<none>");
  EXPECT_EQ(U({}), "<none>");
}

TEST(ArgumentList, EndsBeforeTheFirstEmptyArgument) {
  EXPECT_FALSE(Has({"", "-h"}, "h"));
  EXPECT_TRUE(Has({"-d", "-h", "", "x"}, "h"));
  EXPECT_EQ(U({"-u", "", "x"}), "");
  const char* argv[] = {"prog", "-u", "x", "", "-h"};
  SetCommandLineArguments(5, argv);
  EXPECT_EQ(CommandLineArguments(), (Args{"-u", "x"}));
}

TEST(SplitCommandLineTest, BlanksQuotesAndPairs) {
  EXPECT_EQ(SplitCommandLine("  -u   http://x  -d "), (Args{"-u", "http://x", "-d"}));
  EXPECT_EQ(SplitCommandLine("a\tb\x01"
                             "c\x1f"
                             "d\ne\rf"),
            (Args{"a", "b", "c", "d", "e", "f"}));
  EXPECT_EQ(SplitCommandLine("\"C:\\Program Files\\x.exe\" -h"),
            (Args{"C:\\Program Files\\x.exe", "-h"}));
  EXPECT_EQ(SplitCommandLine("a\"b c\"d e"), (Args{"ab cd", "e"}));
  EXPECT_EQ(SplitCommandLine("\"open to the end"), (Args{"open to the end"}));
  EXPECT_EQ(SplitCommandLine("\"\" \"\"  x"), (Args{"x"}));  // pairs where an argument begins
  EXPECT_EQ(SplitCommandLine("\"\"x"), (Args{"x"}));
  EXPECT_EQ(SplitCommandLine("x \" \" y"), (Args{"x", " ", "y"}));
  EXPECT_EQ(SplitCommandLine("x \"\"\"\" \"\"\"\"\"\"y"), (Args{"x", "y"}));
  EXPECT_EQ(SplitCommandLine("a\"\"b"), (Args{"ab"}));
  EXPECT_EQ(SplitCommandLine(std::string("a b\0c d", 7)), (Args{"a", "b"}));  // NUL ends the line
  EXPECT_EQ(SplitCommandLine(""), Args{});
  EXPECT_EQ(SplitCommandLine(" \t "), Args{});
  EXPECT_EQ(SplitCommandLine("é ü"), (Args{"é", "ü"}));  // bytes above 127 are no blanks
}

TEST(SplitCommandLineTest, AnEmptyQuotedArgumentEndsTheList) {
  // '""' inside the line where an argument would begin is skipped, so the only
  // empty argument is the end of the line; a lone '"' at the end gives one too.
  EXPECT_EQ(SplitCommandLine("a \""), (Args{"a"}));
  EXPECT_EQ(SplitCommandLine("a \"\" b"), (Args{"a", "b"}));
}

TEST(CommandLineString, TheProgramsOwnNameGoesAndTheRestAreTheArguments) {
  struct Row {
    const char* line;  // as GetCommandLineW gives it
    Args arguments;
  };
  const Row rows[] = {
      {"\"C:\\Program Files\\Veltra\\LaunchVeltraOnline.exe\" -u \"https://x/a b.jnlp\"",
       {"-u", "https://x/a b.jnlp"}},
      {"LaunchVeltraOnline.exe /D  -h", {"/D", "-h"}},
      {"LaunchVeltraOnline.exe", {}},
      {"\"C:\\Veltra\\LaunchVeltraOnline.exe\"", {}},
      {"\"C:\\Veltra\\LaunchVeltraOnline.exe\"-h -d", {"-d"}},  // the quote ends no argument
      {"x.exe -u:\"a\"\"b\" \"\" -h", {"-u:ab", "-h"}},
      {"", {}},
  };
  for (const Row& row : rows) {
    SetCommandLineFromString(row.line);
    EXPECT_EQ(CommandLineArguments(), row.arguments) << row.line;
  }
}
