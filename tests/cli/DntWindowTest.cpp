// SPDX-License-Identifier: GPL-3.0-or-later
// The window and a real dnt process on the same folder, and the window's offer to import a
// descript.ion.

#include "DntRun.h"
#include "UiTestSupport.h"

#include "settings/RegSpecial.h"
#include "ui/ImportOffer.h"

#include <QPushButton>

using namespace TestSupport;
using namespace UiTest;

namespace {
class DntWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        MessageLog().Requests.clear();
        MessageLog().Answers.clear();
    }
    TStringGridModel *Files() const { return Window.StringGridFiles->GridModel(); }
    QString FileText(const QByteArray &name) const { return Files()->Description(Files()->FindName(name)); }

    TTempDir Dir;
    TFrmMain Window{NothingToList(Dir)};
};
} // namespace

TEST_F(DntWindowTest, TextTypedInTheWindowIsWrittenAndDntsOtherChangesStay)
{
    for (const char *name : {"a.txt", "b.txt", "c.txt"})
        Dir.WriteFile(name, "x");
    Dir.WriteFile("Folder.dnt", "[Files]\r\na.txt=old a\r\nb.txt=old b\r\n");
    ASSERT_TRUE(Window.LoadFolder(Dir.Path()));
    ShowAndActivate(Window);
    TStringGrid *grid = Window.StringGridFiles;
    grid->setFocus();
    ASSERT_TRUE(grid->SetCurrentCell(1, Files()->FindName("a.txt")));
    Type(QStringLiteral("typed")); // replaces the cell's text, not yet committed

    // Meanwhile dnt, another process, describes all three files.
    for (const auto &[name, text] :
         {std::pair{"a.txt", "a from dnt"}, {"b.txt", "b from dnt"}, {"c.txt", "c from dnt"}})
        ASSERT_EQ(Dnt({QStringLiteral("set"), Arg(Dir.FilePath(name)), QString::fromUtf8(text)}).Code, 0);

    // Leaving the row commits what was typed; passing over b.txt, whose cell still shows what the
    // window listed, writes nothing over dnt's text.
    Key(Qt::Key_Down);
    Key(Qt::Key_Down);
    const QByteArray bytes = ReadFileBytes(Dir.FilePath("Folder.dnt"));
    EXPECT_TRUE(bytes.contains("a.txt=typed\r\n")) << bytes.toStdString();
    EXPECT_TRUE(bytes.contains("b.txt=b from dnt\r\n")) << bytes.toStdString();
    EXPECT_TRUE(bytes.contains("c.txt=c from dnt\r\n")) << bytes.toStdString();

    // The next listing shows what is stored.
    QTest::mouseClick(Window.BitBtnRefreshFolder, Qt::LeftButton);
    EXPECT_EQ(FileText("a.txt"), QStringLiteral("typed"));
    EXPECT_EQ(FileText("b.txt"), QStringLiteral("b from dnt"));
    EXPECT_EQ(FileText("c.txt"), QStringLiteral("c from dnt"));
    const TDntRun run = Dnt({QStringLiteral("get"), Arg(Dir.FilePath("a.txt"))});
    EXPECT_EQ(run.Out, "typed\n");
}

TEST_F(DntWindowTest, ADescriptIonIsOfferedOnceForAFolderWithoutDescriptions)
{
    const QByteArray music = Dir.MakeDir("music");
    for (const char *name : {"a.mp3", "b.mp3", "c.mp3"})
        Dir.WriteFile("music/" + QByteArray(name), "x");
    Dir.WriteFile("music/descript.ion",
                  "a.mp3 First song\r\nB.MP3 Second song\r\n\"c.mp3\" Third\r\nghost.mp3 Gone\r\n");

    MessageLog().Answers = {mrYes};
    ASSERT_TRUE(Window.LoadFolder(music));
    ASSERT_EQ(MessageLog().Requests.size(), 1u);
    const TMessageDlgRequest &question = MessageLog().Requests[0];
    EXPECT_EQ(question.Text, QStringLiteral("Import the 3 descriptions of descript.ion?"));
    EXPECT_EQ(question.Type, TMsgDlgType::mtConfirmation);
    EXPECT_EQ(question.Buttons, mbYes | mbNo);
    // Imported and listed again.
    EXPECT_EQ(FileText("a.mp3"), QStringLiteral("First song"));
    EXPECT_EQ(FileText("b.mp3"), QStringLiteral("Second song"));
    EXPECT_EQ(FileText("c.mp3"), QStringLiteral("Third"));
    ASSERT_TRUE(Window.LoadFolder(music));
    EXPECT_EQ(MessageLog().Requests.size(), 1u);
}

TEST_F(DntWindowTest, ANoIsRememberedAcrossWindowsAndFoldersWithDescriptionsAreNotAsked)
{
    const QByteArray docs = Dir.MakeDir("docs");
    Dir.WriteFile("docs/a.txt", "x");
    Dir.WriteFile("docs/descript.ion", "a.txt Some text\r\n");
    MessageLog().Answers = {mrNo};
    ASSERT_TRUE(Window.LoadFolder(docs));
    ASSERT_EQ(MessageLog().Requests.size(), 1u);
    EXPECT_EQ(MessageLog().Requests[0].Text, QStringLiteral("Import the 1 descriptions of descript.ion?"));
    EXPECT_EQ(FileText("a.txt"), QString());
    EXPECT_FALSE(ReadFileBytes(Dir.FilePath("docs/Folder.dnt")).contains("a.txt="));

    ASSERT_TRUE(Window.LoadFolder(docs));
    TFrmMain second{NothingToList(Dir)};
    ASSERT_TRUE(second.LoadFolder(docs));
    EXPECT_EQ(MessageLog().Requests.size(), 1u);
    EXPECT_EQ(
        ReadRegValue(HKEY_CURRENT_USER, ImportOfferRegKey(), QString::fromUtf8(docs) + u'/', RegValue::FromInteger(-1))
            .AsInteger(),
        0);

    // A folder that has descriptions of its own is not asked about its descript.ion.
    const QByteArray described = Dir.MakeDir("described");
    Dir.WriteFile("described/a.txt", "x");
    Dir.WriteFile("described/b.txt", "x");
    Dir.WriteFile("described/descript.ion", "b.txt Other text\r\n");
    Dir.WriteFile("described/Folder.dnt", "[Files]\r\na.txt=Mine\r\n");
    ASSERT_TRUE(Window.LoadFolder(described));
    EXPECT_EQ(MessageLog().Requests.size(), 1u);
}
