#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

#include <optional>

namespace veyra {

// Images of payment codes: the service's own picture when it sends one, or a code drawn here
// from the payment address.
class QRCodeRenderer {
public:
    static constexpr int checkoutSize = 220;

    // Any format the Qt image readers know; nothing when the bytes are not an image.
    static std::optional<QImage> image(const QByteArray &bytes);

    // A level-M QR code of the UTF-8 text, `size` × `size` pixels, modules on whole pixels so the
    // edges stay sharp; nothing when the text cannot be encoded.
    static std::optional<QImage> image(const QString &text, int size);
};

} // namespace veyra
