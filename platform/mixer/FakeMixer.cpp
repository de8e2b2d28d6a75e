#include "platform/mixer/FakeMixer.h"

#include <algorithm>

namespace mixer {

int FakeMixer::addDevice() {
    std::lock_guard lock(m_mutex);
    return m_devices++;
}

std::uint32_t FakeMixer::addControl(int device, ComponentType line, ControlType type,
                                    std::int32_t minimum, std::int32_t maximum,
                                    std::int32_t value) {
    std::lock_guard lock(m_mutex);
    const auto id = static_cast<std::uint32_t>(m_controls.size() + 1);
    m_controls.push_back({{device, line, type}, {id, type, minimum, maximum}, value});
    return id;
}

std::optional<std::int32_t> FakeMixer::value(int device, ComponentType line,
                                             ControlType type) const {
    std::lock_guard lock(m_mutex);
    const Control* control = controlAt({device, line, type});
    return control ? std::optional(control->value) : std::nullopt;
}

void FakeMixer::setValueFromElsewhere(int device, ComponentType line, ControlType type,
                                      std::int32_t value) {
    std::lock_guard lock(m_mutex);
    if (Control* control = controlAt({device, line, type}))
        control->value = value;
}

void FakeMixer::failOpen(bool fail) {
    std::lock_guard lock(m_mutex);
    m_failOpen = fail;
}

void FakeMixer::failGetValue(bool fail) {
    std::lock_guard lock(m_mutex);
    m_failGet = fail;
}

void FakeMixer::failSetValue(bool fail) {
    std::lock_guard lock(m_mutex);
    m_failSet = fail;
}

int FakeMixer::openHandles() const {
    std::lock_guard lock(m_mutex);
    return static_cast<int>(m_handles.size());
}

int FakeMixer::setValueCalls() const {
    std::lock_guard lock(m_mutex);
    return m_setCalls;
}

int FakeMixer::getValueCalls() const {
    std::lock_guard lock(m_mutex);
    return m_getCalls;
}

int FakeMixer::deviceCount() {
    std::lock_guard lock(m_mutex);
    return m_devices;
}

Result FakeMixer::open(int index, Handle* handle) {
    std::lock_guard lock(m_mutex);
    if (index < 0 || index >= m_devices)
        return kBadDeviceId;
    if (m_failOpen)
        return kError;
    *handle = m_nextHandle++;
    m_handles[*handle] = index;
    return kNoError;
}

Result FakeMixer::findLine(Handle handle, ComponentType type, std::uint32_t* lineId) {
    std::lock_guard lock(m_mutex);
    auto open = m_handles.find(handle);
    if (open == m_handles.end())
        return kInvalidHandle;
    const bool exists = std::any_of(m_controls.begin(), m_controls.end(), [&](const Control& c) {
        return std::get<0>(c.key) == open->second && std::get<1>(c.key) == type;
    });
    if (!exists)
        return kInvalidLine;
    *lineId = static_cast<std::uint32_t>(type);
    return kNoError;
}

Result FakeMixer::findControl(Handle handle, std::uint32_t lineId, ControlType type,
                              ControlInfo* info) {
    std::lock_guard lock(m_mutex);
    auto open = m_handles.find(handle);
    if (open == m_handles.end())
        return kInvalidHandle;
    const Control* control = controlAt({open->second, static_cast<ComponentType>(lineId), type});
    if (!control)
        return kInvalidControl;
    *info = control->info;
    return kNoError;
}

Result FakeMixer::getValue(Handle handle, std::uint32_t controlId, std::int32_t* value) {
    std::lock_guard lock(m_mutex);
    ++m_getCalls;
    if (!m_handles.contains(handle))
        return kInvalidHandle;
    Control* control = controlOf(handle, controlId);
    if (!control)
        return kInvalidControl;
    if (m_failGet)
        return kError;
    *value = control->value;
    return kNoError;
}

Result FakeMixer::setValue(Handle handle, std::uint32_t controlId, std::int32_t value) {
    std::lock_guard lock(m_mutex);
    ++m_setCalls;
    if (!m_handles.contains(handle))
        return kInvalidHandle;
    Control* control = controlOf(handle, controlId);
    if (!control)
        return kInvalidControl;
    if (m_failSet)
        return kError;
    control->value = value;
    return kNoError;
}

Result FakeMixer::close(Handle handle) {
    std::lock_guard lock(m_mutex);
    return m_handles.erase(handle) ? kNoError : kInvalidHandle;
}

FakeMixer::Control* FakeMixer::controlOf(Handle handle, std::uint32_t controlId) {
    if (controlId == 0 || controlId > m_controls.size())
        return nullptr;
    Control& control = m_controls[controlId - 1];
    return std::get<0>(control.key) == m_handles.at(handle) ? &control : nullptr;
}

FakeMixer::Control* FakeMixer::controlAt(const Key& key) {
    auto found = std::find_if(m_controls.begin(), m_controls.end(),
                              [&](const Control& c) { return c.key == key; });
    return found == m_controls.end() ? nullptr : &*found;
}

const FakeMixer::Control* FakeMixer::controlAt(const Key& key) const {
    return const_cast<FakeMixer*>(this)->controlAt(key);
}

} // namespace mixer
