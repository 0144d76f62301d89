// Synthesised wx events for driving the main window and the canvas in GUI tests.
#pragma once

#include <wx/event.h>

// Mouse event of `type` at window position (x, y) on the canvas.
void mouse(wxEventType type, int x, int y, bool shift = false, bool ctrl = false, int wheel = 0);
// A complete drag: press, motion through `steps` intermediate points, release.
void drag(wxEventType down, wxEventType up, int x0, int y0, int x1, int y1, bool shift = false,
          bool ctrl = false, int steps = 4);
void press_key(int code);  // key-down on the canvas
// Moves a slider to `value` and sends the scroll event a thumb drag sends.
void slide(int id, int value, wxEventType type = wxEVT_SCROLL_THUMBTRACK);
void choose(int id, int index);  // selects a choice's item and sends its event
void tick(int id, bool value);   // sets a check box and sends its event
void command(int id);            // a menu command
void click(int id);              // a button click

// Resizes the frame until the canvas is `w` x `h` pixels.
void set_canvas_size(int w, int h);
