// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/mailstore/MailStoreProfile.h"

#include "engine/DurableWrite.h"
#include "engine/OutlookModel.h"
#include "platform/common/Files.h"
#include "platform/mailstore/ProfileCheck.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>
#include <QSysInfo>
#include <sys/stat.h>

namespace rp::mailstore {

namespace {

QString XdgFolder(const char* variable, const QString& fallbackUnderHome) {
    const QString value = qEnvironmentVariable(variable);
    if (!value.isEmpty() && QDir::isAbsolutePath(value))
        return value;
    return QDir::homePath() + QLatin1Char('/') + fallbackUnderHome;
}

// QSettings splits an unquoted value at commas; a command line may hold some.
QString TextValue(const QSettings& ini, const QString& key, const QString& fallback = {}) {
    const QVariant value = ini.value(key);
    if (!value.isValid())
        return fallback;
    if (value.userType() == QMetaType::QStringList)
        return value.toStringList().join(QStringLiteral(", "));
    return value.toString().trimmed();
}

// A list written with commas between its entries.
QStringList ListValue(const QSettings& ini, const QString& key) {
    QStringList entries;
    for (const QString& entry : TextValue(ini, key).split(QLatin1Char(',')))
        if (!entry.trimmed().isEmpty())
            entries << entry.trimmed();
    return entries;
}

// A word that is no switch takes the default, as the profile check tells the user.
bool FlagValue(const QSettings& ini, const QString& key, bool fallback) {
    return FlagOf(TextValue(ini, key)).value_or(fallback);
}

TMailStoreProfile DefaultProfile(const QString& storeFolder) {
    TMailStoreProfile profile;
    profile.calendarPath = storeFolder + QStringLiteral("/calendar.ics");
    profile.tasksPath = storeFolder + QStringLiteral("/tasks.ics");
    profile.inboxPath = storeFolder + QStringLiteral("/Inbox");
    profile.send.outboxPath = storeFolder + QStringLiteral("/Outbox");
    profile.send.from = DefaultFromAddress();
    return profile;
}

int TimeoutValue(const QSettings& ini, const QString& key) {
    bool ok = false;
    const int timeout = TextValue(ini, key).toInt(&ok);
    return ok && timeout > 0 ? timeout : 30;
}

TSignIn ReadSignIn(const QSettings& ini, const QString& section) {
    TSignIn signIn;
    const QString auth = TextValue(ini, section + QStringLiteral("/Auth")).toLower();
    if (auth == QLatin1String("oauth2"))
        signIn.auth = TAuthKind::OAuth2;
    signIn.tokenCommand = TextValue(ini, section + QStringLiteral("/TokenCommand"));
    signIn.account = TextValue(ini, section + QStringLiteral("/Account"));
    return signIn;
}

// Written only for OAuth2, so a password profile reads as it always did.
void AppendSignIn(QList<std::pair<const char*, QString>>& keys, const TSignIn& signIn) {
    if (signIn == TSignIn())
        return;
    keys.append({{"Auth", signIn.OAuth2() ? QStringLiteral("oauth2") : QStringLiteral("password")},
                 {"TokenCommand", signIn.tokenCommand},
                 {"Account", signIn.account}});
}

void ReadSend(const QSettings& ini, TSendSettings& send) {
    send.transport = TransportFromName(TextValue(ini, QStringLiteral("Send/Transport")));
    send.url = TextValue(ini, QStringLiteral("Send/Url"));
    send.startTls = FlagValue(ini, QStringLiteral("Send/StartTLS"), true);
    send.user = TextValue(ini, QStringLiteral("Send/User"));
    send.password = TextValue(ini, QStringLiteral("Send/Password"));
    send.passwordCommand = TextValue(ini, QStringLiteral("Send/PasswordCommand"));
    send.caFile = ExpandHome(TextValue(ini, QStringLiteral("Send/CAFile")));
    send.timeoutSeconds = TimeoutValue(ini, QStringLiteral("Send/TimeoutSeconds"));
    send.command = TextValue(ini, QStringLiteral("Send/Command"), send.command);
    send.from = TextValue(ini, QStringLiteral("Send/From"), send.from);
    send.outboxPath =
        ExpandHome(TextValue(ini, QStringLiteral("Send/OutboxPath"), send.outboxPath));
    send.signIn = ReadSignIn(ini, QStringLiteral("Send"));
}

void ReadPush(const QSettings& ini, TPushSettings& push) {
    push.server = TextValue(ini, QStringLiteral("Push/Server"));
    push.token = TextValue(ini, QStringLiteral("Push/Token"));
    push.tokenCommand = TextValue(ini, QStringLiteral("Push/TokenCommand"));
    push.direct = FlagValue(ini, QStringLiteral("Push/Direct"), true);
    push.apprise = FlagValue(ini, QStringLiteral("Push/Apprise"), true);
}

TSourceSettings ReadSource(const QSettings& ini, const QString& section) {
    const auto key = [&section](const char* name) {
        return section + QLatin1Char('/') + QLatin1String(name);
    };
    TSourceSettings source;
    source.url = NormalizedSourceUrl(TextValue(ini, key("Url")));
    source.user = TextValue(ini, key("User"));
    source.password = TextValue(ini, key("Password"));
    source.passwordCommand = TextValue(ini, key("PasswordCommand"));
    source.caFile = ExpandHome(TextValue(ini, key("CAFile")));
    source.timeoutSeconds = TimeoutValue(ini, key("TimeoutSeconds"));
    source.startTls = FlagValue(ini, key("StartTLS"), true);
    return source;
}

// Source=desktop or Source=desktop:Work,Family; any other value leaves the
// section to Path= and Url=.
TDesktopSelection ReadDesktop(const QSettings& ini, const QString& section) {
    const QVariant value = ini.value(section + QStringLiteral("/Source"));
    const QStringList parts = value.userType() == QMetaType::QStringList
                                  ? value.toStringList()
                                  : value.toString().split(QLatin1Char(','));
    TDesktopSelection selection;
    if (parts.isEmpty())
        return selection;
    const QString first = parts.front().trimmed();
    const qsizetype colon = first.indexOf(QLatin1Char(':'));
    if (first.left(colon < 0 ? first.size() : colon)
            .trimmed()
            .compare(QLatin1String("desktop"), Qt::CaseInsensitive) != 0)
        return selection;
    selection.on = true;
    QStringList names = parts.mid(1);
    if (colon >= 0)
        names.prepend(first.mid(colon + 1));
    for (const QString& name : names)
        if (!name.trimmed().isEmpty())
            selection.names << name.trimmed();
    return selection;
}

QString DesktopValue(const TDesktopSelection& selection) {
    if (selection.names.isEmpty())
        return QStringLiteral("desktop");
    return QStringLiteral("desktop:") + selection.names.join(QLatin1Char(','));
}

using TIniKeys = QList<std::pair<const char*, QString>>;

// Server keys are written only for a section that has a server, so a profile of
// local files stays as short as it always was.
void AppendSourceKeys(TIniKeys& keys, const TSourceSettings& source, bool withStartTls) {
    if (source == TSourceSettings())
        return;
    keys.append({{"Url", source.url}, {"User", source.user}});
    if (!source.password.isEmpty())
        keys.append({"Password", source.password});
    keys.append({{"PasswordCommand", source.passwordCommand},
                 {"CAFile", source.caFile},
                 {"TimeoutSeconds", QString::number(source.timeoutSeconds)}});
    if (withStartTls)
        keys.append(
            {"StartTLS", source.startTls ? QStringLiteral("true") : QStringLiteral("false")});
    AppendSignIn(keys, source.signIn);
}

void EnsureEmptyCalendar(const QString& path) {
    if (QFileInfo::exists(path))
        return;
    ReplaceFileAtomically(path, QByteArrayLiteral("BEGIN:VCALENDAR\r\nVERSION:2.0\r\n"
                                                  "PRODID:-//Amberfold//Ringpost//EN\r\n"
                                                  "END:VCALENDAR\r\n"));
}

// Quotes what the INI reader would otherwise split or unescape.
QString IniValue(const QString& value) {
    static const QRegularExpression special(QStringLiteral("[,;\"\\=#]|^\\s|\\s$"));
    if (!value.contains(special))
        return value;
    QString escaped = value;
    escaped.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    escaped.replace(QLatin1Char('"'), QLatin1String("\\\""));
    return QLatin1Char('"') + escaped + QLatin1Char('"');
}

void AppendSection(QByteArray& text, const char* section, const TIniKeys& keys) {
    text += '[' + QByteArray(section) + "]\n";
    for (const auto& [key, value] : keys)
        text += QByteArray(key) + '=' + IniValue(value).toUtf8() + '\n';
    text += '\n';
}

void AppendPush(QByteArray& text, const TPushSettings& push) {
    QList<std::pair<const char*, QString>> keys{{"Server", push.server}};
    if (!push.token.isEmpty())
        keys.append({"Token", push.token});
    keys.append({{"TokenCommand", push.tokenCommand},
                 {"Direct", push.direct ? QStringLiteral("true") : QStringLiteral("false")},
                 {"Apprise", push.apprise ? QStringLiteral("true") : QStringLiteral("false")}});
    AppendSection(text, "Push", keys);
}

} // namespace

std::optional<bool> FlagOf(const QString& text) {
    static const QStringList yes{QStringLiteral("true"), QStringLiteral("1"), QStringLiteral("yes"),
                                 QStringLiteral("on")};
    static const QStringList no{QStringLiteral("false"), QStringLiteral("0"), QStringLiteral("no"),
                                QStringLiteral("off")};
    const QString word = text.trimmed().toLower();
    if (yes.contains(word))
        return true;
    if (no.contains(word))
        return false;
    return std::nullopt;
}

QString ExpandHome(const QString& path) {
    if (path == QLatin1String("~") || path.startsWith(QLatin1String("~/")))
        return QDir::homePath() + path.mid(1);
    return path;
}

bool ReadsCalendarPath(const TMailStoreProfile& profile) {
    return profile.calendarServer.url.isEmpty() && !profile.calendarDesktop.on;
}

bool ReadsTasksPath(const TMailStoreProfile& profile) {
    return profile.tasksServer.url.isEmpty() && !profile.tasksDesktop.on;
}

bool ReadsInboxPath(const TMailStoreProfile& profile) {
    return !profile.inboxServer.HasServer();
}

QString DefaultProfilePath() {
    return XdgFolder("XDG_CONFIG_HOME", QStringLiteral(".config")) +
           QStringLiteral("/Amberfold/MailStore.ini");
}

QString DefaultStoreFolder() {
    return XdgFolder("XDG_DATA_HOME", QStringLiteral(".local/share")) +
           QStringLiteral("/Amberfold/Ringpost");
}

QString DefaultCacheFolder() {
    return XdgFolder("XDG_CACHE_HOME", QStringLiteral(".cache")) +
           QStringLiteral("/Amberfold/Ringpost");
}

QString NormalizedSourceUrl(const QString& url) {
    const QString trimmed = url.trimmed();
    if (trimmed.startsWith(QLatin1String("webcal://"), Qt::CaseInsensitive))
        return QStringLiteral("https://") + trimmed.mid(9);
    return trimmed;
}

QString DefaultFromAddress() {
    const QString host = QSysInfo::machineHostName();
    return QStringLiteral("ringpost@") + (host.isEmpty() ? QStringLiteral("localhost") : host);
}

QString TransportName(TTransportKind kind) {
    switch (kind) {
    case TTransportKind::Smtp:
        return QStringLiteral("smtp");
    case TTransportKind::Sendmail:
        return QStringLiteral("sendmail");
    case TTransportKind::Outbox:
        break;
    }
    return QStringLiteral("outbox");
}

TTransportKind TransportFromName(const QString& name) {
    const QString lower = name.trimmed().toLower();
    if (lower == QLatin1String("smtp"))
        return TTransportKind::Smtp;
    if (lower == QLatin1String("sendmail"))
        return TTransportKind::Sendmail;
    return TTransportKind::Outbox;
}

TMailStoreProfile LoadProfile(const QString& path, const QString& storeFolder) {
    TMailStoreProfile profile = DefaultProfile(storeFolder);
    if (!QFileInfo::exists(path)) {
        profile.isDefault = true;
        return profile;
    }
    QSettings ini(path, QSettings::IniFormat);
    if (ini.status() != QSettings::NoError)
        throw outlook::EAutomationError(
            QStringLiteral("Cannot read the mail store profile \"%1\".").arg(path));
    profile.calendarPath =
        ExpandHome(TextValue(ini, QStringLiteral("Calendar/Path"), profile.calendarPath));
    profile.tasksPath = ExpandHome(TextValue(ini, QStringLiteral("Tasks/Path"), profile.tasksPath));
    profile.inboxPath = ExpandHome(TextValue(ini, QStringLiteral("Inbox/Path"), profile.inboxPath));
    profile.calendarDesktop = ReadDesktop(ini, QStringLiteral("Calendar"));
    profile.tasksDesktop = ReadDesktop(ini, QStringLiteral("Tasks"));
    profile.calendarServer = ReadSource(ini, QStringLiteral("Calendar"));
    profile.tasksServer = ReadSource(ini, QStringLiteral("Tasks"));
    profile.inboxServer = ReadSource(ini, QStringLiteral("Inbox"));
    profile.inboxServer.signIn = ReadSignIn(ini, QStringLiteral("Inbox"));
    profile.calendarMe = ListValue(ini, QStringLiteral("Calendar/Me"));
    ReadSend(ini, profile.send);
    ReadPush(ini, profile.push);
    profile.problems = CheckProfile(path);
    return profile;
}

void SaveProfile(const TMailStoreProfile& profile, const QString& path) {
    const QFileInfo target(path);
    if (!QDir().mkpath(target.absolutePath()))
        throw EProfileError(
            QStringLiteral("Cannot create the folder \"%1\".").arg(target.absolutePath()));
    const TSendSettings& send = profile.send;
    QByteArray text;
    const auto appendPlace = [&text](const char* section, const QString& path,
                                     const TSourceSettings& server, bool withStartTls,
                                     const TDesktopSelection& desktop, TIniKeys more = {}) {
        TIniKeys keys{{"Path", path}};
        // Written only when chosen, so other profiles stay as they were.
        if (desktop.on)
            keys.append({"Source", DesktopValue(desktop)});
        AppendSourceKeys(keys, server, withStartTls);
        AppendSection(text, section, keys + more);
    };
    TIniKeys me;
    if (!profile.calendarMe.isEmpty())
        me.append({"Me", profile.calendarMe.join(QStringLiteral(", "))});
    appendPlace("Calendar", profile.calendarPath, profile.calendarServer, false,
                profile.calendarDesktop, me);
    appendPlace("Tasks", profile.tasksPath, profile.tasksServer, false, profile.tasksDesktop);
    appendPlace("Inbox", profile.inboxPath, profile.inboxServer, true, TDesktopSelection());
    TIniKeys sendKeys{
        {"Transport", TransportName(send.transport)},
        {"Url", send.url},
        {"StartTLS", send.startTls ? QStringLiteral("true") : QStringLiteral("false")},
        {"User", send.user}};
    if (!send.password.isEmpty())
        sendKeys.append({"Password", send.password});
    sendKeys.append({{"PasswordCommand", send.passwordCommand},
                     {"CAFile", send.caFile},
                     {"TimeoutSeconds", QString::number(send.timeoutSeconds)},
                     {"Command", send.command},
                     {"From", send.from},
                     {"OutboxPath", send.outboxPath}});
    AppendSignIn(sendKeys, send.signIn);
    AppendSection(text, "Send", sendKeys);
    AppendPush(text, profile.push);
    // The profile may hold a password, so it is the user's alone.
    const TWriteResult written =
        WriteFileDurably(target.absoluteFilePath(), text, S_IRUSR | S_IWUSR);
    if (!written.Ok())
        throw EProfileError(written.text);
    RemoveStaleTemporaries(path);
}

void CreateDefaultStore(const QString& storeFolder) {
    EnsureFolder(storeFolder);
    EnsureEmptyCalendar(storeFolder + QStringLiteral("/calendar.ics"));
    EnsureEmptyCalendar(storeFolder + QStringLiteral("/tasks.ics"));
    EnsureMaildir(storeFolder + QStringLiteral("/Inbox"));
    EnsureMaildir(storeFolder + QStringLiteral("/Outbox"));
}

} // namespace rp::mailstore
