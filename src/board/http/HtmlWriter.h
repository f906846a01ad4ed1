#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace velmora::board {

// One attribute of an element; the value is always escaped.
struct Attribute {
    std::string_view name;
    std::string_view value;
};

// Writes HTML (and inline SVG) with every text and attribute value escaped. Element and attribute
// names must be plain lower-case words: they are checked, so no text reaches the page as markup
// through them. The one way to put markup in unescaped is trustedMarkup(), named so that every use
// is easy to find and question.
class HtmlWriter {
public:
    HtmlWriter& open(std::string_view tag, std::initializer_list<Attribute> attributes = {});
    HtmlWriter& close(std::string_view tag);
    // An element without content, written <tag ...> (void HTML elements) or <tag .../> in SVG.
    HtmlWriter& empty(std::string_view tag, std::initializer_list<Attribute> attributes = {});
    HtmlWriter& selfClosing(std::string_view tag, std::initializer_list<Attribute> attributes = {});
    HtmlWriter& text(std::string_view text);
    // open + text + close.
    HtmlWriter& element(std::string_view tag, std::initializer_list<Attribute> attributes, std::string_view text);
    HtmlWriter& element(std::string_view tag, std::string_view text) { return element(tag, {}, text); }

    // Markup the program wrote itself (the doctype); never a text that came from a request or the store.
    HtmlWriter& trustedMarkup(std::string_view markup);

    const std::string& html() const { return m_out; }
    std::string take() { return std::move(m_out); }

private:
    void writeStart(std::string_view tag, std::initializer_list<Attribute> attributes);
    std::string m_out;
};

// The text with & < > " ' replaced by character references; invalid UTF-8 becomes U+FFFD.
std::string escapeHtml(std::string_view text);

}  // namespace velmora::board
