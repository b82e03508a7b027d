// Feeds arbitrary bytes to the data packet reader. A packet that loads must
// save and load back to the very same bytes.
#include "files/byte_io.h"
#include "files/log_xml.h"
#include "record/log_table.h"
#include "string_sink.h"

#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    kq::record::LogTable table;
    kq::files::MemorySource in(input);
    if (!kq::files::readXmlLog(table, in).ok())
        return 0;
    StringSink first;
    kq::files::writeXmlLog(table, first);
    kq::record::LogTable back;
    kq::files::MemorySource again(first.bytes);
    if (!kq::files::readXmlLog(back, again).ok())
        std::abort();
    StringSink second;
    kq::files::writeXmlLog(back, second);
    if (second.bytes != first.bytes)
        std::abort();
    return 0;
}
