// Generates the canvas fonts in data/fonts: eleven glyph atlases of the Cabin typeface
// (Debian's fonts-cabin), rasterised with FreeType, as 8-bit greyscale PNG files
// cabin_SIZE.png, and their glyph table glyphs.txt. The build embeds them
// (scripts/embed_fonts.cmake).
//
//   make_font_atlases FONT.otf FOLDER
//
// Each atlas holds the characters 32..126 in code order, packed in rows; a cell is `size`
// pixels high and as wide as the glyph's advance. Row pitch is size + 1 so that linear
// texture filtering never bleeds one row into the next. The font's em size is chosen so
// that ascender plus descender fill the cell height.
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include <wx/image.h>
#include <wx/init.h>
#include <wx/mstream.h>

namespace {

struct font_spec {
    int size;
    int atlas_width;
};

// Sizes and atlas widths of the eleven fonts.
const font_spec specs[11] = {{16, 132}, {20, 158}, {24, 178}, {28, 203}, {32, 230}, {40, 280},
                             {48, 333}, {56, 386}, {64, 436}, {80, 540}, {96, 642}};

struct atlas {
    int size = 0, em = 0, width = 0, height = 0;
    std::vector<int> glyphs;  // x, y, advance per character
    std::vector<unsigned char> png;
};

bool build(FT_Library lib, const char* path, const font_spec& spec, atlas& out)
{
    FT_Face face;
    if (FT_New_Face(lib, path, 0, &face)) return false;
    const double extent = (double)(face->ascender - face->descender) / face->units_per_EM;
    int em = (int)std::floor(spec.size / extent);
    FT_Set_Pixel_Sizes(face, 0, em);
    // Shrink until every glyph of 32..126 fits inside the cell.
    int baseline = 0;
    for (;; em--) {
        FT_Set_Pixel_Sizes(face, 0, em);
        baseline = (int)std::lround((double)face->ascender * em / face->units_per_EM);
        bool fits = true;
        for (int c = 33; c <= 126 && fits; c++) {
            if (FT_Load_Char(face, c, FT_LOAD_RENDER | FT_LOAD_TARGET_LIGHT)) continue;
            const FT_GlyphSlot g = face->glyph;
            if (baseline - g->bitmap_top < 0 ||
                baseline - g->bitmap_top + (int)g->bitmap.rows > spec.size)
                fits = false;
        }
        if (fits) break;
    }
    out.size = spec.size;
    out.em = em;
    out.width = spec.atlas_width;

    // Advances first, to lay out the rows.
    std::vector<int> advance(95);
    for (int c = 32; c <= 126; c++) {
        FT_Load_Char(face, c, FT_LOAD_DEFAULT | FT_LOAD_TARGET_LIGHT);
        advance[c - 32] = std::max(1, (int)std::lround(face->glyph->advance.x / 64.0));
    }
    out.glyphs.assign(95 * 3, 0);
    int x = 0, y = 0;
    for (int i = 0; i < 95; i++) {
        if (x + advance[i] > out.width) {
            x = 0;
            y += spec.size + 1;
        }
        out.glyphs[i * 3] = x;
        out.glyphs[i * 3 + 1] = y;
        out.glyphs[i * 3 + 2] = advance[i];
        x += advance[i] + 1;
    }
    out.height = y + spec.size;

    std::vector<unsigned char> grey((size_t)out.width * out.height, 0);
    for (int c = 33; c <= 126; c++) {
        if (FT_Load_Char(face, c, FT_LOAD_RENDER | FT_LOAD_TARGET_LIGHT)) continue;
        const FT_GlyphSlot g = face->glyph;
        const int* cell = &out.glyphs[(c - 32) * 3];
        for (unsigned r = 0; r < g->bitmap.rows; r++)
            for (unsigned k = 0; k < g->bitmap.width; k++) {
                const int px = cell[0] + g->bitmap_left + (int)k;
                const int py = cell[1] + baseline - g->bitmap_top + (int)r;
                // Clip to the cell: a glyph overhanging its advance is cut rather than
                // spilling into the neighbouring cell.
                if (px < cell[0] || px >= cell[0] + cell[2] || py < cell[1] ||
                    py >= cell[1] + spec.size)
                    continue;
                unsigned char& d = grey[(size_t)py * out.width + px];
                d = std::max(d, g->bitmap.buffer[r * g->bitmap.pitch + k]);
            }
    }
    FT_Done_Face(face);

    wxImage image(out.width, out.height);
    unsigned char* rgb = image.GetData();
    for (size_t i = 0; i < grey.size(); i++) rgb[i * 3] = rgb[i * 3 + 1] = rgb[i * 3 + 2] = grey[i];
    image.SetOption(wxIMAGE_OPTION_PNG_FORMAT, wxPNG_TYPE_GREY);
    image.SetOption(wxIMAGE_OPTION_PNG_BITDEPTH, 8);
    image.SetOption(wxIMAGE_OPTION_PNG_COMPRESSION_LEVEL, 9);
    wxMemoryOutputStream stream;
    if (!image.SaveFile(stream, wxBITMAP_TYPE_PNG)) return false;
    out.png.resize(stream.GetSize());
    stream.CopyTo(out.png.data(), out.png.size());
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_font_atlases FONT.otf FOLDER\n");
        return 2;
    }
    wxInitializer wx;
    wxImage::AddHandler(new wxPNGHandler);
    FT_Library lib;
    if (FT_Init_FreeType(&lib)) return 1;
    std::vector<atlas> atlases(11);
    for (int i = 0; i < 11; i++)
        if (!build(lib, argv[1], specs[i], atlases[i])) {
            std::fprintf(stderr, "cannot rasterise %s at %i pixels\n", argv[1], specs[i].size);
            return 1;
        }
    FT_Done_FreeType(lib);

    const std::string folder = argv[2];
    for (const atlas& a : atlases) {
        const std::string name = folder + "/cabin_" + std::to_string(a.size) + ".png";
        FILE* png = std::fopen(name.c_str(), "wb");
        if (!png || std::fwrite(a.png.data(), 1, a.png.size(), png) != a.png.size()) return 1;
        std::fclose(png);
    }
    FILE* f = std::fopen((folder + "/glyphs.txt").c_str(), "w");
    if (!f) return 1;
    std::fprintf(f,
                 "# Glyph atlases of Cabin-Regular (Debian fonts-cabin, SIL Open Font License), "
                 "written by\n"
                 "# tools/make_font_atlases. One line per font: cell size, em size, atlas width "
                 "and height,\n"
                 "# then x,y,advance (top-left, y down) of each character 32..126. Atlas: "
                 "cabin_SIZE.png.\n");
    for (const atlas& a : atlases) {
        std::fprintf(f, "%i %i %i %i", a.size, a.em, a.width, a.height);
        for (int k = 0; k < 95; k++)
            std::fprintf(f, " %i,%i,%i", a.glyphs[k * 3], a.glyphs[k * 3 + 1], a.glyphs[k * 3 + 2]);
        std::fprintf(f, "\n");
    }
    std::fclose(f);
    for (const atlas& a : atlases)
        std::printf("Cabin %i: em %i, atlas %i x %i, %zu PNG bytes\n", a.size, a.em, a.width,
                    a.height, a.png.size());
    return 0;
}
