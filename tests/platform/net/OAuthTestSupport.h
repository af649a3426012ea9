// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The OAuth2 side of the tests. No Debian package provides an identity provider,
// so data/mailstore/token_introspection.py stands in for Google's and
// Microsoft's: the token introspection endpoint that Dovecot's oauth2 password
// database and the SMTP sink ask whether a token is good. A token command prints
// the tokens a test gives it, one per run, as mutt_oauth2.py or oama would.

#include "tests/platform/MailStoreTestSupport.h"

#include <QProcess>
#include <QTemporaryDir>
#include <mutex>

namespace rp::mailstore::testing {

class TIdentityProvider {
public:
    TIdentityProvider() {
        Accept({});
        port = StartServerScript(process, QStringLiteral("token_introspection.py"), {TokensPath()});
    }
    ~TIdentityProvider() {
        process.terminate();
        if (!process.waitForFinished(3000)) {
            process.kill();
            process.waitForFinished(1000);
        }
    }

    bool Ready() const { return port > 0; }
    QByteArray IntrospectionUrl() const {
        return "http://127.0.0.1:" + QByteArray::number(port) + "/introspect";
    }
    // The tokens it takes from now on, each for its user; any other has expired.
    void Accept(std::initializer_list<std::pair<const char*, const char*>> tokens) {
        QByteArray json = "{";
        for (const auto& [token, user] : tokens)
            json += QByteArray(json.size() > 1 ? "," : "") + '"' + token + "\":\"" + user + '"';
        WriteText(TokensPath(), json + '}');
    }
    // How many tokens it was asked about.
    int Asked() const { return ReadText(TokensPath() + QStringLiteral(".asked")).count('\n'); }

private:
    QString TokensPath() const { return dir.path() + QStringLiteral("/tokens.json"); }

    QTemporaryDir dir;
    QProcess process;
    int port = 0;
};

class TTokenCommand {
public:
    // Prints `tokens` one per run, the last one again and again.
    explicit TTokenCommand(const QByteArrayList& tokens) {
        WriteText(dir.path() + QStringLiteral("/tokens"), tokens.join('\n') + '\n');
        Script("line=$(sed -n \"${n}p\" \"$dir/tokens\")\n"
               "[ -n \"$line\" ] || line=$(tail -n 1 \"$dir/tokens\")\n"
               "printf '%s\\n' \"$line\"\n");
    }
    // Says `error` on its error output and ends with `exitCode`, printing nothing.
    TTokenCommand(const QByteArray& error, int exitCode) {
        Script("echo '" + error + "' >&2\nexit " + QByteArray::number(exitCode) + '\n');
    }

    QString Command() const {
        return QStringLiteral("sh ") + dir.path() + QStringLiteral("/token.sh");
    }
    int Runs() const { return ReadText(dir.path() + QStringLiteral("/runs")).trimmed().toInt(); }

private:
    void Script(const QByteArray& body) {
        WriteText(dir.path() + QStringLiteral("/token.sh"),
                  "dir='" + dir.path().toUtf8() +
                      "'\nn=$(( $(cat \"$dir/runs\" 2>/dev/null || echo 0) + 1 ))\n"
                      "echo $n > \"$dir/runs\"\n" +
                      body);
    }

    QTemporaryDir dir;
};

// Everything the program logs while it lives (qDebug, qCWarning...), to show
// that no token is among it.
class TLogCapture {
public:
    TLogCapture() { previous = qInstallMessageHandler(Keep); }
    ~TLogCapture() { qInstallMessageHandler(previous); }
    static QString Text() {
        std::lock_guard lock(Mutex());
        return Lines().join(QLatin1Char('\n'));
    }

private:
    static void Keep(QtMsgType, const QMessageLogContext&, const QString& message) {
        std::lock_guard lock(Mutex());
        Lines().append(message);
    }
    static std::mutex& Mutex() {
        static std::mutex mutex;
        return mutex;
    }
    static QStringList& Lines() {
        static QStringList lines;
        return lines;
    }
    QtMessageHandler previous = nullptr;
};

// Whether `token` is in any file under `folder`.
inline bool AnyFileHolds(const QString& folder, const QByteArray& token) {
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        if (ReadText(it.next()).contains(token))
            return true;
    return false;
}

} // namespace rp::mailstore::testing
