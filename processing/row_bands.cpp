// Row bands over the cores.
#include "processing/row_bands.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "core/ui.h"

static long long now_ms()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

yield_clock::yield_clock(bool may) : last_ms(now_ms()), may_yield(may) {}

void yield_clock::maybe_yield()
{
    ui_check_cancel();
    if (!may_yield || now_ms() - last_ms < 160) return;
    ui_yield();
    last_ms = now_ms();
    ui_check_cancel();
}

namespace {

// One helper thread that stays for the life of the program and runs the second band of
// every split: starting a thread per split cost a clone, a fresh stack and a join each time,
// which a filter with dozens of splits paid dozens of times. A split that arrives while the
// helper is busy (one started from inside a band, or from an event handled during a yield)
// gets a thread of its own as before.
class helper_thread {
public:
    // Starts job(y0, y1) on the helper and returns true, or returns false when it is busy.
    bool start(const std::function<void(int, int, yield_clock*)>& job, int y0, int y1)
    {
        std::unique_lock<std::mutex> lock(mutex);
        if (busy) return false;
        if (!worker.joinable()) worker = std::thread([this] { run(); });
        busy = true;
        body = &job;
        from = y0;
        to = y1;
        wake.notify_one();
        return true;
    }
    // Waits for the job; an exception it threw (an allocation failure) is handed back.
    std::exception_ptr wait()
    {
        std::unique_lock<std::mutex> lock(mutex);
        done.wait(lock, [this] { return body == nullptr; });
        busy = false;
        return std::exchange(failure, nullptr);
    }
    ~helper_thread()
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            quit = true;
            wake.notify_one();
        }
        if (worker.joinable()) worker.join();
    }

private:
    void run()
    {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            wake.wait(lock, [this] { return quit || body != nullptr; });
            if (quit) return;
            const std::function<void(int, int, yield_clock*)>* job = body;
            lock.unlock();
            std::exception_ptr failed;
            try {
                yield_clock quiet(false);
                (*job)(from, to, &quiet);
            } catch (...) {
                failed = std::current_exception();
            }
            lock.lock();
            failure = failed;
            body = nullptr;
            done.notify_one();
        }
    }
    std::mutex mutex;
    std::condition_variable wake, done;
    std::thread worker;
    const std::function<void(int, int, yield_clock*)>* body = nullptr;
    std::exception_ptr failure;
    int from = 0, to = 0;
    bool busy = false, quit = false;
};

helper_thread helper;

void over_bands(int h, int fewest, long long work, const std::function<void(int, int, yield_clock*)>& body)
{
    unsigned workers = std::max(1u, std::min(2u, std::thread::hardware_concurrency()));
    if (work < 200000 || h < fewest) workers = 1;
    yield_clock clock;
    if (workers == 1) {
        body(0, h, &clock);
        return;
    }
    const int half = h / 2;
    // Both bands end before an exception of either (an allocation failure) goes on.
    std::exception_ptr mine;
    auto first_band = [&] {
        try {
            body(0, half, &clock);
        } catch (...) {
            mine = std::current_exception();
        }
    };
    std::exception_ptr theirs;
    if (helper.start(body, half, h)) {
        first_band();
        theirs = helper.wait();
    } else {
        std::thread other([&] {
            try {
                yield_clock quiet(false);
                body(half, h, &quiet);
            } catch (...) {
                theirs = std::current_exception();
            }
        });
        first_band();
        other.join();
    }
    if (mine) std::rethrow_exception(mine);
    if (theirs) std::rethrow_exception(theirs);
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
