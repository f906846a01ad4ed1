#include "board/http/HtmlWriter.h"

#include <cstdint>
#include <stdexcept>

namespace velmora::board {

namespace {

bool isName(std::string_view name)
{
    if (name.empty())
        return false;
    for (char c : name) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == ':';
        if (!ok)
            return false;
    }
    return true;
}

void checkName(std::string_view name)
{
    // A name is always a literal in the page code; anything else is a programming error.
    if (!isName(name))
        throw std::invalid_argument("not an element or attribute name: " + std::string(name));
}

// Length of the valid UTF-8 sequence at text[i], 0 when it is not one.
std::size_t utf8Length(std::string_view text, std::size_t i)
{
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char c = byte(i);
    std::size_t length = 0;
    std::uint32_t min = 0;
    std::uint32_t code = 0;
    if (c < 0x80)
        return 1;
    if ((c & 0xE0) == 0xC0) {
        length = 2;
        min = 0x80;
        code = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
        length = 3;
        min = 0x800;
        code = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
        length = 4;
        min = 0x10000;
        code = c & 0x07;
    } else {
        return 0;
    }
    if (i + length > text.size())
        return 0;
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80)
            return 0;
        code = (code << 6) | (byte(i + k) & 0x3F);
    }
    if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    return length;
}

}  // namespace

std::string escapeHtml(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    for (std::size_t i = 0; i < text.size();) {
        const char c = text[i];
        switch (c) {
        case '&': out += "&amp;"; ++i; continue;
        case '<': out += "&lt;"; ++i; continue;
        case '>': out += "&gt;"; ++i; continue;
        case '"': out += "&quot;"; ++i; continue;
        case '\'': out += "&#39;"; ++i; continue;
        case '\0': out += "\xEF\xBF\xBD"; ++i; continue;
        default: break;
        }
        const std::size_t length = utf8Length(text, i);
        if (length == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
        } else {
            out.append(text.substr(i, length));
            i += length;
        }
    }
    return out;
}

void HtmlWriter::writeStart(std::string_view tag, std::initializer_list<Attribute> attributes)
{
    checkName(tag);
    m_out += '<';
    m_out += tag;
    for (const Attribute& a : attributes) {
        checkName(a.name);
        m_out += ' ';
        m_out += a.name;
        m_out += "=\"";
        m_out += escapeHtml(a.value);
        m_out += '"';
    }
}

HtmlWriter& HtmlWriter::open(std::string_view tag, std::initializer_list<Attribute> attributes)
{
    writeStart(tag, attributes);
    m_out += '>';
    return *this;
}

HtmlWriter& HtmlWriter::close(std::string_view tag)
{
    checkName(tag);
    m_out += "</";
    m_out += tag;
    m_out += '>';
    return *this;
}

HtmlWriter& HtmlWriter::empty(std::string_view tag, std::initializer_list<Attribute> attributes)
{
    return open(tag, attributes);
}

HtmlWriter& HtmlWriter::selfClosing(std::string_view tag, std::initializer_list<Attribute> attributes)
{
    writeStart(tag, attributes);
    m_out += "/>";
    return *this;
}

HtmlWriter& HtmlWriter::text(std::string_view text)
{
    m_out += escapeHtml(text);
    return *this;
}

HtmlWriter& HtmlWriter::element(std::string_view tag, std::initializer_list<Attribute> attributes, std::string_view text)
{
    open(tag, attributes);
    this->text(text);
    return close(tag);
}

HtmlWriter& HtmlWriter::trustedMarkup(std::string_view markup)
{
    m_out += markup;
    return *this;
}

}  // namespace velmora::board
