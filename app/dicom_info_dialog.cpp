#include "app/dicom_info_dialog.h"

#include <vector>
#include <wx/dialog.h>
#include <wx/filename.h>
#include <wx/listctrl.h>
#include <wx/log.h>
#include <wx/sizer.h>
#include <wx/srchctrl.h>

#include "core/path_buffer.h"
#include "core/record.h"
#include "io/dicom_elements.h"
#include "io/dicom_series.h"

namespace {

class dicom_info_dialog : public wxDialog {
public:
    dicom_info_dialog(wxWindow* parent, const wxString& title, std::vector<dicom_element_row> rows)
        : wxDialog(parent, wxID_ANY, title, wxDefaultPosition, wxSize(760, 560),
                   wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER),
          rows_(std::move(rows))
    {
        wxBoxSizer* sizer = new wxBoxSizer(wxVERTICAL);
        search = new wxSearchCtrl(this, wxID_ANY);
        search->SetDescriptiveText("Search tags, names and values");
        sizer->Add(search, 0, wxEXPAND | wxALL, 5);
        list = new wxListCtrl(this, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxLC_REPORT | wxLC_HRULES);
        list->AppendColumn("Tag", wxLIST_FORMAT_LEFT, 130);
        list->AppendColumn("Name", wxLIST_FORMAT_LEFT, 220);
        list->AppendColumn("VR", wxLIST_FORMAT_LEFT, 40);
        list->AppendColumn("Value", wxLIST_FORMAT_LEFT, 340);
        sizer->Add(list, 1, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, 5);
        sizer->Add(CreateStdDialogButtonSizer(wxOK), 0, wxEXPAND | wxALL, 5);
        SetSizer(sizer);
        search->Bind(wxEVT_TEXT, [this](wxCommandEvent&) { fill(); });
        fill();
    }

    // Lists the rows whose tag, name, VR or value holds the search text (any case).
    void fill()
    {
        const wxString wanted = search->GetValue().Lower();
        list->Freeze();
        list->DeleteAllItems();
        for (const dicom_element_row& r : rows_) {
            const wxString tag = r.group || r.element
                                     ? wxString(' ', 2 * r.depth) + wxString::Format("(%04X,%04X)", r.group, r.element)
                                     : wxString();
            const wxString name = r.group || r.element ? wxString(dicom_element_name(r.group, r.element)) : wxString();
            const wxString vr = wxString::FromUTF8(r.vr.c_str());
            const wxString value = wxString::FromUTF8(r.value.c_str());
            if (!wanted.empty() && !(tag + " " + name + " " + vr + " " + value).Lower().Contains(wanted)) continue;
            const long at = list->InsertItem(list->GetItemCount(), tag);
            list->SetItem(at, 1, name);
            list->SetItem(at, 2, vr);
            list->SetItem(at, 3, value);
        }
        list->Thaw();
    }

    wxSearchCtrl* search = nullptr;
    wxListCtrl* list = nullptr;

private:
    std::vector<dicom_element_row> rows_;
};

}  // namespace

wxDialog* make_dicom_information(wxWindow* parent)
{
    if (!info.raw_image || !is_dicom_type(info.file_type)) return nullptr;
    const std::string opened = native_path(info.file_name);
    const std::string path = frame_file_name(opened, info.file_type, info.frame);
    std::vector<dicom_element_row> rows;
    std::string why;
    if (path.empty() || !list_dicom_elements(path, rows, why)) {
        wxLogWarning("The DICOM elements of %s cannot be listed: %s.", path_text(path), wxString(why));
        return nullptr;
    }
    return new dicom_info_dialog(parent, "DICOM information: " + wxFileName(path_text(path)).GetFullName(),
                                 std::move(rows));
}

wxSearchCtrl* dicom_information_search(wxDialog* dialog)
{
    auto* d = dynamic_cast<dicom_info_dialog*>(dialog);
    return d ? d->search : nullptr;
}

wxListCtrl* dicom_information_list(wxDialog* dialog)
{
    auto* d = dynamic_cast<dicom_info_dialog*>(dialog);
    return d ? d->list : nullptr;
}

void show_dicom_information(wxWindow* parent)
{
    wxDialog* dialog = make_dicom_information(parent);
    if (!dialog) return;
    dialog->ShowModal();
    dialog->Destroy();
}
