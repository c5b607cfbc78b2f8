#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// Reading and editing one entry of a KConfig file (the format of KDE's kioslaverc) as text,
// line by line, so that everything else in the file (comments, other groups, the order and
// spacing of the lines) stays byte for byte as it was. KConfig's own writer rewrites the whole
// file and drops comments, which would make an exact restore impossible.
namespace veyra::KConfigText {

// The text after the "=" of the entry `key` in `group`, exactly as written, or nothing when
// the group has no such entry. As in KConfig, a later line for the same key wins.
std::optional<QString> entry(const QByteArray &text, const QString &group, const QString &key);

// The file with the entry set (`value`, written unescaped: callers only write values that need
// no escaping) or removed (no value). An existing line keeps everything up to its "="; a new
// entry goes after the group's last entry; a missing group is added at the end, separated by a
// blank line as KConfig writes it. Removing an entry never removes its group.
QByteArray withEntry(
    const QByteArray &text, const QString &group, const QString &key, const std::optional<QString> &value);

// Whether the file has the group (a header for it, entries or not).
bool hasGroup(const QByteArray &text, const QString &group);
// The file with the group: unchanged when it has one, else with its header added at the end as a
// new entry would add it.
QByteArray withGroup(const QByteArray &text, const QString &group);
// The file without the group when the group holds nothing but blank lines (its header goes with
// the blank line before it); unchanged otherwise.
QByteArray withoutEmptyGroup(const QByteArray &text, const QString &group);

} // namespace veyra::KConfigText
