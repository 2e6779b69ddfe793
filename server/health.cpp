#include "server/health.h"

#include <mutex>

namespace {
std::mutex HealthMutex;
HealthState Health;
}  // namespace

void SetHealthTrouble(const std::string& key, const std::string& why) {
    std::lock_guard<std::mutex> lock(HealthMutex);
    if (why.empty()) {
        Health.troubles.erase(key);
    } else {
        Health.troubles[key] = why;
    }
}

void SetHealthNote(const std::string& key, const std::string& text) {
    std::lock_guard<std::mutex> lock(HealthMutex);
    if (text.empty()) {
        Health.notes.erase(key);
    } else {
        Health.notes[key] = text;
    }
}

HealthState CurrentHealth() {
    std::lock_guard<std::mutex> lock(HealthMutex);
    return Health;
}
