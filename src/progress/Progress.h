#pragma once
// How a long operation of the engine tells its caller how far it has come,
// and how the caller stops it. The caller passes a TProgress into the
// operation (a read, an export); the engine keeps no global state for it.
//
// The operation calls Report where its work moves on: often (every block
// batch, every chain, every read of the folder file), so implementations keep
// it cheap and decide themselves how often to show anything. A front end that
// runs the work on its own user-interface thread also processes its pending
// events there. After each Report the operation asks StopRequested; when it
// answers true, the operation ends at that point with ECancelled, leaving no
// partial output under a final name.

#include <cstdint>

#include "platform/Errors.h"

namespace corvane {

class TProgress {
public:
    virtual ~TProgress() = default;
    // What the work does now ("Scanning live blocks", ...) and how many of
    // how many of its units are done. Stage points to a string literal.
    virtual void Report(const char* Stage, std::int64_t Done, std::int64_t Total) = 0;
    // True once the caller wants the work to stop.
    virtual bool StopRequested() = 0;
};

// Raised by an operation that stopped because its caller asked it to.
class ECancelled : public ECorvaneError {
public:
    ECancelled() : ECorvaneError("The operation was cancelled.") {}
};

// Reports to progress (when there is one) and raises ECancelled when it asks
// to stop.
inline void CheckPoint(TProgress* progress, const char* stage, std::int64_t done, std::int64_t total) {
    if (progress == nullptr) return;
    progress->Report(stage, done, total);
    if (progress->StopRequested()) throw ECancelled();
}

}  // namespace corvane
