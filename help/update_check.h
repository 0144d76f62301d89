// The update check: the menu's dialog and the one start-up runs in the background.
#pragma once

#include "help/versions_page.h"

// Fetches the versions page on a worker thread with short timeouts. Start-up never waits
// for it; without a network it ends silently.
void start_background_update_check();

// Reads the versions page (primary location, then the fallback when the primary fails or
// is a placeholder "Original location: " page), each attempt bounded by `timeout_ms`.
update_check_result run_update_check(int timeout_ms = 3000);

class wxWindow;
// "Check for updates": the modal dialog showing the versions page, with "OK" when up to
// date, or "Cancel" and "Update" (which opens the project's web page) when a newer version
// exists. Without a readable page, the messages are logged and no dialog is shown.
void update_check_dialog(wxWindow* parent);

// Called from the idle handler: when the background check has found a newer version,
// offers the download page once. Silent in every other case.
void poll_background_update_check();
