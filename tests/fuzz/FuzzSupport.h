// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Shared by the fuzz targets: a scratch folder in memory when the system has one,
// and a file written there from the fuzzer's input.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QString>
#include <QTemporaryDir>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace rp::fuzz {

inline QString ScratchFolder() {
    // tmpfs keeps the per-input writes and fsyncs cheap.
    static QTemporaryDir dir(QDir(QStringLiteral("/dev/shm")).exists()
                                 ? QStringLiteral("/dev/shm/ringpost-fuzz-XXXXXX")
                                 : QDir::tempPath() + QStringLiteral("/ringpost-fuzz-XXXXXX"));
    if (!dir.isValid())
        std::abort();
    return dir.path();
}

inline void WriteInput(const QString& path, const uint8_t* data, size_t size) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        std::abort();
    file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
}

inline QByteArray ReadBack(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The mail store logs each item it skips; at fuzzing rates that drowns the output.
inline void QuietLogs() {
    QLoggingCategory::setFilterRules(QStringLiteral("ringpost.*=false"));
}

// A broken invariant: report it and stop, so libFuzzer keeps the input.
[[noreturn]] inline void Fail(const char* what) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

} // namespace rp::fuzz
