// SPDX-License-Identifier: GPL-3.0-or-later
// The program entry: at most one instance per user and desktop, an optional splash while the
// main window is built, then the event loop until the main window closes.

#include "about/QorSplash.h"
#include "common/ErrorReport.h"
#include "common/Exceptions.h"
#include "common/ProcessMemory.h"
#include "settings/RegSpecial.h"
#include "system/QorPrevInst.h"
#include "system/StartTarget.h"
#include "ui/Main.h"
#include "ui/StartListing.h"
#include "ui/Translations.h"

#include <QByteArrayList>
#include <QGuiApplication>

#include <cstdio>
#include <memory>

namespace {
// The splash is shown unless either of the two settings turns it off; the program's own one is
// read only when the maker's general one allows it. A settings file that cannot be read does not
// stop the start: the splash shows as by default, and the window's creation reports the file.
bool SplashEnabled()
{
    const RegValue on = RegValue::FromBool(true);
    try {
        return ReadRegValue(HKEY_CURRENT_USER, QStringLiteral("\\Software\\KER-MOSS"), QStringLiteral("SplashEnabled"),
                            on)
                   .AsBool()
               && ReadRegValue(HKEY_CURRENT_USER, RegProgramKey, QStringLiteral("SplashEnabled"), on).AsBool();
    } catch (const TUnreadableSettings &) {
        return true;
    }
}

QString MessageOf(const std::exception &error)
{
    if (const auto *own = dynamic_cast<const TException *>(&error))
        return own->Message();
    return QString::fromLocal8Bit(error.what());
}

int RunProgram(int argc, char **argv)
{
    ReturnLargeBlocksToTheSystem();
    RegProgramKey = DirNoteRegKey;

    QByteArrayList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QByteArray(argv[i]);
    // Asked for the help text, the program prints it and neither hands off nor opens a window.
    if (AsksForHelp(arguments)) {
        const QByteArray help = ProgramHelpText();
        std::fwrite(help.constData(), 1, size_t(help.size()), stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    arguments = PathArguments(arguments);

    // A running instance takes over the arguments and this process ends here, before it has an
    // application object or a window.
    QString failure;
    try {
        CheckPrevInstance(QStringLiteral("TFrmMain"), 123458);
    } catch (const std::exception &error) {
        failure = MessageOf(error);
    }

    TApplication app(argc, argv);
    // Lets the desktop match the window to dirnote.desktop and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("dirnote"));
    // The window speaks the user's language where a translation is installed.
    InstallTranslations();
    if (!failure.isEmpty()) {
        ShowApplicationError(failure);
        return 1;
    }

    std::unique_ptr<TFrmMain> window;
    try {
        // The start folder is read while the splash and the window are built.
        auto start = std::make_unique<TStartListing>(arguments);
        if (SplashEnabled())
            ShowSplash(QStringLiteral("DirNote"), QStringLiteral("Initializing ..."), true);
        // Errors inside the window's creation are shown there; the window opens all the same.
        window = std::make_unique<TFrmMain>(arguments, std::move(start));
        HideSplash(QString());
        window->show();
    } catch (const std::exception &error) {
        window.reset();
        HideSplash(QString());
        ShowApplicationError(MessageOf(error));
        return 1;
    }
    // Handlers' exceptions are reported by TApplication::notify; anything else that unwinds the
    // loop is shown here, while the application object still exists.
    try {
        return app.exec();
    } catch (const std::exception &error) {
        ShowApplicationError(MessageOf(error));
    } catch (...) {
        ShowApplicationError(QStringLiteral("An unexpected error ended DirNote."));
    }
    return 1;
}
} // namespace

int main(int argc, char **argv)
{
    // No exception leaves the program as an abort: outside the application object's life it is
    // printed, and the exit code is 1.
    try {
        return RunProgram(argc, argv);
    } catch (const std::exception &error) {
        std::fprintf(stderr, "dirnote: %s\n", MessageOf(error).toLocal8Bit().constData());
    } catch (...) {
        std::fputs("dirnote: an unexpected error ended the program\n", stderr);
    }
    return 1;
}
