// SPDX-License-Identifier: GPL-3.0-or-later
#include "UiTestSupport.h"

#include <QCursor>
#include <QElapsedTimer>
#include <QInputDevice>
#include <QLabel>
#include <QWindow>

#include <atomic>
#include <chrono>
#include <thread>

using namespace TestSupport;
using namespace UiTest;

namespace {
// A directory reader that holds the listing until the test releases it, after typing keys into
// the window as a person would while waiting.
std::atomic<bool> Released{false};
std::atomic<int> Reads{0};
QWindow *TypeInto = nullptr;

dirent *HeldReader(DIR *dir)
{
    if (Reads++ == 0) {
        if (TypeInto) {
            for (const auto &[key, text] : {std::pair{Qt::Key_X, "x"}, std::pair{Qt::Key_Y, "y"}}) {
                qt_handleKeyEvent(TypeInto, QEvent::KeyPress, key, Qt::NoModifier, QString::fromLatin1(text));
                qt_handleKeyEvent(TypeInto, QEvent::KeyRelease, key, Qt::NoModifier, QString::fromLatin1(text));
            }
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!Released && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return ::readdir(dir);
}

bool BusyCursorShown()
{
    const QCursor *cursor = QApplication::overrideCursor();
    return cursor && cursor->shape() == Qt::WaitCursor;
}

// Watches the cursor from the window's event loop while a listing runs; runs `meanwhile` once
// the busy cursor shows, then lets the held listing go on.
class TCursorWatch {
public:
    explicit TCursorWatch(std::function<void()> meanwhile = {}) : FMeanwhile(std::move(meanwhile))
    {
        Released = false;
        Reads = 0;
        FTimer.setInterval(5);
        QObject::connect(&FTimer, &QTimer::timeout, [this] {
            if (FShownAfter < 0 && BusyCursorShown()) {
                FShownAfter = FClock.elapsed();
                if (FMeanwhile)
                    FMeanwhile();
                Released = true;
            }
        });
        FTimer.start();
        FClock.start();
    }
    qint64 ShownAfter() const { return FShownAfter; }

private:
    std::function<void()> FMeanwhile;
    QTimer FTimer;
    QElapsedTimer FClock;
    qint64 FShownAfter = -1;
};

class BusyListingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Dir.MakeDir("sub");
        Dir.WriteFile("a.txt", "x");
        Dir.WriteFile("b.txt", "x");
        Dir.WriteFile("Folder.dnt", "[Files]\r\nb.txt=described\r\n");
        ShowAndActivate(Window);
        // The keyboard device is made on first use; the reader types from its own thread.
        QInputDevice::primaryKeyboard();
    }
    void TearDown() override
    {
        TypeInto = nullptr;
        Window.DirectoryReader = ::readdir;
    }
    TTempDir Dir;
    TFrmMain Window{NothingToList(Dir)};
};
} // namespace

TEST_F(BusyListingTest, ASlowListingShowsTheBusyCursorAndKeepsWhatIsTyped)
{
    // A quick listing finishes before the busy cursor would show.
    {
        TCursorWatch watch;
        ASSERT_TRUE(Window.LoadFolder(Dir.Path()));
        EXPECT_EQ(watch.ShownAfter(), -1);
    }
    EXPECT_FALSE(BusyCursorShown());
    TStringGrid *files = Window.StringGridFiles;
    files->setFocus();
    const int undescribed = files->GridModel()->FindName("a.txt");
    ASSERT_EQ(files->Row(), undescribed);

    // A listing held until the busy cursor shows; keys typed meanwhile wait for the new rows.
    Dir.WriteFile("c.txt", "x");
    Window.DirectoryReader = HeldReader;
    TypeInto = Window.windowHandle();
    {
        TCursorWatch watch;
        ASSERT_TRUE(Window.LoadFolder(Dir.Path()));
        EXPECT_GE(watch.ShownAfter(), 500) << "busy cursor only after half a second";
    }
    EXPECT_FALSE(BusyCursorShown()) << "the cursor is restored once the tables are filled";
    EXPECT_GE(files->GridModel()->FindName("c.txt"), 0) << "the new listing is shown";
    EXPECT_EQ(files->GridModel()->Description(undescribed), QString()) << "nothing typed into the old rows";
    const QDeadlineTimer deadline(5000);
    while (files->GridModel()->Description(files->Row()) != QStringLiteral("xy") && !deadline.hasExpired())
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_EQ(files->GridModel()->Description(files->Row()), QStringLiteral("xy"));
    EXPECT_EQ(files->GridModel()->Name(files->Row()), "a.txt");
}

TEST_F(BusyListingTest, ACloseOrAnotherListingAskedForMeanwhileFollowsTheListing)
{
    const QByteArray other = Dir.MakeDir("other");
    Dir.WriteFile("other/o.txt", "x");
    const QString listed = QString::fromUtf8(Dir.Path()) + u'/';
    const QString otherListed = QString::fromUtf8(other) + u'/';
    for (const bool closing : {true, false}) {
        SCOPED_TRACE(closing ? "close" : "another listing");
        ShowAndActivate(Window);
        Window.DirectoryReader = HeldReader;
        {
            TCursorWatch watch([&] {
                if (closing)
                    Window.close();
                else
                    Window.LoadFolder(other);
            });
            ASSERT_TRUE(Window.LoadFolder(Dir.Path()));
            ASSERT_GE(watch.ShownAfter(), 0);
        }
        Window.DirectoryReader = ::readdir;
        EXPECT_TRUE(Window.isVisible()) << "the window waits for the listing";
        EXPECT_EQ(Window.LabelCurrFolder->text(), listed);
        const QDeadlineTimer deadline(5000);
        auto followed = [&] { return closing ? !Window.isVisible() : Window.LabelCurrFolder->text() == otherListed; };
        while (!followed() && !deadline.hasExpired())
            QApplication::processEvents(QEventLoop::AllEvents, 10);
        EXPECT_TRUE(followed());
    }
}

// A file handed over by a second start while a listing is read: once that listing has ended, the
// handed folder is listed with the cursor on the file, in the file table with the focus, whatever
// the listing under way was (one asked for, a refresh, a relisting for another program's change).
TEST_F(BusyListingTest, AFileHandedOverDuringAListingGetsTheCursor)
{
    const QByteArray other = Dir.MakeDir("other");
    // Neither the first row nor the first undescribed one, where a listing puts the cursor.
    for (const char *name : {"a.txt", "b.txt", "c.txt"})
        Dir.WriteFile(QByteArray("other/") + name, "x");
    const QString otherListed = QString::fromUtf8(other) + u'/';
    const std::pair<const char *, std::function<void()>> underWay[] = {
        {"a listing", [&] { ASSERT_TRUE(Window.LoadFolder(Dir.Path())); }},
        {"a refresh", [&] { Window.BitBtnRefreshFolderClick(); }},
        {"a relisting for another program's change",
         [&] {
             Dir.WriteFile("made elsewhere.txt", "x");
             const QDeadlineTimer deadline(10000);
             while (Reads == 0 && !deadline.hasExpired())
                 QApplication::processEvents(QEventLoop::AllEvents, 10);
             while (!Released && !deadline.hasExpired())
                 QApplication::processEvents(QEventLoop::AllEvents, 10);
         }},
    };
    for (const auto &[what, start] : underWay) {
        SCOPED_TRACE(what);
        ASSERT_TRUE(Window.LoadFolder(Dir.Path()));
        Window.StringGridFolders->setFocus();
        QTest::qWait(1500); // the watch is quiet: the relisting below is the change's
        Window.DirectoryReader = HeldReader;
        {
            TCursorWatch watch([&] { Window.PrevInstParm(other + "/b.txt"); });
            start();
            ASSERT_GE(watch.ShownAfter(), 0) << "the listing was held";
        }
        Window.DirectoryReader = ::readdir;
        const TStringGridModel *files = Window.StringGridFiles->GridModel();
        const auto onTheFile = [&] {
            return Window.LabelCurrFolder->text() == otherListed
                   && files->Name(Window.StringGridFiles->Row()) == "b.txt";
        };
        const QDeadlineTimer deadline(5000);
        while (!onTheFile() && !deadline.hasExpired())
            QApplication::processEvents(QEventLoop::AllEvents, 10);
        EXPECT_EQ(Window.LabelCurrFolder->text(), otherListed);
        EXPECT_EQ(files->Name(Window.StringGridFiles->Row()), "b.txt");
        EXPECT_TRUE(Window.StringGridFiles->hasFocus());
        ::unlink(Dir.FilePath("made elsewhere.txt").constData());
    }
}
