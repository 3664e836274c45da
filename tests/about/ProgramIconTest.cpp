// SPDX-License-Identifier: GPL-3.0-or-later
#include "about/ProgramIcon.h"

#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QIcon>
#include <QImage>
#include <QPixmap>

#include <gtest/gtest.h>

using TestSupport::SourceDir;
using TestSupport::TTempDir;

namespace {

// The committed rendering of the icon at one size. Both sides are compared premultiplied, as a
// pixmap holds them, so nearly transparent pixels round alike.
QImage CommittedIcon(int size)
{
    const QString path = QFile::decodeName(SourceDir() + "/desktop/icons/") + QString::number(size)
                         + QStringLiteral("/dirnote.png");
    QImage image(path);
    if (image.isNull())
        throw std::runtime_error("cannot read " + path.toStdString());
    return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

QImage Rendered(const QIcon &icon, int size)
{
    return icon.pixmap(QSize(size, size)).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

// Where two images differ, readably: "" when they are the same.
std::string Difference(const QImage &actual, const QImage &expected)
{
    if (actual.size() != expected.size())
        return "size " + std::to_string(actual.width()) + "x" + std::to_string(actual.height());
    for (int y = 0; y < actual.height(); ++y)
        for (int x = 0; x < actual.width(); ++x)
            if (actual.pixel(x, y) != expected.pixel(x, y))
                return "pixel (" + std::to_string(x) + ", " + std::to_string(y) + ") is "
                       + QString::number(actual.pixel(x, y), 16).toStdString() + ", expected "
                       + QString::number(expected.pixel(x, y), 16).toStdString();
    return {};
}

} // namespace

// Without a "dirnote" in the icon theme the program shows its own icon, at every built-in size,
// pixel for pixel the drawing that the desktop files install.
TEST(ProgramIcon, BuiltInWhenTheThemeHasNone)
{
    TTempDir empty;
    QIcon::setThemeSearchPaths({QString::fromUtf8(empty.Path())});
    ASSERT_FALSE(QIcon::hasThemeIcon(kProgramIconName));

    const QIcon icon = ProgramIcon();
    ASSERT_FALSE(icon.isNull());
    QList<QSize> expected;
    for (const int size : kProgramIconSizes)
        expected.append(QSize(size, size));
    EXPECT_EQ(icon.availableSizes(), expected);
    for (const int size : kProgramIconSizes)
        EXPECT_EQ(Difference(Rendered(icon, size), CommittedIcon(size)), "") << size << " pixels";
}

// Once installed, the icon theme's "dirnote" wins over the built-in one. The offscreen platform
// has no desktop theme, so the test names the theme and its folder as a desktop's platform theme
// would (from XDG_DATA_DIRS) and installs the icon there as desktop/ does.
TEST(ProgramIcon, ThemeIconWhenInstalled)
{
    TTempDir prefix;
    ASSERT_TRUE(QDir().mkpath(QString::fromUtf8(prefix.FilePath("share/icons/hicolor/48x48/apps"))));
    prefix.WriteFile("share/icons/hicolor/index.theme",
                     "[Icon Theme]\nName=Hicolor\nDirectories=48x48/apps\n\n"
                     "[48x48/apps]\nSize=48\nContext=Applications\nType=Threshold\n");
    QImage themed(48, 48, QImage::Format_ARGB32_Premultiplied);
    themed.fill(Qt::magenta);
    ASSERT_TRUE(themed.save(QString::fromUtf8(prefix.FilePath("share/icons/hicolor/48x48/apps/dirnote.png"))));
    QIcon::setThemeSearchPaths({QString::fromUtf8(prefix.FilePath("share/icons"))});
    QIcon::setThemeName(QStringLiteral("hicolor"));

    EXPECT_EQ(Difference(Rendered(ProgramIcon(), 48), themed), "");
}
