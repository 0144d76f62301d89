// File > DICOM information: the current frame's elements in a list that a search box narrows.
#pragma once

class wxWindow;

// Shows the elements of the file holding the open data set's current frame. Logs why when
// the file cannot be listed.
void show_dicom_information(wxWindow* parent);
