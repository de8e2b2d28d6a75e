#include "tests/support/TempTree.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <stdexcept>

TempTree::TempTree() : m_dir(QDir::tempPath() + "/quiva-tree.XXXXXX") {
    if (!m_dir.isValid())
        throw std::runtime_error("cannot create a temporary directory");
}

QString TempTree::path(const QString& relative) const {
    return m_dir.filePath(relative);
}

QString TempTree::file(const QString& relative, const QByteArray& content) {
    const QString full = path(relative);
    QDir().mkpath(QFileInfo(full).absolutePath());
    QFile f(full);
    if (!f.open(QIODevice::WriteOnly) || f.write(content) != content.size())
        throw std::runtime_error("cannot write " + full.toStdString());
    return full;
}

QString TempTree::folder(const QString& relative) {
    const QString full = path(relative);
    QDir().mkpath(full);
    return full;
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
