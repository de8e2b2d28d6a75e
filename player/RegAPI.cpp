#include "player/RegAPI.h"

#include "platform/ui/MessageBox.h"
#include "platform/ui/ProcessStart.h"

#include <QApplication>
#include <QWidget>
#include <array>

namespace {

constexpr DWORD kNameChars = 260;
constexpr DWORD kDataBytes = 4096;
constexpr DWORD kMaxValues = 1000000;
constexpr qsizetype kInitialRoom = 101;
constexpr qsizetype kGrowth = 100;

std::variant<QString, qint32, QByteArray> decodeData(DWORD type, const BYTE* data, DWORD length) {
    const char* bytes = reinterpret_cast<const char*>(data);
    if (type == REG_SZ)
        return QString::fromLocal8Bit(bytes, length > 0 ? qsizetype(length) - 1 : 0);
    if (type == REG_DWORD) {
        quint32 number = 0;
        for (DWORD i = 0; i < 4 && i < length; ++i)
            number |= quint32(data[i]) << (8 * i);
        return qint32(number);
    }
    return QByteArray(bytes, qsizetype(length));
}

QString dataAsText(const RegValueEntry& entry) {
    if (const auto* text = std::get_if<QString>(&entry.data))
        return *text;
    if (const auto* number = std::get_if<qint32>(&entry.data))
        return QString::number(*number);
    const QByteArray& bytes = std::get<QByteArray>(entry.data);
    return QString::fromLocal8Bit(
        bytes.left(bytes.indexOf('\0') < 0 ? bytes.size() : bytes.indexOf('\0')));
}

struct Command {
    QString program;
    QStringList arguments;
};

// The program and leading arguments of a browser path as GetBrowserPath returns it: either a
// quoted program path, or an unquoted program followed by options and the dangling quote.
Command browserCommand(const QString& browserPath, const QString& address) {
    Command command;
    if (browserPath.startsWith(QLatin1Char('"'))) {
        command.program = browserPath.mid(1, browserPath.size() - 2);
    } else {
        QStringList words = browserPath.chopped(1).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (!words.isEmpty())
            command.program = words.takeFirst();
        command.arguments = words;
    }
    command.arguments << address;
    return command;
}

void focusMainWindow() {
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (window->inherits("frmMain") && window->isVisible() && !window->isMinimized()) {
            window->activateWindow();
            return;
        }
    }
}

} // namespace

QList<RegValueEntry> EnumRegValues(HKEY root, const QString& subKey) {
    QList<RegValueEntry> values;
    qsizetype room = kInitialRoom;
    values.reserve(room);

    HKEY key = root;
    if (!subKey.isEmpty() &&
        RegOpenKeyExA(root, subKey.toLocal8Bit().constData(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return values;

    std::array<char, kNameChars> name;
    std::array<BYTE, kDataBytes> data;
    for (DWORD i = 0; i < kMaxValues; ++i) {
        if (values.size() >= room) {
            room = qsizetype(i) + kGrowth;
            values.reserve(room);
        }
        DWORD nameLength = kNameChars;
        DWORD dataLength = kDataBytes;
        DWORD type = REG_NONE;
        data.fill(0);
        if (RegEnumValueA(key, i, name.data(), &nameLength, nullptr, &type, data.data(),
                          &dataLength) != ERROR_SUCCESS)
            break;
        values.append({QString::fromLocal8Bit(name.data(), qsizetype(nameLength)), type,
                       decodeData(type, data.data(), dataLength)});
    }

    if (key != root)
        RegCloseKey(key);
    return values;
}

QString GetBrowserPath() {
    const QList<RegValueEntry> values =
        EnumRegValues(HKEY_CLASSES_ROOT, QStringLiteral("http\\shell\\open\\command"));
    if (values.isEmpty())
        return kInvalidBrowser;
    const QString commandLine = dataAsText(values.first());
    const qsizetype quote = commandLine.indexOf(QLatin1Char('"'), 1);
    if (quote < 0)
        return kInvalidBrowser;
    return commandLine.left(quote + 1);
}

void OpenURL(const QString& address) {
    const QString browser = GetBrowserPath();
    if (browser == kInvalidBrowser) {
        msgbox::show(QStringLiteral("Unable to open URL. Install browser first!"), msgbox::kOkOnly);
        return;
    }
    const Command command = browserCommand(browser, address);
    if (!process::start(command.program, command.arguments))
        msgbox::show(QStringLiteral("Unable to start the web browser %1.").arg(browser),
                     msgbox::kOkOnly);
    QCoreApplication::processEvents();
    focusMainWindow();
}
