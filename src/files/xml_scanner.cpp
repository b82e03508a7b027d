#include "files/xml_scanner.h"

#include <cstring>

namespace kq::files {

namespace {

// More attributes than this on one tag fail the scan (a ROW has five).
constexpr std::size_t kMaxAttributes = 256;
// The longest entity between "&" and ";" that can be valid ("#x10FFFF" and some zeros).
constexpr std::size_t kMaxEntity = 12;

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool isNameChar(char c) {
    if (static_cast<unsigned char>(c) <= 32)
        return false;
    switch (c) {
    case '<':
    case '>':
    case '/':
    case '=':
    case '"':
    case '\'':
    case '&':
    case '?':
    case '!':
        return false;
    default:
        return true;
    }
}

// Bytes of an attribute value that need no attention: everything but the
// closing quote, references, a stray "<", the whitespace that normalisation
// changes and the zero byte.
bool isPlainValueByte(char c, char quote) {
    switch (c) {
    case '&':
    case '<':
    case '\t':
    case '\r':
    case '\n':
    case '\0':
        return false;
    default:
        return c != quote;
    }
}

std::size_t encodeUtf8(std::uint32_t code, char* out) {
    if (code < 0x80) {
        out[0] = static_cast<char>(code);
        return 1;
    }
    if (code < 0x800) {
        out[0] = static_cast<char>(0xC0 | (code >> 6));
        out[1] = static_cast<char>(0x80 | (code & 0x3F));
        return 2;
    }
    if (code < 0x10000) {
        out[0] = static_cast<char>(0xE0 | (code >> 12));
        out[1] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (code & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (code >> 18));
    out[1] = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (code & 0x3F));
    return 4;
}

int digitValue(char c, bool hex) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (hex && c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (hex && c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

XmlScanner::XmlScanner(Handler& handler, std::size_t maxTagBytes, std::size_t maxDepth)
    : m_handler(handler), m_maxTagBytes(maxTagBytes), m_maxDepth(maxDepth) {}

bool XmlScanner::fail(const char* why) {
    if (m_error.empty())
        m_error = std::string(why) + " at byte " + std::to_string(m_offset);
    return false;
}

bool XmlScanner::countTagByte() {
    if (++m_tagBytes > m_maxTagBytes)
        return fail("tag too long");
    return true;
}

bool XmlScanner::valueBytes(const char* p, std::size_t n) {
    m_valueAfterCR = false;
    if (m_streaming)
        return m_handler.streamChars(std::string_view(p, n)) || fail("rejected attribute");
    m_tagBytes += n;
    if (m_tagBytes > m_maxTagBytes)
        return fail("tag too long");
    m_attributes[m_attrCount].value.append(p, n);
    return true;
}

bool XmlScanner::valueChar(char c) {
    return valueBytes(&c, 1);
}

bool XmlScanner::endEntity() {
    const std::string_view e = m_entity;
    char out[4];
    std::size_t n = 0;
    if (e == "lt") {
        out[n++] = '<';
    } else if (e == "gt") {
        out[n++] = '>';
    } else if (e == "amp") {
        out[n++] = '&';
    } else if (e == "apos") {
        out[n++] = '\'';
    } else if (e == "quot") {
        out[n++] = '"';
    } else if (e.size() >= 2 && e[0] == '#') {
        const bool hex = e[1] == 'x';
        const std::string_view digits = e.substr(hex ? 2 : 1);
        if (digits.empty())
            return fail("malformed character reference");
        std::uint32_t code = 0;
        for (char d : digits) {
            const int v = digitValue(d, hex);
            if (v < 0)
                return fail("malformed character reference");
            code = code * (hex ? 16 : 10) + static_cast<std::uint32_t>(v);
            if (code > 0x10FFFF)
                return fail("character reference out of range");
        }
        if (code == 0 || (code >= 0xD800 && code <= 0xDFFF))
            return fail("character reference out of range");
        n = encodeUtf8(code, out);
    } else {
        return fail("unknown entity");
    }
    return valueBytes(out, n);
}

bool XmlScanner::startTagDone(bool empty) {
    if (m_depth >= m_maxDepth)
        return fail("elements nested too deeply");
    const std::size_t depth = m_depth + 1;
    if (!m_handler.startElement(m_name, m_attributes.data(), m_attrCount, depth))
        return fail("rejected element");
    if (empty) {
        if (!m_handler.endElement(m_name, depth))
            return fail("rejected element");
        if (depth == 1)
            m_rootClosed = true;
    } else {
        if (m_open.size() < depth)
            m_open.emplace_back();
        m_open[depth - 1] = m_name;
        m_depth = depth;
    }
    m_state = State::Text;
    return true;
}

bool XmlScanner::endTagDone() {
    if (m_name != m_open[m_depth - 1])
        return fail("closing tag does not match the open element");
    if (!m_handler.endElement(m_name, m_depth))
        return fail("rejected element");
    if (--m_depth == 0)
        m_rootClosed = true;
    m_state = State::Text;
    return true;
}

bool XmlScanner::step(char c) {
    switch (m_state) {
    case State::Text:
        // A byte order mark may open the file.
        if (m_offset < 3 && m_bomBytes == m_offset && c == "\xEF\xBB\xBF"[m_offset]) {
            ++m_bomBytes;
            return true;
        }
        if (m_bomBytes > 0 && m_bomBytes < 3)
            return fail("malformed byte order mark");
        if (c == '<') {
            m_state = State::Lt;
            m_tagBytes = 1;
            return true;
        }
        if (m_depth == 0 && !isSpace(c))
            return fail("text outside the root element");
        return true;

    case State::Lt:
        if (c == '/') {
            if (m_depth == 0)
                return fail("closing tag without an open element");
            m_name.clear();
            m_state = State::EndName;
            return countTagByte();
        }
        if (c == '?') {
            m_state = State::Pi;
            m_last1 = m_last2 = 0;
            return true;
        }
        if (c == '!') {
            m_bang.clear();
            m_state = State::Bang;
            return true;
        }
        if (isNameChar(c)) {
            if (m_rootClosed)
                return fail("more than one root element");
            m_name.assign(1, c);
            m_attrCount = 0;
            m_spaceBefore = false;
            m_state = State::StartName;
            return countTagByte();
        }
        return fail("malformed tag");

    case State::Bang: {
        m_bang.push_back(c);
        const std::string_view comment = "--";
        const std::string_view cdata = "[CDATA[";
        if (m_bang == comment) {
            m_state = State::Comment;
            m_last1 = m_last2 = 0;
            return true;
        }
        if (m_bang == cdata) {
            if (m_depth == 0)
                return fail("CDATA outside the root element");
            m_state = State::CData;
            m_last1 = m_last2 = 0;
            return true;
        }
        if (comment.starts_with(m_bang) || cdata.starts_with(m_bang))
            return true;
        // Document type declarations (and with them every entity
        // declaration) are refused outright.
        return fail("declarations are not accepted");
    }

    case State::Comment:
    case State::CData: {
        const char mark = m_state == State::Comment ? '-' : ']';
        if (c == '>' && m_last1 == mark && m_last2 == mark) {
            m_state = State::Text;
            return true;
        }
        m_last2 = m_last1;
        m_last1 = c;
        return true;
    }

    case State::Pi:
        if (c == '>' && m_last1 == '?') {
            m_state = State::Text;
            return true;
        }
        m_last1 = c;
        return true;

    case State::StartName:
        if (isNameChar(c)) {
            m_name.push_back(c);
            return countTagByte();
        }
        if (isSpace(c)) {
            m_spaceBefore = true;
            m_state = State::InTag;
            return countTagByte();
        }
        if (c == '>')
            return startTagDone(false);
        if (c == '/') {
            m_state = State::EmptyClose;
            return countTagByte();
        }
        return fail("malformed element name");

    case State::InTag:
        if (isSpace(c)) {
            m_spaceBefore = true;
            return countTagByte();
        }
        if (c == '>')
            return startTagDone(false);
        if (c == '/') {
            m_state = State::EmptyClose;
            return countTagByte();
        }
        if (isNameChar(c)) {
            if (!m_spaceBefore)
                return fail("attributes must be separated by spaces");
            if (m_attrCount == kMaxAttributes)
                return fail("too many attributes");
            if (m_attributes.size() == m_attrCount)
                m_attributes.emplace_back();
            Attribute& a = m_attributes[m_attrCount];
            a.name.assign(1, c);
            a.value.clear();
            m_state = State::AttrName;
            return countTagByte();
        }
        return fail("malformed attribute");

    case State::AttrName:
        if (isNameChar(c)) {
            m_attributes[m_attrCount].name.push_back(c);
            return countTagByte();
        }
        if (isSpace(c)) {
            m_state = State::AfterAttrName;
            return countTagByte();
        }
        if (c == '=') {
            m_state = State::BeforeValue;
            return countTagByte();
        }
        return fail("malformed attribute name");

    case State::AfterAttrName:
        if (isSpace(c))
            return countTagByte();
        if (c == '=') {
            m_state = State::BeforeValue;
            return countTagByte();
        }
        return fail("attribute without value");

    case State::BeforeValue:
        if (isSpace(c))
            return countTagByte();
        if (c == '"' || c == '\'') {
            const std::string& name = m_attributes[m_attrCount].name;
            for (std::size_t i = 0; i < m_attrCount; ++i)
                if (m_attributes[i].name == name)
                    return fail("attribute given twice");
            m_quote = c;
            m_streaming = m_handler.streamAttribute(m_name, name, m_depth + 1);
            m_valueAfterCR = false;
            m_state = State::Value;
            return countTagByte();
        }
        return fail("attribute value without quotes");

    case State::Value:
        if (c == m_quote) {
            ++m_attrCount;
            m_spaceBefore = false;
            m_state = State::InTag;
            if (m_streaming) {
                m_streaming = false;
                if (!m_handler.streamEnd())
                    return fail("rejected attribute");
            }
            return countTagByte();
        }
        switch (c) {
        case '&':
            m_entity.clear();
            m_state = State::Entity;
            return true;
        case '<':
            return fail("'<' in an attribute value");
        case '\0':
            return fail("zero byte in an attribute value");
        case '\r':
            if (!valueChar(' '))
                return false;
            m_valueAfterCR = true;
            return true;
        case '\n':
            if (m_valueAfterCR) {
                m_valueAfterCR = false;
                return true;
            }
            return valueChar(' ');
        default: // TAB
            return valueChar(' ');
        }

    case State::Entity:
        if (c == ';') {
            m_state = State::Value;
            return endEntity();
        }
        if (m_entity.size() == kMaxEntity)
            return fail("unknown entity");
        m_entity.push_back(c);
        return true;

    case State::EmptyClose:
        if (c == '>')
            return startTagDone(true);
        return fail("malformed empty element");

    case State::EndName:
        if (isNameChar(c)) {
            m_name.push_back(c);
            return countTagByte();
        }
        if (isSpace(c)) {
            m_state = State::AfterEndName;
            return countTagByte();
        }
        if (c == '>')
            return endTagDone();
        return fail("malformed closing tag");

    case State::AfterEndName:
        if (isSpace(c))
            return countTagByte();
        if (c == '>')
            return endTagDone();
        return fail("malformed closing tag");
    }
    return fail("internal state");
}

bool XmlScanner::feed(const char* data, std::size_t size) {
    if (!m_error.empty())
        return false;
    const char* p = data;
    const char* const end = data + size;
    while (p < end) {
        if (m_state == State::Text && m_depth > 0) {
            // Text inside the packet carries nothing; jump to the next tag.
            const void* lt = std::memchr(p, '<', static_cast<std::size_t>(end - p));
            if (lt == nullptr) {
                m_offset += static_cast<std::uint64_t>(end - p);
                return true;
            }
            m_offset += static_cast<std::uint64_t>(static_cast<const char*>(lt) - p);
            p = static_cast<const char*>(lt);
        } else if (m_state == State::StartName || m_state == State::AttrName ||
                   m_state == State::EndName) {
            // Names are read a run at a time rather than byte by byte.
            const char* q = p;
            while (q < end && isNameChar(*q))
                ++q;
            if (q > p) {
                const auto n = static_cast<std::size_t>(q - p);
                m_tagBytes += n;
                if (m_tagBytes > m_maxTagBytes)
                    return fail("tag too long");
                std::string& name =
                    m_state == State::AttrName ? m_attributes[m_attrCount].name : m_name;
                name.append(p, n);
                m_offset += n;
                p = q;
                if (p == end)
                    return true;
            }
        } else if (m_state == State::Value) {
            const char* q = p;
            while (q < end && isPlainValueByte(*q, m_quote))
                ++q;
            if (q > p) {
                if (!valueBytes(p, static_cast<std::size_t>(q - p)))
                    return false;
                m_offset += static_cast<std::uint64_t>(q - p);
                p = q;
                if (p == end)
                    return true;
            }
        }
        if (!step(*p))
            return false;
        ++p;
        ++m_offset;
    }
    return true;
}

bool XmlScanner::finish() {
    if (!m_error.empty())
        return false;
    if (m_state != State::Text || m_depth != 0 || !m_rootClosed)
        return fail("the document ends early");
    return true;
}

} // namespace kq::files
