#include "CommandLine.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace kvo {
namespace cli {

namespace {

[[noreturn]] void badValue(const std::string& option, const std::string& text, const std::string& why) {
    throw UsageError("bad value '" + text + "' for " + option + ": " + why);
}

// True when `text` starts like a number: no blank, no '+', no empty text.
bool startsLikeANumber(const std::string& text) {
    if (text.empty()) return false;
    const char c = text[0] == '-' ? (text.size() > 1 ? text[1] : '\0') : text[0];
    return (c >= '0' && c <= '9') || c == '.';
}

std::string numberText(double v) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%g", v);
    return buffer;
}

}  // namespace

double toDouble(const std::string& option, const std::string& text) {
    errno = 0;
    char* end = nullptr;
    const double v = startsLikeANumber(text) ? std::strtod(text.c_str(), &end) : 0.0;
    if (end == nullptr || *end != '\0' || errno == ERANGE || !std::isfinite(v)) {
        badValue(option, text, "expected a finite number");
    }
    return v;
}

double toDouble(const std::string& option, const std::string& text, double lo, double hi) {
    const double v = toDouble(option, text);
    if (v < lo || v > hi) {
        badValue(option, text, "expected a number from " + numberText(lo) + " to " + numberText(hi));
    }
    return v;
}

long long toInteger(const std::string& option, const std::string& text, long long lo, long long hi) {
    errno = 0;
    char* end = nullptr;
    const bool digitsOnly = startsLikeANumber(text) && text.find('.') == std::string::npos;
    const long long v = digitsOnly ? std::strtoll(text.c_str(), &end, 10) : 0;
    if (end == nullptr || *end != '\0' || errno == ERANGE) {
        badValue(option, text, "expected a whole number");
    }
    if (v < lo || v > hi) {
        badValue(option, text, "expected a whole number from " + std::to_string(lo) + " to " + std::to_string(hi));
    }
    return v;
}

bool toSwitch(const std::string& option, const std::string& text) {
    if (text == "on" || text == "1" || text == "true" || text == "yes") return true;
    if (text == "off" || text == "0" || text == "false" || text == "no") return false;
    badValue(option, text, "expected on or off");
}

std::vector<double> toNumbers(const std::string& option, const std::string& text, int count) {
    std::vector<std::string> parts(1);
    for (char c : text) {
        if (c == ',') {
            parts.emplace_back();
        } else {
            parts.back() += c;
        }
    }
    if (static_cast<int>(parts.size()) != count) {
        badValue(option, text, "expected " + std::to_string(count) + " comma-separated numbers");
    }
    std::vector<double> out;
    for (const std::string& p : parts) {
        errno = 0;
        char* end = nullptr;
        const double v = startsLikeANumber(p) ? std::strtod(p.c_str(), &end) : 0.0;
        if (end == nullptr || *end != '\0' || errno == ERANGE || !std::isfinite(v)) {
            badValue(option, text, "expected " + std::to_string(count) + " comma-separated finite numbers");
        }
        out.push_back(v);
    }
    return out;
}

void CommandLine::add(const std::string& name) {
    if (name.size() < 2 || name[0] != '-' || valued_.count(name) != 0 || flags_.count(name) != 0) {
        throw std::logic_error("option '" + name + "' is not a new option name");
    }
}

CommandLine& CommandLine::option(const std::string& name, ValueHandler apply) {
    add(name);
    valued_[name] = std::move(apply);
    return *this;
}

CommandLine& CommandLine::flag(const std::string& name, FlagHandler apply) {
    add(name);
    flags_[name] = std::move(apply);
    return *this;
}

CommandLine& CommandLine::text(const std::string& name, std::string& target) {
    return option(name, [&target](const std::string&, const std::string& v) { target = v; });
}

CommandLine& CommandLine::integer(const std::string& name, int& target, long long lo, long long hi) {
    return option(name, [&target, lo, hi](const std::string& n, const std::string& v) {
        target = static_cast<int>(toInteger(n, v, lo, hi));
    });
}

CommandLine& CommandLine::integer(const std::string& name, long& target, long long lo, long long hi) {
    return option(name, [&target, lo, hi](const std::string& n, const std::string& v) {
        target = static_cast<long>(toInteger(n, v, lo, hi));
    });
}

CommandLine& CommandLine::number(const std::string& name, double& target, double lo, double hi) {
    return option(name, [&target, lo, hi](const std::string& n, const std::string& v) {
        target = toDouble(n, v, lo, hi);
    });
}

CommandLine& CommandLine::arguments(ArgumentHandler apply) {
    arguments_ = std::move(apply);
    return *this;
}

void CommandLine::parse(int argc, const char* const* argv) const {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.size() < 2 || arg[0] != '-') {
            if (!arguments_) throw UsageError("unexpected argument '" + arg + "' (options start with --)");
            arguments_(arg);
            continue;
        }
        std::string name = arg;
        std::string value;
        bool inlineValue = false;
        const size_t eq = arg.find('=');
        if (arg.compare(0, 2, "--") == 0 && eq != std::string::npos) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
            inlineValue = true;
        }
        const auto f = flags_.find(name);
        if (f != flags_.end()) {
            if (inlineValue) throw UsageError("option " + name + " takes no value");
            f->second();
            continue;
        }
        const auto v = valued_.find(name);
        if (v == valued_.end()) throw UsageError("unknown option '" + name + "'");
        if (!inlineValue) {
            if (i + 1 >= argc) throw UsageError("option " + name + " needs a value");
            value = argv[++i];
        }
        if (value.compare(0, 2, "--") == 0) {
            throw UsageError("option " + name + " needs a value, not '" + value + "'");
        }
        v->second(name, value);
    }
}

int reportUsageError(const UsageError& e) {
    std::fprintf(stderr, "Error: %s\n", e.what());
    std::fflush(stderr);
    return 2;
}

}  // namespace cli
}  // namespace kvo
