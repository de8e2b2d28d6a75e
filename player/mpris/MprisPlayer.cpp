#include "player/mpris/MprisPlayer.h"

#include "platform/ui/ListBox.h"
#include "platform/ui/WindowRestore.h"
#include "player/frmMain.h"
#include "player/frmMenu.h"

#include <QFileInfo>
#include <QSlider>
#include <QUrl>
#include <algorithm>
#include <cmath>

namespace mpris {
namespace {

std::optional<audio::StreamInfo> currentStream() {
    return audio::Engine::instance().currentStream();
}

} // namespace

Player::Player(frmMain& window) : QObject(&window), m_window(window) {
    m_announced = snapshot();
    // Runs after the window's own scroll handler, which was connected first.
    connect(window.SliderVol, &QSlider::valueChanged, this, &Player::refresh);
    audio::Engine::instance().setChangeListener([this] { scheduleRefresh(); });
}

Player::~Player() {
    audio::Engine::instance().setChangeListener({});
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

QString Player::openUri(const QString& uri) {
    const QUrl url(uri);
    if (!url.isLocalFile())
        return QStringLiteral("Only file: addresses can be opened: %1").arg(uri);
    const int row = listedRow(url.toLocalFile());
    if (row < 0)
        return QStringLiteral("%1 is not a song of the playlist").arg(url.toLocalFile());
    m_window.lstPls->setListIndex(row);
    m_window.lstPls_DblClick();
    return {};
}

// The row whose entry the list would play as this very file, or -1: an entry resolves against
// the playlist's one folder, so a file elsewhere, or one the list names differently, has none.
int Player::listedRow(const QString& path) const {
    const QString file = QFileInfo(path).canonicalFilePath();
    const QString entry = listEntryOf(path);
    const int row = static_cast<int>(m_window.lstPls->items().indexOf(entry));
    if (file.isEmpty() || row < 0 || !QFileInfo(file).isFile())
        return -1;
    const QString played = m_window.txtDirPath + entry + QLatin1StringView(kSongExtension);
    return QFileInfo(played).canonicalFilePath() == file ? row : -1;
}

Snapshot Player::snapshot() const {
    return Snapshot::of(currentStream(), m_window.SliderVol->value());
}

qlonglong Player::positionUs() const {
    return mpris::positionUs(currentStream());
}

void Player::setVolume(double volume) {
    if (std::isnan(volume))
        return;
    m_window.SliderVol->setValue(static_cast<int>(std::lround(std::clamp(volume, 0.0, 1.0) * 100)));
}

// Engine thread: several changes in a row (a song's stop, close, open and play) are told once,
// on the UI thread, after the handler that made them has finished.
void Player::scheduleRefresh() {
    if (!m_refreshDue.exchange(true))
        QMetaObject::invokeMethod(this, &Player::refresh, Qt::QueuedConnection);
}

void Player::refresh() {
    m_refreshDue = false;
    const Snapshot now = snapshot();
    const QVariantMap changed = changedProperties(m_announced, now);
    m_announced = now;
    if (!changed.isEmpty())
        emit propertiesChanged(changed);
}

} // namespace mpris
