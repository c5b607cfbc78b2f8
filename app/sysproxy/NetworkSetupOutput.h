#pragma once

#include "ProxySnapshot.h"

#include <QMap>
#include <QString>
#include <QStringList>

// Reading networksetup's text output. Pure functions, so the parsing rules can be checked
// without running the tool.
namespace veyra::NetworkSetupOutput {

using Dictionary = QMap<QString, QString>;

// "Key: value" lines: split at the first colon, key trimmed of spaces and tabs and
// lower-cased, value trimmed of spaces and tabs; lines with nothing before or nothing after
// the colon are ignored; a later key replaces an earlier one.
Dictionary dictionary(const QString &text);

// "enabled", else "auto proxy discovery", is one of yes/on/1/true (any case).
bool isEnabled(const Dictionary &map);

// Output of -getwebproxy and its siblings.
ProxyEndpointState endpoint(const QString &text);

// Output of -getproxybypassdomains: every non-empty line, except the "none set" messages.
QStringList bypassDomains(const QString &text);

// Output of -getproxyautodiscovery.
bool autoDiscoveryEnabled(const QString &text);

// Output of -listallnetworkservices: the enabled services, in listed order.
QStringList listedServices(const QString &text);

// Output of -getinfo: whether the service has a usable IPv4 address.
bool hasAddress(const QString &text);

} // namespace veyra::NetworkSetupOutput
