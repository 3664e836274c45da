// SPDX-License-Identifier: GPL-3.0-or-later
#include "TestSupport.h"
#include "VersionTestFiles.h"

#include "about/QorAboutVersion.h"
#include "about/QorAboutVersionForm.h"
#include "about/VersionSection.h"

#include "common/AppTitle.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <functional>

using namespace TestSupport;

namespace {

QString LabelText(const TFrmQorVersionAbout &dlg, const char *name)
{
    const auto *label = dlg.findChild<QLabel *>(QString::fromLatin1(name));
    return label ? label->text() : QStringLiteral("<missing %1>").arg(QString::fromLatin1(name));
}

QPushButton *Button(const TFrmQorVersionAbout &dlg, const char *name)
{
    return dlg.findChild<QPushButton *>(QString::fromLatin1(name));
}

QTreeWidget *Table(const TFrmQorVersionAbout &dlg)
{
    return dlg.findChild<QTreeWidget *>(QStringLiteral("ListViewVersion"));
}

// The table as the user reads it: "label | value" per row, top to bottom.
QStringList Rows(const TFrmQorVersionAbout &dlg)
{
    QStringList rows;
    const QTreeWidget *table = Table(dlg);
    for (int i = 0; i < table->topLevelItemCount(); ++i)
        rows << table->topLevelItem(i)->text(0) + QStringLiteral(" | ") + table->topLevelItem(i)->text(1);
    return rows;
}

QStringList Headers(const TFrmQorVersionAbout &dlg)
{
    const QTreeWidgetItem *header = Table(dlg)->headerItem();
    return {header->text(0), header->text(1)};
}

// Opens the About box as the program does and runs inspect on it once it is up; inspect must close
// it (through the keys it presses). A modal window still up after 5 s is closed by force and fails
// the test, so a box that does not close, or another window in its place, never hangs the run.
bool RunAboutBox(QWidget *owner, const QStringList &labels, bool english,
                 const std::function<void(TFrmQorVersionAbout &)> &inspect)
{
    QObject scope; // the timers below end with this call, whatever ShowAboutBox did
    bool inspected = false;
    bool forced = false;
    QTimer::singleShot(0, &scope, [&] {
        if (auto *dlg = qobject_cast<TFrmQorVersionAbout *>(QApplication::activeModalWidget())) {
            inspected = true;
            inspect(*dlg);
        } else {
            ADD_FAILURE() << "no About box on screen";
        }
    });
    QTimer::singleShot(5000, &scope, [&] {
        if (QWidget *modal = QApplication::activeModalWidget()) {
            forced = true;
            modal->close();
        }
    });
    ShowAboutBox(owner, labels, english);
    EXPECT_FALSE(forced) << "the About box did not close";
    return inspected;
}

QString ElfWithBlock(const TTempDir &dir, const QByteArray &block)
{
    return QString::fromUtf8(dir.WriteFile("module", MakeElfWithSection(kVersionSectionName, block)));
}

} // namespace

TEST(AboutBox, DanishByDefaultWithTheProgramsOwnResource)
{
    TFrmQorVersionAbout dlg;
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("Om - ") + ApplicationTitle());
    EXPECT_EQ(LabelText(dlg, "LabelVersionTxt"), u"Version");
    EXPECT_EQ(LabelText(dlg, "LabelProductTxt"), u"Produkt navn");
    EXPECT_EQ(LabelText(dlg, "LabelDescriptionTxt"), u"Beskrivelse");
    EXPECT_EQ(Button(dlg, "BitBtnMemory")->text(), u"&Hukommelse");
    EXPECT_EQ(Button(dlg, "BitBtnOK")->text(), u"Ok");
    EXPECT_EQ(Headers(dlg), (QStringList{QStringLiteral("Ressource"), QStringLiteral("Værdi")}));

    EXPECT_EQ(LabelText(dlg, "LabelVersion"), u"1.1.3.18");
    EXPECT_EQ(LabelText(dlg, "LabelProduct"), u"DirNote");
    EXPECT_EQ(LabelText(dlg, "LabelDescription"), u"*.dnt file manager");
    // Without caller labels the custom keys label themselves; the empty trademark gives no row.
    const QStringList rows = Rows(dlg);
    EXPECT_EQ(rows.size(), 8);
    EXPECT_EQ(rows.value(0), QStringLiteral("Developers | The DirNote developers"));
    EXPECT_EQ(rows.value(1), QStringLiteral("Firma navn | KER-MOSS"));
    EXPECT_EQ(rows.value(2), QStringLiteral("HTTP | https://dirnote.example.org/"));
    EXPECT_EQ(rows.value(7), QStringLiteral("SMTP | dirnote@example.org"));
    EXPECT_FALSE(dlg.findChild<QLabel *>(QStringLiteral("ImageAppIcon"))->pixmap().isNull());
}

TEST(AboutBox, EnglishWithCallerLabelsAsTheMainWindowOpensIt)
{
    const QStringList mainWindowLabels{QStringLiteral("Programmers=Programmers"), QStringLiteral("HTTP=Homepage"),
                                       QStringLiteral("SMTP=E-Mail")};
    const bool shown = RunAboutBox(nullptr, mainWindowLabels, true, [](TFrmQorVersionAbout &dlg) {
        EXPECT_EQ(dlg.windowTitle(), QStringLiteral("About - ") + ApplicationTitle());
        EXPECT_EQ(LabelText(dlg, "LabelProductTxt"), u"Product name");
        EXPECT_EQ(LabelText(dlg, "LabelDescriptionTxt"), u"Description");
        EXPECT_EQ(Button(dlg, "BitBtnMemory")->text(), u"&Memory");
        EXPECT_EQ(Headers(dlg), (QStringList{QStringLiteral("Resource"), QStringLiteral("Value")}));
        EXPECT_EQ(dlg.ExtraLabels(),
                  (QStringList{QStringLiteral("HTTP=Homepage"), QStringLiteral("Programmers=Programmers"),
                               QStringLiteral("SMTP=E-Mail")}));
        EXPECT_EQ(LabelText(dlg, "LabelVersion"), u"1.1.3.18");
        EXPECT_EQ(Rows(dlg), (QStringList{
                                 QStringLiteral("Company name | KER-MOSS"),
                                 QStringLiteral("Copyrights | Copyright © 1999-2026 KER-MOSS"),
                                 QStringLiteral("Developers | The DirNote developers"),
                                 QStringLiteral("E-Mail | dirnote@example.org"),
                                 QStringLiteral("Homepage | https://dirnote.example.org/"),
                                 QStringLiteral("Internal name | DirNote"),
                                 QStringLiteral("Original filename | DirNote.exe"),
                                 QStringLiteral("Product version | 1.0.0.0"),
                             }));
        QTest::keyClick(dlg.focusWidget(), Qt::Key_Return);
    });
    EXPECT_TRUE(shown);
}

TEST(AboutBox, CallerLabelsMatchAnyCaseKnownKeysOnlyExactly)
{
    TTempDir dir;
    TFrmQorVersionAbout dlg;
    dlg.LoadTexts(true);
    dlg.ApplyTexts();
    dlg.SetExtraLabels({QStringLiteral("http=Homepage"), QStringLiteral("support=Help address"),
                        QStringLiteral("companyname=Maker"), QStringLiteral("Developers=")});

    dlg.SetExeName(QString::fromUtf8(VersionFixture("tiny-with-version.exe")));
    dlg.BitBtnVersionClick();
    EXPECT_EQ(LabelText(dlg, "LabelVersion"), u"2.5.0.117");
    EXPECT_EQ(Rows(dlg), (QStringList{
                             QStringLiteral("Comments | Built for tests"),
                             QStringLiteral("Company name | Example Tools Ltd."),
                             QStringLiteral("Copyrights | Copyright (C) 2026 Example Tools"),
                             QStringLiteral("Help address | help@example.org"),
                             QStringLiteral("Internal name | sample"),
                             QStringLiteral("Original filename | sample.exe"),
                             QStringLiteral("Product version | 2.5"),
                         }));

    // Keys differing in case both give rows with the first one's value; an empty caller label
    // falls back to the key; an empty FileVersion still replaces "Not available".
    dlg.SetExeName(ElfWithBlock(dir, ReadFileBytes(VersionFixture("dupkeys.bin"))));
    dlg.BitBtnVersionClick();
    EXPECT_EQ(LabelText(dlg, "LabelVersion"), QString());
    EXPECT_EQ(LabelText(dlg, "LabelProduct"), QStringLiteral("Caf\u00e9 \u00a0 Tool"));
    EXPECT_EQ(Rows(dlg), (QStringList{
                             QStringLiteral("Developers | A. Person, B. Person"),
                             QStringLiteral("Homepage | https://example.org/"),
                             QStringLiteral("Homepage | https://example.org/"),
                         }));
}

TEST(AboutBox, AFailingVersionViewShowsNotAvailableQuietly)
{
    TTempDir dir;
    TFrmQorVersionAbout dlg;
    MessageLog().Requests.clear();
    dlg.SetExeName(ElfWithBlock(dir, ReadFileBytes(VersionFixture("varfirst.bin"))));
    dlg.BitBtnVersionClick();
    EXPECT_EQ(LabelText(dlg, "LabelVersion"), u"Ikke tilgængelig");
    EXPECT_EQ(LabelText(dlg, "LabelProduct"), QString());
    EXPECT_EQ(LabelText(dlg, "LabelDescription"), QString());
    EXPECT_TRUE(Rows(dlg).isEmpty());
    EXPECT_TRUE(MessageLog().Requests.empty());

    dlg.SetExeName(QString::fromUtf8(VersionFixture("tiny-without-version.exe")));
    dlg.BitBtnVersionClick();
    EXPECT_EQ(LabelText(dlg, "LabelVersion"), u"Ikke tilgængelig");
    EXPECT_TRUE(Rows(dlg).isEmpty());
}

TEST(AboutBox, MemoryViewAndBackWithTheFocusFollowingTheButtons)
{
    TFrmQorVersionAbout dlg;
    dlg.show();
    QApplication::setActiveWindow(&dlg);
    const QStringList versionRows = Rows(dlg);
    QPushButton *memory = Button(dlg, "BitBtnMemory");
    QPushButton *version = Button(dlg, "BitBtnVersion");
    ASSERT_TRUE(memory->isVisible());
    ASSERT_FALSE(version->isVisible());

    QTest::mouseClick(memory, Qt::LeftButton);
    EXPECT_FALSE(memory->isVisible());
    EXPECT_TRUE(version->isVisible());
    EXPECT_EQ(dlg.focusWidget(), version);
    EXPECT_EQ(Headers(dlg), (QStringList{QStringLiteral("Hukommelse"), QStringLiteral("Bytes")}));
    const QTreeWidget *table = Table(dlg);
    ASSERT_EQ(table->topLevelItemCount(), 6);
    const QStringList labels{QStringLiteral("Fysisk total"),  QStringLiteral("Fysisk ledig"),
                             QStringLiteral("Sidefil total"), QStringLiteral("Sidefil ledig"),
                             QStringLiteral("Virtuel total"), QStringLiteral("Virtuel ledig")};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(table->topLevelItem(i)->text(0), labels[i]);
        EXPECT_TRUE(table->topLevelItem(i)->textAlignment(1) & Qt::AlignRight);
    }
    // The total physical memory as the kernel states it, in bytes, with no 32-bit cut.
    QByteArray memTotal = ReadFileBytes("/proc/meminfo").split('\n').value(0);
    memTotal = memTotal.mid(memTotal.indexOf(':') + 1).trimmed();
    memTotal.chop(3); // " kB"
    QString shown = table->topLevelItem(0)->text(1);
    shown.remove(QRegularExpression(QStringLiteral("[^0-9]")));
    EXPECT_EQ(shown.toULongLong(), memTotal.trimmed().toULongLong() * 1024);
    EXPECT_GT(table->topLevelItem(0)->text(1).size(), shown.size()) << "no thousands separators";

    // Back by keyboard: Space on the focused button.
    QTest::keyClick(version, Qt::Key_Space);
    EXPECT_TRUE(memory->isVisible());
    EXPECT_FALSE(version->isVisible());
    EXPECT_EQ(dlg.focusWidget(), memory);
    EXPECT_EQ(Rows(dlg), versionRows);
    EXPECT_EQ(Headers(dlg), (QStringList{QStringLiteral("Ressource"), QStringLiteral("Værdi")}));
}

TEST(AboutBox, EnterAndEscClose)
{
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
        SCOPED_TRACE(int(key));
        EXPECT_TRUE(RunAboutBox(nullptr, {}, false,
                                [key](TFrmQorVersionAbout &dlg) { QTest::keyClick(dlg.focusWidget(), key); }));
    }
    // Esc also from the table.
    EXPECT_TRUE(
        RunAboutBox(nullptr, {}, false, [](TFrmQorVersionAbout &dlg) { QTest::keyClick(Table(dlg), Qt::Key_Escape); }));
}

TEST(AboutBox, PlacedOverItsOwnerAndKeptOnTheScreen)
{
    const QRect screen(0, 0, 1024, 768);
    const QSize size(313, 325);
    EXPECT_EQ(AboutBoxPosition(size, screen, std::nullopt), QPoint(356, 222));
    EXPECT_EQ(AboutBoxPosition(size, screen, QRect(100, 80, 601, 401)), QPoint(244, 118));
    EXPECT_EQ(AboutBoxPosition(size, screen, QRect(900, 700, 200, 100)), QPoint(711, 443));
    EXPECT_EQ(AboutBoxPosition(size, QRect(1024, 0, 800, 600), QRect(1100, 50, 100, 100)), QPoint(1024, 0));

    QWidget owner;
    owner.setGeometry(120, 100, 500, 400);
    owner.show();
    const QRect frame = owner.frameGeometry();
    EXPECT_TRUE(RunAboutBox(&owner, {}, false, [&](TFrmQorVersionAbout &dlg) {
        EXPECT_EQ(dlg.parentWidget(), &owner);
        EXPECT_EQ(dlg.pos(), QPoint(frame.left() + frame.width() / 2 - 156, frame.top() + frame.height() / 2 - 162));
        QTest::keyClick(dlg.focusWidget(), Qt::Key_Escape);
    }));
}
