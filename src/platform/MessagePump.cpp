#include "platform/MessagePump.h"

#include <atomic>

namespace corvane::pump {
namespace detail {
Handler g_handler = nullptr;
thread_local std::uint32_t t_calls = 0;
}  // namespace detail

namespace {
std::atomic<std::int64_t> g_intervalNs{15'000'000};
thread_local std::chrono::steady_clock::time_point t_lastRun{};
}  // namespace

Handler SetHandler(Handler handler) {
    Handler previous = detail::g_handler;
    detail::g_handler = handler;
    return previous;
}

void SetInterval(std::chrono::milliseconds interval) {
    g_intervalNs = std::chrono::duration_cast<std::chrono::nanoseconds>(interval).count();
}

void ProcessNow() {
    if (Handler h = detail::g_handler) {
        t_lastRun = std::chrono::steady_clock::now();
        h();
    }
}

void detail::Slow() {
    auto now = std::chrono::steady_clock::now();
    if (now - t_lastRun < std::chrono::nanoseconds(g_intervalNs.load())) return;
    t_lastRun = now;
    if (Handler h = g_handler) h();
}

}  // namespace corvane::pump
