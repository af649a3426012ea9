// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The misbehaving calendar servers of data/mailstore/bad_http_server.py: one
// plain and three HTTPS ports (good, expired and foreign certificates), made at
// test time and ended by the process's id.

#include "tests/platform/CalDavTestSupport.h"

namespace rp::mailstore::testing {

class TBadCalendarServer {
public:
    TBadCalendarServer() {
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(QStringLiteral("/usr/bin/python3"), {Script(), dir.path()});
        while (!process.canReadLine() && process.waitForReadyRead(30000)) {
        }
        const QList<QByteArray> words = process.readLine().trimmed().split(' ');
        if (words.size() == 5 && words[0] == "READY") {
            plain = words[1].toInt();
            good = words[2].toInt();
            expired = words[3].toInt();
            foreign = words[4].toInt();
        }
    }
    ~TBadCalendarServer() {
        process.kill();
        process.waitForFinished(5000);
    }

    bool Ready() const { return plain > 0; }
    QUrl Plain(const QString& path) const { return At("http", plain, path); }
    QUrl Good(const QString& path) const { return At("https", good, path); }
    QUrl Expired(const QString& path) const { return At("https", expired, path); }
    QUrl Foreign(const QString& path) const { return At("https", foreign, path); }
    // The authority of the good and expired certificates; "b" signs the foreign one.
    QString Authority(const char* name = "a") const {
        return dir.filePath(QStringLiteral("ca-%1.pem").arg(QLatin1String(name)));
    }

    // A request as a calendar source sends it, with a password and a short time-out.
    // Authority "a" is trusted.
    THttpRequest Request(const QUrl& url) const {
        THttpRequest request;
        request.url = url;
        request.user = QStringLiteral("anna");
        request.password = QStringLiteral("never-shown");
        request.caFile = Authority();
        request.timeoutSeconds = 1;
        return request;
    }

private:
    static QString Script() {
        return QFileInfo(QStringLiteral(__FILE__)).absolutePath() +
               QStringLiteral("/data/mailstore/bad_http_server.py");
    }
    static QUrl At(const char* scheme, int port, const QString& path) {
        return QUrl(
            QStringLiteral("%1://127.0.0.1:%2%3").arg(QLatin1String(scheme)).arg(port).arg(path));
    }

    QTemporaryDir dir;
    QProcess process;
    int plain = 0, good = 0, expired = 0, foreign = 0;
};

} // namespace rp::mailstore::testing
