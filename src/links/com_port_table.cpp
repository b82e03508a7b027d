#include "links/com_port_table.h"

#include <cstdlib>

namespace kq::links {

ComPortTable ComPortTable::fromEnvironment() {
    ComPortTable table;
    for (int i = 0; i < kComPortCount; ++i) {
        const std::string name = "KQMETER_" + comPortName(static_cast<TComPortNumber>(i));
        const char* value = std::getenv(name.c_str());
        if (value && *value)
            table.paths[static_cast<std::size_t>(i)] = value;
    }
    return table;
}

std::string comPortName(TComPortNumber port) {
    return "COM" + std::string(1, static_cast<char>('1' + static_cast<int>(port)));
}

bool parseComPortName(const std::string& name, TComPortNumber& port) {
    if (name.size() != 4)
        return false;
    const auto upper = [](char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; };
    if (upper(name[0]) != 'C' || upper(name[1]) != 'O' || upper(name[2]) != 'M')
        return false;
    if (name[3] < '1' || name[3] > '4')
        return false;
    port = static_cast<TComPortNumber>(name[3] - '1');
    return true;
}

} // namespace kq::links
