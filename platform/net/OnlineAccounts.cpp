// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/net/OnlineAccounts.h"

#include "platform/net/SignIn.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QStringList>
#include <QUrl>
#include <atomic>
#include <mutex>

namespace rp::mailstore {

using TInterfaces = QMap<QString, QVariantMap>;
using TManagedObjects = QMap<QDBusObjectPath, TInterfaces>;

} // namespace rp::mailstore

Q_DECLARE_METATYPE(rp::mailstore::TInterfaces)
Q_DECLARE_METATYPE(rp::mailstore::TManagedObjects)

namespace rp::mailstore {

namespace {

const QString kService = QStringLiteral("org.gnome.OnlineAccounts");
const QString kRoot = QStringLiteral("/org/gnome/OnlineAccounts");
const QString kAccount = QStringLiteral("org.gnome.OnlineAccounts.Account");
const QString kMail = QStringLiteral("org.gnome.OnlineAccounts.Mail");
const QString kOAuth2 = QStringLiteral("org.gnome.OnlineAccounts.OAuth2Based");

void RegisterTypes() {
    static std::once_flag once;
    std::call_once(once, [] {
        qDBusRegisterMetaType<TInterfaces>();
        qDBusRegisterMetaType<TManagedObjects>();
    });
}

// "imap.example.org", "mail.example.org:1993" or "[2001:db8::1]:993".
TOnlineServer ServerAt(const QString& hostAndPort, int defaultPort) {
    const QUrl url(QStringLiteral("//") + hostAndPort.trimmed());
    TOnlineServer server;
    server.host = url.host();
    server.port = url.port(defaultPort);
    return server;
}

std::optional<TOnlineServer> MailServer(const QVariantMap& mail, const QString& prefix, int tlsPort,
                                        int startTlsPort) {
    const auto value = [&](const char* name) { return mail.value(prefix + QLatin1String(name)); };
    if (!value("Supported").toBool() || value("Host").toString().trimmed().isEmpty())
        return std::nullopt;
    const bool implicitTls = value("UseSsl").toBool();
    TOnlineServer server = ServerAt(value("Host").toString(), implicitTls ? tlsPort : startTlsPort);
    server.implicitTls = implicitTls;
    server.startTls = !implicitTls && value("UseTls").toBool();
    server.user = value("UserName").toString();
    return server;
}

std::optional<TOnlineMailAccount> MailAccountOf(const QString& path,
                                                const TInterfaces& interfaces) {
    const QVariantMap account = interfaces.value(kAccount);
    if (!interfaces.contains(kMail) || account.value(QStringLiteral("MailDisabled")).toBool())
        return std::nullopt;
    const QVariantMap mail = interfaces.value(kMail);
    TOnlineMailAccount found;
    found.id = path.section(QLatin1Char('/'), -1);
    found.address = mail.value(QStringLiteral("EmailAddress")).toString();
    if (found.address.isEmpty())
        found.address = account.value(QStringLiteral("PresentationIdentity")).toString();
    found.provider = account.value(QStringLiteral("ProviderName")).toString();
    found.oauth2 = interfaces.contains(kOAuth2);
    found.attentionNeeded = account.value(QStringLiteral("AttentionNeeded")).toBool();
    found.imap = MailServer(mail, QStringLiteral("Imap"), 993, 143);
    found.smtp = MailServer(mail, QStringLiteral("Smtp"), 465, 587);
    return found;
}

// The bus DBUS_SESSION_BUS_ADDRESS names as it is now (QtDBus's shared session
// connection would keep the first one it found).
QDBusConnection ConnectToSessionBus(const QString& name) {
    const QString address = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
    return address.isEmpty() ? QDBusConnection::connectToBus(QDBusConnection::SessionBus, name)
                             : QDBusConnection::connectToBus(address, name);
}

class TGoaAccounts : public IOnlineAccounts {
public:
    explicit TGoaAccounts(int timeoutSeconds)
        : name(QStringLiteral("ringpost-online-accounts-%1").arg(++connections)),
          bus(ConnectToSessionBus(name)), timeoutMs(std::max(timeoutSeconds, 1) * 1000) {
        RegisterTypes();
    }
    ~TGoaAccounts() override { QDBusConnection::disconnectFromBus(name); }

    std::vector<TOnlineMailAccount> MailAccounts() override {
        const QDBusMessage reply = Call(kRoot, QStringLiteral("org.freedesktop.DBus.ObjectManager"),
                                        QStringLiteral("GetManagedObjects"));
        TManagedObjects objects;
        reply.arguments().value(0).value<QDBusArgument>() >> objects;
        std::vector<TOnlineMailAccount> accounts;
        for (auto object = objects.cbegin(); object != objects.cend(); ++object)
            if (auto account = MailAccountOf(object.key().path(), object.value()))
                accounts.push_back(std::move(*account));
        return accounts;
    }

    QString AccessToken(const TOnlineMailAccount& account, bool renew) override {
        const QString path = kRoot + QStringLiteral("/Accounts/") + account.id;
        // Asks the provider whether the sign-in still holds, refreshing the
        // token on the way; GetAccessToken alone hands out the one it keeps.
        if (renew)
            Call(path, kAccount, QStringLiteral("EnsureCredentials"), &account);
        const QDBusMessage reply = Call(path, kOAuth2, QStringLiteral("GetAccessToken"), &account);
        const QString token = reply.arguments().value(0).toString();
        if (token.isEmpty())
            throw ESignInError(
                QStringLiteral("GNOME Online Accounts gave no token for %1.").arg(account.address));
        return token;
    }

private:
    QDBusMessage Call(const QString& path, const QString& interface, const QString& method,
                      const TOnlineMailAccount* account = nullptr) {
        if (!bus.isConnected())
            throw ESignInError(QStringLiteral("The desktop's session bus cannot be reached, so "
                                              "GNOME Online Accounts cannot be asked."));
        const QDBusMessage reply =
            bus.call(QDBusMessage::createMethodCall(kService, path, interface, method),
                     QDBus::Block, timeoutMs);
        if (reply.type() == QDBusMessage::ReplyMessage)
            return reply;
        throw ESignInError(Failure(reply, account));
    }

    QString Failure(const QDBusMessage& reply, const TOnlineMailAccount* account) const {
        const QString error = reply.errorName();
        if (error == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
            error == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner"))
            return QStringLiteral("GNOME Online Accounts is not running on this desktop.");
        if (error == QLatin1String("org.freedesktop.DBus.Error.NoReply") ||
            error == QLatin1String("org.freedesktop.DBus.Error.Timeout"))
            return QStringLiteral("GNOME Online Accounts did not answer within %1 seconds.")
                .arg(timeoutMs / 1000);
        if (account)
            return QStringLiteral("GNOME Online Accounts has no valid sign-in for %1 (%2). Sign "
                                  "in again in Settings, Online Accounts.")
                .arg(account->address, reply.errorMessage());
        return QStringLiteral("GNOME Online Accounts could not be asked: %1")
            .arg(reply.errorMessage());
    }

    static inline std::atomic<int> connections{0};
    QString name;
    QDBusConnection bus;
    int timeoutMs;
};

QString Addresses(const std::vector<TOnlineMailAccount>& accounts) {
    QStringList addresses;
    for (const TOnlineMailAccount& account : accounts)
        addresses.append(account.address);
    return addresses.join(QStringLiteral(", "));
}

} // namespace

std::unique_ptr<IOnlineAccounts> ConnectOnlineAccounts(int timeoutSeconds) {
    return std::make_unique<TGoaAccounts>(timeoutSeconds);
}

QString OnlineAccountChoice(const QString& address) {
    return address.isEmpty() ? QStringLiteral("goa") : QStringLiteral("goa:") + address;
}

std::optional<QString> OnlineAccountAddress(const QString& choice) {
    const QString trimmed = choice.trimmed();
    if (trimmed.compare(QLatin1String("goa"), Qt::CaseInsensitive) != 0 &&
        !trimmed.startsWith(QLatin1String("goa:"), Qt::CaseInsensitive))
        return std::nullopt;
    return trimmed.mid(4).trimmed();
}

TOnlineMailAccount PickMailAccount(const std::vector<TOnlineMailAccount>& accounts,
                                   const QString& choice) {
    const std::optional<QString> named = OnlineAccountAddress(choice);
    if (!named)
        throw ESignInError(
            QStringLiteral("Account=%1 is not understood: write goa, or goa: and the address.")
                .arg(choice.trimmed()));
    const QString address = *named;
    std::vector<TOnlineMailAccount> fitting;
    for (const TOnlineMailAccount& account : accounts)
        if (address.isEmpty() ? account.oauth2
                              : account.address.compare(address, Qt::CaseInsensitive) == 0)
            fitting.push_back(account);
    if (fitting.size() == 1)
        return fitting.front();
    if (!fitting.empty())
        throw ESignInError(QStringLiteral("GNOME Online Accounts has several mail accounts (%1): "
                                          "name one, as in Account=goa:%2.")
                               .arg(Addresses(fitting), fitting.front().address));
    if (!address.isEmpty())
        throw ESignInError(
            QStringLiteral("GNOME Online Accounts has no mail account %1%2.")
                .arg(address, accounts.empty()
                                  ? QString()
                                  : QStringLiteral(" (it has %1)").arg(Addresses(accounts))));
    throw ESignInError(QStringLiteral("GNOME Online Accounts has no mail account that signs in "
                                      "with OAuth2; add one in Settings, Online Accounts."));
}

} // namespace rp::mailstore
