// One plug-in instance in a patch, driven through the driver's proxy. The
// node answers the instance's host calls, binds buffers and values into the
// members the pin descriptions name, and turns the instance's
// announcements, events and sleep requests into the engine's terms.
#ifndef VXHOST_PLUGINNODE_H
#define VXHOST_PLUGINNODE_H

#include <functional>
#include <memory>

#include "HostCall.h"
#include "Node.h"
#include "PluginDescription.h"
#include "PluginInstance.h"
#include "PluginLibrary.h"

namespace vxhost {

class PluginNode : public Node, private PluginInstance::Hooks {
public:
    // Creates the instance (makeModule) and reads its pin descriptions;
    // HostError when the library offers no module or no instance.
    PluginNode(std::shared_ptr<const PluginLibrary> library, std::string name);
    ~PluginNode() override;  // closes the instance

    std::string Kind() const override { return m_kind; }
    const ModuleProperties& Properties() const { return m_properties; }
    VXPluginRecord* Record() const { return m_instance.Record(); }

    // Sample rate, block size, open, then buffer addresses and values.
    void Start() override;
    // A dispatcher call at the node's present clock (for tests and tools).
    VXIntPtr Dispatch(int32_t opcode, int32_t index = 0, int32_t value = 0, void* ptr = nullptr, float opt = 0.0f);
    // Sees every call the instance makes to the host.
    void SetCallObserver(std::function<void(const HostCall&)> observer) { m_observer = std::move(observer); }

protected:
    void Process(int32_t offset, int32_t frames) override;
    void OnPinStatus(int32_t pin, int32_t state) override;
    void OnValueChange(int32_t pin) override;
    void OnPluginEvent(const VXEvent& e) override;

private:
    VXIntPtr Answer(VXPluginRecord* record, int32_t opcode, int32_t index, int32_t value, void* ptr,
                    float opt) override;
    uint64_t ClockFromStamp(uint32_t stamp) const;
    void WriteValue(int32_t pin);

    std::shared_ptr<const PluginLibrary> m_library;
    std::string m_kind;
    ModuleProperties m_properties;
    std::vector<PinDescription> m_descriptions;
    PluginInstance m_instance{*this};
    std::function<void(const HostCall&)> m_observer;
};

// The file name without folder and extension: "/x/sumtone.so" -> "sumtone".
std::string PluginStem(const std::string& path);

}  // namespace vxhost

#endif  // VXHOST_PLUGINNODE_H
