#include "tests/support/PulseServer.h"

#include "tests/support/Poll.h"
#include "tests/support/ServerProcess.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr long long kTenthFrames = PulseServer::kRateHz / 10;
constexpr double kToneLevel = 2000;
constexpr double kSilenceLevel = 100;

QString socketPath(const QTemporaryDir& root) {
    return root.filePath("runtime/pulse/native");
}

bool onPipeWire() {
    const char* server = std::getenv("QUIVA_TEST_SOUND_SERVER");
    return server && std::string(server) == "pipewire";
}

// The graph at the test sink's rate, so that nothing between a stream and the monitor
// resamples; the access module grants each client its permissions (without it none sees a
// thing).
constexpr const char* kGraphConfig = R"(
context.properties = { core.daemon = true  core.name = pipewire-0
    default.clock.rate = %2  default.clock.allowed-rates = [ %2 ] }
context.spa-libs = { audio.convert.* = audioconvert/libspa-audioconvert
    support.* = support/libspa-support }
context.modules = [
    { name = libpipewire-module-protocol-native }  { name = libpipewire-module-metadata }
    { name = libpipewire-module-spa-node-factory }  { name = libpipewire-module-client-node }
    { name = libpipewire-module-client-device }  { name = libpipewire-module-adapter }
    { name = libpipewire-module-access }  { name = libpipewire-module-link-factory }
    { name = libpipewire-module-session-manager } ]
context.objects = [ { factory = adapter args = { factory.name = support.null-audio-sink
    node.name = "%1"  media.class = "Audio/Sink"  audio.rate = %2  audio.channels = %3
    audio.position = [ FL FR ]  monitor.channel-volumes = true } } ]
)";
constexpr const char* kPulseConfig = R"(
context.spa-libs = { audio.convert.* = audioconvert/libspa-audioconvert
    support.* = support/libspa-support }
context.modules = [
    { name = libpipewire-module-protocol-native }  { name = libpipewire-module-client-node }
    { name = libpipewire-module-adapter }  { name = libpipewire-module-metadata }
    { name = libpipewire-module-protocol-pulse args = { server.address = [ "unix:%1" ] } } ]
)";
// WirePlumber's own configuration with the host's devices left alone and no stream given the
// volume a former one had: a bare PulseAudio server remembers nothing either.
constexpr const char* kSessionConfig = "alsa_monitor.enabled = false\n"
                                       "v4l2_monitor.enabled = false\n"
                                       "libcamera_monitor.enabled = false\n"
                                       "stream_defaults.enabled = false\n";
constexpr const char* kBluetoothConfig = "bluez_monitor.enabled = false\n";

bool writeFile(const QString& path, const QString& text) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text.toUtf8()) == text.toUtf8().size();
}

} // namespace

PulseServer::PulseServer() {
    if (!m_root.isValid())
        return;
    for (const char* dir : {"runtime/pulse", "config", "state", "home"})
        QDir().mkpath(m_root.filePath(dir));
    QFile::setPermissions(m_root.filePath("runtime"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    if (onPipeWire() &&
        !(writeFile(m_root.filePath("config/pipewire/pipewire.conf"),
                    QString(kGraphConfig).arg(kSinkName).arg(kRateHz).arg(kChannels)) &&
          writeFile(m_root.filePath("config/pipewire/pipewire-pulse.conf"),
                    QString(kPulseConfig).arg(socketPath(m_root))) &&
          writeFile(m_root.filePath("config/wireplumber/main.lua.d/51-test.lua"), kSessionConfig) &&
          writeFile(m_root.filePath("config/wireplumber/bluetooth.lua.d/51-test.lua"),
                    kBluetoothConfig)))
        return;
    start();
}

std::vector<std::string> PulseServer::environment() const {
    std::vector<std::string> env = {
        "XDG_RUNTIME_DIR=" + m_root.filePath("runtime").toStdString(),
        "XDG_CONFIG_HOME=" + m_root.filePath("config").toStdString(),
        "XDG_STATE_HOME=" + m_root.filePath("state").toStdString(),
        "PULSE_STATE_PATH=" + m_root.filePath("state").toStdString(),
        "HOME=" + m_root.filePath("home").toStdString(),
        "PULSE_SERVER=" + address().toStdString(),
    };
    if (m_bus)
        env.push_back("DBUS_SESSION_BUS_ADDRESS=" + m_bus->address().toStdString());
    return env;
}

bool PulseServer::start() {
    if (!m_root.isValid() || running())
        return false;
    const std::string socket = socketPath(m_root).toStdString();
    const pid_t pid =
        onPipeWire()
            ? spawnPipeWirePulse()
            : serverprocess::spawn(
                  {"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--realtime=no",
                   "--high-priority=no",
                   "--load=module-native-protocol-unix auth-anonymous=1 socket=" + socket,
                   std::string("--load=module-null-sink sink_name=") + kSinkName + " rate=" +
                       std::to_string(kRateHz) + " channels=" + std::to_string(kChannels),
                   "--load=module-always-sink"},
                  environment());
    if (pid < 0)
        return false;
    if (!serverprocess::waitForSocket(pid, socket, 5000))
        return false;
    m_pid = pid;
    return true;
}

pid_t PulseServer::spawnPipeWirePulse() {
    if (m_graph.empty() && !startGraph())
        return -1;
    return serverprocess::spawn({"pipewire-pulse"}, environment());
}

// The pulse server comes up only once WirePlumber has made the test sink the default, or its
// first clients' streams would have nowhere to go.
bool PulseServer::startGraph() {
    m_bus.emplace();
    if (!m_bus->running())
        return false;
    const pid_t graph = serverprocess::spawn({"pipewire"}, environment());
    if (graph < 0 || !serverprocess::waitForSocket(
                         graph, m_root.filePath("runtime/pipewire-0").toStdString(), 5000))
        return false;
    m_graph.push_back(graph);
    const pid_t session = serverprocess::spawn({"wireplumber"}, environment());
    if (session < 0)
        return false;
    m_graph.push_back(session);
    return eventually([this] { return graphChoseTheSink(); }, 10000, 50);
}

bool PulseServer::graphChoseTheSink() const {
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_root.filePath("runtime"));
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral("pw-metadata"), {"-n", "default", "0", "default.audio.sink"});
    if (!process.waitForFinished(2000))
        process.kill();
    process.waitForFinished();
    return process.readAllStandardOutput().contains(kSinkName);
}

void PulseServer::kill() {
    if (!running())
        return;
    ::kill(m_pid, SIGKILL);
    waitpid(m_pid, nullptr, 0);
    m_pid = -1;
}

void PulseServer::freeze(bool frozen) {
    if (running())
        ::kill(m_pid, frozen ? SIGSTOP : SIGCONT);
}

PulseServer::~PulseServer() {
    freeze(false); // a stopped server would not see the request to end
    serverprocess::stop(m_pid);
    for (auto it = m_graph.rbegin(); it != m_graph.rend(); ++it)
        serverprocess::stop(*it);
}

QString PulseServer::address() const {
    return "unix:" + socketPath(m_root);
}

void PulseServer::exportAddress() const {
    setenv("PULSE_SERVER", address().toLocal8Bit().constData(), 1);
}

bool PulseServer::pactl(const QStringList& arguments, QString* output) const {
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral("pactl"), QStringList{"--server=" + address()} + arguments);
    if (!process.waitForFinished(10000) || process.exitCode() != 0)
        return false;
    if (output)
        *output = QString::fromLocal8Bit(process.readAllStandardOutput());
    return true;
}

std::vector<PulseServer::SinkInput> PulseServer::sinkInputs() const {
    static const QRegularExpression header(QStringLiteral("^Sink Input #(\\d+)$"));
    static const QRegularExpression channel(QStringLiteral(":\\s*(\\d+) /"));
    std::vector<SinkInput> inputs;
    QString listing;
    pactl({"list", "sink-inputs"}, &listing);
    for (const QString& line : listing.split(QLatin1Char('\n'))) {
        const QString text = line.trimmed();
        if (const auto match = header.match(text); match.hasMatch())
            inputs.push_back({match.captured(1).toInt()});
        else if (inputs.empty())
            continue;
        else if (text.startsWith(QLatin1String("Corked:")))
            inputs.back().corked = text.endsWith(QLatin1String("yes"));
        else if (text.startsWith(QLatin1String("Mute:")))
            inputs.back().muted = text.endsWith(QLatin1String("yes"));
        else if (text.startsWith(QLatin1String("Volume:")))
            for (auto it = channel.globalMatch(text); it.hasNext();)
                inputs.back().volume =
                    std::max(inputs.back().volume, it.next().captured(1).toUInt());
    }
    return inputs;
}

MonitorRecorder::MonitorRecorder(const PulseServer& server) {
    if (!m_dir.isValid() || !server.running())
        return;
    m_path = m_dir.filePath("monitor.raw");
    m_pid = serverprocess::spawn({"parecord", "--server=" + server.address().toStdString(),
                                  std::string("--device=") + PulseServer::kMonitorName, "--raw",
                                  "--format=s16le", "--rate=44100", "--channels=2",
                                  "--latency-msec=20", m_path.toStdString()},
                                 {});
}

MonitorRecorder::~MonitorRecorder() {
    stop();
}

void MonitorRecorder::stop() {
    serverprocess::stop(m_pid);
    m_pid = -1;
}

long long MonitorRecorder::frames() const {
    return QFileInfo(m_path).size() / (PulseServer::kChannels * 2);
}

std::vector<std::int16_t> MonitorRecorder::left(long long from, long long count) const {
    QFile file(m_path);
    std::vector<std::int16_t> samples;
    if (!file.open(QIODevice::ReadOnly) || !file.seek(from * 4))
        return samples;
    const QByteArray bytes = file.read(count * 4);
    for (qsizetype i = 0; i + 3 < bytes.size(); i += 4)
        samples.push_back(static_cast<std::int16_t>(
            static_cast<std::uint8_t>(bytes[i]) | (static_cast<std::uint8_t>(bytes[i + 1]) << 8)));
    return samples;
}

bool MonitorRecorder::waitForFrames(long long from, long long count, int timeoutMs) const {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (frames() < from + count) {
        if (Clock::now() >= deadline)
            return false;
        QThread::msleep(10);
    }
    return true;
}

bool MonitorRecorder::hearsTone(double hz) const {
    const long long end = frames();
    if (end < kTenthFrames)
        return false;
    const auto samples = left(end - kTenthFrames, kTenthFrames);
    return rms(samples) > kToneLevel &&
           std::abs(toneFrequencyHz(samples, PulseServer::kRateHz) - hz) < hz * 0.03;
}

bool MonitorRecorder::hearsSilence() const {
    const long long end = frames();
    return end >= kTenthFrames && rms(left(end - kTenthFrames, kTenthFrames)) < kSilenceLevel;
}

double MonitorRecorder::levelOfNext(long long count, int timeoutMs) const {
    const long long from = frames();
    return waitForFrames(from, count, timeoutMs) ? rms(left(from, count)) : -1;
}

double rms(const std::vector<std::int16_t>& samples) {
    if (samples.empty())
        return 0;
    double sum = 0;
    for (const auto s : samples)
        sum += double(s) * s;
    return std::sqrt(sum / samples.size());
}

double toneFrequencyHz(const std::vector<std::int16_t>& samples, int rateHz) {
    int rising = 0;
    for (std::size_t i = 1; i < samples.size(); ++i)
        rising += samples[i - 1] < 0 && samples[i] >= 0;
    return samples.empty() ? 0 : rising * double(rateHz) / samples.size();
}
