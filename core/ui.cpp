// The UI seam with its console behaviour: status text is remembered (the batch tool
// prints what it needs), progress draws a one-line bar on stderr when it is a terminal.
#include "core/ui.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <unistd.h>

static ui_hooks hooks;
static wxString last_status[3];

namespace {
struct console_progress_state {
    bool active = false;
    int maximum = 0;
    int last_percent = -1;
    wxString title;
} console_progress;
}

static bool stderr_is_terminal()
{
    static const bool tty = isatty(fileno(stderr)) != 0;
    return tty;
}

void ui_install(const ui_hooks& h) { hooks = h; }

void ui_status(int field, const wxString& text)
{
    if (field >= 0 && field < 3) last_status[field] = text;
    if (hooks.status) hooks.status(field, text);
}

wxString ui_last_status(int field)
{
    return (field >= 0 && field < 3) ? last_status[field] : wxString();
}

void ui_progress_begin(const wxString& title, const wxString& message, int maximum,
                       bool can_cancel)
{
    if (hooks.progress_begin) {
        hooks.progress_begin(title, message, maximum, can_cancel);
        return;
    }
    console_progress.active = true;
    console_progress.maximum = maximum > 0 ? maximum : 1;
    console_progress.last_percent = -1;
    console_progress.title = title;
}

bool ui_progress_update(int value, const wxString& message)
{
    if (hooks.progress_update) return hooks.progress_update(value, message);
    if (!console_progress.active || !stderr_is_terminal()) return true;
    int percent = (int)(100.0 * value / console_progress.maximum);
    if (percent < 0) percent = 0;
    if (percent > 100) percent = 100;
    if (percent == console_progress.last_percent) return true;
    console_progress.last_percent = percent;
    const int bar = 30, filled = percent * bar / 100;
    std::fprintf(stderr, "\r%s [%.*s%*s] %3d%%", (const char*)console_progress.title.utf8_str(),
                 filled, "##############################", bar - filled, "", percent);
    std::fflush(stderr);
    return true;
}

void ui_progress_end()
{
    if (hooks.progress_end) {
        hooks.progress_end();
        return;
    }
    if (console_progress.active && console_progress.last_percent >= 0 && stderr_is_terminal())
        std::fputc('\n', stderr);
    console_progress.active = false;
}

void ui_yield()
{
    if (hooks.yield) hooks.yield();
}

void ui_redraw()
{
    if (hooks.redraw) hooks.redraw();
}

void ui_repaint()
{
    if (hooks.repaint) hooks.repaint();
}

static int long_runs = 0;
bool ui_long_run_active() { return long_runs > 0; }
ui_long_run::ui_long_run() { long_runs++; }
ui_long_run::~ui_long_run() { long_runs--; }

// Cancellation: the flag is read by the row bands on both threads.
static std::atomic<int> cancellable_runs{0};
static std::atomic<bool> cancel_wanted{false};
static std::atomic<long long> cancellable_start_ms{0};

static long long steady_ms()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

ui_cancellable_run::ui_cancellable_run()
{
    // An inner run (none is expected) shares the outer's request and clock.
    if (cancellable_runs++ == 0) {
        cancel_wanted = false;
        cancellable_start_ms = steady_ms();
    }
}

ui_cancellable_run::~ui_cancellable_run()
{
    if (--cancellable_runs == 0) cancel_wanted = false;
}

bool ui_cancellable_active() { return cancellable_runs > 0; }

long long ui_cancellable_elapsed_ms()
{
    return cancellable_runs > 0 ? steady_ms() - cancellable_start_ms : 0;
}

void ui_request_cancel()
{
    if (cancellable_runs > 0) cancel_wanted = true;
}

void ui_check_cancel()
{
    if (cancel_wanted.load(std::memory_order_relaxed) && cancellable_runs > 0) throw ui_cancelled{};
}
