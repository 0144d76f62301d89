// Texture fonts for the text on the OpenGL canvas.
//
// Eleven sizes of the Cabin typeface are compiled in as 8-bit greyscale PNG atlases with a
// glyph table each (data/fonts, made by tools/make_font_atlases and embedded by the
// build). A
// gl_fonts object uploads one atlas as a texture and draws strings as textured quads.
// Building, drawing and deleting a font need the canvas's GL context to be current.
#pragma once

#include <wx/string.h>

#include "core/geometry.h"

struct gl_font_info_t {
    const wchar_t* name;        // "Cabin 16" ... "Cabin 96"
    int size;                   // cell height and line height, pixels
    int em;                     // the em size the atlas was rasterised at; informational
    int atlas_width, atlas_height;
    int first_char, last_char;  // 32 and 126
    const unsigned char* png;   // embedded PNG file of the atlas
    int png_size;
    const int* glyphs;          // x, y (top-left, y down) and advance per character
};

extern const gl_font_info_t gl_font_info[11];
const int gl_font_count = 11;

class gl_fonts {
public:
    // Builds the texture of font `index`; an index outside 0..10 gives an object with
    // no font, which measures every string as 0 and draws nothing.
    explicit gl_fonts(int index);
    ~gl_fonts();
    gl_fonts(const gl_fonts&) = delete;
    gl_fonts& operator=(const gl_fonts&) = delete;

    int size() const;
    wxString name() const;
    // Width of `text` in pixels: the sum of the advances; a character outside 32..126
    // counts size / 2.
    int length(const wxString& text) const;
    // Draws `text` in the current colour. `position` is in the current projection's
    // coordinates; `anchor` shifts the text right by anchor.x half-sizes and up by
    // anchor.y line heights; both edges are snapped to whole pixels. One buffer upload
    // and one draw call per string. Characters outside 32..126 draw nothing and take no
    // space.
    void draw(const wxString& text, vertex2d position, vertex2d anchor) const;

    int index = -1;
    int tex_width = 0, tex_height = 0;
    unsigned int texture = 0;
};

// Width of `text` in the font of table entry `index` without a GL context (the same
// rule as gl_fonts::length).
int font_text_length(int index, const wxString& text);
