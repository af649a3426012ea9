// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/mailstore/ProfileCheck.h"
#include "platform/mailstore/MailStoreProfile.h"
#include "platform/net/OnlineAccounts.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <functional>
#include <map>

namespace rp::mailstore {

namespace {

// A value check: empty when the value is usable, else what is wrong with it and
// what is used instead.
using TValueCheck = std::function<QString(const QString& value)>;

QString Unquoted(const QString& value) {
    const QString trimmed = value.trimmed();
    if (trimmed.size() >= 2 && trimmed.startsWith(QLatin1Char('"')) &&
        trimmed.endsWith(QLatin1Char('"')))
        return trimmed.mid(1, trimmed.size() - 2);
    return trimmed;
}

QString AnyValue(const QString&) {
    return {};
}

TValueCheck Flag(bool fallback) {
    return [fallback](const QString& value) -> QString {
        if (value.isEmpty() || FlagOf(value))
            return {};
        return QStringLiteral("is neither true nor false; %1 is used")
            .arg(fallback ? QStringLiteral("true") : QStringLiteral("false"));
    };
}

QString Seconds(const QString& value) {
    bool ok = false;
    const int seconds = value.toInt(&ok);
    if (value.isEmpty() || (ok && seconds > 0))
        return {};
    return QStringLiteral("is not a number of seconds; 30 is used");
}

QString Transport(const QString& value) {
    static const QStringList known{QStringLiteral("outbox"), QStringLiteral("smtp"),
                                   QStringLiteral("sendmail")};
    if (value.isEmpty() || known.contains(value.toLower()))
        return {};
    return QStringLiteral("is not known (outbox, smtp or sendmail); outbox is used");
}

QString SignInKind(const QString& value) {
    if (value.isEmpty() || value.compare(QLatin1String("password"), Qt::CaseInsensitive) == 0 ||
        value.compare(QLatin1String("oauth2"), Qt::CaseInsensitive) == 0)
        return {};
    return QStringLiteral("is not known (password or oauth2); password is used");
}

QString OnlineAccount(const QString& value) {
    if (value.isEmpty() || OnlineAccountAddress(value))
        return {};
    return QStringLiteral("is not known (goa, or goa: and the address)");
}

// [Calendar] and [Tasks] Source=desktop or Source=desktop:Work,Family.
QString DesktopChoice(const QString& value) {
    const QString kind = Unquoted(value).section(QLatin1Char(':'), 0, 0).trimmed();
    if (value.isEmpty() || kind.compare(QLatin1String("desktop"), Qt::CaseInsensitive) == 0)
        return {};
    return QStringLiteral("is not known (desktop, or desktop: and the calendars' names); Path= "
                          "and Url= are used");
}

using TSection = std::map<QString, TValueCheck>;

// How an IMAP or SMTP login proves itself: [Inbox] and [Send].
void AddSignInKeys(TSection& section) {
    section[QStringLiteral("Auth")] = SignInKind;
    section[QStringLiteral("TokenCommand")] = AnyValue;
    section[QStringLiteral("Account")] = OnlineAccount;
}

TSection SourceKeys() {
    return {{QStringLiteral("Path"), AnyValue},
            {QStringLiteral("Url"), AnyValue},
            {QStringLiteral("User"), AnyValue},
            {QStringLiteral("Password"), AnyValue},
            {QStringLiteral("PasswordCommand"), AnyValue},
            {QStringLiteral("CAFile"), AnyValue},
            {QStringLiteral("TimeoutSeconds"), Seconds}};
}

// Every key Ringpost reads, by section. A new key is added here with the code
// that reads it.
const std::map<QString, TSection>& KnownKeys() {
    static const std::map<QString, TSection> known = [] {
        std::map<QString, TSection> sections;
        TSection calendar = SourceKeys();
        calendar[QStringLiteral("Source")] = DesktopChoice;
        sections[QStringLiteral("Tasks")] = calendar;
        calendar[QStringLiteral("Me")] = AnyValue;
        sections[QStringLiteral("Calendar")] = calendar;
        TSection inbox = SourceKeys();
        inbox[QStringLiteral("StartTLS")] = Flag(true);
        AddSignInKeys(inbox);
        sections[QStringLiteral("Inbox")] = inbox;
        TSection send = SourceKeys();
        send.erase(QStringLiteral("Path"));
        send[QStringLiteral("Transport")] = Transport;
        send[QStringLiteral("StartTLS")] = Flag(true);
        send[QStringLiteral("Command")] = AnyValue;
        send[QStringLiteral("From")] = AnyValue;
        send[QStringLiteral("OutboxPath")] = AnyValue;
        AddSignInKeys(send);
        sections[QStringLiteral("Send")] = send;
        sections[QStringLiteral("Push")] = {{QStringLiteral("Server"), AnyValue},
                                            {QStringLiteral("Token"), AnyValue},
                                            {QStringLiteral("TokenCommand"), AnyValue},
                                            {QStringLiteral("Direct"), Flag(true)},
                                            {QStringLiteral("Apprise"), Flag(true)}};
        return sections;
    }();
    return known;
}

} // namespace

QStringList CheckProfileText(const QString& path, const QByteArray& text) {
    const QString file = QFileInfo(path).fileName();
    QStringList problems;
    const auto note = [&](int line, const QString& section, const QString& what) {
        problems.append(
            QStringLiteral("%1 line %2%3: %4.")
                .arg(file)
                .arg(line)
                .arg(section.isEmpty() ? QString() : QStringLiteral(" [%1]").arg(section), what));
    };
    const std::map<QString, TSection>& known = KnownKeys();
    const TSection* keys = nullptr;
    QString section;
    bool sectionKnown = true;
    const QList<QByteArray> lines = text.split('\n');
    for (int index = 0; index < lines.size(); ++index) {
        const int line = index + 1;
        const QString content = QString::fromUtf8(lines[index]).trimmed();
        if (content.isEmpty() || content.startsWith(QLatin1Char(';')) ||
            content.startsWith(QLatin1Char('#')))
            continue;
        if (content.startsWith(QLatin1Char('['))) {
            section = content.mid(1).section(QLatin1Char(']'), 0, 0).trimmed();
            const auto found = known.find(section);
            sectionKnown = found != known.end();
            keys = sectionKnown ? &found->second : nullptr;
            if (!sectionKnown)
                note(line, QString(),
                     QStringLiteral("the section [%1] is not known; its keys are "
                                    "not read")
                         .arg(section));
            continue;
        }
        const qsizetype equals = content.indexOf(QLatin1Char('='));
        if (equals < 0) {
            note(line, section, QStringLiteral("\"%1\" is no key=value line").arg(content));
            continue;
        }
        if (!sectionKnown)
            continue;
        const QString key = content.left(equals).trimmed();
        if (!keys) {
            note(line, section, QStringLiteral("%1 is outside any section and not read").arg(key));
            continue;
        }
        const auto check = keys->find(key);
        if (check == keys->end()) {
            note(line, section, QStringLiteral("the key %1 is not known and not read").arg(key));
            continue;
        }
        const QString value = Unquoted(content.mid(equals + 1));
        if (const QString wrong = check->second(value); !wrong.isEmpty())
            note(line, section, QStringLiteral("%1=%2 %3").arg(key, value, wrong));
    }
    return problems;
}

QStringList CheckProfile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return CheckProfileText(path, file.readAll());
}

} // namespace rp::mailstore
