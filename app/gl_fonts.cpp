#define GL_GLEXT_PROTOTYPES
#include "app/gl_fonts.h"

#include <GL/gl.h>
#include <GL/glext.h>

#include <cmath>
#include <vector>

#include <wx/image.h>
#include <wx/mstream.h>

namespace {

bool valid_index(int index) { return index >= 0 && index < gl_font_count; }

int text_length(const gl_font_info_t& f, const wxString& text)
{
    int total = 0;
    for (wxUniChar ch : text) {
        const long c = (long)ch.GetValue();
        if (c >= f.first_char && c <= f.last_char)
            total += f.glyphs[(c - f.first_char) * 3 + 2];
        else
            total += f.size / 2;
    }
    return total;
}

// Rounds to the nearest integer, halves away from zero.
double round_half_away(double v) { return v < 0 ? -std::floor(-v + 0.5) : std::floor(v + 0.5); }

}  // namespace

int font_text_length(int index, const wxString& text)
{
    return valid_index(index) ? text_length(gl_font_info[index], text) : 0;
}

gl_fonts::gl_fonts(int index_)
{
    if (!valid_index(index_)) return;
    const gl_font_info_t& f = gl_font_info[index_];
    // Only the PNG handler is needed here; the loaders and savers register their own.
    if (!wxImage::FindHandler(wxBITMAP_TYPE_PNG)) wxImage::AddHandler(new wxPNGHandler);
    wxMemoryInputStream stream(f.png, (size_t)f.png_size);
    wxImage atlas;
    if (!atlas.LoadFile(stream, wxBITMAP_TYPE_PNG) || atlas.GetWidth() != f.atlas_width ||
        atlas.GetHeight() != f.atlas_height)
        return;
    index = index_;
    tex_width = f.atlas_width;
    tex_height = f.atlas_height;

    // White glyphs premultiplied by coverage: every component equals the grey value.
    const unsigned char* grey = atlas.GetData();
    std::vector<unsigned char> rgba((size_t)tex_width * tex_height * 4);
    for (size_t i = 0, n = (size_t)tex_width * tex_height; i < n; i++)
        rgba[i * 4] = rgba[i * 4 + 1] = rgba[i * 4 + 2] = rgba[i * 4 + 3] = grey[i * 3];

    glActiveTexture(GL_TEXTURE0);
    GLint previous = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &previous);
    GLuint name = 0;
    glGenTextures(1, &name);
    texture = name;
    glBindTexture(GL_TEXTURE_2D, texture);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, tex_width, tex_height, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                 rgba.data());
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    glBindTexture(GL_TEXTURE_2D, (GLuint)previous);
}

gl_fonts::~gl_fonts()
{
    if (index < 0) return;
    GLuint name = texture;
    glDeleteTextures(1, &name);
}

int gl_fonts::size() const { return index < 0 ? 0 : gl_font_info[index].size; }

wxString gl_fonts::name() const { return index < 0 ? wxString() : wxString(gl_font_info[index].name); }

int gl_fonts::length(const wxString& text) const
{
    return index < 0 ? 0 : text_length(gl_font_info[index], text);
}

void gl_fonts::draw(const wxString& text, vertex2d position, vertex2d anchor) const
{
    if (index < 0 || text.empty()) return;
    const gl_font_info_t& f = gl_font_info[index];

    // Pixel size in normalised device coordinates, and the position in NDC.
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    if (viewport[2] <= 0 || viewport[3] <= 0) return;
    const double px = 2.0 / viewport[2], py = 2.0 / viewport[3];
    GLdouble projection[16];
    glGetDoublev(GL_PROJECTION_MATRIX, projection);
    const double x = projection[0] * position.x + projection[4] * position.y + projection[12];
    const double y = projection[1] * position.x + projection[5] * position.y + projection[13];
    const double z = projection[2] * position.x + projection[6] * position.y + projection[14];
    const double w = projection[3] * position.x + projection[7] * position.y + projection[15];
    const double nx = x / w, ny = y / w, nz = z / w;

    const double h = f.size * py;
    double x0 = round_half_away((f.size / 2 * px * anchor.x + nx + 1) / px) * px - 1;
    const double y0 = round_half_away((anchor.y * h + ny + 1) / py) * py - 1;

    std::vector<float> vertices, coords;
    vertices.reserve(text.length() * 18);
    coords.reserve(text.length() * 12);
    for (wxUniChar ch : text) {
        const long c = (long)ch.GetValue();
        if (c < f.first_char || c > f.last_char) continue;
        const int* g = f.glyphs + (c - f.first_char) * 3;
        const double x1 = x0 + g[2] * px, y1 = y0 - h;
        const float s0 = (float)g[0] / tex_width, t0 = (float)g[1] / tex_height;
        const float s1 = (float)(g[0] + g[2]) / tex_width, t1 = (float)(g[1] + f.size) / tex_height;
        const float quad[6][3] = {{(float)x0, (float)y0, (float)nz}, {(float)x1, (float)y0, (float)nz},
                                  {(float)x1, (float)y1, (float)nz}, {(float)x0, (float)y0, (float)nz},
                                  {(float)x1, (float)y1, (float)nz}, {(float)x0, (float)y1, (float)nz}};
        const float uv[6][2] = {{s0, t0}, {s1, t0}, {s1, t1}, {s0, t0}, {s1, t1}, {s0, t1}};
        for (int k = 0; k < 6; k++) {
            vertices.insert(vertices.end(), quad[k], quad[k] + 3);
            coords.insert(coords.end(), uv[k], uv[k] + 2);
        }
        x0 = x1;
    }
    if (vertices.empty()) return;

    glActiveTexture(GL_TEXTURE0);
    GLint previous = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &previous);
    glBindTexture(GL_TEXTURE_2D, texture);
    const bool texturing_off = !glIsEnabled(GL_TEXTURE_2D);
    const bool alpha_off = !glIsEnabled(GL_ALPHA_TEST);
    const bool blend_off = !glIsEnabled(GL_BLEND);
    if (texturing_off) glEnable(GL_TEXTURE_2D);
    if (alpha_off) glEnable(GL_ALPHA_TEST);
    if (blend_off) glEnable(GL_BLEND);
    glAlphaFunc(GL_GREATER, 0.0f);
    glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_ALPHA);

    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();

    // One upload: vertices first, then texture coordinates.
    const size_t vbytes = vertices.size() * sizeof(float), cbytes = coords.size() * sizeof(float);
    GLuint buffer = 0;
    glGenBuffers(1, &buffer);
    glBindBuffer(GL_ARRAY_BUFFER, buffer);
    glBufferData(GL_ARRAY_BUFFER, (GLsizeiptr)(vbytes + cbytes), nullptr, GL_STATIC_DRAW);
    glBufferSubData(GL_ARRAY_BUFFER, 0, (GLsizeiptr)vbytes, vertices.data());
    glBufferSubData(GL_ARRAY_BUFFER, (GLintptr)vbytes, (GLsizeiptr)cbytes, coords.data());
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    glVertexPointer(3, GL_FLOAT, 0, nullptr);
    glTexCoordPointer(2, GL_FLOAT, 0, (const void*)vbytes);
    glDrawArrays(GL_TRIANGLES, 0, (GLsizei)(vertices.size() / 3));
    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
    glDisableClientState(GL_VERTEX_ARRAY);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    glDeleteBuffers(1, &buffer);

    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();

    if (texturing_off) glDisable(GL_TEXTURE_2D);
    if (alpha_off) glDisable(GL_ALPHA_TEST);
    glBindTexture(GL_TEXTURE_2D, (GLuint)previous);
    glBlendFunc(GL_ONE, GL_ZERO);
    if (blend_off) glDisable(GL_BLEND);
}
