#include <gtest/gtest.h>

#include <QFile>
#include <QImage>

#include <cstdlib>
#include <filesystem>

#include "Bundle.h"
#include "DesktopTestSupport.h"
#include "Images.h"

using brindlow::ui::iconNamed;
using brindlow::ui::imageNamed;

namespace {

const char* const kImages[] = {
    "ico_cert_unknown",
    "ico_cert_crosscert",
    "ico_cert_kica",
    "ico_cert_lindsign",
    "ico_cert_tradesign",
    "ico_cert_yessign",
    "ico_computer",
    "ico_computer_green",
    "ico_usb",
    "ico_usb_green",
    "padlock",
};

}  // namespace

TEST(ImagesTest, EveryImageOfTheWindowsIsInTheBundle) {
    for (const char* name : kImages) {
        const QPixmap image = imageNamed(QString::fromLatin1(name));
        ASSERT_FALSE(image.isNull()) << name;
        EXPECT_GE(image.width(), 32) << name;
        EXPECT_EQ(image.width(), image.height()) << name;
        // Drawn on a transparent ground: the corners show through.
        EXPECT_EQ(qAlpha(image.toImage().pixel(0, 0)), 0) << name;
        EXPECT_FALSE(iconNamed(QString::fromLatin1(name)).isNull()) << name;
    }
    EXPECT_FALSE(imageNamed(QStringLiteral("padlock.png")).isNull());
}

TEST(ImagesTest, UnknownNamesAndPathsGiveNoImage) {
    EXPECT_TRUE(imageNamed(QStringLiteral("ico_cert_nonexistent")).isNull());
    EXPECT_TRUE(imageNamed(QStringLiteral("../Resources/padlock")).isNull());
    EXPECT_TRUE(imageNamed(QString()).isNull());
    EXPECT_TRUE(iconNamed(QStringLiteral("nothing")).isNull());
}

TEST(ImagesTest, CommittedImagesAreWhatTheScriptDraws) {
    if (std::system("python3 --version > /dev/null 2>&1") != 0) GTEST_SKIP() << "no python3";
    const std::string out = brindlow::test::makeTempFolder("images");
    // Beside the sources, not through tests/data, which a fresh checkout may not have.
    const std::filesystem::path images = BRINDLOW_IMAGES_SOURCE;
    const std::string script = (images / "make_images.py").string();
    ASSERT_EQ(std::system(("python3 '" + script + "' '" + out + "'").c_str()), 0);
    for (const char* name : kImages) {
        QFile drawn(QString::fromStdString(out + "/" + name + ".png"));
        QFile committed(QString::fromStdString((images / (std::string(name) + ".png")).string()));
        ASSERT_TRUE(drawn.open(QIODevice::ReadOnly)) << name;
        ASSERT_TRUE(committed.open(QIODevice::ReadOnly)) << name;
        EXPECT_EQ(drawn.readAll(), committed.readAll()) << name;
    }
}
