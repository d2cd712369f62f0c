#pragma once
// The engine's way of keeping the window alive during the long loops that
// take no progress of their own (the folder search, the header parser).
//
// Long loops call ProcessMessages() at every step (per byte, per scan position).
// A front end installs a handler that runs its toolkit's event processing; with
// none installed the call does nothing. The call itself only bumps a counter:
// every thousand calls or so it looks at the clock, and it runs the handler at
// most once per interval (15 ms by default).

#include <chrono>
#include <cstdint>

namespace corvane::pump {

using Handler = void (*)();

// Installs (or, with nullptr, removes) the handler. Returns the previous one.
Handler SetHandler(Handler handler);
// Sets the least time between two runs of the handler.
void SetInterval(std::chrono::milliseconds interval);
// Runs the handler now if one is installed (ignores the interval).
void ProcessNow();

namespace detail {
inline constexpr std::uint32_t kCallsPerClockLook = 1024;
extern Handler g_handler;
extern thread_local std::uint32_t t_calls;
void Slow();
}  // namespace detail

// Call at every step of a long loop; costs a compare and an increment.
inline void ProcessMessages() {
    if (detail::g_handler == nullptr) return;
    if (++detail::t_calls < detail::kCallsPerClockLook) return;
    detail::t_calls = 0;
    detail::Slow();
}

}  // namespace corvane::pump
