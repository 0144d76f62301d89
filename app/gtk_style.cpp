#include "app/gtk_style.h"

#include <gtk/gtk.h>
#include <wx/slider.h>
#include <wx/string.h>

void install_window_style()
{
    static bool done = false;
    if (done) return;
    done = true;
    GdkScreen* screen = gdk_screen_get_default();
    if (!screen) return;
    GtkCssProvider* css = gtk_css_provider_new();
    const char* const sheet =
        "notebook > header > tabs > tab { padding: 2px 3px; margin: 0; min-width: 0; }\n"
        "notebook > header > tabs > tab label { font-size: 90%; }\n"
        "scale:not(:disabled) value { color: @theme_text_color; }\n";
    gtk_css_provider_load_from_data(css, sheet, -1, nullptr);
    gtk_style_context_add_provider_for_screen(screen, GTK_STYLE_PROVIDER(css),
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_unref(css);
}

namespace {

void collect_labels(GtkWidget* w, gpointer labels)
{
    if (GTK_IS_LABEL(w))
        *static_cast<GList**>(labels) = g_list_append(*static_cast<GList**>(labels), w);
    else if (GTK_IS_CONTAINER(w))
        gtk_container_forall(GTK_CONTAINER(w), collect_labels, labels);
}

}  // namespace

void show_single_value(wxSlider* slider, int value)
{
    slider->SetRange(value, value + 1);
    slider->SetValue(value);
    GtkWidget* top = static_cast<GtkWidget*>(slider->GetHandle());
    if (!top) return;
    // The end labels are the box's plain labels; the one showing value + 1 is the maximum.
    GList* labels = nullptr;
    collect_labels(top, &labels);
    const wxString above = wxString::Format("%i", value + 1);
    const wxString text = wxString::Format("%i", value);
    for (GList* l = labels; l; l = l->next) {
        GtkLabel* label = GTK_LABEL(l->data);
        if (wxString::FromUTF8(gtk_label_get_text(label)) == above)
            gtk_label_set_text(label, text.utf8_str());
    }
    g_list_free(labels);
}
