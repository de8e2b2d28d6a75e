#include "platform/mixer/Mixer.h"

#include "platform/mixer/Backends.h"

#include <atomic>

namespace mixer {
namespace {

constexpr std::chrono::milliseconds kServerTimeout{500};

std::atomic<Service*> g_override{nullptr};

Service& realService() {
    static const std::unique_ptr<Service> chosen = [] {
        auto pulse = connectPulseService(nullptr, kServerTimeout);
        return pulse ? std::move(pulse) : makeAlsaService();
    }();
    return *chosen;
}

} // namespace

Service& service() {
    if (Service* replacement = g_override.load())
        return *replacement;
    return realService();
}

ScopedService::ScopedService(Service& replacement)
    : m_previous(g_override.exchange(&replacement)) {}

ScopedService::~ScopedService() {
    g_override.store(m_previous);
}

} // namespace mixer
