// The update check that start-up runs in the background.
#pragma once

#include <string>
#include <vector>
#include <wx/datetime.h>

// Addresses of the project's pages.
extern const char* const voxmira_web_page;
extern const char* const voxmira_versions_page;
extern const char* const voxmira_versions_fallback;

// True when `now` is at least one whole day after 30 September 2024 00:00 local time.
bool update_check_due(const wxDateTime& now);

// The latest version named by a versions page's plain text ("Voxmira 2.63 ..."), or an
// empty string when the text does not start that way.
std::string latest_version_from_text(const std::string& text);

// Fetches the versions page on a worker thread with short timeouts. Start-up never waits
// for it; without a network it ends silently.
void start_background_update_check();

// What the menu's update check found: the versions page's HTML and plain text (empty
// when neither location could be read) and the messages it reports, in order.
struct update_check_result {
    std::string html;
    std::string latest;       // the newest version named by the page, or empty
    bool newer = false;       // latest exists and differs from the running version
    std::vector<std::string> messages;
};

// Reads the versions page (primary location, then the fallback when the primary fails or
// is a placeholder "Original location: " page), each attempt bounded by `timeout_ms`.
update_check_result run_update_check(int timeout_ms = 3000);

// Like run_update_check, on a page text already fetched (empty when none could be read);
// `fallback_text` is used when `primary_text` is empty or a placeholder.
update_check_result evaluate_versions_pages(const std::string& primary_html,
                                            const std::string& fallback_html);

class wxWindow;
// "Check for updates": the modal dialog showing the versions page, with "OK" when up to
// date, or "Cancel" and "Update" (which opens the project's web page) when a newer version
// exists. Without a readable page, the messages are logged and no dialog is shown.
void update_check_dialog(wxWindow* parent);

// Called from the idle handler: when the background check has found a newer version,
// offers the download page once. Silent in every other case.
void poll_background_update_check();
