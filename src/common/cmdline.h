// Windows command lines: splitting a line into arguments and quoting
// arguments into a line, by the rules of the Microsoft C runtime
// (CommandLineToArgvW): white space separates, double quotes group,
// 2n back-slashes before a quote give n back-slashes and an opening or
// closing quote, 2n+1 give n back-slashes and a literal quote, back-slashes
// elsewhere are literal, and "" inside a quoted part is a literal quote
// that also ends the quoted part (so a run of three quotes gives one).
#ifndef CRX_COMMON_CMDLINE_H
#define CRX_COMMON_CMDLINE_H

#include <string>
#include <vector>

namespace crx {
namespace cmdline {

// Splits a whole command line. The first element (the program) follows the
// simpler rule for program names: it ends at the first space outside quotes
// and back-slashes in it are always literal.
std::vector<std::string> Split(const std::string& command_line);
// Splits an argument string that has no program name in front.
std::vector<std::string> SplitArguments(const std::string& arguments);

// Quotes one argument so that SplitArguments gives it back unchanged
// (left as it is when it needs no quotes).
std::string Quote(const std::string& argument);
// Joins arguments into a command line (program first, quoted when it holds
// spaces).
std::string Join(const std::vector<std::string>& arguments);

}  // namespace cmdline
}  // namespace crx

#endif  // CRX_COMMON_CMDLINE_H
