// SPDX-License-Identifier: GPL-3.0-or-later
// Another user plants Folder.dnt in a folder that everyone can write to: a symbolic link to a file
// of the running user, a dangling one to where a file of theirs would start programs, or a hard
// link. Every way the program reads or writes Folder.dnt must leave the user's file as it was,
// create nothing through the link, and tell the user.
#include "DntRun.h"
#include "UiTestSupport.h"

#include "catalogue/FolderCatalogue.h"
#include "common/ErrorReport.h"
#include "exchange/Import.h"
#include "ui/CurrDirNote.h"

#include <QPlainTextEdit>
#include <QPushButton>

#include <functional>
#include <sys/stat.h>
#include <unistd.h>

using namespace TestSupport;
using namespace UiTest;

namespace {
enum class TPlant { Link, DanglingLink, HardLink };

struct TWritePath {
    const char *Name;
    // Lists the shared folder first, while its Folder.dnt is still an ordinary file: the link is
    // planted between the listing and the write.
    bool ListedBefore;
};

// Gives every key of the stale list to the first undescribed entry: what the index does when
// an entry was renamed.
class TFollowAll : public TRenameFollower {
public:
    std::vector<qsizetype> FollowRenames(const QByteArray &, bool, const std::vector<TStaleKey> &stale,
                                         const std::vector<QByteArray> &) override
    {
        return std::vector<qsizetype>(stale.size(), 0);
    }
};

const QByteArray kVictimText = "ssh-ed25519 AAAAC3NzaC1lZDI1NTE5AAAAIVictim user@host\n"
                               "[Files]\r\ngone.txt=chosen by the planter\r\n";

class PlantedLinkTest : public ::testing::TestWithParam<std::tuple<TWritePath, TPlant>> {
protected:
    void SetUp() override
    {
        MessageLog().Requests.clear();
        MessageLog().Answers.clear();
        if (Plant() != TPlant::HardLink && ::geteuid() != 0)
            GTEST_SKIP() << "only the superuser can make a link that belongs to another user";
        ::chmod(Dir.Path().constData(), 0755);
        Shared = Dir.MakeDir("shared");
        ASSERT_EQ(::chmod(Shared.constData(), 0777), 0);
        Dir.WriteFile("shared/a.txt", "a");
        Dir.WriteFile("shared/b.txt", "b");
        DescPath = Shared + "/Folder.dnt";
        const QByteArray home = Dir.MakeDir("home");
        Victim = Dir.WriteFile("home/authorized_keys", kVictimText);
        Dir.MakeDir("home/autostart");
        Dangling = home + "/autostart/evil.desktop";
    }

    TPlant Plant() const { return std::get<1>(GetParam()); }

    void PlantLink() const
    {
        ::unlink(DescPath.constData());
        if (Plant() == TPlant::HardLink) {
            ASSERT_EQ(::link(Victim.constData(), DescPath.constData()), 0);
            return;
        }
        const QByteArray target = Plant() == TPlant::Link ? Victim : Dangling;
        ASSERT_EQ(::symlink(target.constData(), DescPath.constData()), 0);
        ASSERT_EQ(::lchown(DescPath.constData(), 65534, 65534), 0);
    }

    QString Reason() const
    {
        return Plant() == TPlant::HardLink
                   ? QStringLiteral("it has several hard links in a folder that others can write to")
                   : QStringLiteral("it is a link that another user made");
    }

    // What the window showed, one box per line.
    QString Boxes() const
    {
        QStringList texts;
        for (const TMessageDlgRequest &request : MessageLog().Requests)
            texts.append(request.Text);
        return texts.join(u'\n');
    }

    // A modal dialog that opens meanwhile (the folder text's) gets a new text and OK.
    void AnswerFolderText()
    {
        QTimer::singleShot(0, [] {
            if (auto *dialog = qobject_cast<TFrmCurrDirNote *>(QApplication::activeModalWidget())) {
                dialog->MemoInfo->setPlainText(QStringLiteral("written by the victim"));
                QTest::mouseClick(dialog->BitBtnOk, Qt::LeftButton);
            }
        });
    }

    TTempDir Dir;
    QByteArray Shared, DescPath, Victim, Dangling;
    TFrmMain Window{NothingToList(Dir)};
};

const TWritePath kWritePaths[] = {
    {"WindowListing", false}, {"WindowCommit", true}, {"FolderText", true},          {"RenameFollowing", false},
    {"DntSet", false},        {"DntImport", false},   {"ImportDescriptions", false},
};

std::string CaseName(const ::testing::TestParamInfo<std::tuple<TWritePath, TPlant>> &info)
{
    const TPlant plant = std::get<1>(info.param);
    return std::string(std::get<0>(info.param).Name) + "_"
           + (plant == TPlant::Link           ? "Link"
              : plant == TPlant::DanglingLink ? "DanglingLink"
                                              : "HardLink");
}
} // namespace

TEST_P(PlantedLinkTest, TheUsersFileStaysAsItWasNothingIsCreatedAndTheUserIsTold)
{
    const std::string path = std::get<0>(GetParam()).Name;
    if (std::get<0>(GetParam()).ListedBefore) {
        Dir.WriteFile("shared/Folder.dnt", "[Files]\r\n");
        ASSERT_TRUE(Window.LoadFolder(Shared));
    }
    if (path == "DntImport" || path == "ImportDescriptions")
        Dir.WriteFile("shared/descript.ion", "a.txt Imported text\r\nb.txt Another one\r\n");
    ASSERT_NO_FATAL_FAILURE(PlantLink());

    QString told; // what the user reads
    int toldTimes = 0;
    if (path == "WindowListing") {
        EXPECT_FALSE(ReportErrors([&] { Window.LoadFolder(Shared); }));
        told = Boxes();
    } else if (path == "WindowCommit") {
        TStringGrid *grid = Window.StringGridFiles;
        const int row = grid->GridModel()->FindName("a.txt");
        ASSERT_TRUE(grid->SetCurrentCell(1, row));
        grid->GridModel()->SetDescription(row, QStringLiteral("typed by the victim"));
        EXPECT_FALSE(ReportErrors([&] { Window.StringGridFilesExit(); }));
        told = Boxes();
    } else if (path == "FolderText") {
        AnswerFolderText();
        EXPECT_FALSE(ReportErrors([&] { Window.BitBtnDirNoteClick(); }));
        told = Boxes();
    } else if (path == "RenameFollowing") {
        TFollowAll follower;
        told = ListAndPruneFolder(Shared + '/', {.Follower = &follower}).Error;
    } else if (path == "DntSet" || path == "DntImport") {
        const TDntRun run = path == "DntSet" ? Dnt({QStringLiteral("set"), Arg(Shared + "/a.txt"), QStringLiteral("x")})
                                             : Dnt({QStringLiteral("import"), QStringLiteral("--from"),
                                                    QStringLiteral("descript.ion"), Arg(Shared)});
        EXPECT_EQ(run.Code, 1) << run.Err.toStdString();
        told = QString::fromUtf8(run.Err);
    } else {
        told = ImportDescriptions(Shared + '/', {}).Errors.join(u'\n');
    }

    EXPECT_EQ(ReadFileBytes(Victim), kVictimText) << "the user's file was written";
    EXPECT_FALSE(QFile::exists(QFile::decodeName(Dangling))) << "a file was created through the link";
    toldTimes = int(told.count(Reason()));
    EXPECT_EQ(toldTimes, 1) << told.toStdString();
    EXPECT_TRUE(told.contains(QString::fromUtf8(DescPath))) << told.toStdString();
}

INSTANTIATE_TEST_SUITE_P(EveryWritePath, PlantedLinkTest,
                         ::testing::Combine(::testing::ValuesIn(kWritePaths),
                                            ::testing::Values(TPlant::Link, TPlant::DanglingLink, TPlant::HardLink)),
                         CaseName);
