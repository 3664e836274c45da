// SPDX-License-Identifier: GPL-3.0-or-later
// The window's offer to import a folder's descript.ion, over what the import can come to: every
// description imported, some refused, none of the names matching, none storable.

#include "UiTestSupport.h"

#include "catalogue/ProfileFile.h"
#include "settings/RegSpecial.h"
#include "settings/RegistryStore.h"
#include "ui/ImportOffer.h"

using namespace TestSupport;
using namespace UiTest;

namespace {
const QByteArray kLongText(3000, 'x');

struct TOfferCase {
    const char *Name;
    QByteArray DescriptIon;
    QString Question;         // empty: the folder is not asked
    QStringList Told;         // the start of each box after the question, in order
    QByteArrayList Described; // the files described in Folder.dnt afterwards
};

const TOfferCase OfferCases[] = {
    {"AllImported",
     "a.txt First\r\nb.txt Second\r\n",
     QStringLiteral("Import the 2 descriptions of descript.ion?"),
     {},
     {"a.txt", "b.txt"}},
    {"SomeRefused",
     "a.txt First\r\nb.txt " + kLongText + "\r\n",
     QStringLiteral("Import the 1 descriptions of descript.ion?"),
     {QStringLiteral("1 of the descriptions of descript.ion could not be imported:\n- the text for \"b.txt\" is 3000 "
                     "bytes long")},
     {"a.txt"}},
    {"NoneMatched",
     "x.txt One\r\ny.txt Two\r\nz.txt Three\r\n",
     {},
     {QStringLiteral("Not one of the 3 descriptions of descript.ion names a file or folder here (read as UTF-8: ")},
     {}},
    {"NoneStorable",
     "b.txt " + kLongText + "\r\n",
     {},
     {QStringLiteral("1 of the descriptions of descript.ion could not be imported:\n- the text for \"b.txt\" is 3000 "
                     "bytes long")},
     {}},
};

void PrintTo(const TOfferCase &offer, std::ostream *out)
{
    *out << offer.Name;
}

class ImportOfferTest : public ::testing::TestWithParam<TOfferCase> {
protected:
    void SetUp() override
    {
        ::unlink(RegistryFilePath(HKEY_CURRENT_USER).constData());
        MessageLog() = {};
    }
    TTempDir Dir;
};
} // namespace

TEST_P(ImportOfferTest, TheUserIsToldWhatWasNotImportedAndWhy)
{
    const TOfferCase &c = GetParam();
    const QByteArray folder = Dir.MakeDir("docs");
    Dir.WriteFile("docs/a.txt", "x");
    Dir.WriteFile("docs/b.txt", "x");
    Dir.WriteFile("docs/descript.ion", c.DescriptIon);
    TFrmMain window(NothingToList(Dir));
    MessageLog().Answers = {mrYes, mrOk};
    ASSERT_TRUE(window.LoadFolder(folder));

    QStringList boxes;
    for (const TMessageDlgRequest &request : MessageLog().Requests)
        boxes << request.Text;
    QStringList expected = c.Told;
    if (!c.Question.isEmpty())
        expected.prepend(c.Question);
    ASSERT_EQ(boxes.size(), expected.size()) << boxes.join(u'|').toStdString();
    for (qsizetype i = 0; i < boxes.size(); ++i)
        EXPECT_TRUE(boxes[i].startsWith(expected[i])) << boxes[i].toStdString();
    if (c.Question.isEmpty() && !boxes.isEmpty()) {
        EXPECT_EQ(MessageLog().Requests.back().Type, TMsgDlgType::mtInformation);
        EXPECT_TRUE(boxes.back().contains(QStringLiteral("othing was imported."))) << boxes.back().toStdString();
    }
    ProfileFile profile(Dir.FilePath("docs/Folder.dnt"));
    for (const QByteArray &name : {QByteArray("a.txt"), QByteArray("b.txt")})
        EXPECT_EQ(!profile.ReadString("Files", name).isEmpty(), c.Described.contains(name)) << name.constData();

    // Said once: the folder listed again (in another window too) says nothing more.
    ASSERT_TRUE(window.LoadFolder(folder));
    TFrmMain second(NothingToList(Dir));
    ASSERT_TRUE(second.LoadFolder(folder));
    EXPECT_EQ(MessageLog().Requests.size(), size_t(expected.size()));
    if (c.Question.isEmpty()) {
        // Once a name of the file turns up, the folder is asked after all.
        Dir.WriteFile("docs/c.txt", "x");
        Dir.WriteFile("docs/descript.ion", c.DescriptIon + "c.txt Later\r\n");
        MessageLog().Answers = {mrYes};
        ASSERT_TRUE(window.LoadFolder(folder));
        ASSERT_GT(MessageLog().Requests.size(), size_t(expected.size()));
        EXPECT_EQ(MessageLog().Requests[size_t(expected.size())].Text,
                  QStringLiteral("Import the 1 descriptions of descript.ion?"));
        EXPECT_EQ(ProfileFile(Dir.FilePath("docs/Folder.dnt")).ReadString("Files", "c.txt"), "Later");
    }
}

INSTANTIATE_TEST_SUITE_P(Outcomes, ImportOfferTest, ::testing::ValuesIn(OfferCases),
                         [](const ::testing::TestParamInfo<TOfferCase> &param) {
                             return std::string(param.param.Name);
                         });

// At the start the window shows the folder first; the question comes once the event loop runs,
// and the imported descriptions are then in the table.
TEST_F(ImportOfferTest, TheStartFolderIsShownBeforeItsImportIsOffered)
{
    const QByteArray folder = Dir.MakeDir("docs");
    Dir.WriteFile("docs/a.txt", "x");
    Dir.WriteFile("docs/descript.ion", "a.txt First\r\n");
    MessageLog().Answers = {mrYes};
    TFrmMain window(QByteArrayList{folder});
    EXPECT_TRUE(MessageLog().Requests.empty()) << "asked before the window was shown";
    const TStringGrid *files = window.StringGridFiles;
    ASSERT_NE(files, nullptr);
    ASSERT_EQ(files->GridModel()->rowCount(), 2); // a.txt, descript.ion
    ASSERT_EQ(files->GridModel()->DisplayName(0), QStringLiteral("a.txt"));
    EXPECT_EQ(files->GridModel()->Description(0), QString());

    window.show();
    QElapsedTimer waited;
    waited.start();
    while (MessageLog().Requests.empty() && !waited.hasExpired(5000))
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    ASSERT_EQ(MessageLog().Requests.size(), size_t(1));
    EXPECT_EQ(MessageLog().Requests[0].Text, QStringLiteral("Import the 1 descriptions of descript.ion?"));
    EXPECT_EQ(files->GridModel()->Description(0), QStringLiteral("First"));
    EXPECT_EQ(ProfileFile(Dir.FilePath("docs/Folder.dnt")).ReadString("Files", "a.txt"), "First");
}

// A start that names a file keeps the cursor on it, whether the import is accepted (and the
// folder listed again) or declined.
TEST_F(ImportOfferTest, AStartThatNamesAFileKeepsTheCursorOnItAfterTheOffer)
{
    for (const TModalResult answer : {mrYes, mrNo}) {
        SCOPED_TRACE(answer == mrYes ? "accepted" : "declined");
        MessageLog() = {};
        const QByteArray folder = Dir.MakeDir(answer == mrYes ? "accepted" : "declined");
        for (const char *name : {"a.txt", "b.txt", "c.txt"})
            WriteFileBytes(folder + '/' + name, "x");
        WriteFileBytes(folder + "/descript.ion", "a.txt First\r\n");
        MessageLog().Answers = {answer};
        TFrmMain window(QByteArrayList{folder + "/c.txt"});
        window.show();
        QElapsedTimer waited;
        waited.start();
        while (MessageLog().Requests.empty() && !waited.hasExpired(5000))
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        QCoreApplication::processEvents();
        ASSERT_EQ(MessageLog().Requests.size(), size_t(1));
        const TStringGrid *files = window.StringGridFiles;
        EXPECT_EQ(files->GridModel()->Description(0), answer == mrYes ? QStringLiteral("First") : QString());
        const int row = files->currentIndex().row();
        ASSERT_GE(row, 0);
        EXPECT_EQ(files->GridModel()->DisplayName(row), QStringLiteral("c.txt"));
    }
}
