#pragma once
// The resident memory of this benchmark process, from /proc/self/status (Linux).

#include <cstdio>

// The high-water mark (VmHWM) and the present size (VmRSS), in kB; -1 where
// the system does not tell.
struct TResident {
    long peak = -1, now = -1;
};

inline TResident ResidentKilobytes() {
    TResident r;
    FILE* status = std::fopen("/proc/self/status", "r");
    if (status == nullptr) return r;
    char line[256];
    while (std::fgets(line, sizeof line, status) != nullptr) {
        std::sscanf(line, "VmHWM: %ld kB", &r.peak);
        std::sscanf(line, "VmRSS: %ld kB", &r.now);
    }
    std::fclose(status);
    return r;
}
