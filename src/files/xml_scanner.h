#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kq::files {

// A small XML reader fed in chunks of any size, for the log's data packet.
// It keeps only the tag being read, bounded by `maxTagBytes`, and the names of
// the open elements, bounded by `maxDepth`; an attribute that the handler
// asks to stream is handed over piece by piece and may be of any length.
//
// It reads elements, attributes (with the five predefined entities and
// character references), comments, processing instructions and CDATA. A
// document type declaration is refused, so no entity can be declared and
// nothing is ever expanded or fetched. Attribute values are normalised as XML
// asks (raw TAB, CR, LF and CR LF become one space each; references are kept).
// Text content is skipped. Bytes are passed through unchanged: the packet
// names no encoding and holds the table's bytes as they were written.
class XmlScanner {
public:
    struct Attribute {
        std::string name;
        std::string value;
    };

    class Handler {
    public:
        virtual ~Handler() = default;
        // `depth` is 1 for the root element. Returning false stops the scan.
        virtual bool startElement(std::string_view name, const Attribute* attributes,
                                  std::size_t count, std::size_t depth) = 0;
        virtual bool endElement(std::string_view name, std::size_t depth) = 0;
        // True to receive this attribute's value through streamChars instead.
        virtual bool streamAttribute(std::string_view element, std::string_view attribute,
                                     std::size_t depth) = 0;
        virtual bool streamChars(std::string_view chars) = 0;
        virtual bool streamEnd() = 0;
    };

    XmlScanner(Handler& handler, std::size_t maxTagBytes, std::size_t maxDepth);

    // False once the input is malformed or a handler call returned false.
    bool feed(const char* data, std::size_t size);
    // Checks that the document is complete.
    bool finish();
    const std::string& error() const { return m_error; }
    std::uint64_t offset() const { return m_offset; }

private:
    enum class State : std::uint8_t {
        Text,
        Lt,
        Bang,
        Comment,
        CData,
        Pi,
        StartName,
        InTag,
        AttrName,
        AfterAttrName,
        BeforeValue,
        Value,
        Entity,
        EmptyClose,
        EndName,
        AfterEndName,
    };

    bool fail(const char* why);
    bool step(char c);
    bool countTagByte();
    bool valueChar(char c);
    bool valueBytes(const char* p, std::size_t n);
    bool endEntity();
    bool startTagDone(bool empty);
    bool endTagDone();

    Handler& m_handler;
    std::size_t m_maxTagBytes;
    std::size_t m_maxDepth;
    State m_state = State::Text;
    std::string m_error;
    std::uint64_t m_offset = 0;

    std::vector<std::string> m_open; // names of the open elements
    std::size_t m_depth = 0;
    bool m_rootClosed = false;
    std::uint64_t m_bomBytes = 0;

    std::string m_name; // element being opened or closed
    std::vector<Attribute> m_attributes;
    std::size_t m_attrCount = 0;
    std::size_t m_tagBytes = 0;
    bool m_spaceBefore = false;
    char m_quote = 0;
    bool m_streaming = false;
    bool m_valueAfterCR = false;
    std::string m_entity;
    std::string m_bang;
    char m_last1 = 0; // the two bytes before, to find "-->", "]]>" and "?>"
    char m_last2 = 0;
};

} // namespace kq::files
