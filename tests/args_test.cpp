// The command-line parser: left-to-right handling, prefixes, conversions,
// messages and the usage text, byte for byte.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "args/args.h"
#include "main/command_line.h"
#include "release_parse.h"
#include "test_support.h"

namespace {

using test::USAGE;

// The utility's own table; what a parse stored is released with it, so
// that a leak checker sees only real leaks.
struct table : command_line {
  table() { declare_command_line(this); }
  ~table() { test::release_parse(&set); }
  std::string stored() const {  // options given (*) or off their default, the positional values
    std::string out;
    for (const arg_option &o : options) {
      const bool text = o.type == ARG_STRING;
      if (o.given || (text ? o.value.s != nullptr : o.value.u != o.defaultValue.u))
        out += std::string(o.name) + "=" + (text ? o.value.s : std::to_string(o.value.u)) +
               (o.given ? "* " : " ");
    }
    out += "|";
    for (int k = 0; k < set.numValues; ++k)
      out += std::string(" ") + set.values[k].s;
    return out;
  }
};

struct parse_result {
  int32_t status;
  std::string out;
};

parse_result parse(table &t, const std::string &args) {  // arguments separated by '|'
  std::vector<std::string> words = {"sorvel"};
  std::istringstream in(args);
  for (std::string word; std::getline(in, word, '|');)
    words.push_back(word);
  std::vector<const char *> argv;
  for (const std::string &a : words)
    argv.push_back(a.c_str());
  testing::internal::CaptureStdout();
  int32_t status = parse_command_line("sorvel", static_cast<int>(argv.size()), argv.data(), &t.set);
  return {status, test::captured_stdout()};
}

struct parse_case {
  std::string args;    // separated by '|'
  std::string out;     // printed; when not empty the parse fails
  std::string stored;  // after a parse that succeeds
};
void PrintTo(const parse_case &c, std::ostream *os) { *os << c.args.substr(0, 40); }

class Parser : public testing::TestWithParam<parse_case> {};

TEST_P(Parser, StoresOrPrintsExactly) {
  const parse_case &c = GetParam();
  table t;
  const parse_result r = parse(t, c.args);
  EXPECT_EQ(r.out, c.out);
  EXPECT_EQ(r.status, c.out.empty() ? 0 : -1);
  EXPECT_EQ(c.out.empty() ? t.stored() : "", c.stored);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Parser,
    testing::Values(
        parse_case{"", "", "|"}, parse_case{"-h", USAGE, ""}, parse_case{"/?", USAGE, ""},
        parse_case{"+help", USAGE, ""}, parse_case{"-x|/h", "Unknown option: -x\n", ""},
        parse_case{"/h|-x", USAGE, ""},
        parse_case{"/card", "/card option requires parameter: ID of card to use\n", ""},
        parse_case{"/f|a.bit", "Boolean option f should be specified as -f or +f\n", ""},
        parse_case{"/sdk", "/sdk option requires parameter: path to KORVAN SDK root\n", ""},
        parse_case{"-a%sb", "Unknown option: -a%sb\n", ""},
        parse_case{"-card|1|+list", "", "card=1* list=1 |"},
        parse_case{"-index|0|+f|/card|0xffffffff|b.bit|extra", "",
                   "card=4294967295* index=0* f=1 | b.bit extra"},
        parse_case{"file.bit|-card|3", "", "| file.bit -card 3"},
        parse_case{"+f|-f|-card|5|-card|7|x", "", "card=7* | x"}, parse_case{"-f|+f|x", "", "f=1 | x"},
        parse_case{"/sdk|-card|x", "", "| x"},
        parse_case{"-write|/backup|d/old.bit|x", "", "write=0 backup=d/old.bit* | x"},
        parse_case{"-card|0X1F|x", "", "card=0* | x"}, parse_case{"-card|12abc|x", "", "card=12* | x"},
        parse_case{"-card|34A|x", "", "card=34* | x"}, parse_case{"-card|5|-card|a|x", "", "card=5* | x"},
        parse_case{"-card|-1|x", "", "card=4294967295* | x"},
        parse_case{"-card|99999999999|x", "", "card=4294967295* | x"},
        parse_case{"-" + std::string(2000, 'q'), "Unknown option: -" + std::string(1006, 'q'), ""}));  // cut

TEST(Parser, SdkDirectoryFromTheEnvironment) {
  table t;
  test::set_env(KORVAN_SDK4, " D:/sdk/ ");
  ASSERT_EQ(parse(t, "x").status, 0);
  EXPECT_STREQ(t.set.sdkDir, "D:\\sdk");
  test::set_env(KORVAN_SDK4, nullptr);
}

}  // namespace
