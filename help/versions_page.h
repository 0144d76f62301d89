// The project's versions page: where it is, when to look, and what it says.
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

// What the menu's update check found: the versions page's HTML and plain text (empty
// when neither location could be read) and the messages it reports, in order.
struct update_check_result {
    std::string html;
    std::string latest;       // the newest version named by the page, or empty
    bool newer = false;       // latest exists and differs from the running version
    std::vector<std::string> messages;
};

// True when a versions page read from the primary location is empty or a placeholder
// ("Original location: ..."), so the fallback location is read instead.
bool needs_fallback(const std::string& html);

// Like run_update_check, on a page text already fetched (empty when none could be read);
// `fallback_text` is used when `primary_text` is empty or a placeholder.
update_check_result evaluate_versions_pages(const std::string& primary_html,
                                            const std::string& fallback_html);
