#include "platform/desktop/Desktop.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QStandardPaths>
#include <QTextStream>
#include <array>

namespace desktop {
namespace {

using Groups = QHash<QString, QHash<QString, QString>>;

// The groups and keys of an INI-style file (desktop entries, mimeapps.list); empty when the file
// cannot be read. The first occurrence of a key in a group wins.
Groups readGroups(const QString& path) {
    Groups groups;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return groups;
    QTextStream in(&file);
    QString group;
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            group = line.mid(1, line.size() - 2);
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals <= 0 || group.isEmpty())
            continue;
        QHash<QString, QString>& keys = groups[group];
        const QString key = line.left(equals).trimmed();
        if (!keys.contains(key))
            keys.insert(key, line.mid(equals + 1).trimmed());
    }
    return groups;
}

QString envOr(const char* name, const QString& fallback) {
    const QString value = qEnvironmentVariable(name);
    return value.isEmpty() ? fallback : value;
}

QStringList splitDirs(const QString& list) {
    return list.split(QLatin1Char(':'), Qt::SkipEmptyParts);
}

QString home() {
    return qEnvironmentVariable("HOME");
}

// $XDG_DATA_HOME/applications then each of $XDG_DATA_DIRS/applications.
QStringList applicationDirs() {
    QStringList dirs{envOr("XDG_DATA_HOME", home() + QStringLiteral("/.local/share"))};
    dirs += splitDirs(envOr("XDG_DATA_DIRS", QStringLiteral("/usr/local/share:/usr/share")));
    for (QString& dir : dirs)
        dir += QStringLiteral("/applications");
    return dirs;
}

// The association files in order of precedence, desktop-specific ones first in each folder.
QStringList associationFiles() {
    QStringList desktops;
    for (const QString& name :
         qEnvironmentVariable("XDG_CURRENT_DESKTOP").split(QLatin1Char(':'), Qt::SkipEmptyParts))
        desktops << name.toLower() + QStringLiteral("-mimeapps.list");

    QStringList configDirs{envOr("XDG_CONFIG_HOME", home() + QStringLiteral("/.config"))};
    configDirs += splitDirs(envOr("XDG_CONFIG_DIRS", QStringLiteral("/etc/xdg")));

    QStringList files;
    for (const QString& dir : configDirs) {
        for (const QString& name : desktops)
            files << dir + QLatin1Char('/') + name;
        files << dir + QStringLiteral("/mimeapps.list");
    }
    for (const QString& dir : applicationDirs()) {
        for (const QString& name : desktops)
            files << dir + QLatin1Char('/') + name;
        files << dir + QStringLiteral("/mimeapps.list") << dir + QStringLiteral("/defaults.list");
    }
    return files;
}

// The file of a desktop file ID: "foo-bar.desktop" may also live at "foo/bar.desktop".
QString entryFileOf(const QString& id) {
    for (const QString& dir : applicationDirs()) {
        QString relative = id;
        while (true) {
            const QString path = dir + QLatin1Char('/') + relative;
            if (QFileInfo(path).isFile())
                return path;
            const qsizetype dash = relative.indexOf(QLatin1Char('-'));
            if (dash < 0)
                break;
            relative[dash] = QLatin1Char('/');
        }
    }
    return {};
}

bool usableEntry(const QString& path) {
    const Groups groups = readGroups(path);
    const auto entry = groups.constFind(QStringLiteral("Desktop Entry"));
    return entry != groups.cend() && !entry->value(QStringLiteral("Exec")).isEmpty() &&
           entry->value(QStringLiteral("Hidden")) != QLatin1String("true");
}

// The first usable entry named in `group`'s list for the MIME type, over all files.
QString firstEntryIn(const QStringList& files, const QString& group, const QString& mimeType) {
    for (const QString& file : files) {
        const QString ids = readGroups(file).value(group).value(mimeType);
        for (const QString& id : ids.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            const QString path = entryFileOf(id.trimmed());
            if (!path.isEmpty() && usableEntry(path))
                return path;
        }
    }
    return {};
}

// Undoes the escapes of a desktop entry's string value (\s \n \t \r \\).
QString unescapeValue(const QString& value) {
    QString out;
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value[i];
        if (c != QLatin1Char('\\') || i + 1 == value.size()) {
            out += c;
            continue;
        }
        const QChar next = value[++i];
        switch (next.unicode()) {
        case 's':
            out += QLatin1Char(' ');
            break;
        case 'n':
            out += QLatin1Char('\n');
            break;
        case 't':
            out += QLatin1Char('\t');
            break;
        case 'r':
            out += QLatin1Char('\r');
            break;
        default:
            out += next;
            break;
        }
    }
    return out;
}

struct ExecWord {
    QString text;
    bool quoted = false;
};

// Splits an Exec value into words: blanks separate, double quotes group, and inside quotes a
// backslash escapes the next character.
QList<ExecWord> splitExec(const QString& exec) {
    QList<ExecWord> words;
    ExecWord word;
    bool inWord = false;
    bool inQuotes = false;
    for (qsizetype i = 0; i < exec.size(); ++i) {
        const QChar c = exec[i];
        if (inQuotes) {
            if (c == QLatin1Char('\\') && i + 1 < exec.size())
                word.text += exec[++i];
            else if (c == QLatin1Char('"'))
                inQuotes = false;
            else
                word.text += c;
        } else if (c == QLatin1Char('"')) {
            inQuotes = inWord = word.quoted = true;
        } else if (c == QLatin1Char(' ') || c == QLatin1Char('\t')) {
            if (inWord)
                words << word;
            word = {};
            inWord = false;
        } else {
            word.text += c;
            inWord = true;
        }
    }
    if (inWord)
        words << word;
    return words;
}

// Fills in the field codes of one unquoted word: file and address codes become "%1", %% is a
// percent sign, every other code is dropped.
QString expandFieldCodes(const QString& word) {
    QString out;
    for (qsizetype i = 0; i < word.size(); ++i) {
        if (word[i] != QLatin1Char('%') || i + 1 == word.size()) {
            out += word[i];
            continue;
        }
        const QChar code = word[++i];
        if (code == QLatin1Char('%'))
            out += QLatin1Char('%');
        else if (QStringLiteral("fFuU").contains(code))
            out += QStringLiteral("%1");
    }
    return out;
}

QString resolveProgram(const QString& program) {
    if (program.contains(QLatin1Char('/'))) {
        const QFileInfo info(program);
        return info.isFile() && info.isExecutable() ? info.absoluteFilePath() : QString();
    }
    return QStandardPaths::findExecutable(program);
}

QString quotedIfSpaced(const QString& word) {
    return word.contains(QLatin1Char(' ')) || word == QLatin1String("%1")
               ? QLatin1Char('"') + word + QLatin1Char('"')
               : word;
}

} // namespace

QString defaultApplicationEntry(const QString& mimeType) {
    const QStringList files = associationFiles();
    QString entry = firstEntryIn(files, QStringLiteral("Default Applications"), mimeType);
    if (entry.isEmpty())
        entry = firstEntryIn(files, QStringLiteral("Added Associations"), mimeType);
    if (entry.isEmpty()) {
        QStringList caches;
        for (const QString& dir : applicationDirs())
            caches << dir + QStringLiteral("/mimeinfo.cache");
        entry = firstEntryIn(caches, QStringLiteral("MIME Cache"), mimeType);
    }
    return entry;
}

std::optional<Launcher> launcherFromEntry(const QString& desktopFile) {
    const QString exec = readGroups(desktopFile)
                             .value(QStringLiteral("Desktop Entry"))
                             .value(QStringLiteral("Exec"));
    QStringList words;
    for (const ExecWord& word : splitExec(unescapeValue(exec))) {
        if (word.quoted) {
            words << word.text;
            continue;
        }
        const QString expanded = expandFieldCodes(word.text);
        if (!expanded.isEmpty())
            words << expanded;
    }
    if (words.isEmpty())
        return std::nullopt;
    Launcher launcher{resolveProgram(words.takeFirst()), words};
    if (launcher.program.isEmpty())
        return std::nullopt;
    return launcher;
}

std::optional<Launcher> defaultWebBrowser() {
    const QString entry = defaultApplicationEntry(QStringLiteral("x-scheme-handler/http"));
    if (entry.isEmpty())
        return std::nullopt;
    return launcherFromEntry(entry);
}

QString commandLine(const Launcher& launcher) {
    QString line = QLatin1Char('"') + launcher.program + QLatin1Char('"');
    for (const QString& argument : launcher.arguments)
        line += QLatin1Char(' ') + quotedIfSpaced(argument);
    return line;
}

QString systemInformationProgram() {
    static const std::array kPrograms = {
        "hardinfo2",           "hardinfo",          "kinfocenter", "gnome-system-monitor",
        "mate-system-monitor", "xfce4-taskmanager", "lxtask"};
    for (const char* name : kPrograms) {
        const QString path = QStandardPaths::findExecutable(QLatin1String(name));
        if (!path.isEmpty())
            return path;
    }
    return {};
}

} // namespace desktop
