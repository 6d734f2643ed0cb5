#include "Patch.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <set>

#include "CombinerNodes.h"
#include "PinValues.h"
#include "PluginNode.h"
#include "SourceNodes.h"
#include "SourceSyntax.h"

namespace vxhost {

namespace {

// Longer than anyone renders, short enough that sample counts stay exact.
constexpr double kMaxFrames = 1099511627776.0;  // 2^40

std::string NoSuchPin(const Node& node, const std::string& pin) {
    const std::string kind = node.Kind() != node.Name() ? " (" + node.Kind() + ")" : "";
    return "module \"" + node.Name() + "\"" + kind + " has no pin \"" + pin + "\"; its pins: " + node.PinNames();
}

Location Shifted(Location where, size_t column) {
    if (where.column == 0) return {where.line, column};
    return {where.line, where.column + column - 1};
}

class PatchBuilder {
public:
    PatchBuilder(const PatchDescription& description, const PluginResolver& resolve, const AudioLoader& load)
        : m_description(description), m_resolve(resolve), m_load(load) {}

    BuiltPatch Build() {
        m_patch.engine = std::make_unique<Engine>(m_description.sample_rate, m_description.block_size);
        for (const ModuleEntry& module : m_description.modules) AddModule(module);
        for (const PinSetting& setting : m_description.settings) ApplySetting(setting);
        for (const WireEntry& wire : m_description.wires) AddWire(wire);
        ChooseOutputs();
        m_patch.length_frames = m_description.length_seconds > 0.0
                                    ? SecondsToFrames(m_description.length_seconds, m_description.sample_rate, {})
                                    : std::max(m_auto_length, SecondsToFrames(1.0, m_description.sample_rate, {}));
        return std::move(m_patch);
    }

private:
    Engine& engine() { return *m_patch.engine; }

    void AddModule(const ModuleEntry& module) {
        if (module.name.empty() || module.name.find('.') != std::string::npos)
            throw PatchError("module name \"" + module.name + "\" must be non-empty and without '.'", module.where);
        if (engine().Find(module.name) >= 0)
            throw PatchError("two modules are called \"" + module.name + "\"", module.where);
        try {
            if (!module.plugin.empty()) {
                auto library = m_resolve(module.plugin);
                engine().Emplace<PluginNode>(library, module.name);
                m_last_plugin = module.name;
            } else {
                AddUtility(module);
            }
        } catch (const PatchError&) {
            throw;
        } catch (const HostError& e) {
            throw PatchError("module \"" + module.name + "\": " + e.what(), module.where);
        }
    }

    void AddUtility(const ModuleEntry& module) {
        const std::string& kind = module.utility;
        if (kind == "multiply") {
            engine().Emplace<MultiplierNode>(module.name, module.inputs);
        } else if (kind == "mix") {
            engine().Emplace<MixerNode>(module.name, module.inputs, module.gains);
        } else if (kind == "constant" || kind == "steps" || kind == "file") {
            NodePin pin;  // a source utility reads its text as an audio input would
            pin.name = module.name;
            const ParsedSource source = Parse(module.source, module.source_where);
            const bool is_steps = source.kind == ParsedSource::Kind::Steps;
            double value = 0.0;
            std::string ignored;
            const bool is_value = !is_steps && ParsePinValue(pin, source.text, &value, &ignored);
            if (kind == "steps" && !is_steps)
                throw PatchError("a steps module needs a step list like \"0:1,0.5:0\"", module.source_where);
            if (kind == "constant" && !is_value)
                throw PatchError("a constant module needs a number", module.source_where);
            if (kind == "file" && (is_steps || is_value))
                throw PatchError("a file module needs the path of an audio file", module.source_where);
            AddSource(module.name, pin, source, module.source_where, 0.0);
        } else {
            throw PatchError("unknown utility \"" + kind + "\" (constant, steps, file, multiply, mix)", module.where);
        }
    }

    ParsedSource Parse(const std::string& text, Location where) {
        try {
            return ParseSource(text);
        } catch (const SourceError& e) {
            throw PatchError(e.what(), Shifted(where, e.Column()));
        }
    }

    // Adds the module that produces `source` and names it `name`.
    NodeId AddSource(const std::string& name, const NodePin& pin, const ParsedSource& source, Location where,
                     double initial) {
        const double rate = m_description.sample_rate;
        if (source.kind == ParsedSource::Kind::Steps) {
            std::vector<StepPoint> points;
            for (const SourceStep& step : source.steps) {
                const Location at = Shifted(where, step.column);
                points.push_back(
                    {SecondsToFrames(step.seconds, rate, at), static_cast<float>(ReadValue(pin, step.value, at))});
            }
            m_auto_length = std::max(m_auto_length, points.back().clock + SecondsToFrames(1.0, rate, where));
            engine().Emplace<StepNode>(name, std::move(points), static_cast<float>(initial));
        } else {
            double value = 0.0;
            std::string ignored;
            if (ParsePinValue(pin, source.text, &value, &ignored)) {
                engine().Emplace<ConstantNode>(name, static_cast<float>(value));
            } else {
                // strtod takes "nan", "inf" and "1e999"; none of them is a value a
                // pin can hold, nor is it meant as a file name.
                char* end = nullptr;
                const double number = std::strtod(source.text.c_str(), &end);
                if (!source.text.empty() && end == source.text.c_str() + source.text.size() && !std::isfinite(number))
                    throw PatchError("\"" + source.text + "\" is not a finite number", where);
                std::vector<float> samples;
                try {
                    samples = m_load(source.text, rate);
                } catch (const HostError& e) {
                    throw PatchError(e.what(), where);
                }
                m_auto_length = std::max<uint64_t>(m_auto_length, samples.size());
                engine().Emplace<SampleNode>(name, std::move(samples));
            }
        }
        return engine().NodeCount() - 1;
    }

    double ReadValue(const NodePin& pin, const std::string& text, Location at) {
        double value = 0.0;
        std::string error;
        if (!ParsePinValue(pin, text, &value, &error)) throw PatchError(error, at);
        return value;
    }

    void ApplySetting(const PinSetting& setting) {
        const NodeId id = engine().Find(setting.module);
        if (id < 0) throw PatchError("unknown module \"" + setting.module + "\"", setting.where);
        Node& node = engine().At(id);
        const int32_t pin_number = node.FindPin(setting.pin);
        if (pin_number < 0) throw PatchError(NoSuchPin(node, setting.pin), setting.where);
        const NodePin& pin = node.Pins()[static_cast<size_t>(pin_number)];
        const std::string ref = node.Name() + "." + pin.name;
        if (pin.direction != PinDirection::Input)
            throw PatchError(ref + " is an output; only inputs and settings take a source", setting.where);
        if (pin.kind == PinKind::Other) throw PatchError(ref + " takes no value", setting.where);
        if (!m_given.insert(ref).second) throw PatchError(ref + " is given twice", setting.where);

        const ParsedSource source = Parse(setting.source, setting.source_where);
        if (pin.kind == PinKind::Value) {
            if (source.kind == ParsedSource::Kind::Single) {
                node.SetValue(pin_number, ReadValue(pin, source.text, setting.source_where));
                return;
            }
            for (const SourceStep& step : source.steps) {
                const Location at = Shifted(setting.source_where, step.column);
                node.ScheduleValue(pin_number, SecondsToFrames(step.seconds, m_description.sample_rate, at),
                                   ReadValue(pin, step.value, at));
            }
            m_auto_length = std::max(m_auto_length, SecondsToFrames(source.steps.back().seconds + 1.0,
                                                                    m_description.sample_rate, setting.source_where));
            return;
        }
        double value = 0.0;
        std::string ignored;
        if (source.kind == ParsedSource::Kind::Single && ParsePinValue(pin, source.text, &value, &ignored)) {
            node.SetValue(pin_number, value);
            return;
        }
        const NodeId source_id = AddSource(ref, pin, source, setting.source_where, pin.default_value);
        engine().Connect({source_id, 0}, {id, pin_number});
    }

    void AddWire(const WireEntry& wire) {
        const PinRef from = ResolvePinRef(engine(), wire.from, wire.from_where);
        const PinRef to = ResolvePinRef(engine(), wire.to, wire.to_where);
        if (m_given.count(engine().Describe(to)) != 0)
            throw PatchError(engine().Describe(to) + " has a source already; it cannot take a wire too", wire.to_where);
        try {
            engine().Connect(from, to);
        } catch (const HostError& e) {
            throw PatchError(e.what(), wire.from_where);
        }
    }

    void ChooseOutputs() {
        for (const OutputEntry& output : m_description.outputs) {
            const PinRef ref = ResolvePinRef(engine(), output.ref, output.where);
            if (engine().At(ref.node).Pins()[static_cast<size_t>(ref.pin)].direction != PinDirection::Output)
                throw PatchError(engine().Describe(ref) + " is an input; the patch's output must be a module's output",
                                 output.where);
            m_patch.outputs.push_back(ref);
        }
        if (m_patch.outputs.empty() && !m_last_plugin.empty()) {
            const NodeId id = engine().Find(m_last_plugin);
            const Node& node = engine().At(id);
            for (int32_t pin = 0; pin < node.PinCount(); ++pin)
                if (node.Pins()[static_cast<size_t>(pin)].direction == PinDirection::Output &&
                    node.Pins()[static_cast<size_t>(pin)].kind == PinKind::Audio)
                    m_patch.outputs.push_back({id, pin});
        }
        if (m_patch.outputs.empty()) throw PatchError("the patch has no output to render", {});
        for (const PinRef& ref : m_patch.outputs) m_patch.output_names.push_back(engine().Describe(ref));
    }

    const PatchDescription& m_description;
    const PluginResolver& m_resolve;
    const AudioLoader& m_load;
    BuiltPatch m_patch;
    std::set<std::string> m_given;
    std::string m_last_plugin;
    uint64_t m_auto_length = 0;
};

}  // namespace

uint64_t SecondsToFrames(double seconds, double sample_rate, Location where) {
    const double frames = seconds * sample_rate;
    if (!std::isfinite(frames) || frames < 0.0 || frames > kMaxFrames)
        throw PatchError("a time of " + std::to_string(seconds) + " s is out of range", where);
    return static_cast<uint64_t>(std::llround(frames));
}

PinRef ResolvePinRef(const Engine& engine, const std::string& ref, Location where) {
    const size_t dot = ref.find('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == ref.size())
        throw PatchError("\"" + ref + "\" should name a pin as module.pin", where);
    const std::string module = ref.substr(0, dot);
    const std::string pin = ref.substr(dot + 1);
    const NodeId id = engine.Find(module);
    if (id < 0) throw PatchError("unknown module \"" + module + "\" in \"" + ref + "\"", where);
    const Node& node = engine.At(id);
    const int32_t number = node.FindPin(pin);
    if (number < 0) throw PatchError(NoSuchPin(node, pin), where);
    return {id, number};
}

BuiltPatch BuildPatch(const PatchDescription& description, const PluginResolver& resolve_plugin,
                      const AudioLoader& load_audio) {
    return PatchBuilder(description, resolve_plugin, load_audio).Build();
}

}  // namespace vxhost
