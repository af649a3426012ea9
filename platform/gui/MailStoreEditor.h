// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The "Mail Store..." dialog: edits the mail store profile and sends a test
// message through the transport as it is filled in.

#include "platform/gui/DesktopSourceFields.h"
#include "platform/gui/SignInFields.h"
#include "platform/mailstore/MailStoreProfile.h"

#include <QDialog>
#include <array>
#include <functional>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTabWidget;
class QVBoxLayout;

namespace rp::mailstore {

enum class TSourceKind { Calendar = 0, Tasks = 1, Inbox = 2 };
// The dialog's tabs, in their order.
enum class TEditorTab { Calendar = 0, Tasks, Inbox, Sending, Push };
inline constexpr size_t EditorTabCount = 5;

class TMailStoreEditor : public QDialog {
public:
    // Tries a source's server as filled in and says what it found (how many
    // events, tasks or messages) or what went wrong. Runs on a worker thread.
    using TSourceTester = std::function<QString(const TSourceSettings& settings)>;
    // Puts a password into the desktop keyring; false (with the reason) when it cannot.
    using TKeyringWriter =
        std::function<bool(const QString& account, const QString& password, QString* why)>;
    // Tells the user something and waits until it was read.
    using TNotice = std::function<void(QWidget* parent, const QString& text)>;

    // `accounts` lists the desktop's Online Accounts (GNOME's own when empty).
    TMailStoreEditor(QString profilePath, QString storeFolder, QWidget* parent = nullptr,
                     TKeyringWriter keyring = {}, TNotice notice = {},
                     TSignInFields::TAccountLister accounts = {});

    // The address "Send a test message now" sends to: the phone's (the window's
    // RecipientAddress); an empty one leaves the sender's.
    void SetTestRecipient(const QString& recipient);
    // Writes the profile; false (after saying why) when it could not be written.
    bool Save();
    void SendTestMessage();
    // Replaces the "Test" of one kind of source (the inbox's server test).
    void SetSourceTester(TSourceKind kind, TSourceTester tester);
    void TestSource(TSourceKind kind);

    QTabWidget* Tabs() const { return tabs; }
    // The page inside a tab's scroll area, and its layout (aligned to the top):
    // a tab's groups go in there.
    QWidget* TabPage(TEditorTab tab) const;
    QVBoxLayout* TabLayout(TEditorTab tab) const;

private:
    // The fields of one calendar, task or inbox source.
    struct TSourceFields {
        QWidget* group = nullptr;
        QLineEdit* path = nullptr;
        QLineEdit* url = nullptr;
        QLineEdit* user = nullptr;
        QLineEdit* password = nullptr;
        QLineEdit* caFile = nullptr;
        QSpinBox* timeout = nullptr;
        QPushButton* test = nullptr;
        QLabel* result = nullptr;
        TSourceTester tester;
    };

    void BuildTabs();
    void AddTab(TEditorTab tab, const QString& title);
    void FitScreen();
    QWidget* BuildSourceGroup(TSourceKind kind, const QString& title, const QString& pathLabel,
                              bool folder, const QString& urlHint);
    TDesktopSourceFields* NewDesktopFields(TDesktopKind kind, const QString& name);
    void ListDesktop();
    void LoadSource(TSourceKind kind, const QString& path, const TSourceSettings& server);
    TSourceSettings SourceFromFields(TSourceKind kind, const TSourceSettings& loadedServer) const;
    QString SourcePasswordToStore(TSourceKind kind, const TSourceSettings& server);
    QWidget* BuildSendPage();
    TSignInFields* NewSignInFields(const QString& name, TSignInFields*& fields, QWidget* parent);
    QWidget* BuildTestRow();
    QWidget* BuildPushPage();
    QWidget* BuildApprisePage();
    void LoadPush(const TPushSettings& push);
    void PushFromFields(TPushSettings& push) const;
    QString PushTokenToStore(const TPushSettings& push);
    void Load(const TMailStoreProfile& profile);
    TMailStoreProfile FromFields() const;
    QString PasswordToStore(const TSendSettings& settings);
    void UpdateEnabled();
    bool PrepareLocalPaths(const TMailStoreProfile& profile);
    void UpdateSignIn(bool smtp);
    void accept() override;

    QString profilePath;
    QString storeFolder;
    TKeyringWriter keyring;
    TNotice notice;
    TSignInFields::TAccountLister accounts;
    TMailStoreProfile loaded;

    QTabWidget* tabs = nullptr;
    std::array<QVBoxLayout*, EditorTabCount> tabLayouts{};
    QLabel* problems = nullptr;
    std::array<TSourceFields, 3> sources;
    // The desktop's calendars and task lists, listed once either is switched on.
    TDesktopSourceFields* desktopCalendars = nullptr;
    TDesktopSourceFields* desktopTasks = nullptr;
    bool desktopAsked = false;
    TSignInFields* inboxSignIn = nullptr;
    TSignInFields* sendSignIn = nullptr;
    QComboBox* transport = nullptr;
    QLineEdit* outboxPath = nullptr;
    QLineEdit* url = nullptr;
    QCheckBox* startTls = nullptr;
    QLineEdit* user = nullptr;
    QLineEdit* password = nullptr;
    QLineEdit* passwordCommand = nullptr;
    QLineEdit* caFile = nullptr;
    QSpinBox* timeout = nullptr;
    QLineEdit* command = nullptr;
    QLineEdit* from = nullptr;
    QLineEdit* pushServer = nullptr;
    QLineEdit* pushToken = nullptr;
    QLineEdit* pushTokenCommand = nullptr;
    QCheckBox* pushDirect = nullptr;
    QCheckBox* pushApprise = nullptr;
    QLineEdit* testRecipient = nullptr;
    QPushButton* sendTest = nullptr;
    QLabel* testResult = nullptr;
};

} // namespace rp::mailstore
