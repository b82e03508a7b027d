// Feeds arbitrary bytes to the text log reader. Whatever loads must survive a
// save as a data packet and a load back unchanged.
#include "files/byte_io.h"
#include "files/log_text.h"
#include "files/log_xml.h"
#include "record/log_table.h"
#include "string_sink.h"

#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    kq::record::LogTable table;
    kq::files::MemorySource in(input);
    kq::files::readTextLog(table, in);

    StringSink text;
    kq::files::writeTextLog(table, text);
    StringSink packet;
    kq::files::writeXmlLog(table, packet);
    kq::record::LogTable back;
    kq::files::MemorySource packetIn(packet.bytes);
    if (!kq::files::readXmlLog(back, packetIn).ok())
        std::abort();
    StringSink again;
    kq::files::writeXmlLog(back, again);
    if (again.bytes != packet.bytes)
        std::abort();
    return 0;
}
