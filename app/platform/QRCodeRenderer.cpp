#include "QRCodeRenderer.h"

#include <QPainter>
#include <qrencode.h>

#include <memory>

namespace veyra {

std::optional<QImage> QRCodeRenderer::image(const QByteArray &bytes)
{
    QImage decoded;
    if (bytes.isEmpty() || !decoded.loadFromData(bytes))
        return std::nullopt;
    return decoded;
}

std::optional<QImage> QRCodeRenderer::image(const QString &text, int size)
{
    const QByteArray data = text.toUtf8();
    if (data.isEmpty() || size <= 0)
        return std::nullopt;
    std::unique_ptr<QRcode, decltype(&QRcode_free)> code(
        QRcode_encodeData(int(data.size()), reinterpret_cast<const unsigned char *>(data.constData()), 0, QR_ECLEVEL_M),
        &QRcode_free);
    if (!code || code->width <= 0)
        return std::nullopt;

    // One module of quiet zone on each side, like the platform generator's output.
    const int modules = code->width + 2;
    if (modules > size)
        return std::nullopt;
    QImage picture(size, size, QImage::Format_RGB32);
    picture.fill(Qt::white);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing, false);
    // Module edges land on whole pixels: module i spans [i*size/modules, (i+1)*size/modules).
    auto edge = [&](int index) { return index * size / modules; };
    for (int y = 0; y < code->width; ++y) {
        for (int x = 0; x < code->width; ++x) {
            if (!(code->data[y * code->width + x] & 1))
                continue;
            const int left = edge(x + 1), top = edge(y + 1);
            painter.fillRect(left, top, edge(x + 2) - left, edge(y + 2) - top, Qt::black);
        }
    }
    return picture;
}

} // namespace veyra
