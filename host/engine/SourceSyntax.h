// Where an input's signal comes from, as a person writes it on the command
// line or in a patch: a value ("0.5", "5V", "2-Sided", "true"), a step list
// of seconds and values ("0:1,0.5:0"), or the path of an audio file.
#ifndef VXHOST_SOURCESYNTAX_H
#define VXHOST_SOURCESYNTAX_H

#include <cstddef>
#include <string>
#include <vector>

#include "HostError.h"

namespace vxhost {

struct SourceStep {
    double seconds = 0.0;
    std::string value;  // read against the pin it feeds
    size_t column = 0;  // 1-based column of the value in the source text
};

struct ParsedSource {
    enum class Kind { Single, Steps };
    Kind kind = Kind::Single;
    // Single: a value for the pin, or (for an audio pin, when it is not a
    // number) the path of an audio file.
    std::string text;
    std::vector<SourceStep> steps;  // Steps: in time order
};

// A source that cannot be read, with the 1-based column where reading stopped.
class SourceError : public HostError {
public:
    SourceError(const std::string& message, size_t column) : HostError(message), m_column(column) {}
    size_t Column() const { return m_column; }

private:
    size_t m_column;
};

ParsedSource ParseSource(const std::string& text);

}  // namespace vxhost

#endif  // VXHOST_SOURCESYNTAX_H
