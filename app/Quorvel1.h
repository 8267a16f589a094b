// The job dialog's window: the controls laid out as the form defines them, each event handed to
// the plain logic (quorvel::TQuorvelLogic), which reads and writes the controls through this view.
#pragma once

#include "app/NewOpenDialog.h"
#include "app/QuorvelLogic.h"
#include "archives/ArchiveFile.h"

#include <QIcon>
#include <QList>
#include <QWidget>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QButtonGroup;
class QCheckBox;
class QCloseEvent;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMessageBox;
class QPushButton;
class QRadioButton;
class QToolButton;

// A message box as the form shows it: title, text, icon and the buttons in their order.
std::unique_ptr<QMessageBox> MakeMessageBox(const platform::MessageBoxText &box,
                                            QWidget *parent = nullptr);

class TQuorvelForm : public QWidget, public quorvel::IQuorvelView {
    Q_OBJECT

public:
    explicit TQuorvelForm(const std::string &programPath, quorvel::TCompressFunc compress = {},
                          QWidget *parent = nullptr);
    ~TQuorvelForm() override;

    // Runs FormCreate; an error of a job started there is shown by the default error handler.
    void Create(const std::vector<std::string> &args);

    bool DoJob() { return logic_.DoJob(); }
    int CompressFile(const std::string &Source, const std::string &Dest) {
        return logic_.CompressFile(Source, Dest);
    }

    // True once the application was asked to end (the `exit` argument, or Yes to the exit
    // question).
    bool Terminated() const { return terminated_; }
    // 0 when the last job succeeded or none ran, 1 when it failed.
    int ExitCode() const;
    quorvel::TQuorvelLogic &Logic() { return logic_; }

    // Seams for tests: answer message boxes and the file chooser without showing them.
    void SetMessageBoxHandler(std::function<size_t(const platform::MessageBoxText &)> handler) {
        messageBoxHandler_ = std::move(handler);
    }
    void SetFileChooser(std::function<std::optional<std::string>()> chooser) {
        fileChooser_ = std::move(chooser);
    }

    // IQuorvelView
    quorvel::TFormValues Values() const override;
    void SetValues(const quorvel::TFormValues &values) override;
    size_t ShowMessageBox(const platform::MessageBoxText &box) override;
    std::optional<std::string> ChooseFile() override;
    void RemoveCloseCommand() override;
    void HideForm() override;
    void Terminate() override;

    // The controls, named as on the form.
    QLabel *Label1;
    QLabel *Label2;
    QFrame *ToolBar1;
    QToolButton *ToolButton1;
    QToolButton *ToolButton2;
    QToolButton *ToolButton3;
    QFrame *ToolButton4;
    QToolButton *ToolButton5;
    QLineEdit *Edit1;
    QLineEdit *Edit2;
    QPushButton *Button1;
    QPushButton *Button2;
    QCheckBox *CheckBox2;
    QGroupBox *RadioGroup1;
    QCheckBox *CheckBox1;
    QList<QIcon> ImageList1;
    TNewOpenDialog OpenDialog1;
    // On the form with every setting at its default (ArchiverType atAutoDetect) and used by no
    // code: each compress job makes its own component.
    archives::TArchiveFile ArchiveFile1{this};

    // RadioGroup1's selected index, -1 for none.
    int ItemIndex() const;
    void SetItemIndex(int index);

signals:
    void TerminateRequested();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void APLTerminateSwOn();
    void SaveSwOn();
    void FileNameSelectSwON(QObject *sender);
    void ExecuteON();
    // The application's default error handler around each event.
    void Guarded(const std::function<void()> &handler);

    quorvel::TQuorvelLogic logic_;
    QButtonGroup *radioButtons_;
    std::vector<QRadioButton *> radioItems_;
    bool closeRefused_ = false;
    bool terminated_ = false;
    std::function<size_t(const platform::MessageBoxText &)> messageBoxHandler_;
    std::function<std::optional<std::string>()> fileChooser_;
};
