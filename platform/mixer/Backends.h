#pragma once

#include "platform/mixer/Mixer.h"

#include <chrono>
#include <memory>

// The real mixer backends, for service() and for tests that want one in particular.
namespace mixer {

// The sound server behind libpulse (`server` as libpulse takes it; null: the default one, never
// autospawned). Null when none answers within `timeout`. Each later request gives up after
// `timeout` too; a server that went away then looks like a system without devices until one
// answers again.
std::unique_ptr<Service> connectPulseService(const char* server, std::chrono::milliseconds timeout);

// ALSA's sound cards. Always succeeds; with no card it has no devices.
std::unique_ptr<Service> makeAlsaService();

} // namespace mixer
