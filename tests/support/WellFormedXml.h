// Whether a text is well-formed XML as far as the validator's reports need:
// one root element, every element closed in order, attribute values quoted,
// and no '<' or stray '&' in text or values. The name of what is wrong, or
// empty. Counts the elements by name for the caller to look at.
#ifndef VX_TESTS_WELLFORMEDXML_H
#define VX_TESTS_WELLFORMEDXML_H

#include <cctype>
#include <map>
#include <string>
#include <vector>

inline bool XmlEntityAt(const std::string& text, size_t at) {
    for (const char* entity : {"&amp;", "&lt;", "&gt;", "&quot;", "&apos;"})
        if (text.compare(at, std::string(entity).size(), entity) == 0) return true;
    if (text.compare(at, 2, "&#") != 0) return false;
    size_t i = at + 2;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i;
    return i > at + 2 && i < text.size() && text[i] == ';';
}

inline std::string XmlProblem(const std::string& xml, std::map<std::string, int>* counts = nullptr) {
    std::vector<std::string> open;
    bool root_seen = false;
    size_t i = 0;
    if (xml.compare(0, 5, "<?xml") == 0) i = xml.find("?>") + 2;
    while (i < xml.size()) {
        if (xml[i] == '&') {
            if (!XmlEntityAt(xml, i)) return "a stray & at " + std::to_string(i);
            ++i;
            continue;
        }
        if (xml[i] != '<') {
            if (open.empty() && !std::isspace(static_cast<unsigned char>(xml[i])))
                return "text outside the root at " + std::to_string(i);
            ++i;
            continue;
        }
        const bool closing = i + 1 < xml.size() && xml[i + 1] == '/';
        size_t j = i + (closing ? 2 : 1);
        const size_t name_start = j;
        while (j < xml.size() && (std::isalnum(static_cast<unsigned char>(xml[j])) || xml[j] == '-' || xml[j] == '_'))
            ++j;
        const std::string name = xml.substr(name_start, j - name_start);
        if (name.empty()) return "a tag without a name at " + std::to_string(i);
        // Attributes: name="value" with no '<' and only entities after '&'.
        for (;;) {
            while (j < xml.size() && std::isspace(static_cast<unsigned char>(xml[j]))) ++j;
            if (j >= xml.size()) return "an unclosed tag " + name;
            if (xml[j] == '>' || xml.compare(j, 2, "/>") == 0) break;
            if (closing) return "attributes in the closing tag " + name;
            const size_t equals = xml.find('=', j);
            if (equals == std::string::npos || equals + 1 >= xml.size() || xml[equals + 1] != '"')
                return "an unquoted attribute in " + name;
            const size_t end = xml.find('"', equals + 2);
            if (end == std::string::npos) return "an unterminated attribute in " + name;
            for (size_t k = equals + 2; k < end; ++k) {
                if (xml[k] == '<') return "a '<' in an attribute of " + name;
                if (xml[k] == '&' && !XmlEntityAt(xml, k)) return "a stray & in an attribute of " + name;
            }
            j = end + 1;
        }
        const bool empty = xml[j] == '/';
        if (closing) {
            if (open.empty() || open.back() != name) return "</" + name + "> closes nothing open";
            open.pop_back();
        } else {
            if (open.empty() && root_seen) return "a second root " + name;
            root_seen = true;
            if (counts != nullptr) ++(*counts)[name];
            if (!empty) open.push_back(name);
        }
        i = j + (empty ? 2 : 1);
    }
    if (!open.empty()) return "<" + open.back() + "> is never closed";
    return root_seen ? "" : "no root element";
}

#endif  // VX_TESTS_WELLFORMEDXML_H
