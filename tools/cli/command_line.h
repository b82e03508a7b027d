#pragma once

#include <functional>
#include <string>
#include <vector>

namespace kq::cli {

// The options of one command and how a bad command line is answered: a word
// that is no option of the command gets the command's usage; an option whose
// value is missing or not taken, or a rule the command checks afterwards, gets
// one line "kqmeter-cli COMMAND: reason". Both end with status 2.
class CommandLine {
public:
    explicit CommandLine(std::string command) : m_command(std::move(command)) {}

    // An option without a value.
    void flag(const std::string& name, bool& set);
    // An option with a value: `take` returns false for a value it does not
    // take, and `reason` is then what the user is told (also when no value follows).
    void option(const std::string& name, std::string reason,
                std::function<bool(const std::string&)> take);
    // A word that is no option (a file name): `take` returns the reason it is
    // refused, or an empty string. Without it such a word gets the usage.
    void operand(std::function<std::string(const std::string&)> take);

    // 0 when every word is taken, else 2 with the answer on stderr.
    int parse(const std::vector<std::string>& args) const;
    // Tells the reason and returns 2, for the rules checked after parse().
    int refuse(const std::string& reason) const;
    int usage() const;

private:
    struct Option {
        std::string name;
        bool* flag = nullptr;
        std::string reason;
        std::function<bool(const std::string&)> take;
    };
    const Option* find(const std::string& name) const;

    std::string m_command;
    std::vector<Option> m_options;
    std::function<std::string(const std::string&)> m_operand;
};

// The whole text a whole number from `min` to `max`.
bool wholeNumberIn(const std::string& text, long long min, long long max, long long& value);

} // namespace kq::cli
