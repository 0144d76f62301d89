// File > DICOM information: the current frame's elements in a list that a search box narrows.
#pragma once

class wxDialog;
class wxListCtrl;
class wxSearchCtrl;
class wxWindow;

// The dialog listing the elements of the file holding the open data set's current frame;
// null (with the reason logged) when the file cannot be listed. The caller owns it.
wxDialog* make_dicom_information(wxWindow* parent);
// Its search box and list.
wxSearchCtrl* dicom_information_search(wxDialog* dialog);
wxListCtrl* dicom_information_list(wxDialog* dialog);

// Shows that dialog modally.
void show_dicom_information(wxWindow* parent);
