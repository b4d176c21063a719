// The command line as the tool parses it, without running the process.
#include "cli/options.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

using Args = std::vector<std::string>;

TEST(CliOptions, BadUsageIsRefusedWithItsReason) {
  struct Case {
    Args args;
    std::string error;  // expected within the message; empty: none
    bool showUsage;
  };
  const Case cases[] = {
      {{}, "", true},
      {{"frobnicate"}, "unknown command \"frobnicate\"", true},
      {{"protect"}, "protect needs at least one path", false},
      {{"restore", "-q"}, "restore needs at least one path", false},
      {{"protect", "--level", "12", "a"}, "--level takes a number from 0 to 9", false},
      {{"protect", "--level=-1", "a"}, "--level takes a number from 0 to 9", false},
      {{"protect", "--level"}, "option --level needs a value", false},
      {{"protect", "-j", "0", "a"}, "-j takes a number from 1 to 256", false},
      {{"protect", "--password-fd", "x", "a"}, "--password-fd takes a descriptor number", false},
      {{"protect", "--use-last", "--password-file", "pw", "a"}, "give at most one of", false},
      {{"restore", "--level", "3", "a"}, "unknown option for this command: --level", false},
      {{"restore", "--use-default", "a"}, "unknown option for this command", false},
      {{"list", "new"}, "list needs a command and a list file", true},
      {{"list", "frob", "x.dlt"}, "unknown list command \"frob\"", false},
      {{"list", "add", "x.dlt"}, "list add needs at least one path", false},
      {{"list", "show", "x.dlt", "extra"}, "list show takes no paths: extra", false},
      {{"list", "show", "x.dlt", "-r"}, "unknown option for this command: -r", false},
      {{"list", "protect", "x.dlt", "--use-last"}, "unknown option", false},
      {{"verify"}, "verify needs at least one path", false},
      {{"verify", "--use-last", "a"}, "unknown option for this command", false},
      {{"info", "-r", "a"}, "unknown option for this command: -r", false},
      {{"change-password", "--new-password-file", "n", "--new-password-fd", "3", "a"},
       "give at most one of --new-password-file, --new-password-fd",
       false},
      {{"change-password", "--password-fd", "3", "--password-file", "o", "a"},
       "give at most one of",
       false},
  };
  for (const Case& c : cases) {
    const CliCommand command = ParseCommandLine(c.args);
    std::string joined;
    for (const std::string& a : c.args) joined += a + " ";
    EXPECT_EQ(command.verb, CliVerb::BadUsage) << joined;
    if (c.error.empty()) {
      EXPECT_TRUE(command.error.empty()) << joined;
    } else {
      EXPECT_NE(command.error.find(c.error), std::string::npos) << joined << ": " << command.error;
    }
    EXPECT_EQ(command.showUsage, c.showUsage) << joined;
  }
}

TEST(CliOptions, OptionsValuesAndPathsAreTakenAsGiven) {
  CliCommand p = ParseCommandLine({"protect", "-r", "--level=0", "--include", "*.txt|",
                                   "--no-zip=", "-y", "-j", "3", "-q", "a", "-", "--", "-b"});
  ASSERT_EQ(p.verb, CliVerb::Protect) << p.error;
  EXPECT_TRUE(p.options.recursive);
  EXPECT_EQ(p.options.level, 0);
  EXPECT_EQ(p.options.include, "*.txt|");
  EXPECT_EQ(p.options.noZip, "");  // an empty value is a value
  EXPECT_FALSE(p.options.exclude);
  EXPECT_EQ(p.options.overwrite, OverwriteAnswer::Yes);
  EXPECT_EQ(p.options.jobs, 3);
  EXPECT_TRUE(p.options.quiet);
  EXPECT_EQ(p.options.paths, (Args{"a", "-", "-b"}));

  // Without -j the run uses every processor; the last overwrite answer wins.
  CliCommand r = ParseCommandLine({"restore", "--password-fd", "5", "--yes", "--no", "x.~de"});
  ASSERT_EQ(r.verb, CliVerb::Restore) << r.error;
  EXPECT_EQ(r.options.passwordFd, 5);
  EXPECT_EQ(r.options.overwrite, OverwriteAnswer::No);
  EXPECT_GE(r.options.jobs, 1);

  CliCommand l = ParseCommandLine({"list", "add", "my.dlt", "--exclude", "*.o|", "-r", "d"});
  ASSERT_EQ(l.verb, CliVerb::List) << l.error;
  EXPECT_EQ(l.listCommand, "add");
  EXPECT_EQ(l.listPath, "my.dlt");
  EXPECT_EQ(l.options.exclude, "*.o|");
  EXPECT_EQ(l.options.paths, (Args{"d"}));

  EXPECT_EQ(ParseCommandLine({"--help"}).verb, CliVerb::Help);
  EXPECT_EQ(ParseCommandLine({"help", "protect"}).verb, CliVerb::Help);
  EXPECT_EQ(ParseCommandLine({"--version"}).verb, CliVerb::Version);
}

}  // namespace
