// What a host reads before it makes a sound: the module properties, the
// instance record, and the pin table.
#include <cmath>
#include <cstring>
#include <set>
#include <sstream>

#include "PinValues.h"
#include "ValidatorChecks.h"

namespace vxhost {

namespace {

// Longer texts are taken as unterminated.
constexpr size_t kLongestText = 1024;
// Past this many descriptions a module is taken to answer true for every index.
constexpr int32_t kMostPins = 4096;
// Bytes a host puts in a record before asking, to see what the module writes.
constexpr unsigned char kPattern = 0x5A;

// Null when the text is fine, else what is wrong with it.
std::string TextProblem(const char* text, bool may_be_empty) {
    if (text == nullptr) return "is missing (null)";
    size_t length = 0;
    while (length < kLongestText && text[length] != '\0') ++length;
    if (length == kLongestText) return "has no terminating zero within " + std::to_string(kLongestText) + " bytes";
    if (length == 0 && !may_be_empty) return "is empty";
    for (size_t i = 0; i < length; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7F) return "contains the control character " + std::to_string(c);
    }
    return "";
}

void RequireText(CheckLog& log, const std::string& what, const char* text, bool may_be_empty = false) {
    const std::string problem = TextProblem(text, may_be_empty);
    if (!problem.empty()) log.Fail(what + " " + problem);
}

bool SameBytes(const void* a, const void* b, size_t n) { return std::memcmp(a, b, n) == 0; }

VXIntPtr AskPin(VXPluginRecord* record, int32_t index, VXPinProperties* properties) {
    return record->dispatcher(record, OP_GET_PIN_PROPERTIES, index, 0, properties, 0.0f);
}

std::string Trim(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// "label=value,..." with labels present and unique, values whole 16-bit
// numbers and unique. Empty when well formed.
std::string ChoiceListProblem(const std::string& list) {
    if (Trim(list).empty()) return "lists no choices";
    std::set<std::string> labels;
    std::set<double> values;
    std::stringstream entries(list);
    std::string entry;
    while (std::getline(entries, entry, ',')) {
        const size_t equals = entry.find('=');
        if (equals == std::string::npos) return "has the entry \"" + entry + "\" without '='";
        const std::string label = Trim(entry.substr(0, equals));
        double value = 0.0;
        if (label.empty()) return "has the entry \"" + entry + "\" without a label";
        if (!ParseNumber(entry.substr(equals + 1), &value) || value != std::floor(value) || value < INT16_MIN ||
            value > INT16_MAX)
            return "has the entry \"" + entry + "\" whose value is not a whole number from -32768 to 32767";
        if (!labels.insert(label).second) return "names the choice \"" + label + "\" twice";
        if (!values.insert(value).second) return "gives the value of \"" + label + "\" to another choice too";
    }
    if (!list.empty() && list.back() == ',') return "ends with an empty entry";
    return "";
}

bool KnownDirection(int32_t direction) {
    return direction == DR_IN || direction == DR_OUT || direction == DR_PARAMETER;
}

bool KnownDatatype(int32_t datatype) {
    return datatype == DT_ENUM || datatype == DT_BOOL || datatype == DT_FSAMPLE || datatype == DT_FLOAT ||
           datatype == DT_INT;
}

bool FlagRuleHolds(const VXPinProperties& p) {
    return (p.flags & IO_PATCH_STORE) == 0 || (p.flags & IO_PRIVATE) != 0 || p.direction == DR_OUT ||
           (p.flags & IO_UI_COMMUNICATION) != 0;
}

void CheckDefault(CheckLog& log, const std::string& label, const VXPinProperties& p) {
    if (p.direction == DR_OUT || !KnownDatatype(p.datatype)) return;
    if (p.default_value == nullptr) {
        log.Warn(label + " has no default value");
        return;
    }
    RequireText(log, label + "'s default value", p.default_value, false);
    if (!TextProblem(p.default_value, false).empty()) return;
    const NodePin pin = ToNodePin(p);
    double value = 0.0;
    std::string error;
    std::string text = p.default_value;
    if (pin.kind == PinKind::Audio && !text.empty() && (text.back() == 'V' || text.back() == 'v')) text.pop_back();
    const bool parses =
        pin.kind == PinKind::Audio ? ParseNumber(text, &value) : ParsePinValue(pin, text, &value, &error);
    if (!parses) {
        log.Fail(label + "'s default value \"" + p.default_value + "\" does not parse as a value of its type");
        return;
    }
    if (p.datatype == DT_ENUM) {
        bool listed = false;
        for (const Choice& c : ParseChoices(pin.choices)) listed = listed || c.value == value;
        if (!listed) log.Fail(label + "'s default value \"" + p.default_value + "\" is none of its choices");
    }
}

}  // namespace

void CheckModuleProperties(const CheckContext& context, CheckLog& log) {
    const PluginLibrary& library = *context.library;
    VXModuleProperties first;
    std::memset(&first, kPattern, sizeof first);
    VXModuleProperties untouched;
    std::memset(&untouched, kPattern, sizeof untouched);
    log.Stage("getModuleProperties(0)");
    const int32_t answer = library.GetModuleProperties()(0, &first);
    if (answer != 1) log.Fail("getModuleProperties(0) answered " + std::to_string(answer) + " instead of 1");
    if (first.sdk_version != VX_SDK_VERSION)
        log.Fail("the framework version is " + std::to_string(first.sdk_version) + ", not " +
                 std::to_string(VX_SDK_VERSION));
    if (!SameBytes(first.host_reserved, untouched.host_reserved, sizeof first.host_reserved))
        log.Fail("getModuleProperties wrote into the host's reserved words");
    RequireText(log, "the module id", first.id);
    RequireText(log, "the module name", first.name);
    RequireText(log, "the about text", first.about, true);

    log.Stage("getModuleProperties(0) again");
    VXModuleProperties again;
    std::memset(&again, kPattern, sizeof again);
    library.GetModuleProperties()(0, &again);
    if (first.id != nullptr && again.id != nullptr && TextProblem(first.id, false).empty() &&
        TextProblem(again.id, false).empty() && std::strcmp(first.id, again.id) != 0)
        log.Fail("getModuleProperties(0) gives a different id on the second call");

    for (int32_t index : {1, 2, -1, INT32_MAX}) {
        log.Stage("getModuleProperties(" + std::to_string(index) + ")");
        VXModuleProperties other;
        std::memset(&other, kPattern, sizeof other);
        const int32_t r = library.GetModuleProperties()(index, &other);
        if (r != 0)
            log.Fail("getModuleProperties(" + std::to_string(index) + ") answered " + std::to_string(r) +
                     "; only module 0 exists");
        if (!SameBytes(&other.id, &untouched.id, 3 * sizeof other.id))
            log.Fail("getModuleProperties(" + std::to_string(index) +
                     ") wrote module texts for a module that does not exist");
    }

    const int32_t refused[][2] = {{1, 1}, {0, 0}, {0, 2}, {-1, 1}, {0, -1}};
    for (const auto& pair : refused) {
        log.Stage("makeModule(" + std::to_string(pair[0]) + ", " + std::to_string(pair[1]) + ")");
        VXPluginRecord* record = library.MakeModule()(pair[0], pair[1], nullptr, nullptr);
        if (record == nullptr) continue;
        log.Fail("makeModule(" + std::to_string(pair[0]) + ", " + std::to_string(pair[1]) +
                 ") made an instance; only index 0 with profile 1 may");
        record->dispatcher(record, OP_CLOSE, 0, 0, nullptr, 0.0f);
    }
}

void CheckInstanceRecord(const CheckContext& context, CheckLog& log) {
    const PluginLibrary& library = *context.library;
    int marker = 0;
    log.Stage("makeModule(0, 1)");
    VXPluginRecord* record = library.MakeModule()(0, 1, nullptr, &marker);
    if (record == nullptr) {
        log.Fail("makeModule(0, 1, ...) returned no instance");
        return;
    }
    if (record->magic != VX_PLUGIN_MAGIC) log.Fail("the record's magic word is not \"VXP{\"");
    if (record->version != VX_PLUGIN_RECORD_VERSION)
        log.Fail("the record's version is " + std::to_string(record->version) + ", not 1");
    if (record->host_data != &marker) log.Fail("the record does not carry the host data given to makeModule");
    if (record->object == nullptr) log.Fail("the record's object is null");
    if (record->dispatcher == nullptr) log.Fail("the record has no dispatcher");
    if (record->process_function == nullptr) log.Fail("the record has no processing function");
    if (record->event_function == nullptr) log.Fail("the record has no event function");
    if (record->sample_rate != 44100.0f)
        log.Fail("the record's sample rate starts at " + Describe(record->sample_rate) + ", not 44100");
    if (record->block_size != 1024)
        log.Fail("the record's block size starts at " + std::to_string(record->block_size) + ", not 1024");
    if (record->reserved1 != 0 || record->reserved2[0] != 0 || record->reserved2[1] != 0 || record->reserved2[2] != 0 ||
        record->reserved2[3] != 0)
        log.Warn("the record's reserved words are not zero");
    if (record->dispatcher == nullptr) return;

    log.Stage("dispatcher: sample rate and block size");
    record->dispatcher(record, OP_SAMPLE_RATE, 0, 0, nullptr, 48000.0f);
    record->dispatcher(record, OP_BLOCK_SIZE, 0, 333, nullptr, 0.0f);
    if (record->sample_rate != 48000.0f)
        log.Fail("OP_SAMPLE_RATE 48000 left the record's sample rate at " + Describe(record->sample_rate));
    if (record->block_size != 333)
        log.Fail("OP_BLOCK_SIZE 333 left the record's block size at " + std::to_string(record->block_size));
    // Opcodes 7 and 10 are not for modules; every other unknown one is answered 0.
    for (int32_t opcode : {4, 5, 9, 11, 14, 15, 100, 1000, -1, INT32_MIN}) {
        log.Stage("dispatcher opcode " + std::to_string(opcode));
        const VXIntPtr r = record->dispatcher(record, opcode, 0, 0, nullptr, 0.0f);
        if (r != 0)
            log.Fail("the dispatcher answered " + std::to_string(static_cast<long long>(r)) + " to opcode " +
                     std::to_string(opcode) + ", which modules do not know");
    }
    log.Stage("OP_CLOSE");
    const VXIntPtr closed = record->dispatcher(record, OP_CLOSE, 0, 0, nullptr, 0.0f);
    if (closed != 1) log.Fail("OP_CLOSE answered " + std::to_string(static_cast<long long>(closed)) + " instead of 1");
}

void CheckPinTable(const CheckContext& context, CheckLog& log) {
    VXPluginRecord* record = context.library->MakeModule()(0, 1, nullptr, nullptr);
    if (record == nullptr) {
        log.Fail("makeModule(0, 1, ...) returned no instance");
        return;
    }
    std::vector<std::pair<std::string, void*>> variables;
    int32_t declared = 0;
    bool any_output = false;
    for (; declared < kMostPins; ++declared) {
        const std::string label = "pin description " + std::to_string(declared);
        log.Stage("asking for " + label);
        VXPinProperties p{};
        if (AskPin(record, declared, &p) == 0) break;
        const std::string named =
            label + (TextProblem(p.name, false).empty() ? " ('" + std::string(p.name) + "')" : "");
        RequireText(log, named + "'s name", p.name);
        if (!KnownDirection(p.direction))
            log.Fail(named + " has the unknown direction code " + std::to_string(p.direction));
        if (!KnownDatatype(p.datatype))
            log.Fail(named + " has the unknown data type code " + std::to_string(p.datatype));
        if (!FlagRuleHolds(p))
            log.Fail(named + " has IO_PATCH_STORE without IO_PRIVATE or IO_UI_COMMUNICATION and is not an output");
        if (p.datatype == DT_ENUM) {
            const std::string problem =
                TextProblem(p.datatype_extra, false).empty() ? ChoiceListProblem(p.datatype_extra) : "is missing";
            if (!problem.empty()) log.Fail(named + "'s choice list " + problem);
        }
        CheckDefault(log, named, p);
        if (p.direction == DR_OUT && p.datatype == DT_FSAMPLE) any_output = true;
        if (p.variable_address != nullptr) {
            for (const auto& v : variables)
                if (v.second == p.variable_address) log.Fail(named + " and " + v.first + " name the same variable");
            variables.push_back({named, p.variable_address});
        }
    }
    if (declared == kMostPins)
        log.Fail("answered true for " + std::to_string(kMostPins) +
                 " pin descriptions; it never says where the table ends");
    if (declared == 0)
        log.Warn("describes no pins");
    else if (!any_output)
        log.Warn("has no audio output, so the processing checks have nothing to listen to");
    record->dispatcher(record, OP_CLOSE, 0, 0, nullptr, 0.0f);
}

void CheckPinQueries(const CheckContext& context, CheckLog& log) {
    const PluginLibrary& library = *context.library;
    VXPluginRecord* first = library.MakeModule()(0, 1, nullptr, nullptr);
    VXPluginRecord* second = library.MakeModule()(0, 1, nullptr, nullptr);
    if (first == nullptr || second == nullptr) {
        log.Fail("makeModule(0, 1, ...) returned no instance");
        if (first != nullptr) first->dispatcher(first, OP_CLOSE, 0, 0, nullptr, 0.0f);
        if (second != nullptr) second->dispatcher(second, OP_CLOSE, 0, 0, nullptr, 0.0f);
        return;
    }
    int32_t count = 0;
    for (; count < kMostPins; ++count) {
        log.Stage("asking twice for pin description " + std::to_string(count));
        VXPinProperties a{}, b{}, c{};
        const VXIntPtr ra = AskPin(first, count, &a);
        const VXIntPtr rb = AskPin(first, count, &b);
        const VXIntPtr rc = AskPin(second, count, &c);
        const std::string label = "pin description " + std::to_string(count);
        if (ra != rb || !SameBytes(&a, &b, sizeof a)) log.Fail(label + " is answered differently when asked again");
        a.variable_address = c.variable_address = nullptr;
        if (ra != rc || !SameBytes(&a, &c, sizeof a))
            log.Fail(label + " differs between two instances (beyond its variable)");
        if (ra != 0 && ra != 1)
            log.Fail("asking for " + label + " answered " + std::to_string(static_cast<long long>(ra)) +
                     ", not 0 or 1");
        if (ra == 0) break;
    }
    const int32_t beyond[] = {count, count + 1, count + 1000, INT32_MAX, -1, -2, -1000, INT32_MIN};
    for (int32_t index : beyond) {
        log.Stage("asking for pin description " + std::to_string(index));
        VXPinProperties p, before;
        std::memset(&p, kPattern, sizeof p);
        std::memcpy(&before, &p, sizeof p);
        const VXIntPtr r = AskPin(first, index, &p);
        if (r != 0)
            log.Fail("answered " + std::to_string(static_cast<long long>(r)) + " for pin description " +
                     std::to_string(index) + ", past the table");
        else if (!SameBytes(&p, &before, sizeof p))
            log.Fail("wrote into the record when asked for pin description " + std::to_string(index) +
                     ", past the table");
    }
    first->dispatcher(first, OP_CLOSE, 0, 0, nullptr, 0.0f);
    second->dispatcher(second, OP_CLOSE, 0, 0, nullptr, 0.0f);
}

}  // namespace vxhost
