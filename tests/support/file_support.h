// Helpers shared by the file tests: file systems that pass calls on or fail half-way through a
// write, and
// whole-file reads and writes through Qt so the checks don't lean on the code under test.
#pragma once

#include "files/file_system.h"

#include <QFile>
#include <QString>
#include <QtTest>

#include <optional>
#include <string>
#include <string_view>

namespace pp::test {

// The machine's file system, each call passed on: a base for the fakes that change one.
struct ForwardingFileSystem : FileSystem {
    FileSystem& real = realFileSystem();
    bool writeAll(const std::string& path, std::string_view bytes) override {
        return real.writeAll(path, bytes);
    }
    bool replace(const std::string& from, const std::string& to) override {
        return real.replace(from, to);
    }
    bool remove(const std::string& path) override { return real.remove(path); }
    std::optional<std::string> readAll(const std::string& path) override {
        return real.readAll(path);
    }
    bool exists(const std::string& path) override { return real.exists(path); }
    bool makeFolder(const std::string& path) override { return real.makeFolder(path); }
    std::optional<FileIdentity> identity(const std::string& path) override {
        return real.identity(path);
    }
    std::optional<std::string> createTemporary(const std::string& near) override {
        return real.createTemporary(near);
    }
    bool keepIdentity(const std::string& path, const FileIdentity& like) override {
        return real.keepIdentity(path, like);
    }
};

// Writes the first half of the content to the real file, then fails.
struct HalfWritingFileSystem : ForwardingFileSystem {
    bool writeAll(const std::string& path, std::string_view bytes) override {
        real.writeAll(path, bytes.substr(0, bytes.size() / 2));
        return false;
    }
};

// The file's bytes, or "<missing>" when it cannot be read.
inline std::string fileBytes(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return "<missing>";
    return f.readAll().toStdString();
}

inline void putFile(const QString& path, const std::string& bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes.data(), qint64(bytes.size()));
}

} // namespace pp::test
