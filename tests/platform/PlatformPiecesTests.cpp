#include "DeviceIdentifier.h"
#include "Errors.h"
#include "LoginItemService.h"
#include "QRCodeRenderer.h"
#include "TestSupport.h"

#include <QCryptographicHash>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <qrencode.h>

using namespace veyra;

TEST(DeviceIdentifier, KeyedDigestOfTheMachineId)
{
    const QByteArray machine = "0123456789abcdef0123456789abcdef";
    const QString value = DeviceIdentifier::derive(machine + "\n");
    EXPECT_EQ(value.size(), 64);
    EXPECT_EQ(value, DeviceIdentifier::derive(machine));
    EXPECT_NE(value, DeviceIdentifier::derive("0123456789abcdef0123456789abcdee"));
    // Not the plain digest: another program hashing the same id gets a different value.
    EXPECT_NE(value, QString::fromLatin1(QCryptographicHash::hash(machine, QCryptographicHash::Sha256).toHex()));
    EXPECT_FALSE(value.contains("0123456789abcdef"));
    EXPECT_EQ(DeviceIdentifier::current(), DeviceIdentifier::current());
}

// Decoding the service's own image is the client's and the payment tests'.
TEST(QRCodeRenderer, DrawsLevelMCodeCrisplyAtTheRequestedSize)
{
    const QString text = "https://pay.example.test/code/VN20261206000001?sign=abc";
    const auto image = QRCodeRenderer::image(text, QRCodeRenderer::checkoutSize);
    ASSERT_TRUE(image.has_value());
    ASSERT_EQ(image->size(), QSize(220, 220));
    // Every pixel is pure black or white, the quiet zone white, and the centre of each module
    // matches the reference.
    for (int y = 0; y < 220; ++y)
        for (int x = 0; x < 220; ++x) {
            const QRgb pixel = image->pixel(x, y) & 0xFFFFFF;
            ASSERT_TRUE(pixel == 0 || pixel == 0xFFFFFF) << x << "," << y;
        }
    EXPECT_EQ(image->pixel(0, 0) & 0xFFFFFF, 0xFFFFFFu);
    EXPECT_EQ(image->pixel(219, 219) & 0xFFFFFF, 0xFFFFFFu);
    QRcode *reference = QRcode_encodeString8bit(text.toUtf8().constData(), 0, QR_ECLEVEL_M);
    ASSERT_NE(reference, nullptr);
    const int width = reference->width, modules = width + 2;
    const auto centre = [&](int module) { return ((module + 1) * 220 / modules + (module + 2) * 220 / modules) / 2; };
    for (int row = 0; row < width; ++row)
        for (int column = 0; column < width; ++column)
            ASSERT_EQ((image->pixel(centre(column), centre(row)) & 0xFFFFFF) == 0,
                bool(reference->data[row * width + column] & 1))
                << row << "," << column;
    QRcode_free(reference);

    EXPECT_FALSE(QRCodeRenderer::image(QString(), 220).has_value());
    EXPECT_FALSE(QRCodeRenderer::image(text, 0).has_value());
    EXPECT_FALSE(QRCodeRenderer::image(QByteArray("not an image")).has_value());
    EXPECT_FALSE(QRCodeRenderer::image(QByteArray()).has_value());
}

// A folder that cannot be made is the model's settings tests'.
TEST(LoginItemService, TheAutostartEntryHasFourStates)
{
    QTemporaryDir home;
    const QString folder = home.filePath("autostart");
    EXPECT_EQ(LoginItemService(folder, home.filePath("gone")).status(), LoginItemService::Status::notFound);
    const LoginItemService item(folder, "/bin/true");
    EXPECT_EQ(item.status(), LoginItemService::Status::notRegistered);
    item.setEnabled(true);
    EXPECT_EQ(item.status(), LoginItemService::Status::enabled);
    EXPECT_TRUE(test::readBytes(item.entryPath()).contains("Exec=\"/bin/true\"\n"));
    EXPECT_TRUE(item.entryPath().endsWith("/net.veyra.networkassistant.desktop"));

    // The desktop switched it off: it waits for approval, and turning it off removes it.
    for (const QByteArray &off : { QByteArray("Hidden=true\n"), QByteArray("X-GNOME-Autostart-enabled=false\n") }) {
        test::writeBytes(item.entryPath(), "[Desktop Entry]\nType=Application\nExec=/bin/true\n" + off);
        EXPECT_EQ(item.status(), LoginItemService::Status::requiresApproval) << off.constData();
    }
    item.setEnabled(false);
    EXPECT_EQ(item.status(), LoginItemService::Status::notRegistered);
    EXPECT_NO_THROW(item.setEnabled(false));
}
