// Touches of the GTK toolkit that wx does not offer.
#pragma once

class wxSlider;

// The program's style sheet: notebook tabs compact enough that the four page names fit the
// control pane side by side, and slider value labels in the text colour (the theme dims
// them until they look disabled).
void install_window_style();

// A slider standing for one value only (one frame): both end labels show that value. The
// toolkit keeps a range of at least one step, so the slider's range stays value .. value + 1.
void show_single_value(wxSlider* slider, int value);
