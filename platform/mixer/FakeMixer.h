#pragma once

#include "platform/mixer/Mixer.h"

#include <map>
#include <mutex>
#include <optional>
#include <tuple>
#include <vector>

// An in-memory mixer for tests: devices and controls as the test builds them, values that the
// test can change "from elsewhere" and inspect, and requests that can be made to fail. It keeps
// the Service contract (thread-safe, results as documented there) but stores a written value
// exactly as given, so a test sees what its caller sent.
namespace mixer {

class FakeMixer final : public Service {
public:
    // Adds a device without lines; returns its index.
    int addDevice();

    // Adds a control to a line of a device (the line comes into being with its first control)
    // and returns the control's identifier.
    std::uint32_t addControl(int device, ComponentType line, ControlType type, std::int32_t minimum,
                             std::int32_t maximum, std::int32_t value = 0);

    // The control's value as the mixer holds it; nullopt for a control that does not exist.
    std::optional<std::int32_t> value(int device, ComponentType line, ControlType type) const;
    // A change made by another program.
    void setValueFromElsewhere(int device, ComponentType line, ControlType type,
                               std::int32_t value);

    // While set, the respective requests fail with kError.
    void failOpen(bool fail);
    void failGetValue(bool fail);
    void failSetValue(bool fail);

    int openHandles() const;
    int setValueCalls() const; // every setValue request, failed ones included
    int getValueCalls() const;

    int deviceCount() override;
    Result open(int index, Handle* handle) override;
    Result findLine(Handle handle, ComponentType type, std::uint32_t* lineId) override;
    Result findControl(Handle handle, std::uint32_t lineId, ControlType type,
                       ControlInfo* info) override;
    Result getValue(Handle handle, std::uint32_t controlId, std::int32_t* value) override;
    Result setValue(Handle handle, std::uint32_t controlId, std::int32_t value) override;
    Result close(Handle handle) override;

private:
    using Key = std::tuple<int, ComponentType, ControlType>;
    struct Control {
        Key key;
        ControlInfo info;
        std::int32_t value;
    };

    Control* controlOf(Handle handle, std::uint32_t controlId);
    Control* controlAt(const Key& key);
    const Control* controlAt(const Key& key) const;

    mutable std::mutex m_mutex;
    int m_devices = 0;
    std::vector<Control> m_controls; // identifier = place + 1
    std::map<Handle, int> m_handles; // handle -> device
    Handle m_nextHandle = 1;
    bool m_failOpen = false;
    bool m_failGet = false;
    bool m_failSet = false;
    int m_setCalls = 0;
    int m_getCalls = 0;
};

} // namespace mixer
