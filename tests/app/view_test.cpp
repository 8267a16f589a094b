// The Qt form on the offscreen platform: its controls as the form defines them, the tool buttons
// clicked, and a screenshot of the dialog under the build folder.
#include "TestDir.h"

#include "app/NewOpenDialog.h"
#include "app/Quorvel1.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QFileDialog>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

using testutil::ReadFile;
using testutil::TestDir;
using testutil::WriteFile;
namespace fs = std::filesystem;

namespace {

// A form whose program lives in the test's folder, with its boxes answered from a queue.
struct FormHarness {
    explicit FormHarness(const TestDir &dir, quorvel::TCompressFunc compress = {})
        : form(dir / "QUORVEL", std::move(compress)) {
        form.SetMessageBoxHandler([this](const platform::MessageBoxText &box) {
            boxes.push_back(box);
            size_t a = answers.empty() ? box.Buttons.size() - 1 : answers.front();
            if (!answers.empty())
                answers.erase(answers.begin());
            return a;
        });
    }
    std::vector<std::string> Texts() const {
        std::vector<std::string> t;
        for (const auto &b : boxes)
            t.push_back(b.Text);
        return t;
    }
    TQuorvelForm form;
    std::vector<platform::MessageBoxText> boxes;
    std::vector<size_t> answers;
};

TEST(View, ControlsHaveTheirCaptionsPlacesAndInitialStates) {
    TestDir dir;
    FormHarness h(dir);
    TQuorvelForm &f = h.form;
    EXPECT_EQ(f.windowTitle(), "MERIDEX Dialog");
    EXPECT_EQ(f.size(), QSize(192, 209));
    EXPECT_EQ(f.pos(), QPoint(487, 242));
    EXPECT_EQ(f.minimumSize(), f.maximumSize());
    EXPECT_EQ(f.font().pixelSize(), 12);
    EXPECT_EQ(f.font().families().value(0), QStringLiteral("ＭＳ Ｐゴシック"));

    EXPECT_EQ(f.Label1->text(), "Dist.");
    EXPECT_EQ(f.Label1->pos(), QPoint(8, 144));
    EXPECT_EQ(f.Label2->text(), "Source");
    EXPECT_EQ(f.Label2->pos(), QPoint(8, 104));
    EXPECT_EQ(f.ToolBar1->geometry(), QRect(0, 0, 192, 26));

    struct Tool {
        QToolButton *button;
        int x;
        int image;
        const char *hint;
    } tools[] = {{f.ToolButton1, 0, 0, "Exit This Dialog"},
                 {f.ToolButton2, 23, 6, "Save on Setting"},
                 {f.ToolButton3, 46, 4, "Clear Setting"},
                 {f.ToolButton5, 77, 2, "Start Job"}};
    const int edge = f.ToolBar1->frameWidth();
    for (const auto &t : tools) {
        EXPECT_EQ(t.button->toolTip(), t.hint);
        EXPECT_EQ(t.button->pos(), QPoint(edge + t.x, edge)) << t.hint;
        EXPECT_TRUE(t.button->autoRaise());
        EXPECT_FALSE(t.button->icon().isNull()) << t.hint;
        EXPECT_EQ(t.button->icon().cacheKey(), f.ImageList1.value(t.image).cacheKey()) << t.hint;
    }
    EXPECT_EQ(f.ToolButton4->geometry(), QRect(edge + 69, edge, 8, 22));

    EXPECT_EQ(f.Edit1->geometry(), QRect(8, 120, 121, 20));
    EXPECT_EQ(f.Edit2->geometry(), QRect(8, 160, 121, 20));
    EXPECT_EQ(f.Button1->geometry(), QRect(136, 120, 41, 20));
    EXPECT_EQ(f.Button2->geometry(), QRect(136, 160, 41, 20));
    EXPECT_EQ(f.Button1->text(), "...");
    EXPECT_EQ(f.Button2->text(), "...");
    EXPECT_EQ(f.CheckBox2->geometry(), QRect(8, 184, 121, 17));
    EXPECT_EQ(f.CheckBox2->text(), "Over Write Enable");
    EXPECT_TRUE(f.CheckBox2->isChecked());
    EXPECT_EQ(f.RadioGroup1->geometry(), QRect(8, 32, 177, 57));
    EXPECT_EQ(f.RadioGroup1->title(), " Function ");
    EXPECT_EQ(f.CheckBox1->geometry(), QRect(88, 96, 97, 17));
    EXPECT_EQ(f.CheckBox1->text(), "Source Delete");
    EXPECT_FALSE(f.CheckBox1->isChecked());
    EXPECT_EQ(f.ItemIndex(), 0);
    EXPECT_TRUE(f.OpenDialog1.ShowPlacesBar);
    // The archive component sits on the form at its defaults: nothing but the switch record's
    // always-stored properties would be kept with the form.
    EXPECT_EQ(f.ArchiveFile1.Owner(), &f);
    EXPECT_EQ(f.ArchiveFile1.ArchiverType(), archives::atAutoDetect);
    EXPECT_EQ(f.ArchiveFile1.FileName(), archives::UnsetString);
    EXPECT_EQ(f.ArchiveFile1.Archiver(), nullptr);
    EXPECT_EQ(f.ArchiveFile1.WriteProperties(),
              archives::TArchiverOptions().WriteProperties("Options."));

    // Two columns, filled top to bottom.
    auto items = f.RadioGroup1->findChildren<QRadioButton *>();
    ASSERT_EQ(items.size(), 3);
    std::map<QString, QPoint> at;
    for (auto *r : items)
        at[r->text()] = r->pos();
    EXPECT_EQ(at["Copy"].x(), at["Compress"].x());
    EXPECT_LT(at["Copy"].y(), at["Compress"].y());
    EXPECT_GT(at["Delete"].x(), at["Copy"].x());
    EXPECT_EQ(at["Delete"].y(), at["Copy"].y());
}

TEST(View, TabGoesThroughTheControlsInTheirOrder) {
    TestDir dir;
    FormHarness h(dir);
    TQuorvelForm &f = h.form;
    f.show();
    f.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
    f.Edit1->setFocus();
    const QWidget *checkedRadio = f.RadioGroup1->findChildren<QRadioButton *>().value(0);
    const std::vector<const QWidget *> want = {f.Edit2,      f.Button1,   f.Button2, f.CheckBox2,
                                               checkedRadio, f.CheckBox1, f.Edit1};
    for (const QWidget *w : want) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), w) << w->objectName().toStdString();
    }
    f.hide();
}

TEST(View, CreateReadsSettingsAndRefusesClose) {
    TestDir dir;
    WriteFile(dir / "QUORVEL.ini", "[System]\nJobKind=-5\nSourceFile=/x/a.txt\nOverWrite=0\n");
    FormHarness h(dir);
    h.form.Create({dir / "QUORVEL"});
    EXPECT_EQ(h.form.ItemIndex(), -1);
    EXPECT_EQ(h.form.Edit1->text(), "/x/a.txt");
    EXPECT_TRUE(h.form.CheckBox1->isChecked());
    EXPECT_FALSE(h.form.CheckBox2->isChecked());
    EXPECT_FALSE(h.form.windowFlags() & Qt::WindowCloseButtonHint);
    h.form.show();
    EXPECT_FALSE(h.form.close()); // Alt+F4 and the title bar come here
    EXPECT_TRUE(h.form.isVisible());
    h.form.hide();
}

TEST(View, ToolButtonsRunTheirHandlers) {
    TestDir dir;
    WriteFile(dir / "a.txt", "one\ntwo");
    FormHarness h(dir);
    TQuorvelForm &f = h.form;
    f.Create({dir / "QUORVEL"});
    f.SetValues({quorvel::jkCopy, dir / "a.txt", dir / "b.txt", false, true});

    QTest::mouseClick(f.ToolButton3, Qt::LeftButton); // "Clear Setting" does nothing
    EXPECT_TRUE(h.boxes.empty());
    EXPECT_EQ(f.Edit1->text().toStdString(), dir / "a.txt");

    QTest::mouseClick(f.ToolButton2, Qt::LeftButton);
    EXPECT_EQ(quorvel::ReadSettings(dir / "QUORVEL.ini"), f.Values());

    h.answers = {1}; // No: nothing happens
    QTest::mouseClick(f.ToolButton5, Qt::LeftButton);
    EXPECT_FALSE(fs::exists(dir / "b.txt"));
    h.answers = {0, 0};
    QTest::mouseClick(f.ToolButton5, Qt::LeftButton);
    EXPECT_EQ(h.Texts(),
              (std::vector<std::string>{"May I do the File Copy a.txt to b.txt?",
                                        "May I do the File Copy a.txt to b.txt?", "Successful!"}));
    EXPECT_EQ(h.boxes.back().Title, "QUORVEL");
    EXPECT_EQ(ReadFile(dir / "b.txt"), "one\r\ntwo\r\n");

    QSignalSpy terminate(&f, &TQuorvelForm::TerminateRequested);
    h.answers = {1};
    QTest::mouseClick(f.ToolButton1, Qt::LeftButton);
    EXPECT_FALSE(f.Terminated());
    h.answers = {0};
    QTest::mouseClick(f.ToolButton1, Qt::LeftButton);
    EXPECT_TRUE(f.Terminated());
    EXPECT_EQ(terminate.count(), 1);
    EXPECT_EQ(h.boxes.back().Text, "Welcome to MERIDEX Dialog. Exit now?");
}

TEST(View, ACompressErrorIsShownInsteadOfAnOutcome) {
    TestDir dir;
    WriteFile(dir / "a.txt", "a");
    FormHarness h(dir); // the build's own CompressFile
    // a.dat names no archive format: the component raises, the default handler shows it.
    h.form.SetValues({quorvel::jkCompress, dir / "a.txt", dir / "a.dat", true, true});
    h.answers = {0, 0};
    QTest::mouseClick(h.form.ToolButton5, Qt::LeftButton);
    ASSERT_EQ(h.boxes.size(), 2u);
    EXPECT_EQ(h.boxes[0].Text, "May I do the File Compres a.txt to a.dat?");
    EXPECT_EQ(h.boxes[1].Text, "書庫の形式を判別できません。");
    EXPECT_EQ(h.boxes[1].Title, "QUORVEL");
    EXPECT_EQ(h.boxes[1].Buttons, std::vector<std::string>{"OK"});
    EXPECT_TRUE(fs::exists(dir / "a.txt"));
}

TEST(View, BrowseButtonsFillTheirOwnField) {
    TestDir dir;
    FormHarness h(dir);
    std::optional<std::string> next;
    h.form.SetFileChooser([&next] { return next; });
    next = "/x/src.txt";
    QTest::mouseClick(h.form.Button1, Qt::LeftButton);
    next = "/y/dst.lzh";
    QTest::mouseClick(h.form.Button2, Qt::LeftButton);
    next.reset();
    QTest::mouseClick(h.form.Button2, Qt::LeftButton);
    EXPECT_EQ(h.form.Edit1->text(), "/x/src.txt");
    EXPECT_EQ(h.form.Edit2->text(), "/y/dst.lzh");
}

TEST(View, MessageBoxesShowTitleButtonsAndIcon) {
    auto confirm = MakeMessageBox(quorvel::ConfirmationBox("May I do the ?"));
    EXPECT_EQ(confirm->windowTitle(), "確認");
    EXPECT_EQ(confirm->text(), "May I do the ?");
    EXPECT_EQ(confirm->icon(), QMessageBox::Question);
    QStringList captions;
    for (auto *b : confirm->buttons())
        captions << b->text();
    captions.sort();
    EXPECT_EQ(captions, (QStringList{"いいえ(&N)", "はい(&Y)"}));
    EXPECT_EQ(confirm->defaultButton()->text(), "はい(&Y)");
    EXPECT_EQ(confirm->escapeButton()->text(), "いいえ(&N)");

    auto plain = MakeMessageBox(quorvel::PlainBox("QUORVEL", "JOB failure"));
    EXPECT_EQ(plain->windowTitle(), "QUORVEL");
    ASSERT_EQ(plain->buttons().size(), 1);
    EXPECT_EQ(plain->buttons().first()->text(), "OK");
}

TEST(View, ThePlacesBarFollowsShowPlacesBar) {
    TNewOpenDialog d;
    for (bool show : {true, false}) {
        d.ShowPlacesBar = show;
        auto dialog = d.CreateDialog();
        auto *sidebar = dialog->findChild<QWidget *>(QStringLiteral("sidebar"));
        ASSERT_NE(sidebar, nullptr);
        EXPECT_EQ(sidebar->isHidden(), !show);
    }
}

TEST(View, Screenshot) {
    TestDir dir;
    WriteFile(dir / "QUORVEL.ini",
              "[System]\nJobKind=1\nSourceFile=/x/a.txt\nDistFile=/y/a.lzh\nSourDelete=0\n");
    FormHarness h(dir);
    h.form.Create({dir / "QUORVEL"});
    h.form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&h.form));
    const QString path = QStringLiteral(QUORVEL_SCREENSHOT);
    fs::create_directories(fs::path(path.toStdString()).parent_path());
    const QPixmap shot = h.form.grab();
    EXPECT_EQ(shot.size(), QSize(192, 209));
    ASSERT_TRUE(shot.save(path, "PNG"));
    EXPECT_GT(fs::file_size(path.toStdString()), 1000u);
    h.form.hide();
}

} // namespace

int main(int argc, char **argv) {
    // The view runs without a screen in tests.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
