#pragma once

#include "platform/audio/FileOpener.h"

#include <QDir>
#include <QFileInfo>
#include <QString>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

// Stands in for a file on a share that hangs: opened, its first reads block until released.
class BlockingFile {
public:
    explicit BlockingFile(const QString& path) : m_path(path.toStdString()) {}
    ~BlockingFile() { release(); }

    audio::FileOpener::Factory factory() {
        return
            [gate = m_gate, blocked = m_path](const std::string& path, audio::OpenStatus* status) {
                auto decoder = audio::Decoder::open(path, status);
                if (path == blocked) {
                    std::unique_lock lock(gate->mutex);
                    gate->released.wait(lock, [&] { return gate->open; });
                }
                return decoder;
            };
    }
    void release() {
        std::lock_guard lock(m_gate->mutex);
        m_gate->open = true;
        m_gate->released.notify_all();
    }
    // Whether this process holds the file open.
    bool heldOpen() const {
        const QDir fds("/proc/self/fd");
        for (const QString& fd : fds.entryList(QDir::Files | QDir::System))
            if (QFileInfo(fds.filePath(fd)).symLinkTarget().toStdString() == m_path)
                return true;
        return false;
    }

private:
    struct Gate {
        std::mutex mutex;
        std::condition_variable released;
        bool open = false;
    };
    std::shared_ptr<Gate> m_gate = std::make_shared<Gate>();
    const std::string m_path;
};
