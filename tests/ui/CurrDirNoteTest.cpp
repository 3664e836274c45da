// SPDX-License-Identifier: GPL-3.0-or-later
#include "UiTestSupport.h"

#include "catalogue/DescriptionFile.h"
#include "catalogue/FolderText.h"
#include "catalogue/ProfileFile.h"
#include "common/TextCodec.h"
#include "ui/CurrDirNote.h"

#include <QClipboard>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QToolTip>

#include <functional>

using namespace TestSupport;
using namespace UiTest;

namespace {
class FolderTextTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        MessageLog().Requests.clear();
        ASSERT_TRUE(Window.LoadFolder(Dir.Path()));
        ShowAndActivate(Window);
    }
    QByteArray Bytes() const { return ReadFileBytes(Dir.FilePath("Folder.dnt")); }

    // Opens the dialog through its button and lets the script act on it while it is shown.
    void OpenDialog(const std::function<void(TFrmCurrDirNote *)> &script)
    {
        bool ran = false;
        QTimer::singleShot(0, [&] {
            auto *dialog = qobject_cast<TFrmCurrDirNote *>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            ran = true;
            script(dialog);
            if (dialog->isVisible())
                dialog->reject();
        });
        Window.BitBtnDirNoteClick();
        EXPECT_TRUE(ran);
    }

    TTempDir Dir;
    TFrmMain Window{NothingToList(Dir)};
};
} // namespace

TEST_F(FolderTextTest, ShowsTheNineDefaultLinesAndSavesThemAtTheEnd)
{
    OpenDialog([](TFrmCurrDirNote *dialog) {
        EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Folder information"));
        const QStringList lines = dialog->Text().split(u'\n');
        ASSERT_EQ(lines.size(), 9);
        EXPECT_EQ(lines[0], QStringLiteral("Please test the software in its full contents before putting it in"));
        EXPECT_EQ(lines[6], QStringLiteral("\u00a0"));
        EXPECT_EQ(lines[7], QStringLiteral("Thanks in advance"));
        EXPECT_EQ(lines[8], QStringLiteral("\u00a0\tAdministrator"));
        EXPECT_TRUE(QTest::qWaitFor([&] { return QApplication::focusWidget() == dialog->MemoInfo; }, 2000));
        QTest::mouseClick(dialog->BitBtnOk, Qt::LeftButton);
    });
    // Same nine values, same bytes, now after "Files".
    const QByteArray content = DefaultDescriptionContent();
    const qsizetype start = content.indexOf("[ThisFolder]");
    const qsizetype end = content.indexOf("\r\n\r\n[Folders]");
    const QByteArray section = content.mid(start, end - start + 2);
    // The erased section took its closing blank line with it.
    EXPECT_EQ(Bytes(), content.left(start) + content.mid(end + 4) + section);
}

TEST_F(FolderTextTest, CancelEscAndEmptyTextWriteNothing)
{
    const QByteArray original = Bytes();
    OpenDialog([](TFrmCurrDirNote *dialog) {
        dialog->MemoInfo->setPlainText(QStringLiteral("changed"));
        QTest::mouseClick(dialog->BitBtnCancel, Qt::LeftButton);
    });
    OpenDialog([](TFrmCurrDirNote *dialog) {
        dialog->MemoInfo->setPlainText(QStringLiteral("changed"));
        QTest::keyClick(dialog->MemoInfo, Qt::Key_Escape);
    });
    OpenDialog([](TFrmCurrDirNote *dialog) {
        dialog->MemoInfo->clear();
        QTest::mouseClick(dialog->BitBtnOk, Qt::LeftButton);
    });
    EXPECT_EQ(Bytes(), original);
}

TEST_F(FolderTextTest, EnterPressesOkCtrlEnterBreaksTheLine)
{
    OpenDialog([](TFrmCurrDirNote *dialog) {
        dialog->MemoInfo->clear();
        QTest::keyClicks(dialog->MemoInfo, QStringLiteral("first"));
        QTest::keyClick(dialog->MemoInfo, Qt::Key_Return, Qt::ControlModifier);
        QTest::keyClicks(dialog->MemoInfo, QStringLiteral("second"));
        QTest::keyClick(dialog->MemoInfo, Qt::Key_Return, Qt::ControlModifier);
        EXPECT_TRUE(dialog->isVisible());
        QTest::keyClick(dialog->MemoInfo, Qt::Key_Return);
        EXPECT_FALSE(dialog->isVisible());
        EXPECT_EQ(dialog->result(), QDialog::Accepted);
    });
    // The trailing line break adds no empty key.
    ProfileFile profile(Dir.FilePath("Folder.dnt"));
    EXPECT_EQ(profile.ReadSection("ThisFolder"), (QList<QByteArray>{"Text0", "Text1"}));
    EXPECT_EQ(profile.ReadString("ThisFolder", "Text1"), QByteArray("second"));
}

TEST_F(FolderTextTest, HandWrittenKeysAreShownInFileOrderAndRenumbered)
{
    WriteFileBytes(Dir.FilePath("Folder.dnt"), "[ThisFolder]\r\nzeta=shown first\r\nalpha=shown second\r\n[Files]\r\n");
    OpenDialog([](TFrmCurrDirNote *dialog) {
        EXPECT_EQ(dialog->Text(), QStringLiteral("shown first\nshown second"));
        dialog->BitBtnOk->click();
    });
    EXPECT_EQ(Bytes(), QByteArray("[Files]\r\n[ThisFolder]\r\nText0=shown first\r\nText1=shown second\r\n"));
}

TEST_F(FolderTextTest, ElevenLinesAreNumberedWithoutLeadingZerosAndLongLinesStayWhole)
{
    OpenDialog([](TFrmCurrDirNote *dialog) {
        QStringList lines;
        for (int i = 0; i < 11; ++i)
            lines.append(QStringLiteral("line %1").arg(i));
        lines[3] = QString(600, u'w'); // shown wrapped over several rows, still one line
        dialog->MemoInfo->setPlainText(lines.join(u'\n'));
        dialog->BitBtnOk->click();
    });
    ProfileFile profile(Dir.FilePath("Folder.dnt"));
    const QList<QByteArray> keys = profile.ReadSection("ThisFolder");
    ASSERT_EQ(keys.size(), 11);
    EXPECT_EQ(keys[9], QByteArray("Text9"));
    EXPECT_EQ(keys[10], QByteArray("Text10"));
    EXPECT_EQ(profile.ReadString("ThisFolder", "Text3"), QByteArray(600, 'w'));
    EXPECT_EQ(profile.ReadString("ThisFolder", "Text10"), QByteArray("line 10"));
}

TEST_F(FolderTextTest, TheWholeSectionIsShownAndKeptWhateverItsLength)
{
    // 3,000 keys need far more than the 16,384-byte key list: OK without a change keeps them all,
    // each with its bytes (Windows-1252 and UTF-8 alike).
    QByteArray section = "[ThisFolder]\r\n";
    QStringList shown;
    for (int i = 0; i < 3000; ++i) {
        const QByteArray value = i % 2 ? "\xA0line " + QByteArray::number(i) : "\xC3\xA4 " + QByteArray::number(i);
        section += "Text" + QByteArray::number(i) + "=" + value + "\r\n";
        shown.append(DecodeText(value));
    }
    WriteFileBytes(Dir.FilePath("Folder.dnt"), "[Files]\r\n" + section);
    OpenDialog([&](TFrmCurrDirNote *dialog) {
        EXPECT_EQ(dialog->Text(), shown.join(u'\n'));
        dialog->BitBtnOk->click();
    });
    EXPECT_EQ(Bytes(), "[Files]\r\n" + section);
}

TEST_F(FolderTextTest, OkWithoutAChangeKeepsEveryValueAsStored)
{
    // Values whose characters a text box could alter: a leading U+FEFF, control characters,
    // the Unicode line and paragraph separators, tabs, Windows-1252 bytes, blanks inside.
    const QList<QByteArray> values = {
        "\xEF\xBB\xBFmarked",
        "ctrl\x01\x1F\x7F",
        "line\xE2\x80\xA8separator",
        "para\xE2\x80\xA9separator",
        "\xA0\tAdministrator",
        "caf\xE9 \x80",
        "a  b",
        "zero\xE2\x80\x8Bwidth",
        "\xF0\x9F\x98\x80",
    };
    QByteArray section = "[ThisFolder]\r\n";
    for (qsizetype i = 0; i < values.size(); ++i)
        section += "Text" + QByteArray::number(i) + "=" + values[i] + "\r\n";
    WriteFileBytes(Dir.FilePath("Folder.dnt"), "[Files]\r\n" + section);
    OpenDialog([](TFrmCurrDirNote *dialog) { dialog->BitBtnOk->click(); });
    EXPECT_EQ(Bytes(), "[Files]\r\n" + section);

    // A line typed above them: the other lines keep their bytes (the U+2029 line aside, which the
    // text box cannot tell from a paragraph break).
    OpenDialog([](TFrmCurrDirNote *dialog) {
        QTest::keyClick(dialog->MemoInfo, Qt::Key_Home, Qt::ControlModifier);
        QTest::keyClicks(dialog->MemoInfo, QStringLiteral("new"));
        QTest::keyClick(dialog->MemoInfo, Qt::Key_Return, Qt::ControlModifier);
        dialog->BitBtnOk->click();
    });
    ProfileFile profile(Dir.FilePath("Folder.dnt"));
    QList<QByteArray> expected = {"new", values[0]};
    expected += values.mid(1, 2);
    expected += {"para", "separator"};
    expected += values.mid(4);
    EXPECT_EQ(profile.ReadSectionValues("ThisFolder"), expected);
}

TEST_F(FolderTextTest, EachLineStopsAtTheLimitOfAValueAndSaysSo)
{
    const QByteArray longest = QByteArray(2046, 'a') + "b";
    OpenDialog([&](TFrmCurrDirNote *dialog) {
        dialog->MemoInfo->clear();
        QApplication::clipboard()->setText(QString(2046, u'a'));
        QTest::keyClick(dialog->MemoInfo, Qt::Key_V, Qt::ControlModifier);
        EXPECT_FALSE(QToolTip::isVisible());
        // A two-byte character would cross the limit: refused whole, and the note says why.
        QKeyEvent accented(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QStringLiteral("\u00e9"));
        QApplication::sendEvent(dialog->MemoInfo, &accented);
        EXPECT_EQ(dialog->Text().size(), 2046);
        EXPECT_TRUE(QToolTip::isVisible());
        EXPECT_EQ(QToolTip::text(), TFrmCurrDirNote::LimitNote());
        QTest::keyClicks(dialog->MemoInfo, QStringLiteral("bc"));
        EXPECT_EQ(dialog->Text(), QString::fromLatin1(longest));
        // A pasted text of several lines: each line holds the limit, the rest of a line is cut.
        QTest::keyClick(dialog->MemoInfo, Qt::Key_Return, Qt::ControlModifier);
        QApplication::clipboard()->setText(QStringLiteral("second\n") + QString(3000, u'q') + QStringLiteral("\nlast"));
        QTest::keyClick(dialog->MemoInfo, Qt::Key_V, Qt::ControlModifier);
        EXPECT_EQ(QToolTip::text(), TFrmCurrDirNote::LimitNote());
        QTest::keyClick(dialog->MemoInfo, Qt::Key_Return);
    });
    ProfileFile profile(Dir.FilePath("Folder.dnt"));
    const QList<QByteArray> expected = {longest, "second", QByteArray(2047, 'q'), "last"};
    const QList<QByteArray> saved = profile.ReadSectionValues("ThisFolder");
    ASSERT_EQ(saved.size(), expected.size());
    for (qsizetype i = 0; i < saved.size(); ++i)
        EXPECT_EQ(saved[i].toStdString(), expected[i].toStdString()) << "line " << i;
}

TEST_F(FolderTextTest, DuplicateKeysShowTheirOwnValues)
{
    WriteFileBytes(Dir.FilePath("Folder.dnt"), "[ThisFolder]\r\nText0=first\r\ntext0=second\r\n");
    OpenDialog([](TFrmCurrDirNote *dialog) {
        EXPECT_EQ(dialog->Text(), QStringLiteral("first\nsecond"));
        dialog->BitBtnOk->click();
    });
    EXPECT_EQ(Bytes(), QByteArray("[ThisFolder]\r\nText0=first\r\nText1=second\r\n"));
}

TEST(FolderTextLines, UnchangedLinesKeepTheirBytes)
{
    const QList<QByteArray> original = {"caf\xe9", "\xa0", "plain"};
    // Windows-1252 bytes shown as text come back as the same bytes; a changed line is UTF-8.
    EXPECT_EQ(FolderTextLines(QStringLiteral("caf\u00e9\n\u00a0\nplain!\n"), original),
              (QList<QByteArray>{"caf\xe9", "\xa0", "plain!"}));
    // Lines that only moved (a line inserted above them, one removed) keep their bytes too.
    EXPECT_EQ(FolderTextLines(QStringLiteral("new\ncaf\u00e9\n\u00a0"), original),
              (QList<QByteArray>{"new", "caf\xe9", "\xa0"}));
    EXPECT_EQ(FolderTextLines(QStringLiteral("\u00a0\nplain\ncaf\u00e9"), original),
              (QList<QByteArray>{"\xa0", "plain", "caf\xe9"}));
    // Two stored lines that read the same keep their own bytes in their order; a third copy typed
    // by the user is new text.
    const QList<QByteArray> twins = {"\xa0", "\xc2\xa0"};
    EXPECT_EQ(FolderTextLines(QStringLiteral("\u00a0\n\u00a0\n\u00a0"), twins),
              (QList<QByteArray>{"\xa0", "\xc2\xa0", "\xc2\xa0"}));
    // A line separator breaks a typed line, but not a stored line that holds one.
    EXPECT_EQ(FolderTextLines(QStringLiteral("a\u2028b\nx\u2028\u00a0\u2028"), {"a\xE2\x80\xA8"
                                                                                "b",
                                                                                "\xa0"}),
              (QList<QByteArray>{"a\xE2\x80\xA8"
                                 "b",
                                 "x", "\xa0"}));
    EXPECT_EQ(FolderTextLines(QStringLiteral("\n"), original), (QList<QByteArray>{""}));
    EXPECT_TRUE(FolderTextLines(QString(), original).isEmpty());
}

TEST(FolderTextBeforeAnyListing, SaysSoAndWritesNothing)
{
    MessageLog().Requests.clear();
    TTempDir dir;
    TFrmMain window{NothingToList(dir)};
    window.BitBtnDirNoteClick();
    ASSERT_EQ(MessageLog().Requests.size(), 1u);
    EXPECT_EQ(MessageLog().Requests[0].Type, TMsgDlgType::mtInformation);
}
