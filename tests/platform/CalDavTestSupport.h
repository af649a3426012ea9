// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A real CalDAV server for the tests: Debian's Radicale on a free loopback port,
// with TLS (a certificate made at test time) and a password, ended by its pid.

#include "platform/net/HttpClient.h"
#include "tests/platform/MailStoreTestSupport.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

namespace rp::mailstore::testing {

inline int FreeLoopbackPort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

inline bool WaitForPort(int port, int ms) {
    for (int waited = 0; waited < ms; waited += 100) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(port));
        if (socket.waitForConnected(100))
            return true;
        QThread::msleep(100);
    }
    return false;
}

class TRadicale {
public:
    static constexpr const char* kUser = "anna";
    static constexpr const char* kPassword = "s3cret pass";

    TRadicale() : port(FreeLoopbackPort()) {
        ready = MakeCertificate(dir.path());
        WriteText(dir.filePath("users"), QByteArray(kUser) + ':' + kPassword + '\n');
        WriteText(dir.filePath("config"),
                  QStringLiteral("[server]\nhosts = 127.0.0.1:%1\nssl = True\n"
                                 "certificate = %2/cert.pem\nkey = %2/key.pem\n"
                                 "[auth]\ntype = htpasswd\nhtpasswd_filename = %2/users\n"
                                 "htpasswd_encryption = plain\ndelay = 0\n"
                                 "[rights]\ntype = owner_only\n"
                                 "[storage]\nfilesystem_folder = %2/collections\n"
                                 "[web]\ntype = none\n[logging]\nlevel = warning\n")
                      .arg(port)
                      .arg(dir.path())
                      .toUtf8());
        WriteText(CollectionFolder() + "/.Radicale.props",
                  R"({"tag": "VCALENDAR", "C:supported-calendar-component-set": "VEVENT,VTODO"})");
        ready = ready && Start();
    }
    ~TRadicale() { Stop(); }

    bool Start() {
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start("/usr/bin/python3", {"-m", "radicale", "--config", dir.filePath("config")});
        return WaitForPort(port, 20000);
    }
    void Stop() {
        if (process.state() == QProcess::NotRunning)
            return;
        process.terminate();
        if (!process.waitForFinished(5000)) {
            process.kill();
            process.waitForFinished(2000);
        }
    }

    QString CollectionFolder() const {
        return dir.filePath("collections/collection-root/anna/cal");
    }
    QString Url() const { return QStringLiteral("https://127.0.0.1:%1/anna/cal/").arg(port); }
    QString CaFile() const { return dir.filePath("cert.pem"); }

    // Another program's request, with the right password and trust.
    THttpResponse Other(const QByteArray& method, const QString& name, const QByteArray& body = {},
                        QList<std::pair<QByteArray, QByteArray>> headers = {}) const {
        THttpRequest request;
        request.method = method;
        request.url = QUrl(Url() + name);
        request.body = body;
        request.headers = std::move(headers);
        request.headers.append(std::pair<QByteArray, QByteArray>("Content-Type", "text/calendar"));
        request.user = kUser;
        request.password = kPassword;
        request.caFile = CaFile();
        request.timeoutSeconds = 10;
        return HttpExchange(request);
    }

    TSourceSettings Settings() const {
        TSourceSettings settings;
        settings.url = Url();
        settings.user = kUser;
        settings.password = kPassword;
        settings.caFile = CaFile();
        settings.timeoutSeconds = 5;
        return settings;
    }

    QTemporaryDir dir;
    int port = 0;
    bool ready = false;

private:
    QProcess process;
};

inline QByteArray EventText(const QByteArray& uid, const QByteArray& summary) {
    return "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//test//test//EN\r\nBEGIN:VEVENT\r\nUID:" +
           uid +
           "\r\nDTSTAMP:20240101T000000Z\r\nDTSTART:20300320T090000Z\r\n"
           "DTEND:20300320T100000Z\r\nSUMMARY:" +
           summary + "\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n";
}

inline QByteArray TaskText(const QByteArray& uid, const QByteArray& summary) {
    return "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//test//test//EN\r\nBEGIN:VTODO\r\nUID:" +
           uid +
           "\r\nDTSTAMP:20240101T000000Z\r\nDTSTART:20240301T090000Z\r\n"
           "DUE:20240301T100000Z\r\nRRULE:FREQ=DAILY\r\nSUMMARY:" +
           summary + "\r\nEND:VTODO\r\nEND:VCALENDAR\r\n";
}

} // namespace rp::mailstore::testing
