#include "player/mpris/MprisPlayer.h"

#include "platform/com/Sinks.h"
#include "platform/ui/ListBox.h"
#include "platform/ui/WindowRestore.h"
#include "player/SongPath.h"
#include "player/frmMain.h"
#include "player/frmMenu.h"
#include "player/mpris/CoverArt.h"
#include "volume/PemrikGuids.h"

#include <QFileInfo>
#include <QFuture>
#include <QPromise>
#include <QSlider>
#include <QUrl>
#include <algorithm>
#include <cmath>
#include <memory>
#include <thread>

namespace mpris {
namespace {

std::optional<audio::StreamInfo> currentStream() {
    return audio::Engine::instance().currentStream();
}

QString pathOf(const std::optional<audio::StreamInfo>& stream) {
    return stream ? QString::fromLocal8Bit(stream->path) : QString();
}

QString canonicalFile(const QString& path) {
    const QFileInfo info(path);
    return info.isFile() ? info.canonicalFilePath() : QString();
}

// The file a file: address names on this computer (no host, or "localhost"), else empty.
QString localFileOf(const QString& uri) {
    QUrl url(uri);
    if (url.host().compare(QLatin1StringView("localhost"), Qt::CaseInsensitive) == 0)
        url.setHost({});
    return url.isLocalFile() && url.host().isEmpty() ? url.toLocalFile() : QString();
}

bool sameSong(const Snapshot& before, const Snapshot& after) {
    const QString url = QStringLiteral("xesam:url");
    return after.metadata.contains(url) && after.metadata.value(url) == before.metadata.value(url);
}

} // namespace

Player::Player(frmMain& window) : QObject(&window), m_window(window) {
    m_announced = snapshot();
    // Runs after the window's own scroll handler, which was connected first.
    connect(window.SliderVol, &QSlider::valueChanged, this, &Player::refresh);
    // What the transport's buttons would do changes with the entries and the one clicked.
    const auto later = [this] { scheduleRefresh(); };
    const QAbstractItemModel* entries = window.lstPls->model();
    connect(entries, &QAbstractItemModel::rowsInserted, this, later);
    connect(entries, &QAbstractItemModel::rowsRemoved, this, later);
    connect(entries, &QAbstractItemModel::modelReset, this, later);
    connect(entries, &QAbstractItemModel::dataChanged, this, later);
    connect(window.lstPls, &ListBox::click, this, later);
    audio::Engine::instance().setChangeListener([this] { noteEngineChange(); });
    listenToVolumeControl();
}

Player::~Player() {
    audio::Engine::instance().setChangeListener({});
    if (m_volumeControl)
        com::disconnectSink(m_volumeControl.get(), pemrik::kIidDalvexEvents, m_volumeEvents);
}

// The control polls the mixer: a change made there (the desktop's mixer on our stream) comes
// as its VolumeChanged, raised before the control takes the new value, hence the later look.
void Player::listenToVolumeControl() {
    m_volumeControl = com::ComPtr<IDispatch>(m_window.Dalvex1());
    const auto sink = com::ComPtr<com::EventSink>::adopt(
        new com::EventSink(pemrik::kIidDalvexEvents, [this](DISPID id, std::span<VARIANT>) {
            if (id == pemrik::kDispidVolumeChanged)
                scheduleRefresh();
        }));
    if (m_volumeControl && FAILED(com::connectSink(m_volumeControl.get(), pemrik::kIidDalvexEvents,
                                                   sink->identity(), &m_volumeEvents)))
        m_volumeControl.reset();
}

QString Player::identity() const {
    return m_window.windowTitle();
}

void Player::raise() {
    windowrestore::restore(&m_window);
    m_window.show();
    m_window.raise();
    m_window.activateWindow();
}

void Player::quit() {
    m_window.menu().mnuExit_Click();
}

audio::StreamMode Player::mode() const {
    const auto stream = currentStream();
    return stream ? stream->mode : audio::StreamMode::Stopped;
}

void Player::clickUntil(void (frmMain::*handler)(), audio::StreamMode wanted) {
    for (int clicks = 0; clicks < 2 && mode() != wanted; ++clicks)
        (m_window.*handler)();
}

void Player::play() {
    switch (mode()) {
    case audio::StreamMode::Paused:
        clickUntil(&frmMain::Image15_Click, audio::StreamMode::Playing);
        break;
    case audio::StreamMode::Stopped:
        m_window.Image14_Click();
        break;
    case audio::StreamMode::Playing:
        break;
    }
}

void Player::pause() {
    if (mode() == audio::StreamMode::Playing)
        clickUntil(&frmMain::Image15_Click, audio::StreamMode::Paused);
}

void Player::playPause() {
    if (mode() == audio::StreamMode::Playing)
        pause();
    else
        play();
}

void Player::stop() {
    m_window.Image16_Click();
}
void Player::next() {
    m_window.Image17_Click();
}
void Player::previous() {
    m_window.Image13_Click();
}

QDBusError Player::openUri(const QString& uri) {
    const QString path = localFileOf(uri);
    if (path.isEmpty())
        return {QDBusError::NotSupported,
                QStringLiteral("Only file: addresses of this computer can be opened: %1").arg(uri)};
    const int row = listedRow(path);
    if (row < 0)
        return {QDBusError::NotSupported,
                QStringLiteral("%1 is not a song of the playlist").arg(path)};
    m_window.lstPls->setListIndex(row);
    m_window.lstPls_DblClick();
    if (canonicalFile(pathOf(currentStream())) != canonicalFile(path))
        return {QDBusError::Failed, QStringLiteral("%1 cannot be played").arg(path)};
    return {};
}

// The row whose entry plays this very file, or -1. An entry plays the file found for its name
// in the playlist's one folder, so only entries named as the file (in any case) can.
int Player::listedRow(const QString& path) const {
    const QString file = canonicalFile(path);
    const QString name = listEntryOf(path);
    const QStringList entries = m_window.lstPls->items();
    for (int row = 0; row < entries.size() && !file.isEmpty(); ++row) {
        const QString& entry = entries[row];
        if (entry.compare(name, Qt::CaseInsensitive) == 0 &&
            canonicalFile(fileOpenedFor(songPath(m_window.txtDirPath, entry))) == file)
            return row;
    }
    return -1;
}

Playlist Player::playlist() const {
    return {m_window.lstPls->listIndex(), m_window.lstPls->listCount(),
            !fileOpenedFor(m_window.txtFullPath).isEmpty()};
}

QString Player::artUrlOf(const std::optional<audio::StreamInfo>& stream) const {
    return stream && pathOf(stream) == m_artSongPath ? m_artUrl : QString();
}

// The volume in force is the control's, which follows the mixer; without a control, the
// slider's is all there is.
int Player::volume() const {
    return m_window.Dalvex1Volume().value_or(m_window.SliderVol->value());
}

Snapshot Player::snapshot() const {
    const auto stream = currentStream();
    return Snapshot::of(stream, volume(), playlist(), artUrlOf(stream));
}

qlonglong Player::positionUs() const {
    return mpris::positionUs(currentStream());
}

void Player::setVolume(double volume) {
    if (std::isnan(volume))
        return;
    const int value = static_cast<int>(std::lround(std::clamp(volume, 0.0, 1.0) * 100));
    if (m_window.SliderVol->value() != value) {
        m_window.SliderVol->setValue(value); // its scroll handler and the refresh follow
        return;
    }
    // The slider emits nothing for its own value, yet the mixer may have moved since.
    m_window.SliderVol_Scroll();
    refresh();
}

// A picture tag may take long to read (a large one, a slow share): a thread of its own reads it,
// and a file whose reads hang keeps only that thread. The answer counts only for the song it
// was sought for, and never reaches a player that is gone.
void Player::findArt(const QString& songPath) {
    m_artSongPath = songPath;
    m_artUrl.clear();
    if (songPath.isEmpty())
        return;
    auto promise = std::make_shared<QPromise<QString>>();
    promise->start();
    promise->future().then(this, [this, songPath](const QString& url) {
        if (songPath != m_artSongPath || url.isEmpty())
            return;
        m_artUrl = url;
        refresh();
    });
    std::thread([promise, songPath] {
        promise->addResult(coverArtUrl(songPath));
        promise->finish();
    }).detach();
}

// Engine thread: a song that starts again shows here as its frames going back (to none, when
// it is closed to be opened anew), which the refresh, coming after all the changes, cannot see.
void Player::noteEngineChange() {
    const auto stream = currentStream();
    if (const long long frames = stream ? stream->heardFrames : -1;
        frames < m_framesAtChange.exchange(frames))
        m_wentBack = true;
    scheduleRefresh();
}

// Several changes in a row (a song's stop, close, open and play; entries added one by one) are
// told once, on the UI thread, after the handler that made them has finished.
void Player::scheduleRefresh() {
    if (!m_refreshDue.exchange(true))
        QMetaObject::invokeMethod(this, &Player::refresh, Qt::QueuedConnection);
}

void Player::refresh() {
    m_refreshDue = false;
    const bool wentBack = m_wentBack.exchange(false);
    if (const QString path = pathOf(currentStream()); path != m_artSongPath)
        findArt(path);
    const Snapshot now = snapshot();
    const QVariantMap changed = changedProperties(m_announced, now);
    const bool startedAgain = wentBack && sameSong(m_announced, now);
    m_announced = now;
    if (!changed.isEmpty())
        emit propertiesChanged(changed);
    if (startedAgain)
        emit seeked(positionUs());
}

} // namespace mpris
