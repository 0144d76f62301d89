// The update check's runs and its dialog.
#include "help/update_check.h"

#include <memory>
#include <mutex>
#include <thread>

#include <wx/button.h>
#include <wx/dialog.h>
#include <wx/html/htmlwin.h>
#include <wx/log.h>
#include <wx/sizer.h>
#include <wx/utils.h>

#include "app/main_frame.h"
#include "help/http_get.h"

namespace {

struct check_state {
    std::mutex lock;
    bool done = false;
    update_check_result result;
};

std::shared_ptr<check_state> running;

}  // namespace

update_check_result run_update_check(int timeout_ms)
{
    const std::string primary = http_get(voxmira_versions_page, timeout_ms);
    std::string fallback;
    if (needs_fallback(primary)) fallback = http_get(voxmira_versions_fallback, timeout_ms);
    return evaluate_versions_pages(primary, fallback);
}

// The dialog for a finished check; without a readable page only the messages are logged.
static void show_update_dialog(wxWindow* parent, const update_check_result& r)
{
    if (r.html.empty()) {
        for (const std::string& m : r.messages) wxLogMessage("%s", wxString::FromUTF8(m));
        return;
    }
    wxDialog dialog(parent, wxID_ANY, "Check for updates", wxDefaultPosition, wxSize(480, 360),
                    wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER);
    wxBoxSizer* sizer = new wxBoxSizer(wxVERTICAL);
    wxHtmlWindow* html = new wxHtmlWindow(&dialog, wxID_ANY, wxDefaultPosition, wxSize(460, 260),
                                          wxHW_SCROLLBAR_AUTO, "htmlWindow");
    {
        wxLogNull quiet;
        html->SetPage(wxString::FromUTF8(r.html));
    }
    sizer->Add(html, 1, wxEXPAND | wxALL, 5);
    wxStdDialogButtonSizer* buttons = new wxStdDialogButtonSizer;
    if (r.newer) {
        buttons->AddButton(new wxButton(&dialog, wxID_CANCEL, "Cancel"));
        buttons->AddButton(new wxButton(&dialog, wxID_OK, "Update"));
    } else {
        buttons->AddButton(new wxButton(&dialog, wxID_OK, "OK"));
    }
    buttons->Realize();
    sizer->Add(buttons, 0, wxEXPAND | wxALL, 5);
    dialog.SetSizer(sizer);
    for (const std::string& m : r.messages) wxLogMessage("%s", wxString::FromUTF8(m));
    if (dialog.ShowModal() == wxID_OK && r.newer) wxLaunchDefaultBrowser(voxmira_web_page);
}

void update_check_dialog(wxWindow* parent)
{
    update_check_result r;
    {
        wxBusyCursor busy;
        r = run_update_check();
    }
    show_update_dialog(parent, r);
}

void start_background_update_check()
{
    if (running) return;
    running = std::make_shared<check_state>();
    std::shared_ptr<check_state> state = running;
    // The worker touches only its own state, the C library and wx strings, never a window,
    // so it may be abandoned mid-lookup when the program ends.
    std::thread([state] {
        update_check_result r = run_update_check(3000);
        std::lock_guard<std::mutex> hold(state->lock);
        state->result = std::move(r);
        state->done = true;
    }).detach();
}

void poll_background_update_check()
{
    if (!running) return;
    update_check_result r;
    {
        std::lock_guard<std::mutex> hold(running->lock);
        if (!running->done) return;
        r = running->result;
    }
    running.reset();
    // At start-up the check speaks only when there is something new.
    if (r.newer) show_update_dialog(myframe, r);
}
