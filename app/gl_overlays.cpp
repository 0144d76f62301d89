// The canvas's overlays: windowing panel, filter probe grid, histogram, profile and
// projection curves, and the help line, drawn over the display image in GL.
#include "app/gl_overlays.h"

#include <GL/gl.h>

#include <algorithm>
#include <cmath>
#include <vector>
#include <wx/arrstr.h>

#include "app/gl_canvas.h"
#include "app/gl_fonts.h"
#include "core/record.h"
#include "display/canvas_colour.h"
#include "display/coordinates.h"
#include "processing/colour.h"

namespace {

// Window pixel (y down) of an image point, kept in doubles so a deep zoom cannot wrap.
void image_to_gl(double ix, double iy, double& gx, double& gy)
{
    gx = (ix - info.centre.x) * info.zoom + info.window_width / 2;
    gy = info.window_height - ((iy - info.centre.y) * info.zoom + info.window_height / 2);
}

// A translucent white panel framed in yellow along its left and bottom edges.
void draw_panel(double left, double bottom, double width, double height, double a)
{
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glColor4d(1, 1, 1, a);
    glBegin(GL_QUADS);
    glVertex2d(left, bottom);
    glVertex2d(left + width, bottom);
    glVertex2d(left + width, bottom + height);
    glVertex2d(left, bottom + height);
    glEnd();
    glDisable(GL_BLEND);
    glColor3d(1, 1, 0);
    glBegin(GL_LINE_STRIP);
    glVertex2d(left + 0.5, bottom + height);
    glVertex2d(left + 0.5, bottom + 0.5);
    glVertex2d(left + width, bottom + 0.5);
    glEnd();
}

// Overlay text in a colour over a one-pixel dark shadow, so it reads on any image.
void draw_text(const wxString& text, double x, double y, double ax, double ay, double r,
               double g, double b)
{
    if (!info.font) return;
    glColor4d(0, 0, 0, 1);
    info.font->draw(text, vertex2d(x + 1, y - 1), vertex2d(ax, ay));
    glColor4d(r, g, b, 1);
    info.font->draw(text, vertex2d(x, y), vertex2d(ax, ay));
}

}  // namespace

void gl_outline(double x0, double y0, double x1, double y1)
{
    glBegin(GL_LINE_LOOP);
    glVertex2d(x0, y0);
    glVertex2d(x1, y0);
    glVertex2d(x1, y1);
    glVertex2d(x0, y1);
    glEnd();
}


void MyGLCanvas::draw_overlays()
{
    if (!info.raw_image) return;
    const double fs = info.font ? info.font->size() : 0;
    const double a = info.colour_processing ? 0.5 : 0.7;
    glLineWidth(1);
    if (info.windowing && info.data_max != info.data_min) draw_windowing_panel(fs, a);
    if (info.probe_mode != 0) draw_probe(fs);
    if (info.show_histogram && info.histogram) draw_histogram(fs, a);
    if (info.line_start.x != info.line_end.x || info.line_start.y != info.line_end.y)
        draw_profile(fs, a);
    if (info.show_histogram && info.histogram) draw_histogram_labels(fs);
    draw_help_line();
}

// The mouse help along the bottom edge, wrapped at word boundaries into as many lines as a
// narrow canvas needs.
void MyGLCanvas::draw_help_line()
{
    if (!info.font) return;
    const wxString text = "Left button to zoom, middle button to drag and right button for windowing.";
    const double room = info.window_width - info.font->size();
    std::vector<wxString> lines(1);
    for (const wxString& word : wxSplit(text, ' ')) {
        const wxString longer = lines.back().empty() ? word : lines.back() + " " + word;
        if (!lines.back().empty() && info.font->length(longer) > room)
            lines.push_back(word);
        else
            lines.back() = longer;
    }
    const double line = info.font->size();
    for (size_t k = 0; k < lines.size(); k++)
        draw_text(lines[k], 0, line * (double)(lines.size() - 1 - k), 0.5, 1.0, 0, 1, 0);
}

void MyGLCanvas::draw_windowing_panel(double fs, double a)
{
    const double left = 2 * fs + 10;
    const double width = info.window_width / 3.0 - 5 * fs / 2 - 25;
    const double height = info.window_height / 3.0;
    const double top = info.window_height - (10 + fs / 2);
    const double bottom = top - height;
    if (width < 2 || height < 2) return;
    draw_panel(left, bottom, width, height, a);
    draw_text("0", left, bottom, -4, 0.5, 1, 1, 1);
    draw_text("255", left, top, -4, 0.5, 1, 1, 1);
    // The axis spans the file's window and the current one, so the ramp stays in the panel
    // and the axis follows while a drag moves the window beyond where it started.
    const double lo = std::min(info.default_centre - info.default_range / 2.0,
                               info.window_centre - info.window_range / 2.0);
    const double hi = std::max(info.default_centre + info.default_range / 2.0,
                               info.window_centre + info.window_range / 2.0);
    draw_text(wxString::Format("%i", (int)lo), left, bottom, 0, 0, 1, 1, 1);
    draw_text(wxString::Format("%i", (int)hi), left + width, bottom, -2, 0, 1, 1, 1);
    if (hi <= lo) return;
    // The ramp of the current window, clipped to the panel.
    const double w0 = info.window_centre - info.window_range / 2.0;
    const double w1 = info.window_centre + info.window_range / 2.0;
    const double x0 = left + (w0 - lo) / (hi - lo) * width;
    const double x1 = left + (w1 - lo) / (hi - lo) * width;
    glEnable(GL_SCISSOR_TEST);
    glScissor((GLint)left, (GLint)bottom, (GLsizei)std::ceil(width), (GLsizei)std::ceil(height));
    glColor3d(0, 0.8, 0);
    glLineWidth(2);
    glBegin(GL_LINES);
    glVertex2d(x0, bottom);
    glVertex2d(x1, top);
    glEnd();
    glLineWidth(1);
    glDisable(GL_SCISSOR_TEST);
}

void MyGLCanvas::draw_probe(double fs)
{
    const int wh = info.window_height;
    glLineWidth(3);
    double x0, y0, x1, y1;
    // The filter window in black, then the probe pixel in red on top, so the pixel stays
    // visible when the window is a single pixel.
    const double r = info.probe_count / 2 + 0.5;
    image_to_gl(info.cursor.x - r, info.cursor.y - r, x0, y0);
    image_to_gl(info.cursor.x + r, info.cursor.y + r, x1, y1);
    glColor3d(0, 0, 0);
    gl_outline(x0, y0, x1, y1);
    image_to_gl(info.cursor.x - 0.5, info.cursor.y - 0.5, x0, y0);
    image_to_gl(info.cursor.x + 0.5, info.cursor.y + 0.5, x1, y1);
    glColor3d(1, 0, 0);
    gl_outline(x0, y0, x1, y1);

    const int n = info.probe_count;
    const double total = wh / 2.0;
    const double left = 10, bottom = 3 * fs / 2 + 20;
    // The white frame at the left edge that holds the enlarged view.
    glColor3d(1, 1, 1);
    gl_outline(left - 3, bottom - 3, left + total + 3, bottom + total + 3);
    glLineWidth(1);
    if (!info.probe_values || n <= 0) return;
    const double cell = total / n;
    double factor = 1.0;
    if (info.data_colour != COLOUR_GREY) colour_channel_factors(0, &factor, info.data_colour);
    const double range = std::max(info.window_range, 1);
    for (int row = 0; row < n; row++)
        for (int col = 0; col < n; col++) {
            int v = info.probe_values[row * n + col];
            const double cx = left + col * cell, cy = bottom + total - (row + 1) * cell;
            enum { plain, green, inset, empty } kind = plain;
            if (v >= 160000) {
                v -= 160000;
                kind = green;
            } else if (v <= -160000) {
                kind = empty;
            } else if (v < 0) {
                v = ~v;
                kind = inset;
            }
            const double inner = kind == inset ? cell / 4 : 0;
            if (kind != empty) {
                const double g = std::clamp(
                    ((v * factor / 16.0) - info.window_centre) * 255.0 / range + 127, 0.0, 255.0);
                glColor3d(g / 255, g / 255, g / 255);
                glBegin(GL_QUADS);
                glVertex2d(cx + inner, cy + inner);
                glVertex2d(cx + cell - inner, cy + inner);
                glVertex2d(cx + cell - inner, cy + cell - inner);
                glVertex2d(cx + inner, cy + cell - inner);
                glEnd();
            }
            if (kind == green) glColor3d(0, 1, 0);
            else if (kind == plain) glColor3d(1, 1, 1);
            else glColor3d(0, 0, 0);
            gl_outline(cx + inner + 0.5, cy + inner + 0.5, cx + cell - inner - 0.5,
                    cy + cell - inner - 0.5);
        }
    const int c = n / 2;
    if (info.probe_values[c * n + c] > -160000) {
        glColor3d(1, 0, 0);
        glLineWidth(2);
        const double cx = left + c * cell, cy = bottom + total - (c + 1) * cell;
        gl_outline(cx + 1, cy + 1, cx + cell - 1, cy + cell - 1);
        glLineWidth(1);
    }
}

// Bins from the grey level of display level 0 to that of 255 under the current window,
// clamped to the histogram; 0..255 when that leaves nothing.
static void histogram_range(int& lo, int& hi)
{
    lo = (int)std::floor(info.window_centre - 127.0 * info.window_range / 255);
    hi = (int)std::ceil(info.window_centre + 128.0 * info.window_range / 255);
    lo = std::clamp(lo, 0, info.histogram_bins - 1);
    hi = std::clamp(hi, 0, info.histogram_bins - 1);
    if (hi <= lo) {
        lo = 0;
        hi = std::min(255, info.histogram_bins - 1);
    }
}

void MyGLCanvas::draw_histogram(double fs, double a)
{
    const double width = 2.0 * info.window_width / 3 - 5 * fs / 2 - 25;
    const double height = info.window_height / 3.0;
    const double right = info.window_width - (10 + fs / 2);
    const double top = info.window_height - (10 + fs / 2);
    const double left = right - width, bottom = top - height;
    if (width < 2 || height < 2 || info.histogram_bins < 1) return;
    draw_panel(left, bottom, width, height, a);
    int lo, hi;
    histogram_range(lo, hi);
    int cmin = info.histogram[lo], cmax = info.histogram[lo];
    for (int i = lo; i <= hi; i++) {
        cmin = std::min(cmin, info.histogram[i]);
        cmax = std::max(cmax, info.histogram[i]);
    }
    cmin = std::max(cmin, 0);
    const double step = width / (hi - lo + 1);
    glColor3d(0, 0.7, 0);
    for (int i = lo; i <= hi; i++) {
        const int count = info.histogram[i];
        const double x = left + (i - lo + 0.5) * step;
        if (count < 0) {
            glEnable(GL_LINE_STIPPLE);
            glLineStipple(1, 0x3333);
            glBegin(GL_LINES);
            glVertex2d(x, bottom);
            glVertex2d(x, top);
            glEnd();
            glDisable(GL_LINE_STIPPLE);
            continue;
        }
        const double h = cmax > cmin ? (double)(count - cmin) / (cmax - cmin) * height : 0;
        glBegin(GL_LINES);
        glVertex2d(x, bottom);
        glVertex2d(x, bottom + h);
        glEnd();
    }
}

// The bin labels sit inside the histogram panel's top corners, clear of the profile's
// labels that share this place, and are drawn after the profile's curves so that no curve
// hides them.
void MyGLCanvas::draw_histogram_labels(double fs)
{
    const double width = 2.0 * info.window_width / 3 - 5 * fs / 2 - 25;
    const double right = info.window_width - (10 + fs / 2);
    const double top = info.window_height - (10 + fs / 2);
    const double left = right - width;
    if (width < 2 || info.histogram_bins < 1) return;
    int lo, hi;
    histogram_range(lo, hi);
    const wxString high = wxString::Format("%i", hi);
    const double high_width = info.font ? info.font->length(high) : 0;
    draw_text(wxString::Format("%i", lo), left + 4, top - 2, 0, 0, 0, 0.9, 0);
    draw_text(high, right - 4 - high_width, top - 2, 0, 0, 0, 0.9, 0);
}

void MyGLCanvas::draw_profile(double fs, double a)
{
    double x0, y0, x1, y1;
    image_to_gl(info.line_start.x, info.line_start.y, x0, y0);
    image_to_gl(info.line_end.x, info.line_end.y, x1, y1);
    glColor3d(1, 0, 0);
    glLineWidth(2);
    glBegin(GL_LINES);
    glVertex2d(x0, y0);
    glVertex2d(x1, y1);
    glEnd();
    glLineWidth(1);
    if (info.show_gradient) return;

    const double width = 2.0 * info.window_width / 3 - 5 * fs / 2 - 25;
    const double height = info.window_height / 3.0;
    const double right = info.window_width - (10 + fs / 2);
    const double top = info.window_height - (10 + fs / 2);
    const double left = right - width, bottom = top - height;
    if (width < 2 || height < 2) return;
    // The histogram shares this place; its panel already lies beneath, so a second veil
    // would only wash the bins out.
    if (!(info.show_histogram && info.histogram))
        draw_panel(left, bottom, width, height, a);

    const double wc = info.window_centre, wr = info.window_range;
    draw_text(wxString::Format("%i", (int)(wc - 127 * wr / 255 + 0.5)), left, bottom, -5, 0.5, 1,
              1, 1);
    draw_text(wxString::Format("%i", (int)(wc + 128 * wr / 255 + 0.5)), left, top, -5, 0.5, 1, 1,
              1);
    draw_text("0", left, bottom, 0, 0, 1, 1, 1);
    const double dx = (info.line_end.x - info.line_start.x) * info.pixel_width;
    const double dy = (info.line_end.y - info.line_start.y) * info.pixel_height;
    const wxString mm = wxString::Format("%.2f", std::sqrt(dx * dx + dy * dy));

    // Which curves: every channel of a colour image (or the chosen one), else one grey curve.
    const bool colour = info.colour_processing && info.colour != COLOUR_GREY;
    const int n = colour ? info.channels : 1;
    double factors[4] = {1, 1, 1, 1};
    if (colour)
        colour_channel_factors(info.colour, factors, info.data_colour);
    else if (info.data_colour != COLOUR_GREY && info.colour != COLOUR_GREY)
        colour_channel_factors(0, factors, info.data_colour);

    if (!colour) {
        draw_text(mm, right, bottom, -4, 0, 1, 1, 1);
    } else {
        // "12.34   (RGB: Red, Green, Blue)" ending at the panel's right edge, each channel
        // name in its tint.
        wxString parts[6];
        int count = 0;
        parts[count++] = mm + wxString::Format("   (%s: ", colour_space_name(info.colour));
        for (int k = 0; k < n && k < 4; k++)
            parts[count++] = colour_channel_name(info.colour, k) + (k + 1 < n ? ", " : ")");
        int total = 0;
        for (int i = 0; i < count; i++) total += info.font ? info.font->length(parts[i]) : 0;
        double x = right - total;
        for (int i = 0; i < count; i++) {
            double tint[3] = {1, 1, 1};
            if (i > 0) colour_channel_tint(info.colour, i - 1, tint);
            draw_text(parts[i], x, bottom, 0, 0, tint[0], tint[1], tint[2]);
            x += info.font ? info.font->length(parts[i]) : 0;
        }
    }

    const int len = info.profile_length;
    if (len <= 0 || !info.line_profile) return;
    const double range = wr != 0 ? wr : 1;
    auto level_y = [&](double v) {
        return bottom + std::clamp((v - wc) * 255 / range + 127, 0.0, 255.0) * height / 256;
    };
    // Each curve over a dark trace, so a white or grey curve stays visible on the panel.
    auto curve = [&](int k, double r, double g, double b) {
        for (int pass = 0; pass < 2; pass++) {
            if (pass == 0) {
                glColor3d(0, 0, 0);
                glLineWidth(3);
            } else {
                glColor3d(r, g, b);
                glLineWidth(1.5);
            }
            glBegin(GL_LINE_STRIP);
            for (int i = 0; i < len; i++)
                glVertex2d(left + (double)i * width / len,
                           level_y(info.line_profile[(size_t)i * n + k] * factors[k]));
            glEnd();
        }
        glLineWidth(1);
    };
    if (colour) {
        for (int k = 0; k < n && k < 4; k++) {
            if (info.channel > 0 && info.channel != k + 1) continue;
            double tint[3];
            colour_channel_tint(info.colour, k, tint);
            curve(k, tint[0], tint[1], tint[2]);
        }
    } else {
        double tint[3];
        colour_channel_tint(0, 0, tint);
        curve(0, tint[0], tint[1], tint[2]);
    }
    if (info.show_projection && info.projection_line) {
        glColor3d(1, 0, 1);
        glBegin(GL_LINE_STRIP);
        for (int i = 0; i < len; i++)
            glVertex2d(left + (double)i * width / len, level_y(info.projection_line[i]));
        glEnd();
    }
}

