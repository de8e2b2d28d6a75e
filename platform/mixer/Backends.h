#pragma once

#include "platform/mixer/Mixer.h"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

// The real mixer backends, for service() and for tests that want one in particular.
namespace mixer {

// The sound server behind libpulse (`server` as libpulse takes it; null: the default one, never
// autospawned). Null when none answers within `timeout`. Each later request gives up after
// `timeout` too; a server that went away then looks like a system without devices until one
// answers again.
std::unique_ptr<Service> connectPulseService(const char* server, std::chrono::milliseconds timeout);

// ALSA's sound cards. Always succeeds; with no card it has no devices.
std::unique_ptr<Service> makeAlsaService();
// The same over control devices of ALSA's configuration named by the caller instead of the
// cards (such as "hw:1", or a plugin's control device): device i is devices[i].
std::unique_ptr<Service> makeAlsaService(std::vector<std::string> devices);

} // namespace mixer
