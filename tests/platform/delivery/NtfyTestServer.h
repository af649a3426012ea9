// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// tests/e2e/lib/ntfy_server.py on a free loopback port: it answers each POST by
// its path (200, 401/403 for /protected, 429, 500, a stall...) and keeps every
// request it got, for ntfy publishing and for the services Apprise speaks to.

#include "tests/platform/MailStoreTestSupport.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace rp::mailstore::testing {

class TNtfyServer {
public:
    explicit TNtfyServer(const QStringList& extra = {}) {
        port = StartServerScript(process, QStringLiteral("../../../e2e/lib/ntfy_server.py"),
                                 QStringList{QStringLiteral("--out"), out.path()} + extra);
    }
    ~TNtfyServer() {
        process.closeWriteChannel();
        if (!process.waitForFinished(2000)) {
            process.kill();
            process.waitForFinished(1000);
        }
    }

    QByteArray Server() const { return "http://127.0.0.1:" + QByteArray::number(port); }
    QString Shown() const { return QStringLiteral("127.0.0.1:%1").arg(port); }
    int Count() const {
        return static_cast<int>(QDir(out.path()).entryList({QStringLiteral("*.json")}).size());
    }
    QJsonObject Request(int n) const {
        return QJsonDocument::fromJson(ReadText(out.filePath(QStringLiteral("%1.json").arg(
                                           n, 4, 10, QLatin1Char('0')))))
            .object();
    }
    QString Header(int n, const char* name) const {
        return Request(n)
            .value(QLatin1String("headers"))
            .toObject()
            .value(QLatin1String(name))
            .toString();
    }

    int port = 0;

private:
    QTemporaryDir out;
    QProcess process;
};

} // namespace rp::mailstore::testing
