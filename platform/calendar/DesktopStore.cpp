// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/calendar/DesktopStore.h"

#include "platform/calendar/IcsRead.h"
#include "platform/calendar/TaskRecurrence.h"
#include "platform/common/Files.h"

#include "engine/OutlookModel.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>
// GLib names a struct member "signals", which Qt defines as a macro.
#pragma push_macro("signals")
#undef signals
#include <libecal/libecal.h>
#pragma pop_macro("signals")

namespace rp::mailstore {

namespace {

using TClock = std::chrono::steady_clock;

// Cancels the call under way when it outlasts the bound: a store that stopped
// answering (a stopped process, a hung backend) costs one bounded wait.
class TCallBound {
public:
    explicit TCallBound(int ms) : bound(ms), watch([this] { Watch(); }) {}
    ~TCallBound() {
        {
            const std::lock_guard<std::mutex> guard(lock);
            quit = true;
        }
        changed.notify_all();
        watch.join();
    }

    GCancellable* Begin() {
        const std::lock_guard<std::mutex> guard(lock);
        current = g_cancellable_new();
        deadline = TClock::now() + bound;
        changed.notify_all();
        return current;
    }
    // True when the call was cut off.
    bool End() {
        const std::lock_guard<std::mutex> guard(lock);
        const bool cut = g_cancellable_is_cancelled(current);
        g_clear_object(&current);
        deadline.reset();
        return cut;
    }
    int Seconds() const { return static_cast<int>((bound.count() + 999) / 1000); }

private:
    void Watch() {
        std::unique_lock<std::mutex> guard(lock);
        while (!quit) {
            if (!deadline) {
                changed.wait(guard);
                continue;
            }
            changed.wait_until(guard, *deadline);
            if (deadline && TClock::now() >= *deadline) {
                GCancellable* late = G_CANCELLABLE(g_object_ref(current));
                deadline.reset();
                guard.unlock();
                g_cancellable_cancel(late);
                g_object_unref(late);
                guard.lock();
            }
        }
    }

    std::chrono::milliseconds bound;
    std::mutex lock;
    std::condition_variable changed;
    GCancellable* current = nullptr;
    std::optional<TClock::time_point> deadline;
    bool quit = false;
    std::thread watch;
};

// Notifications of the objects made here go to this context while it is pushed.
class TContextScope {
public:
    explicit TContextScope(GMainContext* context) : context(context) {
        g_main_context_push_thread_default(context);
    }
    ~TContextScope() { g_main_context_pop_thread_default(context); }
    TContextScope(const TContextScope&) = delete;
    TContextScope& operator=(const TContextScope&) = delete;

private:
    GMainContext* context;
};

struct TComponentDeleter {
    void operator()(icalcomponent* component) const { icalcomponent_free(component); }
};
using TComponentPtr = std::unique_ptr<icalcomponent, TComponentDeleter>;

QByteArray TextOf(icalcomponent* component) {
    char* text = icalcomponent_as_ical_string_r(component);
    QByteArray result(text);
    icalmemory_free_buffer(text);
    return result;
}

QByteArray VersionOf(icalcomponent* component) {
    return QCryptographicHash::hash(TextOf(component), QCryptographicHash::Sha1).toHex();
}

icalcomponent* NativeOf(gpointer object) {
    return static_cast<icalcomponent*>(i_cal_object_get_native(I_CAL_OBJECT(object)));
}

void CollectZoneIds(icalcomponent* component, std::set<QByteArray>& ids) {
    for (icalproperty* property = icalcomponent_get_first_property(component, ICAL_ANY_PROPERTY);
         property; property = icalcomponent_get_next_property(component, ICAL_ANY_PROPERTY))
        if (icalparameter* tzid = icalproperty_get_first_parameter(property, ICAL_TZID_PARAMETER))
            if (const char* id = icalparameter_get_tzid(tzid); id && *id)
                ids.insert(id);
    for (icalcomponent* child = icalcomponent_get_first_component(component, ICAL_ANY_COMPONENT);
         child; child = icalcomponent_get_next_component(component, ICAL_ANY_COMPONENT))
        CollectZoneIds(child, ids);
}

icalcomponent* NewCalendar() {
    icalcomponent* calendar = icalcomponent_new(ICAL_VCALENDAR_COMPONENT);
    icalcomponent_add_property(calendar, icalproperty_new_version("2.0"));
    icalcomponent_add_property(calendar, icalproperty_new_prodid("-//Amberfold//Ringpost//EN"));
    return calendar;
}

// The task itself, where the store hands out a series with its single changes.
icalcomponent* MasterTask(icalcomponent* component) {
    if (icalcomponent_isa(component) == ICAL_VTODO_COMPONENT)
        return component;
    for (icalcomponent* child = icalcomponent_get_first_component(component, ICAL_VTODO_COMPONENT);
         child; child = icalcomponent_get_next_component(component, ICAL_VTODO_COMPONENT))
        if (!icalcomponent_get_first_property(child, ICAL_RECURRENCEID_PROPERTY))
            return child;
    return nullptr;
}

bool IsNoStoreError(const GError* error) {
    return g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_SERVICE_UNKNOWN) ||
           g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_NAME_HAS_NO_OWNER) ||
           g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_SPAWN_SERVICE_NOT_FOUND) ||
           g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_SPAWN_EXEC_FAILED) ||
           g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_SPAWN_CHILD_EXITED) ||
           g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_DISCONNECTED) ||
           g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_FILE_NOT_FOUND) ||
           g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CLOSED);
}

bool IsNoAnswerError(const GError* error) {
    return g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED) ||
           g_error_matches(error, G_IO_ERROR, G_IO_ERROR_TIMED_OUT) ||
           g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_NO_REPLY) ||
           g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_TIMEOUT) ||
           g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_TIMED_OUT);
}

QString MessageOf(const GError* error) {
    if (!error)
        return QStringLiteral("unknown error");
    // "GDBus.Error:org.freedesktop.DBus.Error.ServiceUnknown: ..." says it twice.
    GError* plain = g_error_copy(error);
    g_dbus_error_strip_remote_error(plain);
    QString text = QString::fromUtf8(plain->message);
    g_error_free(plain);
    return text;
}

} // namespace

struct TDesktopStore::TImpl {
    struct TOpen {
        ECalClient* client = nullptr;
        gulong diedHandler = 0;
    };

    TImpl(int answerMs, int retryMs)
        : bound(answerMs), retryMs(retryMs), context(g_main_context_new()) {}
    ~TImpl() {
        {
            const TContextScope scope(context);
            LetGo();
            while (g_main_context_iteration(context, FALSE)) {
            }
        }
        g_main_context_unref(context);
    }

    static void OnBackendDied(EClient*, gpointer self) { static_cast<TImpl*>(self)->died = true; }

    bool HasSources() const {
        GList* sources = e_source_registry_list_sources(registry, nullptr);
        const bool any = sources != nullptr;
        g_list_free_full(sources, g_object_unref);
        return any;
    }

    void LetGo() {
        for (auto& [uid, open] : clients) {
            g_signal_handler_disconnect(open.client, open.diedHandler);
            g_object_unref(open.client);
        }
        clients.clear();
        g_clear_object(&registry);
    }

    enum class TAnswer { Given, Refused, Failed };

    // Runs one call with the bound. An error `refused` accepts is the store's
    // own answer (it has no such zone or item); any other is trouble, noted.
    template <class TCall, class TRefused>
    TAnswer Ask(const QString& what, TCall call, TRefused refused) {
        GError* error = nullptr;
        GCancellable* cancellable = bound.Begin();
        const bool done = call(cancellable, &error);
        const bool cut = bound.End();
        TAnswer answer = TAnswer::Given;
        if (!done) {
            answer = !cut && refused(error) ? TAnswer::Refused : TAnswer::Failed;
            if (answer == TAnswer::Failed)
                Note(what, error, cut);
        }
        g_clear_error(&error);
        return answer;
    }
    // The same where every error is trouble; false when it failed.
    template <class TCall> bool Ask(const QString& what, TCall call) {
        return Ask(what, call, [](const GError*) { return false; }) == TAnswer::Given;
    }

    void Note(const QString& what, const GError* error, bool cut) {
        if (cut || IsNoAnswerError(error) || IsNoStoreError(error))
            sinceFailure.start();
        if (cut || IsNoAnswerError(error)) {
            trouble = TStoreTrouble::NoAnswer;
            problem = QStringLiteral("The desktop's calendar store did not answer within %1 "
                                     "seconds (%2).")
                          .arg(bound.Seconds())
                          .arg(what);
            // A store that stalls mid-call is let go; the next Reach() starts afresh.
            LetGo();
        } else if (IsNoStoreError(error)) {
            trouble = TStoreTrouble::NoStore;
            problem = QStringLiteral("The desktop's calendar store (evolution-data-server) is not "
                                     "running (%1).")
                          .arg(MessageOf(error));
            LetGo();
        } else {
            trouble = TStoreTrouble::Other;
            problem = QStringLiteral("The desktop's calendar store could not %1: %2")
                          .arg(what, MessageOf(error));
        }
    }

    ECalClient* ClientFor(TDesktopKind kind, const QString& uid) {
        if (const auto known = clients.find(uid); known != clients.end())
            return known->second.client;
        ESource* source = e_source_registry_ref_source(registry, uid.toUtf8().constData());
        if (!source) {
            trouble = TStoreTrouble::Other;
            problem = QStringLiteral("The desktop's store no longer has that calendar.");
            return nullptr;
        }
        EClient* client = nullptr;
        const ECalClientSourceType type = kind == TDesktopKind::Calendar
                                              ? E_CAL_CLIENT_SOURCE_TYPE_EVENTS
                                              : E_CAL_CLIENT_SOURCE_TYPE_TASKS;
        // Not waiting for a server: the store answers from its own copy at once.
        const bool opened = Ask(
            QStringLiteral("open \"%1\"").arg(QString::fromUtf8(e_source_get_display_name(source))),
            [&](GCancellable* cancellable, GError** error) {
                client = e_cal_client_connect_sync(source, type, static_cast<guint32>(-1),
                                                   cancellable, error);
                return client != nullptr;
            });
        g_object_unref(source);
        if (!opened)
            return nullptr;
        TOpen open;
        open.client = E_CAL_CLIENT(client);
        open.diedHandler =
            g_signal_connect(client, "backend-died", G_CALLBACK(&TImpl::OnBackendDied), this);
        clients.emplace(uid, open);
        // The revision as the store has it now, not as its first notice brings it.
        if (!Ask(QStringLiteral("read a calendar's state"),
                 [&](GCancellable* cancellable, GError** error) {
                     return e_client_retrieve_properties_sync(client, cancellable, error) != FALSE;
                 }))
            return nullptr;
        return open.client;
    }

    // Adds the definitions of the zones `ids` names to `calendar`.
    bool AddZones(ECalClient* client, const std::set<QByteArray>& ids, icalcomponent* calendar) {
        for (const QByteArray& id : ids) {
            ICalTimezone* zone = nullptr;
            const TAnswer answer = Ask(
                QStringLiteral("give a time zone"),
                [&](GCancellable* cancellable, GError** error) {
                    return e_cal_client_get_timezone_sync(client, id.constData(), &zone,
                                                          cancellable, error) != FALSE;
                },
                [](const GError* error) {
                    return !IsNoAnswerError(error) && !IsNoStoreError(error);
                });
            if (answer == TAnswer::Failed)
                return false;
            // A zone the store does not know is read by name, as in a file.
            if (answer == TAnswer::Refused)
                continue;
            if (ICalComponent* definition = i_cal_timezone_get_component(zone)) {
                icalcomponent_add_component(calendar,
                                            icalcomponent_new_clone(NativeOf(definition)));
                g_object_unref(definition);
            }
        }
        return true;
    }

    TCallBound bound;
    int retryMs;
    QElapsedTimer sinceFailure;
    GMainContext* context;
    ESourceRegistry* registry = nullptr;
    std::map<QString, TOpen> clients;
    bool died = false;
    TStoreTrouble trouble = TStoreTrouble::None;
    QString problem;
};

TDesktopStore::TDesktopStore(int answerMs, int retryMs)
    : impl(std::make_unique<TImpl>(answerMs, retryMs)) {}

TDesktopStore::~TDesktopStore() = default;

bool TDesktopStore::Reach() {
    const TContextScope scope(impl->context);
    while (g_main_context_iteration(impl->context, FALSE)) {
    }
    if (impl->died) {
        impl->died = false;
        impl->LetGo();
    }
    if (impl->registry)
        return true;
    if (impl->sinceFailure.isValid() && impl->sinceFailure.elapsed() < impl->retryMs)
        return false;
    const bool reached = impl->Ask(
        QStringLiteral("list the calendars"), [this](GCancellable* cancellable, GError** error) {
            impl->registry = e_source_registry_new_sync(cancellable, error);
            return impl->registry != nullptr;
        });
    if (reached && !impl->HasSources()) {
        // The library connects whether or not the registry runs; a running one
        // always has its built-in sources.
        impl->LetGo();
        impl->sinceFailure.start();
        impl->trouble = TStoreTrouble::NoStore;
        impl->problem = QStringLiteral("The desktop's calendar store (evolution-data-server) is "
                                       "not running.");
        return false;
    }
    if (reached) {
        impl->sinceFailure.invalidate();
        impl->trouble = TStoreTrouble::None;
        impl->problem.clear();
    }
    return reached;
}

bool TDesktopStore::Connected() const {
    return impl->registry != nullptr;
}

TStoreTrouble TDesktopStore::Trouble() const {
    return impl->trouble;
}

const QString& TDesktopStore::Problem() const {
    return impl->problem;
}

std::vector<TDesktopSourceInfo> TDesktopStore::Sources(TDesktopKind kind) {
    std::vector<TDesktopSourceInfo> result;
    if (!impl->registry)
        return result;
    const TContextScope scope(impl->context);
    const char* extension =
        kind == TDesktopKind::Calendar ? E_SOURCE_EXTENSION_CALENDAR : E_SOURCE_EXTENSION_TASK_LIST;
    GList* sources = e_source_registry_list_sources(impl->registry, extension);
    for (GList* link = sources; link; link = link->next) {
        ESource* source = E_SOURCE(link->data);
        TDesktopSourceInfo info;
        info.uid = QString::fromUtf8(e_source_get_uid(source));
        info.name = QString::fromUtf8(e_source_get_display_name(source));
        if (const gchar* parentUid = e_source_get_parent(source))
            if (ESource* parent = e_source_registry_ref_source(impl->registry, parentUid)) {
                info.account = QString::fromUtf8(e_source_get_display_name(parent));
                g_object_unref(parent);
            }
        info.enabled = e_source_registry_check_enabled(impl->registry, source);
        info.selected = e_source_selectable_get_selected(
            E_SOURCE_SELECTABLE(e_source_get_extension(source, extension)));
        const ESourceConnectionStatus status = e_source_get_connection_status(source);
        info.signInNeeded = status == E_SOURCE_CONNECTION_STATUS_AWAITING_CREDENTIALS;
        info.certificateRefused = status == E_SOURCE_CONNECTION_STATUS_SSL_FAILED;
        result.push_back(std::move(info));
    }
    g_list_free_full(sources, g_object_unref);
    return result;
}

std::optional<QByteArray> TDesktopStore::Revision(const QString& uid) {
    const auto open = impl->clients.find(uid);
    if (open == impl->clients.end())
        return std::nullopt;
    gchar* revision = nullptr;
    // Read from the property the store announces; no call goes out.
    e_client_get_backend_property_sync(E_CLIENT(open->second.client),
                                       CLIENT_BACKEND_PROPERTY_REVISION, &revision, nullptr,
                                       nullptr);
    QByteArray result(revision ? revision : "");
    g_free(revision);
    return result;
}

std::optional<TDesktopRead> TDesktopStore::Read(TDesktopKind kind, const QString& uid,
                                                const TUserAddresses& user) {
    if (!impl->registry)
        return std::nullopt;
    const TContextScope scope(impl->context);
    ECalClient* client = impl->ClientFor(kind, uid);
    if (!client)
        return std::nullopt;
    TDesktopRead read;
    // The revision before the items: a change made meanwhile shows as a newer one.
    read.revision = Revision(uid).value_or(QByteArray());
    read.readOnly = e_client_is_readonly(E_CLIENT(client));
    GSList* items = nullptr;
    if (!impl->Ask(QStringLiteral("read the items"),
                   [&](GCancellable* cancellable, GError** error) {
                       return e_cal_client_get_object_list_sync(client, "#t", &items, cancellable,
                                                                error) != FALSE;
                   }))
        return std::nullopt;
    TComponentPtr calendar(NewCalendar());
    if (ESource* source = e_source_registry_ref_source(impl->registry, uid.toUtf8().constData())) {
        // The copy says whose it is.
        icalproperty* name = icalproperty_new_x(e_source_get_display_name(source));
        icalproperty_set_x_name(name, "X-WR-CALNAME");
        icalcomponent_add_property(calendar.get(), name);
        g_object_unref(source);
    }
    std::set<QByteArray> zoneIds;
    for (GSList* link = items; link; link = link->next) {
        // The store's own parse is kept: the components are moved, not copied.
        auto* item =
            static_cast<icalcomponent*>(i_cal_object_steal_native(I_CAL_OBJECT(link->data)));
        CollectZoneIds(item, zoneIds);
        if (icalcomponent_isa(item) == ICAL_VTODO_COMPONENT &&
            icalcomponent_get_first_property(item, ICAL_RRULE_PROPERTY))
            read.taskVersions.emplace(QByteArray(icalcomponent_get_uid(item)), VersionOf(item));
        icalcomponent_add_component(calendar.get(), item);
    }
    g_slist_free_full(items, g_object_unref);
    if (!impl->AddZones(client, zoneIds, calendar.get()))
        return std::nullopt;
    ReadIcsCalendar(calendar.get(), uid, read.contents, nullptr, user);
    read.text = TextOf(calendar.get());
    return read;
}

TDesktopTaskMove TDesktopStore::MoveTask(const QString& sourceUid, const QByteArray& taskUid,
                                         const QByteArray& version) {
    using TOutcome = TDesktopTaskMove::TOutcome;
    TDesktopTaskMove move;
    const auto open = impl->clients.find(sourceUid);
    if (!impl->registry || open == impl->clients.end()) {
        move.problem = QStringLiteral("The desktop's calendar store is not reached.");
        return move;
    }
    const TContextScope scope(impl->context);
    ECalClient* client = open->second.client;
    const auto fetch = [&](TComponentPtr& task) {
        using TAnswer = TDesktopStore::TImpl::TAnswer;
        ICalComponent* found = nullptr;
        const TAnswer answer = impl->Ask(
            QStringLiteral("read a task"),
            [&](GCancellable* cancellable, GError** error) {
                return e_cal_client_get_object_sync(client, taskUid.constData(), nullptr, &found,
                                                    cancellable, error) != FALSE;
            },
            [](const GError* error) {
                return g_error_matches(error, E_CAL_CLIENT_ERROR,
                                       E_CAL_CLIENT_ERROR_OBJECT_NOT_FOUND) != FALSE;
            });
        if (answer != TAnswer::Given)
            return answer == TAnswer::Refused ? TOutcome::Gone : TOutcome::Failed;
        task.reset(static_cast<icalcomponent*>(i_cal_object_steal_native(I_CAL_OBJECT(found))));
        g_object_unref(found);
        return MasterTask(task.get()) ? TOutcome::Moved : TOutcome::Gone;
    };
    // The task in a calendar of its own, with its zones: what the reading and
    // the move expect.
    const auto wrapped = [&](icalcomponent* task) -> std::optional<QByteArray> {
        TComponentPtr calendar(NewCalendar());
        std::set<QByteArray> zoneIds;
        CollectZoneIds(task, zoneIds);
        if (!impl->AddZones(client, zoneIds, calendar.get()))
            return std::nullopt;
        icalcomponent_add_component(calendar.get(), icalcomponent_new_clone(task));
        return TextOf(calendar.get());
    };

    TComponentPtr current;
    move.outcome = fetch(current);
    if (move.outcome != TOutcome::Moved)
        return move;
    icalcomponent* task = MasterTask(current.get());
    if (VersionOf(task) != version) {
        move.outcome = TOutcome::ChangedElsewhere;
        return move;
    }
    const std::optional<QByteArray> text = wrapped(task);
    if (!text) {
        move.outcome = TOutcome::Failed;
        move.problem = impl->problem;
        return move;
    }
    const TTaskOrigin origin{sourceUid, 0, taskUid, nullptr};
    const std::optional<QByteArray> moved = MovedTaskText(*text, origin);
    if (!moved) {
        move.outcome = TOutcome::NoNextOccurrence;
        return move;
    }
    TComponentPtr movedCalendar(icalparser_parse_string(moved->constData()));
    icalcomponent* movedTask = movedCalendar ? MasterTask(movedCalendar.get()) : nullptr;
    if (!movedTask) {
        move.outcome = TOutcome::Failed;
        move.problem = QStringLiteral("The moved task could not be read back.");
        return move;
    }
    ICalComponent* change = i_cal_component_new_from_string(TextOf(movedTask).constData());
    const bool written =
        impl->Ask(QStringLiteral("write a task"), [&](GCancellable* cancellable, GError** error) {
            return e_cal_client_modify_object_sync(client, change, E_CAL_OBJ_MOD_ALL,
                                                   E_CAL_OPERATION_FLAG_CONFLICT_FAIL, cancellable,
                                                   error) != FALSE;
        });
    g_object_unref(change);
    if (!written) {
        move.outcome = TOutcome::Failed;
        move.problem = impl->problem;
        return move;
    }
    // The store stamps what it keeps (LAST-MODIFIED): its own copy is the version.
    move.outcome = fetch(current);
    if (move.outcome != TOutcome::Moved)
        return move;
    task = MasterTask(current.get());
    move.version = VersionOf(task);
    const std::optional<QByteArray> now = wrapped(task);
    TComponentPtr nowCalendar(now ? icalparser_parse_string(now->constData()) : nullptr);
    TIcsContents contents;
    if (nowCalendar)
        ReadIcsCalendar(nowCalendar.get(), sourceUid, contents);
    if (contents.tasks.empty()) {
        move.outcome = TOutcome::Failed;
        move.problem = QStringLiteral("The moved task could not be read back.");
        return move;
    }
    move.task = *contents.tasks.front();
    return move;
}

} // namespace rp::mailstore
