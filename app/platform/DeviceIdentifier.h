#pragma once

#include <QByteArray>
#include <QString>

namespace veyra::DeviceIdentifier {

// The stable, opaque identifier of this computer that the service and the subscription
// server see. It is derived from the machine id and never reveals it.
QString current();

// HMAC-SHA-256 of the trimmed machine id keyed with the application identifier, in hex.
QString derive(const QByteArray &machineId);

} // namespace veyra::DeviceIdentifier
