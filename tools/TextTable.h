// Columns of text lined up for people to read.
#ifndef VXHOST_TOOL_TEXTTABLE_H
#define VXHOST_TOOL_TEXTTABLE_H

#include <ostream>
#include <string>
#include <vector>

namespace vxhost {

class TextTable {
public:
    explicit TextTable(std::vector<std::string> headings) : m_rows{std::move(headings)} {}
    void Add(std::vector<std::string> row) { m_rows.push_back(std::move(row)); }
    void Print(std::ostream& out) const;

private:
    std::vector<std::vector<std::string>> m_rows;
};

}  // namespace vxhost

#endif  // VXHOST_TOOL_TEXTTABLE_H
