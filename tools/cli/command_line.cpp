#include "command_line.h"

#include "command_help.h"

#include <charconv>
#include <cstdio>

namespace kq::cli {

void CommandLine::flag(const std::string& name, bool& set) {
    m_options.push_back({name, &set, {}, {}});
}

void CommandLine::option(const std::string& name, std::string reason,
                         std::function<bool(const std::string&)> take) {
    m_options.push_back({name, nullptr, std::move(reason), std::move(take)});
}

void CommandLine::operand(std::function<std::string(const std::string&)> take) {
    m_operand = std::move(take);
}

const CommandLine::Option* CommandLine::find(const std::string& name) const {
    for (const Option& o : m_options)
        if (o.name == name)
            return &o;
    return nullptr;
}

int CommandLine::parse(const std::vector<std::string>& args) const {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (const Option* o = find(a)) {
            if (o->flag) {
                *o->flag = true;
            } else if (i + 1 >= args.size() || !o->take(args[++i])) {
                return refuse(o->reason);
            }
        } else if ((!a.empty() && a[0] == '-') || !m_operand) {
            return usage();
        } else if (const std::string reason = m_operand(a); !reason.empty()) {
            return refuse(reason);
        }
    }
    return 0;
}

int CommandLine::refuse(const std::string& reason) const {
    std::fprintf(stderr, "kqmeter-cli %s: %s\n", m_command.c_str(), reason.c_str());
    return 2;
}

int CommandLine::usage() const {
    printCommandUsage(m_command, stderr);
    return 2;
}

bool wholeNumberIn(const std::string& text, long long min, long long max, long long& value) {
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc{} && end == text.data() + text.size() && value >= min && value <= max;
}

} // namespace kq::cli
