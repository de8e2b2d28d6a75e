#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

// A temporary directory that a test fills with files and folders; removed when it goes away.
class TempTree {
public:
    TempTree();

    // Absolute path of the tree's root, without a trailing separator.
    QString root() const { return m_dir.path(); }
    // Absolute path of a name relative to the root.
    QString path(const QString& relative) const;
    // Creates the file (and its parent folders) holding the given bytes; returns its path.
    QString file(const QString& relative, const QByteArray& content = {});
    // Creates the folder and its parents; returns its path.
    QString folder(const QString& relative);

private:
    QTemporaryDir m_dir;
};

// The whole content of a file, or an empty array when it cannot be read.
QByteArray readAll(const QString& path);
