#include "app/Quorvel1.h"

#include <QAbstractButton>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QToolButton>

namespace {

QString Q(const std::string &s) {
    return QString::fromStdString(s);
}

// The tool-button pictures; the form shows indexes 0, 2, 4 and 6.
QList<QIcon> MakeImageList(QStyle *style) {
    const QStyle::StandardPixmap pictures[] = {
        QStyle::SP_DialogCloseButton,                               // 0 exit
        QStyle::SP_DialogOpenButton,  QStyle::SP_MediaPlay,         // 2 start job
        QStyle::SP_MediaStop,         QStyle::SP_DialogResetButton, // 4 clear setting
        QStyle::SP_TrashIcon,         QStyle::SP_DialogSaveButton,  // 6 save setting
        QStyle::SP_FileIcon,
    };
    QList<QIcon> list;
    for (auto p : pictures)
        list.append(style->standardIcon(p));
    return list;
}

} // namespace

std::unique_ptr<QMessageBox> MakeMessageBox(const platform::MessageBoxText &box, QWidget *parent) {
    auto mb = std::make_unique<QMessageBox>(parent);
    mb->setWindowTitle(Q(box.Title));
    mb->setText(Q(box.Text));
    switch (box.Icon) {
    case platform::MessageBoxIcon::Question:
        mb->setIcon(QMessageBox::Question);
        break;
    case platform::MessageBoxIcon::Information:
        mb->setIcon(QMessageBox::Information);
        break;
    case platform::MessageBoxIcon::Error:
        mb->setIcon(QMessageBox::Critical);
        break;
    case platform::MessageBoxIcon::None:
        break;
    }
    for (size_t i = 0; i < box.Buttons.size(); ++i) {
        // The first button answers Yes (or OK), the last one No; Escape takes the last.
        const auto role =
            i == 0 ? QMessageBox::YesRole
                   : (i + 1 == box.Buttons.size() ? QMessageBox::NoRole : QMessageBox::ActionRole);
        QPushButton *b = mb->addButton(Q(box.Buttons[i]), role);
        if (i == 0)
            mb->setDefaultButton(b);
        if (i + 1 == box.Buttons.size())
            mb->setEscapeButton(b);
    }
    return mb;
}

TQuorvelForm::TQuorvelForm(const std::string &programPath, quorvel::TCompressFunc compress,
                           QWidget *parent)
    : QWidget(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                          Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint),
      logic_(*this, programPath, std::move(compress)) {
    setObjectName(QStringLiteral("QuorvelForm"));
    setWindowTitle(QStringLiteral("MERIDEX Dialog"));
    setFixedSize(192, 209);
    move(487, 242);
    setBackgroundRole(QPalette::Button);
    setAutoFillBackground(true);
    QFont font;
    font.setFamilies({QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("MS PGothic"),
                      QStringLiteral("IPAPGothic"), QStringLiteral("Noto Sans CJK JP"),
                      // narrow like the original where no Japanese font is installed
                      QStringLiteral("DejaVu Sans Condensed"),
                      QStringLiteral("Liberation Sans Narrow")});
    font.setPixelSize(12);
    setFont(font);
    ImageList1 = MakeImageList(style());

    auto label = [this](const char *name, const char *caption, int x, int y) {
        auto *l = new QLabel(QString::fromUtf8(caption), this);
        l->setObjectName(QLatin1String(name));
        l->adjustSize();
        l->move(x, y);
        return l;
    };
    Label1 = label("Label1", "Dist.", 8, 144);
    Label2 = label("Label2", "Source", 8, 104);

    ToolBar1 = new QFrame(this);
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setFrameStyle(QFrame::WinPanel | QFrame::Raised);
    ToolBar1->setGeometry(0, 0, 192, 26);
    const int edge = ToolBar1->frameWidth();
    auto toolButton = [this, edge](const char *name, int x, int image, const char *hint) {
        auto *b = new QToolButton(ToolBar1);
        b->setObjectName(QLatin1String(name));
        b->setAutoRaise(true); // a flat tool bar
        b->setFocusPolicy(Qt::NoFocus);
        b->setIcon(ImageList1.value(image));
        b->setIconSize(QSize(16, 16));
        b->setToolTip(QString::fromUtf8(hint));
        b->setGeometry(edge + x, edge, 23, 22);
        return b;
    };
    ToolButton1 = toolButton("ToolButton1", 0, 0, "Exit This Dialog");
    ToolButton2 = toolButton("ToolButton2", 23, 6, "Save on Setting");
    ToolButton3 = toolButton("ToolButton3", 46, 4, "Clear Setting");
    ToolButton4 = new QFrame(ToolBar1);
    ToolButton4->setObjectName(QStringLiteral("ToolButton4"));
    ToolButton4->setFrameStyle(QFrame::VLine | QFrame::Sunken);
    ToolButton4->setGeometry(edge + 69, edge, 8, 22);
    ToolButton5 = toolButton("ToolButton5", 77, 2, "Start Job");

    auto edit = [this](const char *name, int x, int y) {
        auto *e = new QLineEdit(this);
        e->setObjectName(QLatin1String(name));
        e->setGeometry(x, y, 121, 20);
        return e;
    };
    Edit1 = edit("Edit1", 8, 120);
    Edit2 = edit("Edit2", 8, 160);

    auto button = [this](const char *name, int x, int y) {
        auto *b = new QPushButton(QStringLiteral("..."), this);
        b->setObjectName(QLatin1String(name));
        b->setGeometry(x, y, 41, 20);
        b->setAutoDefault(false); // Enter in an edit field must not open the file chooser
        return b;
    };
    Button1 = button("Button1", 136, 120);
    Button2 = button("Button2", 136, 160);

    CheckBox2 = new QCheckBox(QStringLiteral("Over Write Enable"), this);
    CheckBox2->setObjectName(QStringLiteral("CheckBox2"));
    CheckBox2->setGeometry(8, 184, 121, 17);
    CheckBox2->setChecked(true);

    RadioGroup1 = new QGroupBox(QStringLiteral(" Function "), this);
    RadioGroup1->setObjectName(QStringLiteral("RadioGroup1"));
    RadioGroup1->setGeometry(8, 32, 177, 57);
    radioButtons_ = new QButtonGroup(RadioGroup1);
    {
        // Two columns filled top to bottom: Copy and Compress on the left, Delete on the right.
        const char *items[] = {"Copy", "Compress", "Delete"};
        const int top = 16, rowHeight = 18, columnWidth = 84;
        for (int i = 0; i < 3; ++i) {
            auto *r = new QRadioButton(QLatin1String(items[i]), RadioGroup1);
            r->setObjectName(QStringLiteral("RadioGroup1Item%1").arg(i));
            r->setGeometry(8 + (i / 2) * columnWidth, top + (i % 2) * rowHeight, columnWidth - 8,
                           17);
            radioButtons_->addButton(r, i);
            radioItems_.push_back(r);
        }
    }
    SetItemIndex(0);

    CheckBox1 = new QCheckBox(QStringLiteral("Source Delete"), this);
    CheckBox1->setObjectName(QStringLiteral("CheckBox1"));
    CheckBox1->setGeometry(88, 96, 97, 17);
    CheckBox1->setChecked(false);

    OpenDialog1.ShowPlacesBar = true;

    // Tab order: Edit1, Edit2, Button1, Button2, CheckBox2, RadioGroup1, CheckBox1.
    QWidget *order[] = {Edit1, Edit2, Button1, Button2, CheckBox2, radioItems_[0], CheckBox1};
    for (size_t i = 0; i + 1 < std::size(order); ++i)
        setTabOrder(order[i], order[i + 1]);

    connect(ToolButton1, &QToolButton::clicked, this, [this] { APLTerminateSwOn(); });
    connect(ToolButton2, &QToolButton::clicked, this, [this] { SaveSwOn(); });
    // ToolButton3 ("Clear Setting") has no handler.
    connect(ToolButton5, &QToolButton::clicked, this, [this] { ExecuteON(); });
    connect(Button1, &QPushButton::clicked, this, [this] { FileNameSelectSwON(Button1); });
    connect(Button2, &QPushButton::clicked, this, [this] { FileNameSelectSwON(Button2); });
}

TQuorvelForm::~TQuorvelForm() = default;

void TQuorvelForm::Create(const std::vector<std::string> &args) {
    Guarded([&] { logic_.FormCreate(args); });
}

int TQuorvelForm::ExitCode() const {
    return logic_.LastJobResult().value_or(true) ? 0 : 1;
}

int TQuorvelForm::ItemIndex() const {
    return radioButtons_->checkedId();
}

void TQuorvelForm::SetItemIndex(int index) {
    index = quorvel::ClampJobKind(index);
    if (index < 0) {
        // An exclusive group keeps one button checked; clearing all needs it off for a moment.
        radioButtons_->setExclusive(false);
        for (auto *r : radioItems_)
            r->setChecked(false);
        radioButtons_->setExclusive(true);
    } else {
        radioItems_[static_cast<size_t>(index)]->setChecked(true);
    }
}

quorvel::TFormValues TQuorvelForm::Values() const {
    quorvel::TFormValues v;
    v.JobKind = ItemIndex();
    v.SourceFile = Edit1->text().toStdString();
    v.DistFile = Edit2->text().toStdString();
    v.SourDelete = CheckBox1->isChecked();
    v.OverWrite = CheckBox2->isChecked();
    return v;
}

void TQuorvelForm::SetValues(const quorvel::TFormValues &values) {
    SetItemIndex(values.JobKind);
    Edit1->setText(Q(values.SourceFile));
    Edit2->setText(Q(values.DistFile));
    CheckBox1->setChecked(values.SourDelete);
    CheckBox2->setChecked(values.OverWrite);
}

size_t TQuorvelForm::ShowMessageBox(const platform::MessageBoxText &box) {
    if (messageBoxHandler_)
        return messageBoxHandler_(box);
    auto mb = MakeMessageBox(box, isVisible() ? this : nullptr);
    mb->exec();
    const QList<QAbstractButton *> buttons = mb->buttons();
    QAbstractButton *clicked = mb->clickedButton();
    // buttons() does not keep the order of adding; find the clicked one by its caption.
    const QString caption = clicked != nullptr ? clicked->text() : QString();
    for (size_t i = 0; i < box.Buttons.size(); ++i)
        if (Q(box.Buttons[i]) == caption)
            return i;
    return box.Buttons.empty() ? 0 : box.Buttons.size() - 1;
}

std::optional<std::string> TQuorvelForm::ChooseFile() {
    if (fileChooser_)
        return fileChooser_();
    if (!OpenDialog1.Execute(this))
        return std::nullopt;
    return OpenDialog1.FileName;
}

void TQuorvelForm::RemoveCloseCommand() {
    closeRefused_ = true;
    const bool visible = isVisible();
    setWindowFlag(Qt::WindowCloseButtonHint, false);
    if (visible)
        show(); // changing the flags hides a shown window
}

void TQuorvelForm::HideForm() {
    hide();
}

void TQuorvelForm::Terminate() {
    terminated_ = true;
    emit TerminateRequested();
}

void TQuorvelForm::closeEvent(QCloseEvent *event) {
    // With Close off the window menu, neither the title bar nor Alt+F4 ends the dialog.
    if (closeRefused_ && !terminated_)
        event->ignore();
    else
        event->accept();
}

void TQuorvelForm::APLTerminateSwOn() {
    Guarded([this] { logic_.APLTerminateSwOn(); });
}

void TQuorvelForm::SaveSwOn() {
    Guarded([this] { logic_.SaveSwOn(); });
}

void TQuorvelForm::FileNameSelectSwON(QObject *sender) {
    Guarded([this, sender] {
        logic_.FileNameSelectSwON(sender == Button1 ? quorvel::TFileButton::Source
                                                    : quorvel::TFileButton::Dist);
    });
}

void TQuorvelForm::ExecuteON() {
    Guarded([this] { logic_.ExecuteON(); });
}

void TQuorvelForm::Guarded(const std::function<void()> &handler) {
    try {
        handler();
    } catch (const std::exception &e) {
        logic_.ShowException(e);
    } catch (...) {
        logic_.ShowException(std::runtime_error("unknown error"));
    }
}
