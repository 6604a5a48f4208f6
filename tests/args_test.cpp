// The command-line parser: left-to-right handling, prefixes, conversions,
// messages and the usage text, byte for byte.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "args/args.h"
#include "test_support.h"

namespace {

using test::USAGE;

// The utility's own table, plus options of the other types.
struct table {
  arg_option options[9];
  arg_type paramTypes[2] = {ARG_STRING, ARG_BOOLEAN};
  const char *paramNames[2] = {"BIT file", "flag"};
  const char *paramMeanings[2] = {"specify bitstream file (.BIT)", "a flag"};
  arg_set set{};

  explicit table(bool utilityOnly) {
    options[0] = {"card", ARG_UINT, "ID of card to use", {}, 0, {}};
    options[1] = {"index", ARG_UINT, "index of card to use", {}, 0, {}};
    options[2] = {"f", ARG_BOOLEAN, "don't check Bridge revision", {}, 0, {}};
    options[3] = {"mask", ARG_HEX, "a mask", {}, 0, {}};
    options[4] = {"name", ARG_STRING, "a name", {}, 0, {}};
    options[5] = {"dir", ARG_PATH, "a folder", {}, 0, {}};
    options[6] = {"n", ARG_INT, "a count", {}, 0, {}};
    options[7] = {"ratio", ARG_DOUBLE, "a ratio", {}, 0, {}};
    options[8] = {"scale", ARG_FLOAT, "a scale", {}, 0, {}};
    set.numOptions = utilityOnly ? 3 : 9;
    set.paramTypes = paramTypes;
    set.paramNames = paramNames;
    set.paramMeanings = paramMeanings;
    set.numParams = utilityOnly ? 1 : 2;
    set.numRequired = 1;
    set.options = options;
  }
  // The parser leaves its copies to live as long as the process; the tests
  // release them so that a leak checker sees only real leaks.
  ~table() {
    for (int32_t k = 0; k < set.numValues; ++k)
      if (k >= set.numParams || paramTypes[k] == ARG_STRING || paramTypes[k] == ARG_PATH)
        std::free(set.values[k].s);
    std::free(set.values);
    std::free(set.appName);
    std::free(set.sdkDir);
    std::free(set.bitDir);
    for (arg_option &option : options)
      if (option.type == ARG_STRING || option.type == ARG_PATH) std::free(option.value.s);
  }
};

struct parse_result {
  int32_t status;
  std::string out;
};

parse_result parse(table &t, std::vector<std::string> args) {
  args.insert(args.begin(), "sorvel");
  std::vector<const char *> argv;
  for (const std::string &a : args)
    argv.push_back(a.c_str());
  testing::internal::CaptureStdout();
  int32_t status = parse_command_line("sorvel", static_cast<int>(argv.size()), argv.data(), &t.set);
  return {status, test::captured_stdout()};
}

struct message_case {
  std::vector<std::string> args;
  std::string out;
};
void PrintTo(const message_case &c, std::ostream *os) {
  for (const std::string &a : c.args)
    *os << a << ' ';
}

class ParserMessages : public testing::TestWithParam<message_case> {};

TEST_P(ParserMessages, PrintExactlyAndFail) {
  table t(true);
  parse_result r = parse(t, GetParam().args);
  EXPECT_EQ(r.status, -1);
  EXPECT_EQ(r.out, GetParam().out);
}

INSTANTIATE_TEST_SUITE_P(
    Failures, ParserMessages,
    testing::Values(
        message_case{{}, "Too few parameters supplied. Use sorvel /? to get help.\n"},
        message_case{{"-h"}, USAGE}, message_case{{"/?"}, USAGE}, message_case{{"+help"}, USAGE},
        message_case{{"-H"}, "Unknown option: -H\n"}, message_case{{"/HELP"}, "Unknown option: /HELP\n"},
        message_case{{"-"}, "Unknown option: -\n"}, message_case{{"-x", "/h"}, "Unknown option: -x\n"},
        message_case{{"/h", "-x"}, USAGE},
        message_case{{"/card"}, "/card option requires parameter: ID of card to use\n"},
        message_case{{"+index"}, "+index option requires parameter: index of card to use\n"},
        message_case{{"/f", "a.bit"}, "Boolean option f should be specified as -f or +f\n"},
        message_case{{"/sdk"}, "/sdk option requires parameter: path to KORVAN SDK root\n"},
        message_case{{"-bitdir"}, "/bitdir option requires parameter: path to bitstream directory\n"},
        message_case{{"-a%sb"}, "Unknown option: -a%sb\n"},
        message_case{{"-card", "1", "+f"}, "Too few parameters supplied. Use sorvel /? to get help.\n"}));

TEST(Parser, LongUnknownOptionIsCutAt1023Characters) {
  table t(true);
  const std::string name = "-" + std::string(2000, 'q');
  parse_result r = parse(t, {name});
  EXPECT_EQ(r.status, -1);
  EXPECT_EQ(r.out, ("Unknown option: " + name).substr(0, 1023));
}

TEST(Parser, UsageRowWithALongNameIsPrintedWhole) {
  table t(true);
  const std::string longName(300, 'n');
  t.options[0].name = longName.c_str();
  parse_result r = parse(t, {"/?"});
  EXPECT_NE(r.out.find("/" + longName + "     uint             0  ID of card to use\n"), std::string::npos);
}

TEST(Parser, ValuesOfTheUtilityTable) {
  table t(true);
  parse_result r = parse(t, {"-index", "0", "+f", "/card", "0x1f", "bridge.bit", "extra"});
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(t.options[0].value.u, 31u);
  EXPECT_EQ(t.options[0].given, 1);
  EXPECT_EQ(t.options[1].value.u, 0u);
  EXPECT_EQ(t.options[1].given, 1);
  EXPECT_EQ(t.options[2].value.b, 1);
  EXPECT_EQ(t.options[2].given, 0);
  ASSERT_EQ(t.set.numValues, 2);
  EXPECT_STREQ(t.set.values[0].s, "bridge.bit");
  EXPECT_STREQ(t.set.values[1].s, "extra");
  EXPECT_STREQ(t.set.appName, "sorvel");
}

TEST(Parser, OptionsAfterThePathArePositionalTexts) {
  table t(true);
  ASSERT_EQ(parse(t, {"file.bit", "-card", "3"}).status, 0);
  ASSERT_EQ(t.set.numValues, 3);
  EXPECT_STREQ(t.set.values[1].s, "-card");
  EXPECT_STREQ(t.set.values[2].s, "3");
  EXPECT_EQ(t.options[0].value.u, 0u);
  EXPECT_EQ(t.options[0].given, 0);
}

TEST(Parser, BooleanPrefixDecidesAndLaterValueWins) {
  table t(true);
  ASSERT_EQ(parse(t, {"+f", "-f", "-card", "5", "-card", "7", "x"}).status, 0);
  EXPECT_EQ(t.options[2].value.b, 0);
  EXPECT_EQ(t.options[0].value.u, 7u);
  table u(true);
  ASSERT_EQ(parse(u, {"-f", "+f", "x"}).status, 0);
  EXPECT_EQ(u.options[2].value.b, 1);
}

TEST(Parser, OptionValueIsTakenWhateverItLooksLike) {
  table t(false);
  ASSERT_EQ(parse(t, {"-name", "-card", "x"}).status, 0);
  EXPECT_STREQ(t.options[4].value.s, "-card");
  EXPECT_EQ(t.options[0].given, 0);
}

struct conversion_case {
  std::string option;
  std::string text;
  uint32_t expected;  // the 32-bit pattern of the stored value
};
void PrintTo(const conversion_case &c, std::ostream *os) { *os << '"' << c.text << '"'; }

class OptionConversions : public testing::TestWithParam<conversion_case> {};

TEST_P(OptionConversions, StoreTheValue) {
  table t(false);
  ASSERT_EQ(parse(t, {"-" + GetParam().option, GetParam().text, "x"}).status, 0);
  arg_option *option = find_option(GetParam().option.c_str(), t.options, t.set.numOptions);
  ASSERT_NE(option, nullptr);
  EXPECT_EQ(option->value.u, GetParam().expected) << GetParam().text;
  EXPECT_EQ(option->given, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Numbers, OptionConversions,
    testing::Values(conversion_case{"card", "0x1f", 31}, conversion_case{"card", "0X1F", 0},
                    conversion_case{"card", "31", 31}, conversion_case{"card", "12abc", 12},
                    conversion_case{"card", "-1", 0xFFFFFFFFu},
                    conversion_case{"card", "99999999999", 0xFFFFFFFFu}, conversion_case{"mask", "1f", 31},
                    conversion_case{"mask", "0x1f", 31}, conversion_case{"mask", "0X1F", 31},
                    conversion_case{"n", "-12", static_cast<uint32_t>(-12)},
                    conversion_case{"n", "99999999999", 0x7FFFFFFFu},
                    conversion_case{"n", "-99999999999", 0x80000000u}));

TEST(OptionConversions, DoubleHasSinglePrecision) {
  table t(false);
  ASSERT_EQ(parse(t, {"-ratio", "0.1", "-scale", "2.5", "x"}).status, 0);
  EXPECT_EQ(t.options[7].value.d, static_cast<double>(0.1f));
  EXPECT_NE(t.options[7].value.d, 0.1);
  EXPECT_EQ(t.options[8].value.f, 2.5f);
}

TEST(OptionConversions, TextsAreCopiedAndPathsNormalised) {
  table t(false);
  std::string typed = "a/b";
  ASSERT_EQ(parse(t, {"-name", "first", "-name", typed, "-dir", " C:/data/bits/ ", "x"}).status, 0);
  EXPECT_STREQ(t.options[4].value.s, "a/b");
  EXPECT_STREQ(t.options[5].value.s, "C:\\data\\bits");
}

struct boolean_case {
  std::string text;
  int32_t status;
  int32_t value;
};
void PrintTo(const boolean_case &c, std::ostream *os) { *os << '"' << c.text << '"'; }

class PositionalBoolean : public testing::TestWithParam<boolean_case> {};

TEST_P(PositionalBoolean, AcceptsOnlyTrueAndFalse) {
  table t(false);
  parse_result r = parse(t, {"x.bit", GetParam().text});
  EXPECT_EQ(r.status, GetParam().status);
  if (GetParam().status == 0) {
    EXPECT_EQ(t.set.values[1].b, GetParam().value);
    EXPECT_EQ(r.out, "");
  } else {
    EXPECT_EQ(r.out, "Value of booleanparameter 2 is invalid: " + GetParam().text + "\n");
  }
}

INSTANTIATE_TEST_SUITE_P(Texts, PositionalBoolean,
                         testing::Values(boolean_case{"TRUE", 0, 1}, boolean_case{"true", 0, 1},
                                         boolean_case{"False", 0, 0}, boolean_case{"falsehood", 0, 0},
                                         boolean_case{"yes", -1, 0}, boolean_case{"1", -1, 0},
                                         boolean_case{"truex", -1, 0}, boolean_case{"", -1, 0}));

TEST(Parser, InvalidValueIsReportedBeforeShortage) {
  table t(false);
  t.set.numRequired = 3;
  EXPECT_EQ(parse(t, {"x.bit", "maybe"}).out, "Value of booleanparameter 2 is invalid: maybe\n");
}

TEST(Parser, UndeclaredParameterTypeIsAnInternalError) {
  table t(true);
  t.paramTypes[0] = 9;
  EXPECT_EQ(parse(t, {"x.bit"}).out,
            "*** internal error in args:set_value()\nValue of parameter 1 is invalid: x.bit\n");
}

TEST(Parser, NullArgumentsAreRefused) {
  table t(true);
  const char *argv[] = {"sorvel"};
  testing::internal::CaptureStdout();
  EXPECT_EQ(parse_command_line(nullptr, 1, argv, &t.set), -1);
  EXPECT_EQ(parse_command_line("sorvel", 1, argv, nullptr), -1);
  EXPECT_EQ(test::captured_stdout(),
            "parse_command_line(): argument 'appName' is NULL (must not be NULL)\n"
            "parse_command_line(): argument 'args' is NULL (must not be NULL)\n");
}

TEST(Parser, NoArgumentVectorAtAll) {
  table t(true);
  t.set.numRequired = 0;
  testing::internal::CaptureStdout();
  EXPECT_EQ(parse_command_line("sorvel", 0, nullptr, &t.set), 0);
  test::captured_stdout();
  EXPECT_EQ(t.set.numValues, 0);
  EXPECT_EQ(t.set.values, nullptr);
}

TEST(Parser, SdkDirectoryFromEnvironmentThenOption) {
  test::set_env(KORVAN_SDK4, " D:/sdk/ ");
  table t(true);
  ASSERT_EQ(parse(t, {"x"}).status, 0);
  EXPECT_STREQ(t.set.sdkDir, "D:\\sdk");
  table u(true);
  ASSERT_EQ(parse(u, {"/sdk", "E:/x/", "-bitdir", "/", "x"}).status, 0);
  EXPECT_STREQ(u.set.sdkDir, "E:\\x");
  EXPECT_STREQ(u.set.bitDir, "\\");
  test::set_env(KORVAN_SDK4, nullptr);
  table v(true);
  ASSERT_EQ(parse(v, {"x"}).status, 0);
  EXPECT_EQ(v.set.sdkDir, nullptr);
}

struct path_case {
  std::string in;
  std::string out;
};
void PrintTo(const path_case &c, std::ostream *os) { *os << '"' << c.in << '"'; }

class NormalisePath : public testing::TestWithParam<path_case> {};

TEST_P(NormalisePath, RewritesInPlace) {
  std::vector<char> text(GetParam().in.begin(), GetParam().in.end());
  text.push_back('\0');
  normalise_path(text.data());
  EXPECT_EQ(std::string(text.data()), GetParam().out);
}

INSTANTIATE_TEST_SUITE_P(Examples, NormalisePath,
                         testing::Values(path_case{" C:/data/bits/ ", "C:\\data\\bits"},
                                         path_case{"C:/", "C:"}, path_case{"a//", "a\\"},
                                         path_case{"/", "\\"}, path_case{"   ", ""},
                                         path_case{"\t\r\n\v\fx\f", "x"}, path_case{"\xA0x\xA0", "\xA0x\xA0"},
                                         path_case{"", ""}));

TEST(ValueToText, HoldsLongTextsWithoutOverflow) {
  arg_option option{"big", ARG_DOUBLE, "", {}, 0, {}};
  option.defaultValue.d = 1e300;
  std::string text = value_to_text(&option);
  EXPECT_EQ(text.substr(0, 4), "1000");
  EXPECT_EQ(text.substr(text.size() - 7), ".000000");
  const std::string huge(5000, 'z');
  std::vector<char> copy(huge.begin(), huge.end());
  copy.push_back('\0');
  arg_option path{"p", ARG_PATH, "", {}, 0, {}};
  path.defaultValue.s = copy.data();
  EXPECT_EQ(std::string(value_to_text(&path)), std::string(511, 'z'));
  arg_option hex{"h", ARG_HEX, "", {}, 0, {}};
  hex.defaultValue.u = 0xABCDEF01u;
  EXPECT_STREQ(value_to_text(&hex), "0xabcdef01");
}

}  // namespace
