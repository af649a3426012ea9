// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/AppriseAddress.h"

#include <QRegularExpression>
#include <QUrl>
#include <algorithm>
#include <array>

namespace rp {

namespace {

struct TService {
    const char* scheme;
    const char* name;
};

// The schemes of Apprise 1.2.0, the version Debian 12 packages (`apprise --details`);
// AppriseSchemesTest holds this table to the installed apprise.
constexpr std::array<TService, 120> kServices{{
    {"apprise", "Apprise API"},
    {"apprises", "Apprise API"},
    {"bark", "Bark"},
    {"barks", "Bark"},
    {"boxcar", "Boxcar"},
    {"bulksms", "BulkSMS"},
    {"clicksend", "ClickSend"},
    {"d7sms", "D7 Networks"},
    {"dapnet", "Dapnet"},
    {"dbus", "DBus Notification"},
    {"dingtalk", "DingTalk"},
    {"discord", "Discord"},
    {"emby", "Emby"},
    {"embys", "Emby"},
    {"enigma2", "Enigma2"},
    {"enigma2s", "Enigma2"},
    {"faast", "Faast"},
    {"fcm", "Firebase Cloud Messaging"},
    {"flock", "Flock"},
    {"form", "Form"},
    {"forms", "Form"},
    {"gchat", "Google Chat"},
    {"gitter", "Gitter"},
    {"glib", "DBus Notification"},
    {"gnome", "Gnome Notification"},
    {"gotify", "Gotify"},
    {"gotifys", "Gotify"},
    {"growl", "Growl"},
    {"guilded", "Guilded"},
    {"hassio", "HomeAssistant"},
    {"hassios", "HomeAssistant"},
    {"ifttt", "IFTTT"},
    {"join", "Join"},
    {"json", "JSON"},
    {"jsons", "JSON"},
    {"kavenegar", "Kavenegar"},
    {"kde", "DBus Notification"},
    {"kodi", "Kodi/XBMC"},
    {"kodis", "Kodi/XBMC"},
    {"kumulos", "Kumulos"},
    {"lametric", "LaMetric"},
    {"lametrics", "LaMetric"},
    {"line", "Line"},
    {"macosx", "MacOSX Notification"},
    {"mailgun", "Mailgun"},
    {"mailto", "E-Mail"},
    {"mailtos", "E-Mail"},
    {"mastodon", "Mastodon"},
    {"mastodons", "Mastodon"},
    {"matrix", "Matrix"},
    {"matrixs", "Matrix"},
    {"mmost", "Mattermost"},
    {"mmosts", "Mattermost"},
    {"mqtt", "MQTT Notification"},
    {"mqtts", "MQTT Notification"},
    {"msg91", "MSG91"},
    {"msgbird", "MessageBird"},
    {"msteams", "MSTeams"},
    {"ncloud", "Nextcloud"},
    {"nclouds", "Nextcloud"},
    {"nctalk", "Nextcloud Talk"},
    {"nctalks", "Nextcloud Talk"},
    {"nexmo", "Vonage"},
    {"notica", "Notica"},
    {"noticas", "Notica"},
    {"notifico", "Notifico"},
    {"ntfy", "ntfy"},
    {"ntfys", "ntfy"},
    {"o365", "Office 365"},
    {"onesignal", "OneSignal"},
    {"opsgenie", "Opsgenie"},
    {"pagerduty", "Pager Duty"},
    {"parsep", "Parse Platform"},
    {"parseps", "Parse Platform"},
    {"pbul", "Pushbullet"},
    {"pjet", "Pushjet"},
    {"pjets", "Pushjet"},
    {"popcorn", "PopcornNotify"},
    {"pover", "Pushover"},
    {"prowl", "Prowl"},
    {"psafer", "Pushsafer"},
    {"psafers", "Pushsafer"},
    {"push", "Techulus Push"},
    {"pushed", "Pushed"},
    {"qt", "DBus Notification"},
    {"reddit", "Reddit"},
    {"rocket", "Rocket.Chat"},
    {"rockets", "Rocket.Chat"},
    {"ryver", "Ryver"},
    {"schan", "ServerChan"},
    {"sendgrid", "SendGrid"},
    {"ses", "AWS Simple Email Service (SES)"},
    {"signal", "Signal API"},
    {"signals", "Signal API"},
    {"sinch", "Sinch"},
    {"slack", "Slack"},
    {"smseagle", "SMS Eagle"},
    {"smseagles", "SMS Eagle"},
    {"smtp2go", "SMTP2Go"},
    {"sns", "AWS Simple Notification Service (SNS)"},
    {"sparkpost", "SparkPost"},
    {"spontit", "Spontit"},
    {"spush", "SimplePush"},
    {"strmlabs", "Streamlabs"},
    {"syslog", "Syslog"},
    {"tgram", "Telegram"},
    {"toot", "Mastodon"},
    {"toots", "Mastodon"},
    {"tweet", "Twitter"},
    {"twilio", "Twilio"},
    {"twist", "Twist"},
    {"twitter", "Twitter"},
    {"vonage", "Vonage"},
    {"windows", "Windows Notification"},
    {"wxteams", "Cisco Webex Teams"},
    {"xbmc", "Kodi/XBMC"},
    {"xbmcs", "Kodi/XBMC"},
    {"xml", "XML"},
    {"xmls", "XML"},
    {"zulip", "Zulip"},
}};

const QLatin1String kSeparator("://");
const QLatin1String kHidden("...");

bool IsControl(QChar c) {
    return c.unicode() < 0x20 || c.unicode() == 0x7f || c == QChar::LineSeparator ||
           c == QChar::ParagraphSeparator;
}

// The scheme as typed, when it is one word; empty otherwise.
QString SchemeWord(const QString& url) {
    static const QRegularExpression word(QStringLiteral("^[A-Za-z0-9]{1,20}$"));
    const QString scheme = url.left(url.indexOf(kSeparator));
    return word.match(scheme).hasMatch() ? scheme.toLower() : QString();
}

// A name or address that names a computer, not a token standing where the host goes
// (tgram://BOT_TOKEN/..., pover://USER@TOKEN): tokens have no dots.
bool LooksLikeHost(const QString& host) {
    static const QRegularExpression name(
        QStringLiteral("^(localhost|\\[[0-9A-Fa-f:.]+\\]|[0-9]{1,3}(\\.[0-9]{1,3}){3}|([A-Za-z0-9]"
                       "([A-Za-z0-9-]*[A-Za-z0-9])?\\.)+[A-Za-z][A-Za-z0-9-]*)$"));
    return name.match(host).hasMatch();
}

void AddSecret(QStringList& secrets, const QString& part) {
    // Apprise may name each of several targets ("a,b") on its own.
    QStringList pieces = part.split(QLatin1Char(','), Qt::SkipEmptyParts);
    pieces << part;
    for (const QString& piece : pieces) {
        secrets << piece;
        const QString decoded = QUrl::fromPercentEncoding(piece.toUtf8());
        if (decoded != piece)
            secrets << decoded;
    }
}

void AddAuthority(TAppriseUrl& url, const QString& authority) {
    const qsizetype at = authority.lastIndexOf(QLatin1Char('@'));
    const QString userInfo = at < 0 ? QString() : authority.left(at);
    const QString hostPort = authority.mid(at + 1);
    for (const QString& part : userInfo.split(QLatin1Char(':'), Qt::SkipEmptyParts))
        AddSecret(url.secrets, part);
    static const QRegularExpression withPort(QStringLiteral("^(.*?)(:[0-9]*)?$"));
    const QString host = withPort.match(hostPort).captured(1);
    if (LooksLikeHost(host)) {
        url.host = host;
    } else {
        AddSecret(url.secrets, hostPort);
        for (const QString& part : hostPort.split(QLatin1Char(':'), Qt::SkipEmptyParts))
            AddSecret(url.secrets, part);
    }
    url.hasMore = !userInfo.isEmpty() || (url.host.isEmpty() && !hostPort.isEmpty());
}

void AddRest(TAppriseUrl& url, const QString& rest) {
    const qsizetype queryStart = rest.indexOf(QLatin1Char('?'));
    const qsizetype fragmentStart = rest.indexOf(QLatin1Char('#'));
    const QString path =
        rest.left(std::min<qsizetype>(queryStart < 0 ? rest.size() : queryStart,
                                      fragmentStart < 0 ? rest.size() : fragmentStart));
    for (const QString& segment : path.split(QLatin1Char('/'), Qt::SkipEmptyParts))
        AddSecret(url.secrets, segment);
    if (queryStart >= 0) {
        const QString query = rest.mid(queryStart + 1).section(QLatin1Char('#'), 0, 0);
        for (const QString& pair : query.split(QLatin1Char('&'), Qt::SkipEmptyParts))
            if (pair.contains(QLatin1Char('=')))
                AddSecret(url.secrets, pair.section(QLatin1Char('='), 1));
    }
    if (fragmentStart >= 0)
        AddSecret(url.secrets, rest.mid(fragmentStart + 1));
    url.hasMore = url.hasMore || !rest.isEmpty();
}

} // namespace

QString AppriseServiceName(const QString& scheme) {
    const QByteArray wanted = scheme.toLower().toLatin1();
    for (const TService& service : kServices)
        if (wanted == service.scheme)
            return QString::fromLatin1(service.name);
    return {};
}

QStringList AppriseSchemes() {
    QStringList schemes;
    for (const TService& service : kServices)
        schemes << QString::fromLatin1(service.scheme);
    return schemes;
}

bool IsAppriseAddress(const QString& recipient) {
    return recipient.contains(kSeparator);
}

QString AppriseAddressProblem(const QString& recipient) {
    const QString url = recipient.trimmed();
    const QString shown = MaskedRecipient(recipient);
    if (std::any_of(recipient.begin(), recipient.end(), IsControl))
        return QStringLiteral("The Apprise address \"%1\" holds a line break or another control "
                              "character.")
            .arg(shown);
    if (url.startsWith(QLatin1Char('-')))
        return QStringLiteral("The Apprise address \"%1\" begins with \"-\", which the apprise "
                              "command would take for an option.")
            .arg(shown);
    if (url.count(kSeparator) > 1)
        return QStringLiteral("The Apprise address \"%1\" holds more than one address; each "
                              "notice goes to one.")
            .arg(shown);
    const QString scheme = SchemeWord(url);
    if (AppriseServiceName(scheme).isEmpty())
        return QStringLiteral("Apprise knows no service \"%1://\" (Help: Choosing a carrier lists "
                              "the common ones).")
            .arg(scheme.isEmpty() ? kHidden : scheme);
    return {};
}

bool IsUsableAppriseAddress(const QString& recipient) {
    return IsAppriseAddress(recipient) && AppriseAddressProblem(recipient).isEmpty();
}

TAppriseUrl SplitAppriseUrl(const QString& text) {
    const QString url = text.trimmed();
    TAppriseUrl parts;
    parts.scheme = SchemeWord(url);
    parts.service = AppriseServiceName(parts.scheme);
    const QString rest = url.mid(url.indexOf(kSeparator) + kSeparator.size());
    static const QRegularExpression authorityEnd(QStringLiteral("[/?#]"));
    const qsizetype end = rest.indexOf(authorityEnd);
    AddAuthority(parts, end < 0 ? rest : rest.left(end));
    AddRest(parts, end < 0 ? QString() : rest.mid(end));
    return parts;
}

QString MaskedRecipient(const QString& recipient) {
    if (!IsAppriseAddress(recipient)) {
        static const QRegularExpression ntfyToken(QStringLiteral("^(\\s*ntfy-[^+@]*)\\+[^@]*"),
                                                  QRegularExpression::CaseInsensitiveOption);
        return QString(recipient).replace(ntfyToken, QStringLiteral("\\1+..."));
    }
    const TAppriseUrl url = SplitAppriseUrl(recipient);
    QString shown = (url.scheme.isEmpty() ? QString(kHidden) : url.scheme) + kSeparator;
    if (!url.host.isEmpty())
        shown += url.host + (url.hasMore ? QStringLiteral("/...") : QString());
    else if (url.hasMore)
        shown += kHidden;
    return shown;
}

QString WithoutUrlSecrets(QString text, const QString& url) {
    const QString whole = url.trimmed();
    if (!whole.isEmpty())
        text.replace(whole, MaskedRecipient(whole));
    QStringList secrets = SplitAppriseUrl(url).secrets;
    // Longest first, so a token is hidden whole before any piece of it.
    std::sort(secrets.begin(), secrets.end(),
              [](const QString& a, const QString& b) { return a.size() > b.size(); });
    for (const QString& secret : secrets) {
        if (secret.size() < 3)
            continue;
        const QRegularExpression alone(QStringLiteral("(?<![A-Za-z0-9])") +
                                       QRegularExpression::escape(secret) +
                                       QStringLiteral("(?![A-Za-z0-9])"));
        text.replace(alone, kHidden);
    }
    return text;
}

} // namespace rp
