#include "PatchJson.h"

#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "JsonLocator.h"

namespace vxhost {

namespace {

using Json = nlohmann::ordered_json;

// Every voice is a copy of the whole patch; past this many the copies are
// more than any keyboard asks for.
constexpr double kMaxVoices = 64;

class PatchReader {
public:
    PatchReader(const std::string& text, const Json& root) : m_locator(text), m_root(root) {}

    PatchDescription Read() {
        std::string key;
        const Location duplicate = m_locator.DuplicateKey(&key);
        if (duplicate.line != 0) Fail("the key \"" + key + "\" appears twice in one object", duplicate);
        const JsonPath top;
        Expect(m_root, top, Json::value_t::object, "the patch must be a JSON object");
        for (auto it = m_root.begin(); it != m_root.end(); ++it) {
            const JsonPath path{it.key()};
            const Json& value = it.value();
            if (it.key() == "sample_rate")
                m_description.sample_rate = Number(value, path, 1.0, 10.0e6);
            else if (it.key() == "block_size")
                m_description.block_size = static_cast<int32_t>(Whole(value, path, 1, 1 << 20));
            else if (it.key() == "length")
                m_description.length_seconds = Number(value, path, 0.0, 1.0e7);
            else if (it.key() == "modules")
                ReadModules(value, path);
            else if (it.key() == "wires")
                ReadWires(value, path);
            else if (it.key() == "output")
                ReadOutputs(value, path);
            else if (it.key() == "voices") {
                m_description.voices = static_cast<int32_t>(Whole(value, path, 1, kMaxVoices));
                m_description.voices_where = m_locator.Value(path);
            } else if (it.key() == "notes")
                ReadNotes(value, path);
            else
                Fail("unknown key \"" + it.key() +
                         "\" (sample_rate, block_size, length, modules, wires, output, voices, notes)",
                     m_locator.Key(path));
        }
        if (m_description.modules.empty()) Fail("the patch has no modules", {1, 1});
        return m_description;
    }

private:
    [[noreturn]] void Fail(const std::string& message, Location where) { throw PatchError(message, where); }

    void Expect(const Json& value, const JsonPath& path, Json::value_t type, const std::string& message) {
        if (value.type() != type) Fail(message, m_locator.Value(path));
    }

    double Number(const Json& value, const JsonPath& path, double low, double high) {
        if (!value.is_number()) Fail(path.back() + " must be a number", m_locator.Value(path));
        const double number = value.get<double>();
        if (!(number >= low && number <= high))
            Fail(path.back() + " must lie between " + Format(low) + " and " + Format(high), m_locator.Value(path));
        return number;
    }

    double Whole(const Json& value, const JsonPath& path, double low, double high) {
        const double number = Number(value, path, low, high);
        if (number != std::floor(number)) Fail(path.back() + " must be a whole number", m_locator.Value(path));
        return number;
    }

    static std::string Format(double number) {
        char text[32];
        std::snprintf(text, sizeof text, "%.17g", number);
        return text;
    }

    // A source as text, and where its first character stands.
    std::string SourceText(const Json& value, const JsonPath& path, Location* where) {
        *where = m_locator.Value(path);
        if (value.is_string()) {
            ++where->column;  // past the opening quote
            return value.get<std::string>();
        }
        if (value.is_boolean()) return value.get<bool>() ? "true" : "false";
        if (value.is_number()) return Format(value.get<double>());
        Fail("expected a number or a text", *where);
    }

    std::string Text(const Json& value, const JsonPath& path) {
        if (!value.is_string()) Fail(path.back() + " must be a text", m_locator.Value(path));
        return value.get<std::string>();
    }

    void ReadModules(const Json& modules, const JsonPath& path) {
        Expect(modules, path, Json::value_t::object, "modules must be an object of named modules");
        for (auto it = modules.begin(); it != modules.end(); ++it)
            ReadModule(it.key(), it.value(), {path[0], it.key()});
    }

    void ReadModule(const std::string& name, const Json& module, const JsonPath& path) {
        Expect(module, path, Json::value_t::object, "a module must be an object with \"plugin\" or \"utility\"");
        ModuleEntry description;
        description.name = name;
        description.where = m_locator.Key(path);
        Location gains_where{};
        for (auto it = module.begin(); it != module.end(); ++it) {
            JsonPath at = path;
            at.push_back(it.key());
            const std::string& key = it.key();
            const Json& value = it.value();
            if (key == "plugin")
                description.plugin = Text(value, at);
            else if (key == "utility")
                description.utility = Text(value, at);
            else if (key == "inputs")
                description.inputs = static_cast<int32_t>(Whole(value, at, 1, 64));
            else if (key == "gains") {
                ReadGains(value, at, &description.gains);
                gains_where = m_locator.Value(at);
            } else if (key == "value" || key == "points" || key == "path")
                description.source = SourceText(value, at, &description.source_where);
            else if (key == "pins")
                ReadPins(name, value, at);
            else
                Fail("unknown key \"" + key + "\" in module \"" + name +
                         "\" (plugin, utility, pins, inputs, gains, value, points, path)",
                     m_locator.Key(at));
        }
        if (description.plugin.empty() == description.utility.empty())
            Fail("module \"" + name + "\" needs either \"plugin\" or \"utility\"", description.where);
        if (gains_where.line != 0 && description.gains.size() != static_cast<size_t>(description.inputs))
            Fail("module \"" + name + "\" has " + std::to_string(description.gains.size()) + " gains for " +
                     std::to_string(description.inputs) + " inputs",
                 gains_where);
        if (!description.plugin.empty() && !description.source.empty())
            Fail("module \"" + name + "\" is a plug-in; give its inputs under \"pins\"", description.source_where);
        m_description.modules.push_back(description);
    }

    void ReadGains(const Json& gains, const JsonPath& path, std::vector<float>* out) {
        Expect(gains, path, Json::value_t::array, "gains must be a list of numbers");
        for (size_t i = 0; i < gains.size(); ++i) {
            JsonPath at = path;
            at.push_back(std::to_string(i));
            out->push_back(static_cast<float>(Number(gains[i], at, -1.0e6, 1.0e6)));
        }
    }

    void ReadPins(const std::string& module, const Json& pins, const JsonPath& path) {
        Expect(pins, path, Json::value_t::object, "pins must be an object of pin names and sources");
        for (auto it = pins.begin(); it != pins.end(); ++it) {
            JsonPath at = path;
            at.push_back(it.key());
            PinSetting setting;
            setting.module = module;
            setting.pin = it.key();
            setting.where = m_locator.Key(at);
            setting.source = SourceText(it.value(), at, &setting.source_where);
            m_description.settings.push_back(setting);
        }
    }

    void ReadWires(const Json& wires, const JsonPath& path) {
        Expect(wires, path, Json::value_t::array, "wires must be a list of {\"from\": ..., \"to\": ...}");
        for (size_t i = 0; i < wires.size(); ++i) {
            JsonPath at = path;
            at.push_back(std::to_string(i));
            Expect(wires[i], at, Json::value_t::object,
                   "a wire must be {\"from\": \"module.pin\", \"to\": \"module.pin\"}");
            WireEntry wire;
            bool has_from = false;
            bool has_to = false;
            for (auto it = wires[i].begin(); it != wires[i].end(); ++it) {
                JsonPath end = at;
                end.push_back(it.key());
                if (it.key() == "from") {
                    wire.from = Text(it.value(), end);
                    wire.from_where = m_locator.Value(end);
                    has_from = true;
                } else if (it.key() == "to") {
                    wire.to = Text(it.value(), end);
                    wire.to_where = m_locator.Value(end);
                    has_to = true;
                } else {
                    Fail("unknown key \"" + it.key() + "\" in a wire (from, to)", m_locator.Key(end));
                }
            }
            if (!has_from || !has_to) Fail("a wire needs both \"from\" and \"to\"", m_locator.Value(at));
            m_description.wires.push_back(wire);
        }
    }

    void ReadNotes(const Json& notes, const JsonPath& path) {
        Expect(notes, path, Json::value_t::object,
               "notes must be an object like {\"gate\": \"env.Gate\", \"pitch\": \"osc.fc\"}");
        NoteMapping& mapping = m_description.notes;
        mapping.where = m_locator.Value(path);
        for (auto it = notes.begin(); it != notes.end(); ++it) {
            JsonPath at = path;
            at.push_back(it.key());
            const std::string& key = it.key();
            if (key == "gate") {
                mapping.gate = Text(it.value(), at);
                mapping.gate_where = m_locator.Value(at);
            } else if (key == "pitch") {
                mapping.pitch = Text(it.value(), at);
                mapping.pitch_where = m_locator.Value(at);
            } else if (key == "velocity") {
                mapping.velocity = Text(it.value(), at);
                mapping.velocity_where = m_locator.Value(at);
            } else if (key == "bend_range") {
                mapping.bend_range = Number(it.value(), at, 0.0, 96.0);
            } else {
                Fail("unknown key \"" + key + "\" in notes (gate, pitch, velocity, bend_range)", m_locator.Key(at));
            }
        }
        if (mapping.gate.empty() && mapping.pitch.empty() && mapping.velocity.empty())
            Fail("notes must name at least one of gate, pitch and velocity", mapping.where);
        m_description.has_notes = true;
    }

    void ReadOutputs(const Json& output, const JsonPath& path) {
        if (output.is_string()) {
            m_description.outputs.push_back({output.get<std::string>(), m_locator.Value(path)});
            return;
        }
        Expect(output, path, Json::value_t::array, "output must be \"module.pin\" or a list of them");
        if (output.empty()) Fail("output must name at least one pin", m_locator.Value(path));
        for (size_t i = 0; i < output.size(); ++i) {
            JsonPath at = path;
            at.push_back(std::to_string(i));
            m_description.outputs.push_back({Text(output[i], at), m_locator.Value(at)});
        }
    }

    JsonLocator m_locator;
    const Json& m_root;
    PatchDescription m_description;
};

}  // namespace

PatchDescription ParsePatchJson(const std::string& text) {
    Json root;
    try {
        root = Json::parse(text);
    } catch (const Json::parse_error& e) {
        // The library's message repeats the position; keep only its reason.
        std::string reason = e.what();
        const size_t colon = reason.rfind(": ");
        if (colon != std::string::npos) reason = reason.substr(colon + 2);
        const size_t offset = e.byte > 0 ? e.byte - 1 : 0;
        throw PatchError("malformed JSON: " + reason, LocationOfOffset(text, offset));
    } catch (const Json::out_of_range&) {
        // The library says which number but not where it stands.
        throw PatchError("a number too large to represent", JsonLocator(text).OverflowingNumber());
    }
    return PatchReader(text, root).Read();
}

}  // namespace vxhost
