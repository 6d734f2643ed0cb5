#include "JsonLocator.h"

#include <cmath>
#include <cstdlib>

namespace vxhost {

JsonLocator::JsonLocator(const std::string& text) : m_text(text) {
    JsonPath path;
    SkipBlanks();
    if (m_at < m_text.size()) ParseValue(path);
}

std::string JsonLocator::Join(const JsonPath& path) {
    std::string joined;
    for (const std::string& part : path) {
        joined += '\x1f';
        joined += part;
    }
    return joined;
}

Location JsonLocator::Value(const JsonPath& path) const {
    const auto it = m_values.find(Join(path));
    return it != m_values.end() ? it->second : Location{};
}

Location JsonLocator::Key(const JsonPath& path) const {
    const auto it = m_keys.find(Join(path));
    return it != m_keys.end() ? it->second : Value(path);
}

Location JsonLocator::DuplicateKey(std::string* key) const {
    *key = m_duplicate_key;
    return m_duplicate;
}

Location JsonLocator::OverflowingNumber() const { return m_overflow; }

void JsonLocator::Advance() {
    if (m_at >= m_text.size()) return;
    if (m_text[m_at] == '\n') {
        ++m_line;
        m_column = 1;
    } else if ((static_cast<unsigned char>(m_text[m_at]) & 0xC0) != 0x80) {
        ++m_column;  // columns count characters, not the bytes of one
    }
    ++m_at;
}

void JsonLocator::SkipBlanks() {
    while (m_at < m_text.size() &&
           (m_text[m_at] == ' ' || m_text[m_at] == '\t' || m_text[m_at] == '\n' || m_text[m_at] == '\r'))
        Advance();
}

std::string JsonLocator::ParseString() {
    std::string value;
    Advance();  // opening quote
    while (m_at < m_text.size() && m_text[m_at] != '"') {
        if (m_text[m_at] == '\\') {
            Advance();
            if (m_at >= m_text.size()) break;
            const char c = m_text[m_at];
            value += c == 'n' ? '\n' : c == 't' ? '\t' : c == 'r' ? '\r' : c == 'b' ? '\b' : c == 'f' ? '\f' : c;
        } else {
            value += m_text[m_at];
        }
        Advance();
    }
    Advance();  // closing quote
    return value;
}

void JsonLocator::ParseValue(JsonPath& path) {
    m_values[Join(path)] = Here();
    if (m_at >= m_text.size()) return;
    switch (m_text[m_at]) {
        case '{':
            ParseObject(path);
            return;
        case '[':
            ParseArray(path);
            return;
        case '"':
            ParseString();
            return;
        default: {
            const Location start = Here();
            const size_t first = m_at;
            while (m_at < m_text.size() && m_text[m_at] != ',' && m_text[m_at] != '}' && m_text[m_at] != ']' &&
                   m_text[m_at] != ' ' && m_text[m_at] != '\n' && m_text[m_at] != '\t' && m_text[m_at] != '\r')
                Advance();
            const std::string token = m_text.substr(first, m_at - first);
            const char c = token.empty() ? ' ' : token[0];
            if (m_overflow.line == 0 && (c == '-' || (c >= '0' && c <= '9')) &&
                !std::isfinite(std::strtod(token.c_str(), nullptr)))
                m_overflow = start;
        }
    }
}

void JsonLocator::ParseObject(JsonPath& path) {
    Advance();  // {
    SkipBlanks();
    while (m_at < m_text.size() && m_text[m_at] != '}') {
        const Location key_at = Here();
        path.push_back(ParseString());
        if (!m_keys.emplace(Join(path), key_at).second && m_duplicate.line == 0) {
            m_duplicate = key_at;
            m_duplicate_key = path.back();
        }
        SkipBlanks();
        Advance();  // :
        SkipBlanks();
        ParseValue(path);
        path.pop_back();
        SkipBlanks();
        if (m_at < m_text.size() && m_text[m_at] == ',') {
            Advance();
            SkipBlanks();
        }
    }
    Advance();  // }
}

void JsonLocator::ParseArray(JsonPath& path) {
    Advance();  // [
    SkipBlanks();
    size_t index = 0;
    while (m_at < m_text.size() && m_text[m_at] != ']') {
        path.push_back(std::to_string(index++));
        ParseValue(path);
        path.pop_back();
        SkipBlanks();
        if (m_at < m_text.size() && m_text[m_at] == ',') {
            Advance();
            SkipBlanks();
        }
    }
    Advance();  // ]
}

Location LocationOfOffset(const std::string& text, size_t offset) {
    Location where{1, 1};
    for (size_t i = 0; i < offset && i < text.size(); ++i) {
        if (text[i] == '\n') {
            ++where.line;
            where.column = 1;
        } else if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            ++where.column;
        }
    }
    return where;
}

}  // namespace vxhost
