// The update check that start-up runs in the background.
#pragma once

#include <string>
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

// Called from the idle handler: when the background check has found a newer version,
// offers the download page once. Silent in every other case.
void poll_background_update_check();
