#include "SourceSyntax.h"

#include "PinValues.h"

namespace vxhost {

namespace {

// The span [begin, end) of `text` without surrounding blanks.
void TrimSpan(const std::string& text, size_t* begin, size_t* end) {
    while (*begin < *end && (text[*begin] == ' ' || text[*begin] == '\t')) ++*begin;
    while (*end > *begin && (text[*end - 1] == ' ' || text[*end - 1] == '\t')) --*end;
}

bool LooksLikeStepList(const std::string& text) {
    const size_t colon = text.find(':');
    if (colon == std::string::npos) return false;
    double seconds = 0.0;
    return ParseNumber(text.substr(0, colon), &seconds);
}

}  // namespace

ParsedSource ParseSource(const std::string& text) {
    ParsedSource description;
    size_t begin = 0;
    size_t end = text.size();
    TrimSpan(text, &begin, &end);
    if (begin == end) throw SourceError("empty source", 1);
    if (!LooksLikeStepList(text.substr(begin, end - begin))) {
        description.text = text.substr(begin, end - begin);
        return description;
    }
    description.kind = ParsedSource::Kind::Steps;
    size_t item_begin = 0;
    while (item_begin <= text.size()) {
        size_t item_end = text.find(',', item_begin);
        if (item_end == std::string::npos) item_end = text.size();
        size_t b = item_begin;
        size_t e = item_end;
        TrimSpan(text, &b, &e);
        const size_t colon = text.find(':', b);
        if (b == e || colon == std::string::npos || colon >= e)
            throw SourceError("expected TIME:VALUE (seconds:value)", b + 1);
        size_t time_end = colon;
        size_t time_begin = b;
        TrimSpan(text, &time_begin, &time_end);
        double seconds = 0.0;
        if (!ParseNumber(text.substr(time_begin, time_end - time_begin), &seconds) || seconds < 0.0)
            throw SourceError("step time must be a number of seconds, 0 or more", time_begin + 1);
        if (!description.steps.empty() && seconds < description.steps.back().seconds)
            throw SourceError("step times must not go back", time_begin + 1);
        size_t value_begin = colon + 1;
        size_t value_end = e;
        TrimSpan(text, &value_begin, &value_end);
        if (value_begin == value_end) throw SourceError("missing value after ':'", colon + 2);
        description.steps.push_back({seconds, text.substr(value_begin, value_end - value_begin), value_begin + 1});
        item_begin = item_end + 1;
    }
    return description;
}

}  // namespace vxhost
