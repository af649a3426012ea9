// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/mailstore/MailStoreApplication.h"

#include "platform/calendar/CalDavMirror.h"
#include "platform/delivery/PushRouter.h"
#include "platform/inbox/ImapInbox.h"
#include "platform/mailstore/MailStoreItems.h"
#include "platform/net/Keyring.h"

#include <QDir>

namespace rp::mailstore {

namespace {

using outlook::EAutomationError;
using outlook::ItemPtr;

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

class TCalendarFolder : public outlook::MAPIFolder {
public:
    explicit TCalendarFolder(std::shared_ptr<TIcsSource> source) : source(std::move(source)) {}
    std::shared_ptr<outlook::Items> Items() override {
        auto contents = source->Contents();
        return std::make_shared<TItems<std::shared_ptr<const TAppointmentRecord>>>(
            contents, contents->appointments,
            [](const auto& record) -> ItemPtr { return MakeAppointment(record); });
    }
    int UnReadItemCount() override { return 0; }

private:
    std::shared_ptr<TIcsSource> source;
};

class TTaskFolder : public outlook::MAPIFolder {
public:
    explicit TTaskFolder(std::shared_ptr<TIcsSource> source) : source(std::move(source)) {}
    std::shared_ptr<outlook::Items> Items() override {
        auto contents = source->Contents();
        return std::make_shared<TItems<std::shared_ptr<const TTaskRecord>>>(
            contents, contents->tasks,
            [source = source](const auto& record) -> ItemPtr { return MakeTask(record, source); });
    }
    int UnReadItemCount() override { return 0; }

private:
    std::shared_ptr<TIcsSource> source;
};

class TInboxFolder : public outlook::MAPIFolder {
public:
    explicit TInboxFolder(std::shared_ptr<IInboxSource> inbox) : inbox(std::move(inbox)) {}
    std::shared_ptr<outlook::Items> Items() override {
        auto contents = inbox->Contents();
        return std::make_shared<TItems<TMailRecord>>(
            contents, contents->messages,
            [](const auto& record) -> ItemPtr { return MakeReceivedMail(record); });
    }
    int UnReadItemCount() override { return inbox->Contents()->unreadCount; }

private:
    std::shared_ptr<IInboxSource> inbox;
};

class TStoreNameSpace : public outlook::NameSpace {
public:
    explicit TStoreNameSpace(std::shared_ptr<TStoreParts> parts) : parts(std::move(parts)) {}
    std::shared_ptr<outlook::MAPIFolder> GetDefaultFolder(int kind) override {
        switch (kind) {
        case outlook::olFolderCalendar:
            return std::make_shared<TCalendarFolder>(parts->calendar);
        case outlook::olFolderTasks:
            return std::make_shared<TTaskFolder>(parts->tasks);
        case outlook::olFolderInbox:
            return std::make_shared<TInboxFolder>(parts->inbox);
        default:
            return nullptr;
        }
    }

private:
    std::shared_ptr<TStoreParts> parts;
};

QString CleanPath(const QString& path) {
    return QDir::cleanPath(QDir(path).absolutePath());
}

std::shared_ptr<TIcsSource> OpenSource(const QString& path, const TSourceSettings& server,
                                       const QString& what, const TStoreLocation& location) {
    if (server.url.isEmpty())
        return std::make_shared<TIcsSource>(path, what, location.recheckMs);
    return std::make_shared<TIcsSource>(
        std::make_shared<TCalDavMirror>(server, what, location.cacheFolder, location.pollSeconds,
                                        location.status),
        what, location.recheckMs);
}

std::shared_ptr<IInboxSource> OpenInbox(const TMailStoreProfile& profile,
                                        const TStoreLocation& location) {
    const TSourceSettings& server = profile.inboxServer;
    if (!server.HasServer())
        return std::make_shared<TMaildirInbox>(profile.inboxPath, location.recheckMs);
    return std::make_shared<TImapInbox>(server, TLoginSource(SignInOf(server)),
                                        location.cacheFolder + QLatin1Char('/') +
                                            ImapCopyName(server),
                                        location.pollSeconds, location.status);
}

bool SameSource(const TMailStoreProfile& profile) {
    if (!profile.calendarServer.url.isEmpty() || !profile.tasksServer.url.isEmpty())
        return profile.calendarServer == profile.tasksServer;
    return CleanPath(profile.tasksPath) == CleanPath(profile.calendarPath);
}

} // namespace

std::shared_ptr<TStoreParts> OpenStore(const TStoreLocation& location) {
    auto parts = std::make_shared<TStoreParts>();
    parts->profile = LoadProfile(location.profilePath, location.storeFolder);
    if (parts->profile.isDefault)
        CreateDefaultStore(location.storeFolder);
    const TMailStoreProfile& profile = parts->profile;
    parts->calendar = OpenSource(profile.calendarPath, profile.calendarServer,
                                 QStringLiteral("calendar"), location);
    // One file, folder or collection for both is read once, not twice.
    parts->tasks = SameSource(profile) ? parts->calendar
                                       : OpenSource(profile.tasksPath, profile.tasksServer,
                                                    QStringLiteral("task list"), location);
    parts->inbox = OpenInbox(profile, location);
    // ntfy-...@ addresses go to their push server, whatever [Send] says.
    parts->transport = std::make_shared<TPushRouter>(profile, CreateTransport(profile.send));
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
    return std::make_shared<TStoreNameSpace>(Parts());
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
