#include "player/mpris/MprisService.h"

#include "player/frmMain.h"
#include "player/mpris/MprisPlayer.h"

#include <QCoreApplication>
#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QEvent>
#include <QFileInfo>
#include <QStringList>
#include <QTimer>

namespace mpris {
namespace {

const QString kPlayerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");

// org.mpris.MediaPlayer2: who the player is and what the desktop may do with its window.
class RootAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
    Q_PROPERTY(QString Identity READ Identity)
    Q_PROPERTY(QString DesktopEntry READ DesktopEntry)
    Q_PROPERTY(bool CanQuit READ CanQuit)
    Q_PROPERTY(bool CanRaise READ CanRaise)
    Q_PROPERTY(bool HasTrackList READ HasTrackList)
    Q_PROPERTY(QStringList SupportedUriSchemes READ SupportedUriSchemes)
    Q_PROPERTY(QStringList SupportedMimeTypes READ SupportedMimeTypes)
public:
    explicit RootAdaptor(Player* player) : QDBusAbstractAdaptor(player), m_player(*player) {}

    QString Identity() const { return m_player.identity(); }
    QString DesktopEntry() const { return QString::fromLatin1(kDesktopEntry); }
    bool CanQuit() const { return true; }
    bool CanRaise() const { return true; }
    bool HasTrackList() const { return false; }
    QStringList SupportedUriSchemes() const { return {QStringLiteral("file")}; }
    QStringList SupportedMimeTypes() const { return {QStringLiteral("audio/mpeg")}; }

public slots:
    void Raise() { m_player.raise(); }
    void Quit() { m_player.quit(); }

private:
    Player& m_player;
};

// org.mpris.MediaPlayer2.Player: the transport, the song and the volume.
class PlayerAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
    Q_PROPERTY(QString PlaybackStatus READ PlaybackStatus)
    Q_PROPERTY(QVariantMap Metadata READ Metadata)
    Q_PROPERTY(double Volume READ Volume WRITE setVolume)
    Q_PROPERTY(qlonglong Position READ Position)
    Q_PROPERTY(double Rate READ Rate)
    Q_PROPERTY(double MinimumRate READ Rate)
    Q_PROPERTY(double MaximumRate READ Rate)
    Q_PROPERTY(bool CanControl READ CanControl)
    Q_PROPERTY(bool CanPlay READ CanPlay)
    Q_PROPERTY(bool CanPause READ CanPause)
    Q_PROPERTY(bool CanGoNext READ CanGoNext)
    Q_PROPERTY(bool CanGoPrevious READ CanGoPrevious)
    Q_PROPERTY(bool CanSeek READ CanSeek)
public:
    PlayerAdaptor(Player* player, const QDBusConnection& bus)
        : QDBusAbstractAdaptor(player), m_player(*player), m_bus(bus) {
        connect(player, &Player::seeked, this, &PlayerAdaptor::Seeked);
    }

    QString PlaybackStatus() const { return m_player.snapshot().playbackStatus; }
    QVariantMap Metadata() const { return m_player.snapshot().metadata; }
    double Volume() const { return m_player.snapshot().volume; }
    void setVolume(double volume) { m_player.setVolume(volume); }
    qlonglong Position() const { return m_player.positionUs(); }
    double Rate() const { return 1.0; }
    bool CanControl() const { return true; }
    bool CanPlay() const { return m_player.snapshot().can.play; }
    bool CanPause() const { return m_player.snapshot().can.pause; }
    bool CanGoNext() const { return m_player.snapshot().can.next; }
    bool CanGoPrevious() const { return m_player.snapshot().can.previous; }
    bool CanSeek() const { return false; }

signals:
    void Seeked(qlonglong Position);

public slots:
    void Play() { m_player.play(); }
    void Pause() { m_player.pause(); }
    void PlayPause() { m_player.playPause(); }
    void Stop() { m_player.stop(); }
    void Next() { m_player.next(); }
    void Previous() { m_player.previous(); }
    // The song keeps its place: the engine plays from the start or from where it paused.
    void Seek(qlonglong) {}
    void SetPosition(const QDBusObjectPath&, qlonglong) {}
    void OpenUri(const QString& uri, const QDBusMessage& call) {
        const QDBusError error = m_player.openUri(uri);
        if (!error.isValid())
            return;
        call.setDelayedReply(true);
        m_bus.send(call.createErrorReply(error));
    }

private:
    Player& m_player;
    QDBusConnection m_bus;
};

// Connecting without an address would make libdbus start a bus of its own for the X display.
bool sessionBusAnnounced() {
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        return true;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() && QFileInfo::exists(runtime + QStringLiteral("/bus"));
}

// A second running player takes the name MPRIS reserves for further instances of one player.
bool takeName(QDBusConnection& bus) {
    const QString name = QString::fromLatin1(kServiceName);
    return bus.registerService(name) ||
           bus.registerService(name + QStringLiteral(".instance") +
                               QString::number(QCoreApplication::applicationPid()));
}

void announce(QDBusConnection& bus, const QVariantMap& changed) {
    QDBusMessage signal = QDBusMessage::createSignal(
        QString::fromLatin1(kObjectPath), QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("PropertiesChanged"));
    signal << kPlayerInterface << changed << QStringList();
    bus.send(signal);
}

void registerOnSessionBus(frmMain& window) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    auto* player = new Player(window);
    new RootAdaptor(player);
    new PlayerAdaptor(player, bus);
    const QString path = QString::fromLatin1(kObjectPath);
    if (!bus.registerObject(path, player, QDBusConnection::ExportAdaptors) || !takeName(bus)) {
        bus.unregisterObject(path);
        delete player;
        return;
    }
    QObject::connect(player, &Player::propertiesChanged, player,
                     [bus](const QVariantMap& changed) mutable { announce(bus, changed); });
}

// Connecting loads libdbus and waits for the bus: tens of milliseconds on a busy machine, which
// the window's first appearance need not wait for.
class AfterFirstPaint : public QObject {
public:
    explicit AfterFirstPaint(frmMain& window) : QObject(&window), m_window(window) {
        window.installEventFilter(this);
    }

    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            m_window.removeEventFilter(this);
            QTimer::singleShot(0, &m_window,
                               [&window = m_window] { registerOnSessionBus(window); });
            deleteLater();
        }
        return false;
    }

private:
    frmMain& m_window;
};

} // namespace

void startOnSessionBus(frmMain& window) {
    if (sessionBusAnnounced())
        new AfterFirstPaint(window);
}

} // namespace mpris

#include "MprisService.moc"
