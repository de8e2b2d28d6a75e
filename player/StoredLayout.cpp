#include "player/StoredLayout.h"

#include "platform/com/Runtime.h"

#include <QFile>
#include <QHash>
#include <algorithm>
#include <cmath>
#include <cstdio>

namespace layout {

namespace {

constexpr double kTwipsPerHimetric = 1440.0 / 2540.0;

QHash<QString, BuiltInFactory>& builtIns() {
    static QHash<QString, BuiltInFactory> factories;
    return factories;
}

std::optional<std::int32_t> parseLong(QString text) {
    bool ok = false;
    qlonglong value = 0;
    if (text.startsWith(QLatin1String("&H"), Qt::CaseInsensitive))
        value = text.mid(2).toLongLong(&ok, 16);
    else if (text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        value = text.mid(2).toLongLong(&ok, 16);
    else
        value = text.toLongLong(&ok, 10);
    if (!ok || value < INT32_MIN || value > UINT32_MAX)
        return std::nullopt;
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
}

std::optional<QString> parseQuoted(const QString& text) {
    if (text.size() < 2 || !text.startsWith('"') || !text.endsWith('"'))
        return std::nullopt;
    QString result;
    for (qsizetype i = 1; i + 1 < text.size(); ++i) {
        QChar c = text[i];
        if (c == '\\' && i + 2 < text.size())
            c = text[++i];
        result += c;
    }
    return result;
}

// "Long 100" and friends, as a variant that owns its string.
std::optional<VARIANT> parseTypedValue(const QString& text) {
    const qsizetype space = text.indexOf(' ');
    if (space < 0)
        return std::nullopt;
    const QString type = text.left(space).toLower();
    const QString value = text.mid(space + 1).trimmed();
    if (type == QLatin1String("boolean")) {
        if (value.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
            return com::makeBool(true);
        if (value.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0)
            return com::makeBool(false);
        return std::nullopt;
    }
    if (type == QLatin1String("long") || type == QLatin1String("integer")) {
        const auto number = parseLong(value);
        if (!number)
            return std::nullopt;
        if (type == QLatin1String("long"))
            return com::makeI4(*number);
        if (*number < INT16_MIN || *number > INT16_MAX)
            return std::nullopt;
        return com::makeI2(static_cast<std::int16_t>(*number));
    }
    if (type == QLatin1String("string")) {
        const auto quoted = parseQuoted(value);
        if (!quoted)
            return std::nullopt;
        return com::makeBstr(quoted->toStdString());
    }
    return std::nullopt;
}

// The name in a "prop <name>" key (any case, any white space between, none in the name). Plain
// string work: a regular expression here would bring the whole PCRE engine into every start.
std::optional<QString> propertyName(const QString& key) {
    static const QLatin1String prop("prop");
    if (!key.startsWith(prop, Qt::CaseInsensitive))
        return std::nullopt;
    const QStringView afterProp = QStringView(key).mid(prop.size());
    const auto isSpace = [](QChar c) { return c.isSpace(); };
    const auto nameStart = std::find_if_not(afterProp.begin(), afterProp.end(), isSpace);
    if (nameStart == afterProp.begin() || nameStart == afterProp.end() ||
        std::any_of(nameStart, afterProp.end(), isSpace))
        return std::nullopt;
    return afterProp.mid(nameStart - afterProp.begin()).toString();
}

// Applies one "key = value" line to a control; false when the line means nothing.
bool applyLine(StoredControl& control, const QString& key, const QString& value) {
    if (const auto name = propertyName(key)) {
        auto parsed = parseTypedValue(value);
        if (!parsed)
            return false;
        com::Variant owned(*parsed);
        return SUCCEEDED(control.properties->Write(name->toStdString().c_str(), owned.get()));
    }
    const QString lowered = key.toLower();
    if (lowered == QLatin1String("class")) {
        control.className = value;
        return !value.isEmpty();
    }
    const auto number = parseLong(value);
    if (!number)
        return false;
    const int himetricAsTwips = static_cast<int>(std::lround(*number * kTwipsPerHimetric));
    if (lowered == QLatin1String("left"))
        control.leftTwips = *number;
    else if (lowered == QLatin1String("top"))
        control.topTwips = *number;
    else if (lowered == QLatin1String("width"))
        control.widthTwips = *number;
    else if (lowered == QLatin1String("height"))
        control.heightTwips = *number;
    else if (lowered == QLatin1String("extentx"))
        control.widthTwips = himetricAsTwips;
    else if (lowered == QLatin1String("extenty"))
        control.heightTwips = himetricAsTwips;
    else
        return false;
    return true;
}

com::ComPtr<IUnknown> instantiate(const QString& className, QString* why) {
    com::ComPtr<IUnknown> object;
    if (className.isEmpty()) {
        *why = QStringLiteral("the layout names no class");
        return object;
    }
    for (auto it = builtIns().cbegin(); it != builtIns().cend(); ++it) {
        if (it.key().compare(className, Qt::CaseInsensitive) == 0) {
            object = com::ComPtr<IUnknown>::adopt(it.value()());
            if (!object)
                *why = QStringLiteral("the built-in control could not be made");
            return object;
        }
    }
    CLSID clsid;
    HRESULT result = CLSIDFromString(className.toStdString().c_str(), &clsid);
    if (SUCCEEDED(result))
        result = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IUnknown::kIid,
                                  object.putVoid());
    if (FAILED(result))
        *why = QString::fromStdString(com::lastError().empty() ? com::describe(result)
                                                               : com::lastError());
    return object;
}

// Sites and loads a created control; an empty text when all went well.
QString siteControl(IUnknown* object, QWidget* host, const StoredControl& stored) {
    com::ComPtr<IUnknown> held(object);
    auto hosted = held.as<IHostedControl>();
    auto persist = held.as<IPersistPropertyBag>();
    if (!hosted)
        return QStringLiteral("it is not a control that can be hosted");
    if (HRESULT result = hosted->SetHost(host); FAILED(result))
        return QString::fromStdString(com::describe(result));
    if (persist) {
        if (HRESULT result = persist->Load(stored.properties.get()); FAILED(result))
            return QStringLiteral("loading its properties failed: ") +
                   QString::fromStdString(com::describe(result));
    }
    if (HRESULT result = hosted->SetObjectRect(stored.leftTwips, stored.topTwips, stored.widthTwips,
                                               stored.heightTwips);
        FAILED(result))
        return QString::fromStdString(com::describe(result));
    return {};
}

void reportLeftOut(const QString& layoutName, const StoredControl& stored, const QString& why) {
    std::fprintf(stderr, "quiva: %s: control %s (class %s) left out: %s\n",
                 layoutName.toLocal8Bit().constData(), stored.name.toLocal8Bit().constData(),
                 stored.className.toLocal8Bit().constData(), why.toLocal8Bit().constData());
}

} // namespace

StoredLayout parseStoredLayout(const QString& text) {
    StoredLayout layout;
    const QStringList lines = text.split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString line = lines[i].trimmed();
        if (line.isEmpty() || line.startsWith(';') || line.startsWith('#'))
            continue;
        auto problem = [&](const QString& what) {
            layout.problems << QStringLiteral("line %1: %2").arg(i + 1).arg(what);
        };
        if (line.startsWith('[') && line.endsWith(']')) {
            layout.controls.push_back(
                {line.mid(1, line.size() - 2).trimmed(), {}, 0, 0, 0, 0, com::makePropertyBag()});
            continue;
        }
        const qsizetype equals = line.indexOf('=');
        if (equals < 0 || layout.controls.empty()) {
            problem(QStringLiteral("not a control's setting"));
            continue;
        }
        if (!applyLine(layout.controls.back(), line.left(equals).trimmed(),
                       line.mid(equals + 1).trimmed()))
            problem(QStringLiteral("unreadable setting \"%1\"").arg(line));
    }
    return layout;
}

StoredLayout readStoredLayout(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        StoredLayout missing;
        missing.problems << QStringLiteral("cannot read %1").arg(path);
        return missing;
    }
    return parseStoredLayout(QString::fromUtf8(file.readAll()));
}

void registerBuiltInControl(const QString& className, BuiltInFactory factory) {
    for (auto it = builtIns().begin(); it != builtIns().end(); ++it) {
        if (it.key().compare(className, Qt::CaseInsensitive) == 0) {
            builtIns().erase(it);
            break;
        }
    }
    if (factory)
        builtIns().insert(className, std::move(factory));
}

HostedControls& HostedControls::operator=(HostedControls&& other) noexcept {
    if (this != &other) {
        closeAll();
        m_controls = std::move(other.m_controls);
    }
    return *this;
}

HostedControls::~HostedControls() {
    closeAll();
}

void HostedControls::closeAll() {
    for (Hosted& hosted : m_controls)
        if (auto control = hosted.object.as<IHostedControl>())
            control->Close();
    m_controls.clear();
}

IDispatch* HostedControls::dispatch(const QString& name) const {
    for (const Hosted& hosted : m_controls)
        if (hosted.name.compare(name, Qt::CaseInsensitive) == 0)
            return hosted.dispatch.get();
    return nullptr;
}

com::ComPtr<IUnknown> HostedControls::control(const QString& name) const {
    for (const Hosted& hosted : m_controls)
        if (hosted.name.compare(name, Qt::CaseInsensitive) == 0)
            return hosted.object;
    return {};
}

QStringList HostedControls::names() const {
    QStringList result;
    for (const Hosted& hosted : m_controls)
        result << hosted.name;
    return result;
}

HostedControls createHostedControls(QWidget* host, const QString& layoutResource) {
    const QString layoutName = layoutResource.section('/', -1);
    const StoredLayout layout = readStoredLayout(layoutResource);
    for (const QString& problem : layout.problems)
        std::fprintf(stderr, "quiva: %s: %s\n", layoutName.toLocal8Bit().constData(),
                     problem.toLocal8Bit().constData());
    HostedControls hosted;
    for (const StoredControl& stored : layout.controls) {
        QString why;
        com::ComPtr<IUnknown> object = instantiate(stored.className, &why);
        if (object)
            why = siteControl(object.get(), host, stored);
        if (!why.isEmpty()) {
            if (auto control = object.as<IHostedControl>())
                control->Close();
            reportLeftOut(layoutName, stored, why);
            continue;
        }
        hosted.m_controls.push_back({stored.name, object, object.as<IDispatch>()});
    }
    return hosted;
}

} // namespace layout
