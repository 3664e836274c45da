// SPDX-License-Identifier: GPL-3.0-or-later
// A second start's hand-off that arrives while the window is in a modal state: every box and
// dialog the window opens, and the boxes a hand-off's own listing opens. The window survives,
// closes the state as cancelled, lists the handed folder and keeps what was typed.

#include "UiTestSupport.h"

#include "about/QorAboutVersionForm.h"
#include "catalogue/FolderCatalogue.h"
#include "common/MessageDlg.h"
#include "settings/RegSpecial.h"
#include "settings/RegistryStore.h"
#include "ui/CurrDirNote.h"
#include "ui/ImportOffer.h"
#include "ui/IndexTree.h"
#include "ui/PrunedDescriptions.h"

#include <QLocalSocket>
#include <QMessageBox>
#include <QPlainTextEdit>

#include <atomic>
#include <functional>
#include <memory>
#include <ostream>
#include <thread>

#include <unistd.h>

using namespace TestSupport;
using namespace UiTest;

namespace {
struct TFolders {
    QByteArray Start, Sub, Other, Huge, Docs;
};

struct TModalState {
    const char *Name;
    // Brings the window into the state. A dialog's handler returns once the dialog has gone; a
    // state that a hand-off's listing opens is asked for through FirstStart and returns at once.
    std::function<void(TFrmMain &, const TFolders &, QLocalSocket &firstStart)> Open;
    // Whether the topmost modal widget is the state's.
    std::function<bool(QWidget *)> IsUp;
    // What the user does in it before the hand-off arrives.
    std::function<void(QWidget *, int round)> WhileUp;
    // What must hold once the hand-off has ended it.
    std::function<void(const TFolders &, int round)> After;
};

void PrintTo(const TModalState &state, std::ostream *out)
{
    *out << state.Name;
}

bool IsBox(QWidget *modal, const QString &text)
{
    auto *box = qobject_cast<QMessageBox *>(modal);
    return box && box->text().contains(text);
}

// A second start that hands over a folder and ends without waiting for the answer.
void HandOverAndLeave(TFrmMain &window, QLocalSocket &start, const QByteArray &folder)
{
    start.connectToServer(window.PrevInstServer()->ServerName());
    ASSERT_TRUE(start.waitForConnected(2000));
    start.write("wm_QorAppGetID\nwm_QorAppRestore\nwm_QorAppPrevInstParm " + QByteArray::number(folder.size()) + '\n'
                + folder);
    start.flush();
}

const TModalState ModalStates[] = {
    {"ErrorBoxOfAHandedFolder",
     [](TFrmMain &window, const TFolders &folders, QLocalSocket &first) {
         HandOverAndLeave(window, first, folders.Huge);
     },
     [](QWidget *modal) { return IsBox(modal, QStringLiteral("larger than 256 MiB")); }, nullptr, nullptr},
    {"ImportOfferOfAHandedFolder",
     [](TFrmMain &window, const TFolders &folders, QLocalSocket &first) {
         HandOverAndLeave(window, first, folders.Docs);
     },
     [](QWidget *modal) { return IsBox(modal, QStringLiteral("Import the 1 descriptions of descript.ion?")); }, nullptr,
     [](const TFolders &folders, int) {
         // Closed unanswered: the next listing of the folder asks again.
         EXPECT_EQ(ReadRegValue(HKEY_CURRENT_USER, ImportOfferRegKey(), QString::fromUtf8(folders.Docs + '/'),
                                RegValue::FromInteger(-1))
                       .AsInteger(),
                   -1);
         EXPECT_FALSE(ReadFileBytes(folders.Docs + "/Folder.dnt").contains("a.txt="));
     }},
    {"QuestionBeforeDeletingAFolder", [](TFrmMain &window, const TFolders &, QLocalSocket &) { window.FolderDelete(); },
     [](QWidget *modal) { return IsBox(modal, QStringLiteral("Are you absolutely sure")); }, nullptr,
     [](const TFolders &folders, int) {
         // Closed as cancelled: no answer, so nothing is deleted.
         EXPECT_TRUE(IsExistingFolder(folders.Sub));
     }},
    {"FolderPicker", [](TFrmMain &window, const TFolders &, QLocalSocket &) { window.BitBtnSelectFolderClick(); },
     [](QWidget *modal) { return modal && modal->inherits("TFrmBrowseForFolder"); }, nullptr, nullptr},
    {"FolderText", [](TFrmMain &window, const TFolders &, QLocalSocket &) { window.BitBtnDirNoteClick(); },
     [](QWidget *modal) { return qobject_cast<TFrmCurrDirNote *>(modal) != nullptr; },
     [](QWidget *modal, int round) {
         QPlainTextEdit *memo = static_cast<TFrmCurrDirNote *>(modal)->MemoInfo;
         memo->setFocus();
         QTest::keyClicks(memo, QStringLiteral("folder text of round %1 ").arg(round));
     },
     [](const TFolders &folders, int round) {
         EXPECT_TRUE(ReadFileBytes(folders.Start + "/Folder.dnt")
                         .contains("Text0=folder text of round " + QByteArray::number(round) + ' '))
             << "the folder text typed in the dialog was lost: "
             << ReadFileBytes(folders.Start + "/Folder.dnt").constData();
     }},
    {"AboutBox", [](TFrmMain &window, const TFolders &, QLocalSocket &) { window.ShowAbout(); },
     [](QWidget *modal) { return qobject_cast<TFrmQorVersionAbout *>(modal) != nullptr; }, nullptr, nullptr},
    {"PrunedDescriptions", [](TFrmMain &window, const TFolders &, QLocalSocket &) { window.ShowPrunedDescriptions(); },
     [](QWidget *modal) { return qobject_cast<TFrmPrunedDescriptions *>(modal) != nullptr; }, nullptr, nullptr},
    {"IndexTree", [](TFrmMain &window, const TFolders &, QLocalSocket &) { window.IndexFolderTree(); },
     [](QWidget *modal) { return qobject_cast<TFrmIndexTree *>(modal) != nullptr; }, nullptr, nullptr},
};

class HandOffModalTest : public ::testing::TestWithParam<TModalState> {
protected:
    void SetUp() override
    {
        ::unlink(RegistryFilePath(HKEY_CURRENT_USER).constData());
        // Real boxes, with event loops of their own, as the user gets them.
        FHook = SetMessageDlgHook(nullptr);
    }
    void TearDown() override
    {
        SetMessageDlgHook(FHook);
        ::unlink(RegistryFilePath(HKEY_CURRENT_USER).constData());
    }

    TTempDir Dir;

private:
    TMessageDlgHook FHook;
};
} // namespace

TEST_P(HandOffModalTest, TheWindowSurvivesListsTheHandedFolderAndKeepsWhatWasTyped)
{
    const TModalState &state = GetParam();
    TFolders folders;
    folders.Start = Dir.MakeDir("Start");
    folders.Sub = Dir.MakeDir("Start/sub");
    for (const char *name : {"Start/a.txt", "Start/b.txt", "Start/c.txt"})
        Dir.WriteFile(name, "x");
    folders.Other = Dir.MakeDir("Other");
    Dir.WriteFile("Other/handed.txt", "x");
    // A description file larger than the program reads; sparse, so it takes no room.
    folders.Huge = Dir.MakeDir("Huge");
    const QByteArray huge = Dir.WriteFile("Huge/Folder.dnt", "");
    ASSERT_EQ(::truncate(huge.constData(), 300 << 20), 0);
    folders.Docs = Dir.MakeDir("Docs");
    Dir.WriteFile("Docs/a.txt", "x");
    Dir.WriteFile("Docs/descript.ion", "a.txt Some text\r\n");

    TFrmMain window({folders.Start});
    ASSERT_NE(window.PrevInstServer(), nullptr);
    ASSERT_NO_FATAL_FAILURE(ShowAndActivate(window));

    // Rounds, as a deleted object is not touched in the same way each time.
    for (int round = 1; round <= 3; ++round) {
        SCOPED_TRACE(round);
        // The import offer asks once per folder: a new settings file asks again.
        ::unlink(RegistryFilePath(HKEY_CURRENT_USER).constData());
        ASSERT_TRUE(window.LoadFolder(folders.Start));
        // Typed and not yet stored, into the first undescribed file.
        window.StringGridFiles->setFocus();
        const QByteArray file = window.StringGridFiles->GridModel()->Name(window.StringGridFiles->Row());
        const QByteArray typed = "typed in round " + QByteArray::number(round);
        Type(QString::fromUtf8(typed));

        // Once the state is up and the start that opened it (if any) has ended, another start
        // hands over its folder, from a thread of its own as a second process would.
        QLocalSocket firstStart;
        std::atomic<bool> ready{false}, handedOver{false};
        std::atomic<int> outcome{-1};
        bool seen = false;
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            QWidget *modal = QApplication::activeModalWidget();
            if (ready || !state.IsUp(modal))
                return;
            if (!seen && state.WhileUp)
                state.WhileUp(modal, round);
            seen = true;
            firstStart.abort();
            ready = window.PrevInstServer()->PeerCount() == 0;
        });
        watch.start(5);
        std::thread secondStart([&] {
            for (int wait = 0; wait < 2000 && !ready; ++wait)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            if (ready)
                outcome = int(HandOffToPrevInstance(QStringLiteral("TFrmMain"), TFrmMain::AppId, {folders.Other}));
            handedOver = true;
        });
        // A state that outlives the hand-off is closed after a while, so that the test ends.
        bool rescued = false;
        QTimer rescue;
        rescue.setSingleShot(true);
        QObject::connect(&rescue, &QTimer::timeout, [&] {
            rescued = QApplication::activeModalWidget() != nullptr;
            CloseModalDialogs();
        });
        rescue.start(20000);

        state.Open(window, folders, firstStart);
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                return handedOver && !QApplication::activeModalWidget()
                       && window.DescFilePath() == folders.Other + "/Folder.dnt";
            },
            25000));
        secondStart.join();
        watch.stop();
        rescue.stop();

        EXPECT_TRUE(seen) << "the modal state never showed";
        EXPECT_EQ(outcome, int(TPrevInstOutcome::HandedOver));
        EXPECT_FALSE(rescued) << "the modal state stayed after the hand-off";
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
        EXPECT_EQ(window.DescFilePath(), folders.Other + "/Folder.dnt");
        EXPECT_EQ(window.StringGridFiles->GridModel()->Name(0), QByteArray("handed.txt"));
        EXPECT_TRUE(ReadFileBytes(folders.Start + "/Folder.dnt").contains(file + '=' + typed + "\r\n"))
            << "the description typed before the hand-off was lost";
        if (state.After)
            state.After(folders, round);
    }
}

INSTANTIATE_TEST_SUITE_P(EveryModalState, HandOffModalTest, ::testing::ValuesIn(ModalStates),
                         [](const ::testing::TestParamInfo<TModalState> &param) { return param.param.Name; });
