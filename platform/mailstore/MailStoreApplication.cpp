// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/mailstore/MailStoreApplication.h"

#include "engine/AppriseAddress.h"

#include "platform/calendar/CalDavMirror.h"
#include "platform/delivery/NtfyPublisher.h"
#include "platform/delivery/PushRouter.h"
#include "platform/inbox/ImapInbox.h"
#include "platform/mailstore/MailStoreItems.h"
#include "platform/net/Keyring.h"
#include "platform/net/OnlineAccounts.h"

#include <QDir>
#include <algorithm>

namespace rp::mailstore {

namespace {

using outlook::EAutomationError;
using outlook::ItemPtr;

QString CleanPath(const QString& path) {
    return QDir::cleanPath(QDir(path).absolutePath());
}

// A collection over one snapshot of records: Count and Item never touch the disk.
template <class Element> class TItems : public outlook::Items {
public:
    using TMake = std::function<ItemPtr(const Element&)>;
    TItems(std::shared_ptr<const void> owner, const std::vector<Element>& records, TMake make)
        : owner(std::move(owner)), records(records), make(std::move(make)) {}

    int Count() override { return static_cast<int>(records.size()); }
    ItemPtr Item(int index) override {
        if (index < 1 || index > Count())
            throw EAutomationError(QStringLiteral("Array index out of bounds."));
        return make(records[static_cast<size_t>(index - 1)]);
    }

private:
    std::shared_ptr<const void> owner; // keeps the snapshot alive
    const std::vector<Element>& records;
    TMake make;
};

// Tells the source-health panel whether a local file or folder was read; a
// server's mirror tells it itself, from what its last sync found.
struct THealthNote {
    TSourceHealthSink sink;
    QString source;
    bool local = true;

    template <class Read> auto Watch(Read read) const {
        try {
            auto result = read();
            Tell({});
            return result;
        } catch (const EAutomationError& error) {
            Tell(error.Message());
            throw;
        }
    }
    void Tell(const QString& problem) const {
        if (sink && local)
            sink(source, problem);
    }
};

class TCalendarFolder : public outlook::MAPIFolder {
public:
    TCalendarFolder(std::shared_ptr<TIcsSource> source, THealthNote health)
        : source(std::move(source)), health(std::move(health)) {}
    std::shared_ptr<outlook::Items> Items() override {
        auto contents = health.Watch([this] { return source->Contents(); });
        return std::make_shared<TItems<std::shared_ptr<const TAppointmentRecord>>>(
            contents, contents->appointments,
            [](const auto& record) -> ItemPtr { return MakeAppointment(record); });
    }
    int UnReadItemCount() override { return 0; }

private:
    std::shared_ptr<TIcsSource> source;
    THealthNote health;
};

class TTaskFolder : public outlook::MAPIFolder {
public:
    TTaskFolder(std::shared_ptr<TIcsSource> source, THealthNote health)
        : source(std::move(source)), health(std::move(health)) {}
    std::shared_ptr<outlook::Items> Items() override {
        auto contents = health.Watch([this] { return source->Contents(); });
        return std::make_shared<TItems<std::shared_ptr<const TTaskRecord>>>(
            contents, contents->tasks,
            [source = source](const auto& record) -> ItemPtr { return MakeTask(record, source); });
    }
    int UnReadItemCount() override { return 0; }

private:
    std::shared_ptr<TIcsSource> source;
    THealthNote health;
};

class TInboxFolder : public outlook::MAPIFolder {
public:
    TInboxFolder(std::shared_ptr<IInboxSource> inbox, THealthNote health)
        : inbox(std::move(inbox)), health(std::move(health)) {}
    std::shared_ptr<outlook::Items> Items() override {
        auto contents = health.Watch([this] { return inbox->Contents(); });
        return std::make_shared<TItems<TMailRecord>>(
            contents, contents->messages,
            [](const auto& record) -> ItemPtr { return MakeReceivedMail(record); });
    }
    int UnReadItemCount() override {
        return health.Watch([this] { return inbox->Contents(); })->unreadCount;
    }

private:
    std::shared_ptr<IInboxSource> inbox;
    THealthNote health;
};

// Who the user is to the calendar: the accounts' own addresses and the ones
// the profile adds.
TUserAddresses UserAddressesOf(const TMailStoreProfile& profile) {
    TUserAddresses addresses;
    const QStringList known =
        QStringList{profile.inboxServer.user, profile.send.user, profile.send.from,
                    OnlineAccountAddress(profile.inboxServer.signIn.account).value_or(QString()),
                    OnlineAccountAddress(profile.send.signIn.account).value_or(QString())} +
        profile.calendarMe;
    for (const QString& address : known)
        if (!address.trimmed().isEmpty())
            addresses.insert(CalendarAddress(address.toUtf8()));
    return addresses;
}

bool SameSource(const TMailStoreProfile& profile) {
    // The desktop's calendars and its task lists are told apart.
    if (profile.calendarDesktop.on || profile.tasksDesktop.on)
        return false;
    if (!profile.calendarServer.url.isEmpty() || !profile.tasksServer.url.isEmpty())
        return profile.calendarServer == profile.tasksServer;
    return CleanPath(profile.tasksPath) == CleanPath(profile.calendarPath);
}

// One file, folder or collection for both is one source to the user as well.
QString TasksHealthId(const TMailStoreProfile& profile) {
    return QLatin1String(SameSource(profile) ? health::Calendar : health::Tasks);
}

class TStoreNameSpace : public outlook::NameSpace {
public:
    TStoreNameSpace(std::shared_ptr<TStoreParts> parts, TSourceHealthSink health)
        : parts(std::move(parts)), health(std::move(health)) {}
    std::shared_ptr<outlook::MAPIFolder> GetDefaultFolder(int kind) override {
        const TMailStoreProfile& profile = parts->profile;
        switch (kind) {
        case outlook::olFolderCalendar:
            return std::make_shared<TCalendarFolder>(
                parts->calendar, THealthNote{health, health::Calendar, ReadsCalendarPath(profile)});
        case outlook::olFolderTasks:
            return std::make_shared<TTaskFolder>(
                parts->tasks, THealthNote{health, parts->tasksHealthId, ReadsTasksPath(profile)});
        case outlook::olFolderInbox:
            return std::make_shared<TInboxFolder>(
                parts->inbox, THealthNote{health, health::Inbox, ReadsInboxPath(profile)});
        default:
            return nullptr;
        }
    }

private:
    std::shared_ptr<TStoreParts> parts;
    TSourceHealthSink health;
};

// Sends through `inner`, telling the source-health panel whether sending (or
// push, for an ntfy address) worked.
class THealthReportingTransport : public IMailTransport {
public:
    THealthReportingTransport(std::shared_ptr<IMailTransport> inner, TSourceHealthSink health)
        : inner(std::move(inner)), health(std::move(health)) {}
    QString Send(const TComposedMessage& message) override {
        return THealthNote{health, health::Send}.Watch([&] { return inner->Send(message); });
    }
    QString SendMessage(const TOutgoingMessage& message) override {
        const char* source =
            IsPushAddress(message.to) || IsAppriseAddress(message.to) ? health::Push : health::Send;
        return THealthNote{health, source}.Watch([&] { return inner->SendMessage(message); });
    }

private:
    std::shared_ptr<IMailTransport> inner;
    TSourceHealthSink health;
};

// A store that is not there (or stopped) is asked again within a minute.
constexpr int kDesktopRetrySeconds = 60;

std::shared_ptr<TIcsSource> OpenDesktop(std::shared_ptr<TDesktopStore>& store, TDesktopKind kind,
                                        const TDesktopSelection& selection, const QString& what,
                                        const QString& healthId, const TStoreLocation& location) {
    const int retrySeconds = std::min(location.pollSeconds, kDesktopRetrySeconds);
    // One connection to the store serves the calendar and the task list.
    if (!store)
        store = std::make_shared<TDesktopStore>(location.desktopAnswerMs, retrySeconds * 1000);
    auto desktop = std::make_shared<TDesktopSource>(
        store, kind, selection, what, location.cacheFolder, retrySeconds, location.status);
    desktop->ReportHealthTo(healthId, location.health);
    return std::make_shared<TIcsSource>(desktop, what, location.recheckMs);
}

std::shared_ptr<TIcsSource> OpenSource(const QString& path, const TSourceSettings& server,
                                       const QString& what, const QString& healthId,
                                       const TStoreLocation& location) {
    if (server.url.isEmpty())
        return std::make_shared<TIcsSource>(path, what, location.recheckMs);
    auto mirror = std::make_shared<TCalDavMirror>(server, what, location.cacheFolder,
                                                  location.pollSeconds, location.status);
    mirror->ReportHealthTo(healthId, location.health);
    return std::make_shared<TIcsSource>(mirror, what, location.recheckMs);
}

std::shared_ptr<IInboxSource> OpenInbox(const TMailStoreProfile& profile,
                                        const TStoreLocation& location) {
    const TSourceSettings& server = profile.inboxServer;
    if (ReadsInboxPath(profile))
        return std::make_shared<TMaildirInbox>(profile.inboxPath, location.recheckMs);
    auto inbox =
        std::make_shared<TImapInbox>(server, TLoginSource(SignInOf(server)),
                                     location.cacheFolder + QLatin1Char('/') + ImapCopyName(server),
                                     location.pollSeconds, location.status);
    inbox->ReportHealthTo(health::Inbox, location.health);
    return inbox;
}

// A profile that cannot be read, or that holds what Ringpost does not understand.
TMailStoreProfile LoadReportedProfile(const TStoreLocation& location) {
    const THealthNote note{location.health, health::Profile};
    TMailStoreProfile profile =
        note.Watch([&] { return LoadProfile(location.profilePath, location.storeFolder); });
    note.Tell(profile.problems.join(QLatin1Char(' ')));
    return profile;
}

} // namespace

std::shared_ptr<TStoreParts> OpenStore(const TStoreLocation& location) {
    auto parts = std::make_shared<TStoreParts>();
    parts->profile = LoadReportedProfile(location);
    if (parts->profile.isDefault)
        CreateDefaultStore(location.storeFolder);
    const TMailStoreProfile& profile = parts->profile;
    std::shared_ptr<TDesktopStore> desktop;
    const QString calendarWhat = QStringLiteral("calendar");
    const QString tasksWhat = QStringLiteral("task list");
    parts->calendar = profile.calendarDesktop.on
                          ? OpenDesktop(desktop, TDesktopKind::Calendar, profile.calendarDesktop,
                                        calendarWhat, health::Calendar, location)
                          : OpenSource(profile.calendarPath, profile.calendarServer, calendarWhat,
                                       health::Calendar, location);
    parts->calendar->ReadAnswersOf(UserAddressesOf(profile));
    // One file, folder or collection for both is read once, not twice.
    if (profile.tasksDesktop.on)
        parts->tasks = OpenDesktop(desktop, TDesktopKind::Tasks, profile.tasksDesktop, tasksWhat,
                                   health::Tasks, location);
    else if (SameSource(profile))
        parts->tasks = parts->calendar;
    else
        parts->tasks =
            OpenSource(profile.tasksPath, profile.tasksServer, tasksWhat, health::Tasks, location);
    parts->tasksHealthId = TasksHealthId(profile);
    parts->inbox = OpenInbox(profile, location);
    // ntfy-...@ addresses go to their push server, whatever [Send] says.
    parts->transport = std::make_shared<THealthReportingTransport>(
        std::make_shared<TPushRouter>(profile, CreateTransport(profile.send)), location.health);
    return parts;
}

TStoreApplication::TStoreApplication(TStoreLocation location) : location(std::move(location)) {}

std::shared_ptr<TStoreParts> TStoreApplication::Parts() {
    const TFileStamp stamp = StampOf(location.profilePath);
    if (!parts || stamp != profileStamp) {
        parts = OpenStore(location);
        profileStamp = stamp;
    }
    return parts;
}

std::shared_ptr<outlook::NameSpace> TStoreApplication::GetNamespace(const QString& type) {
    if (type.compare(QLatin1String("MAPI"), Qt::CaseInsensitive) != 0)
        throw EAutomationError(QStringLiteral("The namespace \"%1\" is not known.").arg(type));
    return std::make_shared<TStoreNameSpace>(Parts(), location.health);
}

outlook::ItemPtr TStoreApplication::CreateItem(int kind) {
    if (kind != outlook::olMailItem)
        throw EAutomationError(QStringLiteral("Only mail items can be created."));
    const auto store = Parts();
    return MakeNewMail(store->profile.send.from, store->transport);
}

std::shared_ptr<outlook::Application> TMailStoreFactory::Connect() {
    auto application = std::make_shared<TStoreApplication>(location);
    application->Parts();
    return application;
}

} // namespace rp::mailstore
