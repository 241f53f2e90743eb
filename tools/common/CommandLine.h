#pragma once
// The strict command-line parser of the tools and programs.
//
// What it represents: the options one program accepts, each with what it does to the
// program's settings, and the parsing of argv against them. Parsing is strict: an
// unknown option, an option that needs a value and has none (or is followed by another
// option, "--..."), a flag given a value, a bare argument where none is taken and a
// number that does not read completely or lies outside its range each stop the parse
// with a UsageError naming the option and the text. A program reports it with
// reportUsageError: one "Error: ..." line on standard error and exit status 2.
//
// Values are given as "--name value" or "--name=value". A value may start with a single
// '-' (a negative number) but not with "--".
//
// Thread safety: a plain value; parse() only reads the parser and runs the handlers on
// the calling thread.
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace kvo {
namespace cli {

// A command-line mistake; what() is the message without the "Error: " prefix.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Strict conversions of an option's value. `option` names the option in the message.
// Requires nothing of `text`. Ensures: the value, or a thrown UsageError when the text
// is not entirely a number of the kind asked for (no leading blanks, no trailing
// characters), is not finite, or lies outside [lo, hi].
double toDouble(const std::string& option, const std::string& text);
double toDouble(const std::string& option, const std::string& text, double lo, double hi);
long long toInteger(const std::string& option, const std::string& text, long long lo, long long hi);
// on/off, 1/0, true/false, yes/no.
bool toSwitch(const std::string& option, const std::string& text);
// Exactly `count` comma-separated finite numbers.
std::vector<double> toNumbers(const std::string& option, const std::string& text, int count);

class CommandLine {
public:
    using ValueHandler = std::function<void(const std::string& option, const std::string& value)>;
    using FlagHandler = std::function<void()>;
    using ArgumentHandler = std::function<void(const std::string& argument)>;

    // Registers an option that takes a value. Requires: `name` starts with '-' and is
    // not registered yet (else std::logic_error). The handler may throw UsageError.
    CommandLine& option(const std::string& name, ValueHandler apply);
    // Registers an option without a value.
    CommandLine& flag(const std::string& name, FlagHandler apply);
    // Options that store their value in `target`, numbers checked against [lo, hi].
    CommandLine& text(const std::string& name, std::string& target);
    CommandLine& integer(const std::string& name, int& target, long long lo, long long hi);
    CommandLine& integer(const std::string& name, long& target, long long lo, long long hi);
    CommandLine& number(const std::string& name, double& target, double lo, double hi);
    // Takes the arguments that are not options, in order; without it they are refused.
    CommandLine& arguments(ArgumentHandler apply);

    // Parses argv[1 .. argc - 1] in order, running each option's handler as it is met.
    // Ensures: every argument was taken, or a UsageError was thrown at the first one
    // that could not be (handlers of the arguments before it have run).
    void parse(int argc, const char* const* argv) const;

private:
    void add(const std::string& name);
    std::map<std::string, ValueHandler> valued_;
    std::map<std::string, FlagHandler> flags_;
    ArgumentHandler arguments_;
};

// Writes "Error: " + e.what() and a line end to standard error. Returns 2, the exit
// status of a command-line mistake.
int reportUsageError(const UsageError& e);

}  // namespace cli
}  // namespace kvo
