// The open-file dialog of the form, with one more setting: ShowPlacesBar shows or hides the bar of
// places (home, drives, recent folders) at the dialog's side.
#pragma once

#include <memory>
#include <string>

class QFileDialog;
class QWidget;

class TNewOpenDialog {
public:
    TNewOpenDialog() = default;

    bool ShowPlacesBar = true;
    // The chosen file's full name after Execute returned true; also the name the dialog starts on.
    std::string FileName;

    // Shows the dialog; true when the user chose a file.
    bool Execute(QWidget *parent = nullptr);

    // The dialog as Execute shows it, for callers that drive it themselves.
    std::unique_ptr<QFileDialog> CreateDialog(QWidget *parent = nullptr) const;
};
