// Where each key and value of a JSON text stands, by line and column, so
// that a message about a well-formed but wrong patch can point at the spot.
#ifndef VXHOST_TOOL_JSONLOCATOR_H
#define VXHOST_TOOL_JSONLOCATOR_H

#include <map>
#include <string>
#include <vector>

#include "Patch.h"

namespace vxhost {

// A path into the JSON text: object keys and array indexes as text.
using JsonPath = std::vector<std::string>;

class JsonLocator {
public:
    // The text must be well-formed JSON (it has been parsed already).
    explicit JsonLocator(const std::string& text);
    // The first character of the value at `path` (for a string, the opening quote).
    Location Value(const JsonPath& path) const;
    // The opening quote of the key that leads to `path`; the value's place for array items.
    Location Key(const JsonPath& path) const;
    // The second appearance of the first key that an object holds twice
    // (line 0 when none does), and that key.
    Location DuplicateKey(std::string* key) const;
    // The first number too large for a double (line 0 when none is).
    Location OverflowingNumber() const;

private:
    void ParseValue(JsonPath& path);
    void ParseObject(JsonPath& path);
    void ParseArray(JsonPath& path);
    std::string ParseString();
    void SkipBlanks();
    void Advance();
    Location Here() const { return {m_line, m_column}; }
    static std::string Join(const JsonPath& path);

    const std::string& m_text;
    size_t m_at = 0;
    size_t m_line = 1;
    size_t m_column = 1;
    std::map<std::string, Location> m_values;
    std::map<std::string, Location> m_keys;
    std::string m_duplicate_key;
    Location m_duplicate{};
    Location m_overflow{};
};

// Line and column of a byte offset (as parse errors report them).
Location LocationOfOffset(const std::string& text, size_t offset);

}  // namespace vxhost

#endif  // VXHOST_TOOL_JSONLOCATOR_H
