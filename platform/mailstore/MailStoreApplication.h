// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The object model over the local mail store: the calendar and task list as
// iCalendar, the inbox as a Maildir, new mail through the profile's transport.

#include "engine/OutlookModel.h"
#include "platform/calendar/IcsSource.h"
#include "platform/common/StatusSink.h"
#include "platform/delivery/MailTransport.h"
#include "platform/inbox/MaildirInbox.h"
#include "platform/mailstore/MailStoreProfile.h"

#include <functional>
#include <memory>

namespace rp::mailstore {

// Where the store's profile lives and how often the disk is looked at.
struct TStoreLocation {
    QString profilePath = DefaultProfilePath();
    QString storeFolder = DefaultStoreFolder();
    int recheckMs = 1000;
    // Last good copies of the servers' data, and how often a server is asked.
    QString cacheFolder = DefaultCacheFolder();
    int pollSeconds = 300;
    // Where a source's trouble is told (the status bar); may be empty.
    TStatusSink status = nullptr;
    // Whether each source works (engine/SourceHealth.h); may be empty.
    TSourceHealthSink health = nullptr;
    // How long the desktop's calendar store may take to answer one call.
    int desktopAnswerMs = TDesktopStore::kDefaultAnswerMs;
};

// The sources and the transport one profile describes.
struct TStoreParts {
    TMailStoreProfile profile;
    std::shared_ptr<TIcsSource> calendar;
    std::shared_ptr<TIcsSource> tasks;
    std::shared_ptr<IInboxSource> inbox; // a Maildir or an IMAP mailbox
    QString tasksHealthId;               // the calendar's when one source holds both
    std::shared_ptr<IMailTransport> transport;
};

// Reads the profile (creating the default store on first use) and opens its parts.
std::shared_ptr<TStoreParts> OpenStore(const TStoreLocation& location);

// The Application object. It re-reads the profile when the file changes, so an
// edit in the "Mail Store..." dialog takes effect without a restart.
class TStoreApplication : public outlook::Application {
public:
    explicit TStoreApplication(TStoreLocation location);

    std::shared_ptr<outlook::NameSpace> GetNamespace(const QString& type) override;
    outlook::ItemPtr CreateItem(int kind) override;

    std::shared_ptr<TStoreParts> Parts();

private:
    TStoreLocation location;
    TFileStamp profileStamp;
    std::shared_ptr<TStoreParts> parts;
};

// Opens the store afresh at every Connect.
class TMailStoreFactory : public outlook::IApplicationFactory {
public:
    explicit TMailStoreFactory(TStoreLocation location = {}) : location(std::move(location)) {}
    std::shared_ptr<outlook::Application> Connect() override;

private:
    TStoreLocation location;
};

} // namespace rp::mailstore
