// The embedded Cabin atlases and the texture font: tables, measuring, where text lands.
#include <GL/gl.h>

#include <wx/choicdlg.h>
#include <wx/image.h>
#include <wx/mstream.h>

#include "app/gl_fonts.h"
#include "gui_fixture.h"

TEST(FontTable, ElevenCabinAtlasesWithConsistentGlyphTables)
{
    const int sizes[11] = {16, 20, 24, 28, 32, 40, 48, 56, 64, 80, 96};
    if (!wxImage::FindHandler(wxBITMAP_TYPE_PNG)) wxImage::AddHandler(new wxPNGHandler);
    for (int i = 0; i < gl_font_count; i++) {
        const gl_font_info_t& f = gl_font_info[i];
        SCOPED_TRACE(i);
        EXPECT_EQ(std::make_tuple(f.size, wxString(f.name), (int)f.first_char, (int)f.last_char),
                  std::make_tuple(sizes[i], wxString::Format("Cabin %i", sizes[i]), 32, 126));
        EXPECT_TRUE(f.em > f.size / 2 && f.em < f.size) << f.em;
        // An 8-bit greyscale PNG (bit depth 8, colour type 0) of the stated size.
        ASSERT_GT(f.png_size, 33);
        EXPECT_EQ(std::make_pair((int)f.png[24], (int)f.png[25]), std::make_pair(8, 0));
        wxMemoryInputStream stream(f.png, f.png_size);
        wxImage atlas;
        ASSERT_TRUE(atlas.LoadFile(stream, wxBITMAP_TYPE_PNG));
        EXPECT_EQ(atlas.GetSize(), wxSize(f.atlas_width, f.atlas_height));
        // Cells lie inside the atlas and never overlap; every visible glyph has ink.
        std::vector<int> owner((size_t)f.atlas_width * f.atlas_height, -1);
        for (int c = 0; c < 95; c++) {
            const int x = f.glyphs[c * 3], y = f.glyphs[c * 3 + 1], adv = f.glyphs[c * 3 + 2];
            ASSERT_TRUE(x >= 0 && y >= 0 && adv > 0 && x + adv <= f.atlas_width && y + f.size <= f.atlas_height)
                << "cell " << c << " leaves the atlas";
            int ink = 0;
            for (int yy = y; yy < y + f.size; yy++)
                for (int xx = x; xx < x + adv; xx++) {
                    int& o = owner[(size_t)yy * f.atlas_width + xx];
                    ASSERT_EQ(o, -1) << "cells " << o << " and " << c << " overlap";
                    o = c;
                    ink += atlas.GetRed(xx, yy);
                }
            EXPECT_EQ(ink > 0, c != 0) << "only the space is blank: " << (char)(c + 32);
        }
    }
}

TEST(FontTable, LengthsFollowTheAdvances)
{
    const gl_font_info_t& f = gl_font_info[0];
    const int a = f.glyphs[('A' - 32) * 3 + 2], w = f.glyphs[('W' - 32) * 3 + 2];
    // A tab and a character above 126 count half the size; no font (11, -1) measures nothing.
    EXPECT_EQ(std::make_tuple(font_text_length(0, "A"), font_text_length(0, "AW"), font_text_length(0, "A\tW"),
                              font_text_length(0, wxString::FromUTF8("A\xC2\xB0"))),
              std::make_tuple(a, a + w, a + w + 8, a + 8));
    EXPECT_EQ(font_text_length(0, "") + font_text_length(11, "AW") + font_text_length(-1, "AW"), 0);
    for (int i = 1; i < gl_font_count; i++)  // bigger fonts are wider
        EXPECT_GT(font_text_length(i, "Windowing"), font_text_length(i - 1, "Windowing"));
}

using Fonts = GuiTest;

namespace {

struct box {
    int x0 = 1 << 30, y0 = 1 << 30, x1 = -1, y1 = -1;  // GL pixels, y up
};

// Draws `text` white on black in the canvas's context and returns the lit pixels' box.
box draw_and_measure(gl_fonts& font, const wxString& text, vertex2d pos, vertex2d anchor,
                     std::vector<unsigned char>* out = nullptr)
{
    glDrawBuffer(GL_BACK);
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    glColor4d(1, 1, 1, 1);
    font.draw(text, pos, anchor);
    glFinish();
    const int w = info.window_width, h = info.window_height;
    std::vector<unsigned char> px((size_t)w * h * 3);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadBuffer(GL_BACK);
    glReadPixels(0, 0, w, h, GL_RGB, GL_UNSIGNED_BYTE, px.data());
    box b;
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++)
            if (px[((size_t)y * w + x) * 3] > 32)
                b = {std::min(b.x0, x), std::min(b.y0, y), std::max(b.x1, x), std::max(b.y1, y)};
    if (out) *out = px;
    glClearColor(1, 1, 1, 1);
    return b;
}

}  // namespace

TEST_F(Fonts, AnchorsPlaceTheTextAndUnknownCharactersLeaveNoGap)
{
    int w, h;
    canvas_pixels(w, h);  // GL initialised, context current
    myframe->canvas->SetCurrent(*myframe->canvas->context);
    gl_fonts font(0);
    ASSERT_EQ(font.size(), 16);
    const int adv = font.length("H");

    // Anchor (0, 0): the text's top-left corner at the position.
    box b = draw_and_measure(font, "H", vertex2d(200, 200), vertex2d(0, 0));
    ASSERT_GE(b.x1, 0) << "nothing drawn";
    EXPECT_TRUE(b.x0 >= 200 && b.x1 <= 200 + adv && b.y1 < 200 && b.y0 >= 200 - 16);
    auto corner = [&](vertex2d pos, vertex2d anchor) {
        const box o = draw_and_measure(font, "H", pos, anchor);
        return std::make_pair(o.x0 - b.x0, o.y0 - b.y0);
    };
    // Anchor (-2, 0): left by one size, so a text one size wide ends at the position.
    EXPECT_EQ(corner(vertex2d(200, 200), vertex2d(-2, 0)), std::make_pair(-16, 0));
    // Anchor (0, 0.5): half a line up.
    EXPECT_EQ(corner(vertex2d(200, 200), vertex2d(0, 0.5)), std::make_pair(0, 8));
    // Fractional positions snap to whole pixels.
    EXPECT_EQ(corner(vertex2d(200.3, 199.8), vertex2d(0, 0)), std::make_pair(0, 0));

    // A character above 126 takes no space.
    std::vector<unsigned char> with, without;
    draw_and_measure(font, wxString::FromUTF8("A\xC2\xB0W"), vertex2d(100, 300), vertex2d(0, 0), &with);
    draw_and_measure(font, "AW", vertex2d(100, 300), vertex2d(0, 0), &without);
    EXPECT_TRUE(with == without);

    // No font: nothing drawn.
    gl_fonts none(11);
    EXPECT_EQ(none.index, -1);
    EXPECT_EQ(draw_and_measure(none, "abc", vertex2d(100, 100), vertex2d(0, 0)).x1, -1);
    myframe->canvas->Refresh(false);
}

TEST_F(Fonts, OverlayFontDialogChoosesTheSize)
{
    int w, h;
    for (int choice : {5, -1, 2}) {  // Cancel (-1) changes nothing
        wxTheApp->CallAfter([choice] {  // answers the modal dialog once it runs
            for (wxWindow* win : wxTopLevelWindows)
                if (auto* dialog = dynamic_cast<wxSingleChoiceDialog*>(win); dialog && dialog->IsModal()) {
                    EXPECT_EQ(dialog->GetTitle(), "Overlay font");
                    EXPECT_EQ(dialog->GetSelection(), info.font_index);
                    if (choice >= 0) dialog->SetSelection(choice);
                    return dialog->EndModal(choice < 0 ? wxID_CANCEL : wxID_OK);
                }
            ADD_FAILURE() << "no font dialog open";
        });
        command(ID_FONT);
        EXPECT_EQ(info.font_index, choice < 0 ? 5 : choice);
        canvas_pixels(w, h);
        ASSERT_NE(info.font, nullptr);
        EXPECT_EQ(info.font->name(), choice == 2 ? "Cabin 24" : "Cabin 40");
    }
}
