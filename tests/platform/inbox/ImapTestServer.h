// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A real IMAP server for the tests: Debian's Dovecot with a configuration of its
// own in a temporary folder, on free loopback ports, with a password and a TLS
// certificate made at test time. Its mail is a Maildir the test writes into.

#include "platform/inbox/ImapSession.h"
#include "tests/platform/MailStoreTestSupport.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <arpa/inet.h>
#include <grp.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

namespace rp::mailstore::testing {

inline constexpr const char* kDovecot = "/usr/sbin/dovecot";

// A loopback port nobody listens on right now.
inline int FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

inline bool PortAnswers(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    const bool answers = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return answers;
}

class TDovecot {
public:
    static constexpr const char* kUser = "ann";
    static constexpr const char* kPassword = "s3cret-Pass";

    // `tls` false: a server that offers no STARTTLS at all. With
    // `introspectionUrl` it signs in with OAuth2 only (OAUTHBEARER and XOAUTH2,
    // through its oauth2 password database), asking that endpoint about each token.
    explicit TDovecot(bool tls = true, QByteArray introspectionUrl = {})
        : tls(tls), introspectionUrl(std::move(introspectionUrl)) {
        if (!QFileInfo::exists(QLatin1String(kDovecot)))
            return;
        // Dovecot's login processes will not run as root; they and the mail
        // processes then run as nobody, who must reach the folder.
        QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                              QFileDevice::ExeOwner | QFileDevice::ReadGroup |
                                              QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                              QFileDevice::ExeOther);
        QDir().mkpath(Maildir() + "/cur");
        QDir().mkpath(Maildir() + "/new");
        QDir().mkpath(Maildir() + "/tmp");
        if (tls && !MakeCertificate(dir.path()))
            return;
        WriteText(dir.path() + "/passwd", QByteArray(kUser) + ":{PLAIN}" + kPassword + "::::::\n");
        imapsPort = FreePort();
        imapPort = FreePort();
        WriteConfig();
        ready = Start();
    }
    ~TDovecot() { Stop(); }

    bool Ready() const { return ready; }
    QString Maildir() const { return dir.path() + "/mail/" + kUser; }
    QString CaFile() const { return dir.path() + "/cert.pem"; }

    TSourceSettings Settings(bool implicitTls = true) const {
        TSourceSettings settings;
        settings.url = implicitTls ? QStringLiteral("imaps://127.0.0.1:%1/INBOX").arg(imapsPort)
                                   : QStringLiteral("imap://127.0.0.1:%1/INBOX").arg(imapPort);
        settings.user = QString::fromLatin1(kUser);
        settings.caFile = CaFile();
        settings.timeoutSeconds = 10;
        return settings;
    }

    // A message delivered into new/ (unread) or cur/ with the Seen flag.
    void Deliver(const QString& uniqueName, const QByteArray& text, bool seen = false) {
        const QString path =
            seen ? Maildir() + "/cur/" + uniqueName + ":2,S" : Maildir() + "/new/" + uniqueName;
        WriteText(path, text);
        OwnMail();
    }

    bool Start() {
        server.setProcessChannelMode(QProcess::MergedChannels);
        server.start(QLatin1String(kDovecot),
                     {QStringLiteral("-F"), QStringLiteral("-c"), dir.path() + "/dovecot.conf"});
        if (!server.waitForStarted(10000))
            return false;
        for (int i = 0; i < 200; ++i) {
            if (PortAnswers(tls ? imapsPort : imapPort))
                return true;
            if (server.state() != QProcess::Running)
                break;
            QThread::msleep(50);
        }
        ADD_FAILURE() << "Dovecot did not start: " << server.readAll().toStdString()
                      << ReadText(dir.path() + "/dovecot.log").toStdString();
        return false;
    }

    // Ends the server (its master process, which takes its children along).
    void Stop() {
        if (server.state() == QProcess::NotRunning)
            return;
        server.terminate();
        if (!server.waitForFinished(10000)) {
            server.kill();
            server.waitForFinished(2000);
        }
        EndLeftoverSessions();
        for (int i = 0; i < 100 && PortAnswers(tls ? imapsPort : imapPort); ++i)
            QThread::msleep(50);
    }

    int imapsPort = 0;
    int imapPort = 0;

private:
    static bool Root() { return ::geteuid() == 0; }

    QByteArray InstanceName() const {
        return "ringpost-test-" + QByteArray::number(imapsPort) + '-' +
               QByteArray::number(imapPort);
    }

    // Dovecot's mail processes outlive their master and keep serving open
    // connections; a stopped server must drop those too. They carry this
    // instance's name in their process title.
    void EndLeftoverSessions() const {
        const QByteArray title = "dovecot-" + InstanceName() + '/';
        for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
            bool isPid = false;
            const int pid = entry.toInt(&isPid);
            if (isPid && ReadText("/proc/" + entry + "/cmdline").startsWith(title))
                ::kill(pid, SIGKILL);
        }
    }

    QByteArray ProcessUser() const {
        if (Root())
            return "nobody";
        const passwd* entry = ::getpwuid(::geteuid());
        return entry ? QByteArray(entry->pw_name) : QByteArray();
    }
    QByteArray ProcessGroup() const {
        if (Root())
            return ::getgrnam("nogroup") ? "nogroup" : "nobody";
        const group* entry = ::getgrgid(::getegid());
        return entry ? QByteArray(entry->gr_name) : QByteArray();
    }

    // The mail processes run as nobody under root and must own the mail.
    void OwnMail() const {
        if (!Root())
            return;
        QProcess chown;
        chown.start(QStringLiteral("chown"),
                    {QStringLiteral("-R"),
                     QString::fromLatin1(ProcessUser() + ':' + ProcessGroup()),
                     dir.path() + "/mail"});
        chown.waitForFinished(10000);
    }

    void WriteConfig() {
        const QByteArray root = dir.path().toUtf8();
        const QByteArray user = ProcessUser();
        const QByteArray group = ProcessGroup();
        QByteArray config;
        config += "base_dir = " + root + "/run\n";
        config += "state_dir = " + root + "/state\n";
        config += "instance_name = " + InstanceName() + "\n";
        config += "log_path = " + root + "/dovecot.log\n";
        config += "listen = 127.0.0.1\nprotocols = imap\nshutdown_clients = yes\n";
        if (tls) {
            config += "ssl = yes\nssl_cert = <" + root + "/cert.pem\n";
            config += "ssl_key = <" + root + "/key.pem\n";
            config += "disable_plaintext_auth = yes\n";
        } else {
            config += "ssl = no\ndisable_plaintext_auth = no\n";
        }
        // %n: an OAuth2 login as ann@gmail.com reads the same mail as ann.
        config += "mail_location = maildir:" + root + "/mail/%n\n";
        config += "default_internal_user = " + user + "\ndefault_internal_group = " + group +
                  "\ndefault_login_user = " + user + "\n";
        config += PasswordDatabase(root);
        config += "userdb {\n  driver = static\n  args = uid=" + user + " gid=" + group +
                  " home=" + root + "/home/%u\n}\n";
        config += "service imap-login {\n  chroot =\n";
        config += "  inet_listener imap {\n    port = " + QByteArray::number(imapPort) + "\n  }\n";
        config += "  inet_listener imaps {\n    port = " + QByteArray::number(tls ? imapsPort : 0) +
                  "\n  }\n}\n";
        config += "service anvil {\n  chroot =\n}\n";
        WriteText(dir.path() + "/dovecot.conf", config);
        OwnMail();
    }

    QByteArray PasswordDatabase(const QByteArray& root) const {
        if (introspectionUrl.isEmpty())
            return "auth_mechanisms = plain login\npassdb {\n  driver = passwd-file\n  args = " +
                   root + "/passwd\n}\n";
        WriteText(dir.path() + "/oauth2.conf.ext",
                  "introspection_mode = post\nintrospection_url = " + introspectionUrl +
                      "\nusername_attribute = username\nactive_attribute = active\n"
                      "active_value = true\nforce_introspection = yes\ntimeout_msecs = 5000\n");
        return "auth_mechanisms = xoauth2 oauthbearer\npassdb {\n  driver = oauth2\n"
               "  mechanisms = xoauth2 oauthbearer\n  args = " +
               root + "/oauth2.conf.ext\n}\n";
    }

    bool tls;
    QByteArray introspectionUrl;
    bool ready = false;
    QTemporaryDir dir;
    QProcess server;
};

} // namespace rp::mailstore::testing
