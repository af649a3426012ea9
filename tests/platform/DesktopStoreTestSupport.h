// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The desktop's own calendar store for the tests: Debian's evolution-data-server
// (its source registry and calendar factory) on a private session bus of the
// test's own, with private XDG folders and GSettings in memory, as the store's
// own test suites run it. The bus lives as long as the test process (GLib keeps
// its session bus connection for good); the store is started and ended by
// process id. No activation files: a store the test did not start is not there.

#include "platform/calendar/DesktopStore.h"
#include "tests/platform/MailStoreTestSupport.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>
// GLib names a struct member "signals", which Qt defines as a macro.
#pragma push_macro("signals")
#undef signals
#include <libecal/libecal.h>
#pragma pop_macro("signals")

namespace rp::mailstore::testing {

// Items as a calendar program writes them into the store.
inline QByteArray Event(const QByteArray& uid, const QByteArray& start, const QByteArray& summary,
                        const QByteArray& location, const QByteArray& extra = {}) {
    return "BEGIN:VEVENT\r\nUID:" + uid + "\r\nDTSTAMP:20240301T000000Z\r\nDTSTART" + start +
           "\r\nDURATION:PT30M\r\nSUMMARY:" + summary + "\r\nLOCATION:" + location + "\r\n" +
           extra + "END:VEVENT\r\n";
}

inline QByteArray Task(const QByteArray& uid, const QByteArray& dates, const QByteArray& summary) {
    return "BEGIN:VTODO\r\nUID:" + uid + "\r\nDTSTAMP:20240301T000000Z\r\n" + dates +
           "SUMMARY:" + summary + "\r\nEND:VTODO\r\n";
}

// A daemon started by fork and exec, so that any thread may start, signal and
// end it (the tests do so from the engine's thread between its cycles).
class TDaemon {
public:
    ~TDaemon() { Stop(); }
    bool Start(const QString& program, const QStringList& arguments, const QStringList& environment,
               const QString& log) {
        std::vector<QByteArray> texts{QFile::encodeName(program)};
        for (const QString& argument : arguments)
            texts.push_back(argument.toUtf8());
        const size_t argumentCount = texts.size();
        for (const QString& variable : environment)
            texts.push_back(variable.toUtf8());
        std::vector<char*> argv, envp;
        for (size_t i = 0; i < texts.size(); ++i)
            (i < argumentCount ? argv : envp).push_back(texts[i].data());
        argv.push_back(nullptr);
        envp.push_back(nullptr);
        const QByteArray logPath = QFile::encodeName(log);
        pid = ::fork();
        if (pid == 0) {
            const int output = ::open(logPath.constData(), O_WRONLY | O_CREAT | O_APPEND, 0600);
            if (output >= 0) {
                ::dup2(output, 1);
                ::dup2(output, 2);
            }
            ::execve(argv[0], argv.data(), envp.data());
            ::_exit(127);
        }
        return pid > 0;
    }
    bool Running() const { return pid > 0; }
    void Signal(int number) const {
        if (pid > 0)
            ::kill(pid, number);
    }
    void Stop() {
        if (pid <= 0)
            return;
        ::kill(pid, SIGCONT);
        ::kill(pid, SIGTERM);
        for (QDeadlineTimer limit(5000); !limit.hasExpired(); QThread::msleep(10))
            if (::waitpid(pid, nullptr, WNOHANG) == pid) {
                pid = -1;
                return;
            }
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        pid = -1;
    }

private:
    pid_t pid = -1;
};

inline const char* kRegistryProgram = "/usr/libexec/evolution-source-registry";
inline const char* kFactoryProgram = "/usr/libexec/evolution-calendar-factory";

// One private session bus for the whole test process.
class TPrivateBus {
public:
    static TPrivateBus& Get() {
        static TPrivateBus* bus = new TPrivateBus; // ended at exit, by its pid
        return *bus;
    }
    bool Up() const { return up; }
    QString Address() const { return QStringLiteral("unix:path=") + dir.filePath("bus"); }

    bool NameOwned(const char* prefix) const {
        GDBusConnection* connection = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
        if (!connection)
            return false;
        GVariant* reply = g_dbus_connection_call_sync(
            connection, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
            "ListNames", nullptr, G_VARIANT_TYPE("(as)"), G_DBUS_CALL_FLAGS_NONE, 2000, nullptr,
            nullptr);
        g_object_unref(connection);
        if (!reply)
            return false;
        bool found = false;
        GVariantIter* names = nullptr;
        const gchar* name = nullptr;
        g_variant_get(reply, "(as)", &names);
        while (g_variant_iter_loop(names, "&s", &name))
            found = found || g_str_has_prefix(name, prefix);
        g_variant_iter_free(names);
        g_variant_unref(reply);
        return found;
    }

private:
    TPrivateBus() {
        QFile config(dir.filePath("bus.conf"));
        if (!config.open(QIODevice::WriteOnly))
            return;
        config.write("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration "
                     "1.0//EN\" \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                     "<busconfig><type>session</type><listen>unix:path=" +
                     dir.filePath("bus").toUtf8() +
                     "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                     "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
                     "<allow own=\"*\"/></policy></busconfig>\n");
        config.close();
        if (!daemon.Start(
                QStringLiteral("/usr/bin/dbus-daemon"),
                {QStringLiteral("--nofork"), QStringLiteral("--config-file=") + config.fileName()},
                QProcessEnvironment::systemEnvironment().toStringList(), dir.filePath("bus.log")))
            return;
        for (QDeadlineTimer limit(5000);
             !limit.hasExpired() && !QFileInfo::exists(dir.filePath("bus"));)
            QThread::msleep(20);
        // Every GLib client of this process, the store's libraries included.
        qputenv("DBUS_SESSION_BUS_ADDRESS", Address().toUtf8());
        qputenv("GSETTINGS_BACKEND", "memory");
        up = QFileInfo::exists(dir.filePath("bus"));
        std::atexit([] { Get().daemon.Stop(); });
    }

    QTemporaryDir dir;
    TDaemon daemon;
    bool up = false;
};

// The store itself: its folders, its sources, its two processes.
class TDesktopStoreServer {
public:
    TDesktopStoreServer() {
        for (const char* sub : {"config", "data", "cache", "runtime"})
            QDir().mkpath(dir.filePath(sub));
        QFile::setPermissions(dir.filePath("runtime"), QFileDevice::ReadOwner |
                                                           QFileDevice::WriteOwner |
                                                           QFileDevice::ExeOwner);
    }
    ~TDesktopStoreServer() { Stop(); }

    static bool Installed() {
        return QFileInfo::exists(kRegistryProgram) && QFileInfo::exists(kFactoryProgram);
    }
    bool Usable() const { return Installed() && TPrivateBus::Get().Up(); }

    // A calendar or task list "On This Computer", with these items at the start
    // (written where the store keeps them, before it runs).
    void AddLocalSource(TDesktopKind kind, const QString& uid, const QString& name,
                        const QByteArray& items = {}, bool enabled = true) {
        const bool calendar = kind == TDesktopKind::Calendar;
        WriteText(dir.filePath("config/evolution/sources/") + uid + ".source",
                  "[Data Source]\nDisplayName=" + name.toUtf8() +
                      "\nEnabled=" + (enabled ? "true" : "false") + "\nParent=local-stub\n\n[" +
                      (calendar ? "Calendar" : "Task List") +
                      "]\nBackendName=local\nSelected=true\n");
        if (!items.isEmpty())
            WriteText(dir.filePath("data/evolution/") + (calendar ? "calendar/" : "tasks/") + uid +
                          (calendar ? "/calendar.ics" : "/tasks.ics"),
                      "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Test//EN\r\n" + items +
                          "END:VCALENDAR\r\n");
    }

    bool Start() {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("DBUS_SESSION_BUS_ADDRESS", TPrivateBus::Get().Address());
        environment.insert("XDG_CONFIG_HOME", dir.filePath("config"));
        environment.insert("XDG_DATA_HOME", dir.filePath("data"));
        environment.insert("XDG_CACHE_HOME", dir.filePath("cache"));
        environment.insert("XDG_RUNTIME_DIR", dir.filePath("runtime"));
        environment.insert("GSETTINGS_BACKEND", "memory");
        environment.insert("GIO_USE_VFS", "local");
        environment.remove("DISPLAY");
        environment.remove("WAYLAND_DISPLAY");
        const QStringList variables = environment.toStringList();
        // The factory kept running without clients, as a desktop session keeps it busy.
        if (!registry.Start(kRegistryProgram, {QStringLiteral("--disable-migration")}, variables,
                            dir.filePath("store.log")) ||
            !factory.Start(kFactoryProgram, {QStringLiteral("--keep-running")}, variables,
                           dir.filePath("store.log")))
            return false;
        for (QDeadlineTimer limit(20000); !limit.hasExpired(); QThread::msleep(50))
            if (TPrivateBus::Get().NameOwned("org.gnome.evolution.dataserver.Sources") &&
                TPrivateBus::Get().NameOwned("org.gnome.evolution.dataserver.Calendar"))
                return true;
        return false;
    }
    void Stop() {
        factory.Stop();
        registry.Stop();
        for (QDeadlineTimer limit(5000);
             !limit.hasExpired() &&
             (TPrivateBus::Get().NameOwned("org.gnome.evolution.dataserver.Calendar") ||
              TPrivateBus::Get().NameOwned("org.gnome.evolution.dataserver.Sources"));
             QThread::msleep(20)) {
        }
    }
    // The calendar factory stops answering (and answers again).
    void Pause() { factory.Signal(SIGSTOP); }
    void Resume() { factory.Signal(SIGCONT); }

    // A calendar on a CalDAV server, added as a user adds one in Evolution: the
    // server's certificate accepted, the password not given yet.
    bool AddCalDavSource(const QString& uid, const QString& name, const QString& url,
                         const QString& user, const QString& certificateFile) {
        GError* error = nullptr;
        ESourceRegistry* registry = e_source_registry_new_sync(nullptr, &error);
        ESource* source =
            registry ? e_source_new_with_uid(uid.toUtf8().constData(), nullptr, &error) : nullptr;
        GTlsCertificate* certificate =
            source ? g_tls_certificate_new_from_file(certificateFile.toUtf8().constData(), &error)
                   : nullptr;
        bool added = certificate != nullptr;
        if (added) {
            e_source_set_display_name(source, name.toUtf8().constData());
            e_source_set_parent(source, "caldav-stub");
            e_source_backend_set_backend_name(
                E_SOURCE_BACKEND(e_source_get_extension(source, E_SOURCE_EXTENSION_CALENDAR)),
                "caldav");
            auto* webdav =
                E_SOURCE_WEBDAV(e_source_get_extension(source, E_SOURCE_EXTENSION_WEBDAV_BACKEND));
            GUri* address = g_uri_parse(url.toUtf8().constData(), G_URI_FLAGS_NONE, nullptr);
            e_source_webdav_set_uri(webdav, address);
            e_source_webdav_update_ssl_trust(webdav, g_uri_get_host(address), certificate,
                                             E_TRUST_PROMPT_RESPONSE_ACCEPT);
            g_uri_unref(address);
            auto* login = E_SOURCE_AUTHENTICATION(
                e_source_get_extension(source, E_SOURCE_EXTENSION_AUTHENTICATION));
            e_source_authentication_set_user(login, user.toUtf8().constData());
            e_source_authentication_set_method(login, "plain/password");
            added = e_source_registry_commit_source_sync(registry, source, nullptr, &error);
        }
        if (!added)
            ADD_FAILURE() << (error ? error->message : "no source");
        g_clear_error(&error);
        g_clear_object(&certificate);
        g_clear_object(&source);
        g_clear_object(&registry);
        return added;
    }

    // What the desktop's password prompt does once the user typed the password.
    bool SignIn(const QString& uid, const QString& user, const QString& password) {
        GError* error = nullptr;
        ESourceRegistry* registry = e_source_registry_new_sync(nullptr, &error);
        ESource* source =
            registry ? e_source_registry_ref_source(registry, uid.toUtf8().constData()) : nullptr;
        ENamedParameters* credentials = e_named_parameters_new();
        e_named_parameters_set(credentials, E_SOURCE_CREDENTIAL_USERNAME,
                               user.toUtf8().constData());
        e_named_parameters_set(credentials, E_SOURCE_CREDENTIAL_PASSWORD,
                               password.toUtf8().constData());
        const bool done =
            source && e_source_invoke_authenticate_sync(source, credentials, nullptr, &error);
        if (!done)
            ADD_FAILURE() << (error ? error->message : "no source");
        g_clear_error(&error);
        e_named_parameters_free(credentials);
        g_clear_object(&source);
        g_clear_object(&registry);
        return done;
    }

    QTemporaryDir dir;

private:
    TDaemon registry;
    TDaemon factory;
};

// Another program at the desktop (a calendar program, Evolution) changing the
// store's items through the store's own library, each call on a connection of
// its own.
class TCalendarProgram {
public:
    TCalendarProgram(TDesktopKind kind, const QString& uid) {
        GError* error = nullptr;
        registry = e_source_registry_new_sync(nullptr, &error);
        if (!registry) {
            ADD_FAILURE() << error->message;
            g_clear_error(&error);
            return;
        }
        ESource* source = e_source_registry_ref_source(registry, uid.toUtf8().constData());
        if (!source) {
            ADD_FAILURE() << "no source " << uid.toStdString();
            return;
        }
        client = E_CAL_CLIENT(e_cal_client_connect_sync(source,
                                                        kind == TDesktopKind::Calendar
                                                            ? E_CAL_CLIENT_SOURCE_TYPE_EVENTS
                                                            : E_CAL_CLIENT_SOURCE_TYPE_TASKS,
                                                        static_cast<guint32>(-1), nullptr, &error));
        g_object_unref(source);
        if (!client) {
            ADD_FAILURE() << error->message;
            g_clear_error(&error);
        }
    }
    ~TCalendarProgram() {
        g_clear_object(&client);
        g_clear_object(&registry);
    }
    TCalendarProgram(const TCalendarProgram&) = delete;
    TCalendarProgram& operator=(const TCalendarProgram&) = delete;

    bool Create(const QByteArray& component) {
        return Change(component, [this](ICalComponent* item, GError** error) {
            gchar* uid = nullptr;
            const bool done = e_cal_client_create_object_sync(
                client, item, E_CAL_OPERATION_FLAG_NONE, &uid, nullptr, error);
            g_free(uid);
            return done;
        });
    }
    bool Modify(const QByteArray& component) {
        return Change(component, [this](ICalComponent* item, GError** error) {
            return e_cal_client_modify_object_sync(client, item, E_CAL_OBJ_MOD_ALL,
                                                   E_CAL_OPERATION_FLAG_NONE, nullptr,
                                                   error) != FALSE;
        });
    }
    bool Remove(const QByteArray& uid) {
        GError* error = nullptr;
        const QByteArray before = Revision();
        const bool done =
            e_cal_client_remove_object_sync(client, uid.constData(), nullptr, E_CAL_OBJ_MOD_ALL,
                                            E_CAL_OPERATION_FLAG_NONE, nullptr, &error);
        if (!done)
            ADD_FAILURE() << error->message;
        g_clear_error(&error);
        return done && Announced(before);
    }
    // The item as the store keeps it now; empty when it has none.
    QByteArray Get(const QByteArray& uid) {
        ICalComponent* item = nullptr;
        if (!client || !e_cal_client_get_object_sync(client, uid.constData(), nullptr, &item,
                                                     nullptr, nullptr))
            return {};
        gchar* text = i_cal_component_as_ical_string(item);
        QByteArray result(text);
        g_free(text);
        g_object_unref(item);
        return result;
    }
    // As a user pressing "Refresh": the store syncs with its server now.
    bool Refresh() {
        const QByteArray before = Revision();
        if (!client || !e_client_refresh_sync(E_CLIENT(client), nullptr, nullptr))
            return false;
        return Announced(before, 20000);
    }

private:
    template <class TCall> bool Change(const QByteArray& component, TCall call) {
        if (!client)
            return false;
        ICalComponent* item = i_cal_component_new_from_string(component.constData());
        GError* error = nullptr;
        const QByteArray before = Revision();
        const bool done = item && call(item, &error);
        if (!done)
            ADD_FAILURE() << (error ? error->message : "not an iCalendar component");
        g_clear_error(&error);
        g_clear_object(&item);
        return done && Announced(before);
    }
    QByteArray Revision() {
        gchar* revision = nullptr;
        e_client_get_backend_property_sync(E_CLIENT(client), CLIENT_BACKEND_PROPERTY_REVISION,
                                           &revision, nullptr, nullptr);
        QByteArray result(revision ? revision : "");
        g_free(revision);
        return result;
    }
    // The store tells every client of the change on the bus; once this one has
    // heard it, the others have it a moment later.
    bool Announced(const QByteArray& before, int limitMs = 5000) {
        for (QDeadlineTimer limit(limitMs); !limit.hasExpired(); QThread::msleep(20))
            if (Revision() != before) {
                QThread::msleep(100);
                return true;
            }
        return false;
    }

    ESourceRegistry* registry = nullptr;
    ECalClient* client = nullptr;
};

} // namespace rp::mailstore::testing
