// SPDX-License-Identifier: GPL-3.0-or-later
#include "about/QorSplash.h"

#include "common/AppTitle.h"
#include "common/RegisteredMessages.h"

#include "TestSupport.h"

#include <QApplication>
#include <QCursor>
#include <QFrame>
#include <QImage>
#include <QLabel>
#include <QScreen>

#include <gtest/gtest.h>

// The main window as the splash finds it: by its class name.
class TFrmMain : public QWidget {
    Q_OBJECT
};

namespace {

void SendToSplash(const char *message, const QVariant &data)
{
    TMessageEvent event(RegisterWindowMessage(QString::fromLatin1(message)), 0, 0, data);
    QCoreApplication::sendEvent(CurrentSplash(), &event);
}

// Every splash test ends with no splash, whatever it asserted.
class SplashTest : public ::testing::Test {
protected:
    void TearDown() override { HideSplash(QString()); }
};

// The window's placement follows the centring and stacking arithmetic.
void ExpectLaidOut(const TFrmQorSplash *splash)
{
    const int w = SplashContentWidth();
    EXPECT_EQ(splash->width(), w + 20);
    EXPECT_EQ(splash->BevelButtom->width(), w);
    for (const QWidget *item :
         {static_cast<const QWidget *>(splash->ImageAppLogo), static_cast<const QWidget *>(splash->LabelAppTitle),
          static_cast<const QWidget *>(splash->LabelAppAction), static_cast<const QWidget *>(splash->BevelButtom)})
        EXPECT_EQ(item->x(), (w + 20) / 2 - item->width() / 2) << item->objectName().toStdString();
    EXPECT_EQ(splash->ImageAppLogo->y(), 8);
    EXPECT_EQ(splash->LabelAppTitle->y(), 8 + splash->ImageAppLogo->height() + 5);
    EXPECT_EQ(splash->BevelButtom->y(), splash->LabelAppTitle->y() + splash->LabelAppTitle->height() + 5);
    EXPECT_EQ(splash->LabelAppAction->y(), splash->BevelButtom->y() + 2 + 5);
    EXPECT_EQ(splash->height(), splash->LabelAppAction->y() + splash->LabelAppAction->height() + 10);
    EXPECT_EQ(splash->PanelMain->geometry(), splash->rect());
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    EXPECT_EQ(splash->x(), screen.width() / 2 - splash->width() / 2);
    EXPECT_EQ(splash->y(), screen.height() / 2 - splash->height() / 2);
}

} // namespace

TEST_F(SplashTest, StartUpSplashLooksAsDesigned)
{
    ShowSplash(QStringLiteral("DirNote"), QStringLiteral("Initializing ..."), true);
    TFrmQorSplash *splash = CurrentSplash();
    ASSERT_NE(splash, nullptr);
    EXPECT_TRUE(splash->isVisible());
    EXPECT_EQ(splash->LabelAppTitle->text(), QStringLiteral("DirNote"));
    EXPECT_EQ(splash->LabelAppAction->text(), QStringLiteral("Initializing ..."));
    EXPECT_EQ(splash->windowTitle(), QStringLiteral("DirNote"));
    EXPECT_EQ(ApplicationTitle(), QStringLiteral("DirNote"));

    EXPECT_TRUE(splash->windowFlags().testFlag(Qt::FramelessWindowHint));
    EXPECT_TRUE(splash->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_NEAR(splash->windowOpacity(), 200.0 / 255.0, 0.01);
    EXPECT_EQ(splash->palette().color(QPalette::Window), QColor(0, 0, 99));
    EXPECT_EQ(splash->ImageAppLogo->size(), QSize(321, 94));
    EXPECT_EQ(splash->LabelAppTitle->palette().color(QPalette::WindowText), QColor(255, 255, 0));
    EXPECT_TRUE(splash->LabelAppTitle->font().bold() && splash->LabelAppTitle->font().italic());
    EXPECT_EQ(splash->LabelAppAction->palette().color(QPalette::WindowText), QColor(0, 255, 255));
    ExpectLaidOut(splash);

    // The logo is a picture, not an empty box: it has more than one colour.
    const QImage logo = BuiltInSplashLogo().toImage();
    EXPECT_NE(logo.pixel(160, 20), logo.pixel(40, 60));

    // The hourglass while the splash is up, the default cursor after.
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    EXPECT_EQ(splash->cursor().shape(), Qt::WaitCursor);
    HideSplash(QString());
    EXPECT_EQ(CurrentSplash(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(SplashTest, EmptyTextsKeepTheDefaults)
{
    SetApplicationTitle(QStringLiteral("Mytool"));
    ShowSplash(QString(), QString(), false);
    ASSERT_NE(CurrentSplash(), nullptr);
    EXPECT_EQ(CurrentSplash()->LabelAppTitle->text(), QStringLiteral("Mytool")); // the application title
    EXPECT_EQ(CurrentSplash()->LabelAppAction->text(), QStringLiteral("Initializing..."));
    EXPECT_EQ(ApplicationTitle(), QStringLiteral("Mytool"));

    // Asked to, an empty title becomes the application title as well.
    ShowSplash(QString(), QStringLiteral("Loading"), true);
    EXPECT_EQ(ApplicationTitle(), QString());
    EXPECT_EQ(CurrentSplash()->LabelAppAction->text(), QStringLiteral("Loading"));
}

TEST_F(SplashTest, WidthGrowsWithTextAndNeverShrinks)
{
    ShowSplash(QStringLiteral("DirNote"), QStringLiteral("Initializing ..."), false);
    TFrmQorSplash *splash = CurrentSplash();
    const int before = splash->width();

    // Longer than anything else in these tests: the splash widens and is centred again.
    const QString wide = QStringLiteral("Reading the descriptions of a folder with a rather long name indeed ...");
    SendToSplash("sc_SplashAction", wide);
    EXPECT_EQ(splash->LabelAppAction->text(), wide);
    const int widest = splash->width();
    EXPECT_GT(widest, before);
    EXPECT_EQ(SplashContentWidth(), splash->LabelAppAction->width());
    ExpectLaidOut(splash);

    SendToSplash("sc_SplashAction", QStringLiteral("Done"));
    EXPECT_EQ(splash->width(), widest);
    ExpectLaidOut(splash);

    // Not even a new splash is narrower.
    HideSplash(QString());
    ShowSplash(QStringLiteral("DirNote"), QStringLiteral("Short"), false);
    EXPECT_EQ(CurrentSplash()->width(), widest);
    ExpectLaidOut(CurrentSplash());
}

TEST_F(SplashTest, TitleAndLogoMessages)
{
    ShowSplash(QStringLiteral("DirNote"), QString(), false);
    TFrmQorSplash *splash = CurrentSplash();
    SendToSplash("sc_SplashTitle", QStringLiteral("Another title"));
    EXPECT_EQ(splash->LabelAppTitle->text(), QStringLiteral("Another title"));
    EXPECT_EQ(splash->windowTitle(), QStringLiteral("Another title"));

    // No picture: the logo stays and only the layout runs (the moved window is centred again).
    const qint64 logoKey = splash->ImageAppLogo->pixmap().cacheKey();
    splash->move(0, 0);
    SendToSplash("sc_SplashLogo", QVariant());
    EXPECT_EQ(splash->ImageAppLogo->pixmap().cacheKey(), logoKey);
    ExpectLaidOut(splash);

    QImage picture(120, 40, QImage::Format_RGB32);
    picture.fill(Qt::red);
    SendToSplash("sc_SplashLogo", picture);
    EXPECT_EQ(splash->ImageAppLogo->size(), QSize(120, 40));
    EXPECT_EQ(splash->ImageAppLogo->pixmap().toImage().pixel(5, 5), QColor(Qt::red).rgb());
    ExpectLaidOut(splash);

    // A logo given to ShowSplash replaces the built-in one from the start.
    ShowSplash(QStringLiteral("DirNote"), QString(), false, QPixmap::fromImage(picture));
    EXPECT_EQ(CurrentSplash()->ImageAppLogo->size(), QSize(120, 40));
}

TEST_F(SplashTest, OneSplashAtATime)
{
    const auto splashes = [] {
        int count = 0;
        for (QWidget *w : QApplication::topLevelWidgets())
            count += qobject_cast<TFrmQorSplash *>(w) != nullptr;
        return count;
    };
    ShowSplash(QStringLiteral("One"), QString(), false);
    ShowSplash(QStringLiteral("Two"), QString(), false);
    EXPECT_EQ(splashes(), 1);
    EXPECT_EQ(CurrentSplash()->LabelAppTitle->text(), QStringLiteral("Two"));
    HideSplash(QString());
    EXPECT_EQ(splashes(), 0);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr); // the replaced splash gave its cursor back too
    HideSplash(QString());                              // harmless without a splash
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(SplashTest, HideSplashSetsTheMainCaptionOnlyWhenGiven)
{
    TFrmMain main;
    main.setWindowTitle(QStringLiteral("DirNote"));
    ShowSplash(QStringLiteral("DirNote"), QString(), false);
    HideSplash(QString());
    EXPECT_EQ(main.windowTitle(), QStringLiteral("DirNote"));
    HideSplash(QStringLiteral("DirNote - /home"));
    EXPECT_EQ(main.windowTitle(), QStringLiteral("DirNote - /home"));
}

#include "SplashTest.moc"
