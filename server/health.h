// What the server knows about its own condition, for /api/v1/health and
// the operator. A trouble is something wrong with the server itself (no
// descriptors, a full disk, a sandbox that cannot start): while any lasts,
// health answers 503 with the reasons, and no game is blamed for it. A note
// is a standing fact worth stating (how replays are confined). Each is set
// and cleared under its own key by the code that owns the condition.
#pragma once

#include <map>
#include <string>

// why "" clears the trouble.
void SetHealthTrouble(const std::string& key, const std::string& why);
void SetHealthNote(const std::string& key, const std::string& text);

struct HealthState {
    std::map<std::string, std::string> troubles, notes;
};
HealthState CurrentHealth();
