// Row bands over the cores.
#include "processing/row_bands.h"

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include "core/ui.h"

static long long now_ms()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

yield_clock::yield_clock() : last_ms(now_ms()) {}

void yield_clock::maybe_yield()
{
    if (now_ms() - last_ms < 160) return;
    ui_yield();
    last_ms = now_ms();
}

namespace {

void over_bands(int h, int fewest, long long work, const std::function<void(int, int, yield_clock*)>& body)
{
    unsigned workers = std::max(1u, std::min(2u, std::thread::hardware_concurrency()));
    if (work < 200000 || h < fewest) workers = 1;
    std::vector<std::thread> threads;
    for (unsigned t = 1; t < workers; t++)
        threads.emplace_back(body, (int)((long long)h * t / workers), (int)((long long)h * (t + 1) / workers),
                             nullptr);
    yield_clock clock;
    body(0, (int)(h / workers), &clock);
    for (std::thread& t : threads) t.join();
}

}  // namespace

void over_row_bands(int h, long long work, const std::function<void(int, int, yield_clock*)>& body)
{
    over_bands(h, 8, work, body);
}

void over_items(int n, long long work, const std::function<void(int, int, yield_clock*)>& body)
{
    over_bands(n, 2, work, body);
}
