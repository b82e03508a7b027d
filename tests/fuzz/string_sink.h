#pragma once

#include "files/byte_io.h"

#include <string>

// Collects what a log writer produced, for a load-save-load round trip.
class StringSink final : public kq::files::ByteSink {
public:
    bool write(const char* data, std::size_t size) override {
        bytes.append(data, size);
        return true;
    }
    std::string error() const override { return {}; }
    std::string bytes;
};
