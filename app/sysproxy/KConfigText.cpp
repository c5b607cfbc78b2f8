#include "KConfigText.h"

#include <QList>

namespace veyra::KConfigText {

namespace {

struct Lines {
    QList<QByteArray> lines;
    bool finalNewline = true;

    explicit Lines(const QByteArray &text)
    {
        if (text.isEmpty())
            return;
        lines = text.split('\n');
        finalNewline = text.endsWith('\n');
        if (finalNewline)
            lines.removeLast();
    }

    QByteArray text() const
    {
        if (lines.isEmpty())
            return {};
        QByteArray joined = lines.join('\n');
        if (finalNewline)
            joined += '\n';
        return joined;
    }
};

bool isHeader(const QByteArray &line)
{
    return line.trimmed().startsWith('[');
}

// The position of the "=" when the line is an entry for `key`, else -1.
qsizetype entrySeparator(const QByteArray &line, const QByteArray &key)
{
    const QByteArray trimmed = line.trimmed();
    if (trimmed.isEmpty() || trimmed.startsWith('#') || isHeader(line))
        return -1;
    const qsizetype separator = line.indexOf('=');
    if (separator < 0 || line.left(separator).trimmed() != key)
        return -1;
    return separator;
}

struct Position {
    qsizetype lastHeader = -1; // the last header of the group
    qsizetype lastEntry = -1; // the line of the key's last entry in the group
};

Position find(const Lines &file, const QByteArray &header, const QByteArray &key)
{
    Position position;
    bool inGroup = false;
    for (qsizetype i = 0; i < file.lines.size(); ++i) {
        const QByteArray &line = file.lines[i];
        if (isHeader(line)) {
            inGroup = line.trimmed() == header;
            if (inGroup)
                position.lastHeader = i;
        } else if (inGroup && entrySeparator(line, key) >= 0) {
            position.lastEntry = i;
        }
    }
    return position;
}

// Where the group that starts at `header` ends (the next header, or the end of the file).
qsizetype groupEnd(const Lines &file, qsizetype header)
{
    qsizetype end = header + 1;
    while (end < file.lines.size() && !isHeader(file.lines[end]))
        ++end;
    return end;
}

// A new group at the end, after a blank line as KConfig writes it. A file that did not end in a
// line feed still does not, so that taking the group out again gives back its very bytes.
void appendGroup(Lines &file, const QByteArray &header)
{
    if (!file.lines.isEmpty() && !file.lines.last().trimmed().isEmpty())
        file.lines.append(QByteArray());
    file.lines.append(header);
}

void removeIfEmpty(Lines &file, qsizetype header)
{
    const qsizetype end = groupEnd(file, header);
    for (qsizetype i = header + 1; i < end; ++i)
        if (!file.lines[i].trimmed().isEmpty())
            return;
    file.lines.removeAt(header);
    if (header > 0 && file.lines[header - 1].trimmed().isEmpty())
        file.lines.removeAt(header - 1);
}

} // namespace

std::optional<QString> entry(const QByteArray &text, const QString &group, const QString &key)
{
    const Lines file(text);
    const QByteArray name = key.toUtf8();
    const Position position = find(file, '[' + group.toUtf8() + ']', name);
    if (position.lastEntry < 0)
        return std::nullopt;
    const QByteArray &line = file.lines[position.lastEntry];
    return QString::fromUtf8(line.mid(entrySeparator(line, name) + 1));
}

bool hasGroup(const QByteArray &text, const QString &group)
{
    return find(Lines(text), '[' + group.toUtf8() + ']', QByteArray()).lastHeader >= 0;
}

QByteArray withGroup(const QByteArray &text, const QString &group)
{
    Lines file(text);
    const QByteArray header = '[' + group.toUtf8() + ']';
    if (find(file, header, QByteArray()).lastHeader >= 0)
        return text;
    appendGroup(file, header);
    return file.text();
}

QByteArray withoutEmptyGroup(const QByteArray &text, const QString &group)
{
    Lines file(text);
    const qsizetype last = find(file, '[' + group.toUtf8() + ']', QByteArray()).lastHeader;
    if (last < 0)
        return text;
    removeIfEmpty(file, last);
    return file.text();
}

QByteArray withEntry(
    const QByteArray &text, const QString &group, const QString &key, const std::optional<QString> &value)
{
    Lines file(text);
    const QByteArray name = key.toUtf8();
    const QByteArray header = '[' + group.toUtf8() + ']';
    const Position position = find(file, header, name);

    if (position.lastEntry >= 0) {
        QByteArray &line = file.lines[position.lastEntry];
        if (value) {
            line = line.left(entrySeparator(line, name) + 1) + value->toUtf8();
        } else {
            file.lines.removeAt(position.lastEntry);
        }
        return file.text();
    }
    if (!value)
        return text;

    const QByteArray line = name + '=' + value->toUtf8();
    if (position.lastHeader < 0) {
        appendGroup(file, header);
        file.lines.append(line);
        return file.text();
    }
    // After the group's last entry, so that comments heading the next group stay with it.
    qsizetype insertAt = position.lastHeader + 1;
    const qsizetype end = groupEnd(file, position.lastHeader);
    for (qsizetype i = position.lastHeader + 1; i < end; ++i) {
        const QByteArray trimmed = file.lines[i].trimmed();
        if (!trimmed.isEmpty() && !trimmed.startsWith('#'))
            insertAt = i + 1;
    }
    file.lines.insert(insertAt, line);
    return file.text();
}

} // namespace veyra::KConfigText
