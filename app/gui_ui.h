// The desktop program's side of the UI seam: status bar, progress dialogs, wxSafeYield.
#pragma once

void gui_install_ui_hooks();
