#include "app/NewOpenDialog.h"

#include <QFileDialog>
#include <QStringList>

std::unique_ptr<QFileDialog> TNewOpenDialog::CreateDialog(QWidget *parent) const {
    auto dialog = std::make_unique<QFileDialog>(parent);
    // Qt's own dialog, so the bar of places is ours to show or hide on every desktop.
    dialog->setOption(QFileDialog::DontUseNativeDialog, true);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setFileMode(QFileDialog::AnyFile);
    if (!FileName.empty())
        dialog->selectFile(QString::fromStdString(FileName));
    if (auto *sidebar = dialog->findChild<QWidget *>(QStringLiteral("sidebar")))
        sidebar->setVisible(ShowPlacesBar);
    return dialog;
}

bool TNewOpenDialog::Execute(QWidget *parent) {
    auto dialog = CreateDialog(parent);
    if (dialog->exec() != QDialog::Accepted)
        return false;
    const QStringList files = dialog->selectedFiles();
    if (files.isEmpty())
        return false;
    FileName = files.first().toStdString();
    return true;
}
