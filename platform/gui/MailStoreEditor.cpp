// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/gui/MailStoreEditor.h"

#include "engine/OutlookModel.h"
#include "platform/calendar/CalDavMirror.h"
#include "platform/calendar/DesktopSource.h"
#include "platform/delivery/MailTransport.h"
#include "platform/delivery/PushRouter.h"
#include "platform/delivery/TestMessage.h"
#include "platform/gui/OffGuiThread.h"
#include "platform/inbox/ImapInbox.h"
#include "platform/net/Keyring.h"
#include "platform/net/SignIn.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>

namespace rp::mailstore {

namespace {

QLineEdit* NamedEdit(const char* name, QWidget* parent) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QLatin1String(name));
    edit->setMinimumWidth(320);
    return edit;
}

// A path field with a button that opens a file or folder chooser.
QWidget* PathRow(QLineEdit* edit, bool folder, QWidget* parent) {
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(edit, 1);
    auto* browse = new QPushButton(QObject::tr("Browse..."), row);
    layout->addWidget(browse);
    QObject::connect(browse, &QPushButton::clicked, row, [edit, folder, parent] {
        const QString chosen =
            folder ? QFileDialog::getExistingDirectory(parent, QString(), edit->text())
                   : QFileDialog::getOpenFileName(parent, QString(), edit->text());
        if (!chosen.isEmpty())
            edit->setText(chosen);
    });
    return row;
}

void ShowNotice(QWidget* parent, const QString& text) {
    QMessageBox::information(parent, QObject::tr("Mail Store"), text);
}

TOutgoingMessage TestMessage(const QString& from, const QString& to) {
    return {from, to, QString::fromLatin1(TestSubject), QString::fromLatin1(TestBody)};
}

const char* KindName(TSourceKind kind) {
    switch (kind) {
    case TSourceKind::Calendar:
        return "calendar";
    case TSourceKind::Tasks:
        return "tasks";
    case TSourceKind::Inbox:
        break;
    }
    return "inbox";
}

bool SamePath(const QString& a, const QString& b) {
    return QDir::cleanPath(ExpandHome(a)) == QDir::cleanPath(ExpandHome(b));
}

bool IsMaildir(const QString& path) {
    const QDir folder(ExpandHome(path));
    return folder.exists(QStringLiteral("cur")) && folder.exists(QStringLiteral("new"));
}

// The local paths the profile names that are not there, one line each.
QStringList MissingPaths(const TMailStoreProfile& profile) {
    QStringList missing;
    const auto need = [&missing](bool used, const QString& path, const QString& what) {
        if (used && !path.isEmpty() && !QFileInfo::exists(ExpandHome(path)))
            missing.append(QObject::tr("The %1 \"%2\" does not exist.").arg(what, path));
    };
    need(ReadsCalendarPath(profile), profile.calendarPath, QObject::tr("calendar file or folder"));
    need(ReadsTasksPath(profile), profile.tasksPath, QObject::tr("task file or folder"));
    need(ReadsInboxPath(profile), profile.inboxPath, QObject::tr("inbox folder"));
    if (ReadsInboxPath(profile) && QFileInfo(ExpandHome(profile.inboxPath)).isDir() &&
        !IsMaildir(profile.inboxPath))
        missing.append(QObject::tr("The inbox folder \"%1\" is not a Maildir: it has no cur "
                                   "and new folders.")
                           .arg(profile.inboxPath));
    return missing;
}

// Runs on the test's worker thread: the password lookup may wait for the keyring,
// the token for its command or Online Accounts.
QString ImapInboxTester(const TSourceSettings& settings) {
    return TestImapInbox(settings, TLoginSource(SignInOf(settings)));
}

} // namespace

TMailStoreEditor::TMailStoreEditor(QString profilePath, QString storeFolder, QWidget* parent,
                                   TKeyringWriter keyring, TNotice notice,
                                   TSignInFields::TAccountLister accounts)
    : QDialog(parent), profilePath(std::move(profilePath)), storeFolder(std::move(storeFolder)),
      keyring(keyring ? std::move(keyring) : TKeyringWriter(WriteKeyringPassword)),
      notice(notice ? std::move(notice) : TNotice(ShowNotice)), accounts(std::move(accounts)) {
    setWindowTitle(tr("Mail Store"));
    const auto calendarTester = [](const TSourceSettings& settings) {
        return ProbeCalendarSource(settings, QStringLiteral("calendar"));
    };
    sources[0].tester = calendarTester;
    sources[1].tester = [](const TSourceSettings& settings) {
        return ProbeCalendarSource(settings, QStringLiteral("task list"));
    };
    sources[2].tester = ImapInboxTester;
    BuildTabs();
    try {
        loaded = LoadProfile(this->profilePath, this->storeFolder);
    } catch (const outlook::EAutomationError& error) {
        loaded = LoadProfile(QString(), this->storeFolder);
        this->notice(this, error.Message());
    }
    Load(loaded);
    FitScreen();
}

// One tab per part, each scrolling on its own, so the dialog fits a small screen
// with OK and Cancel always in view, whatever a tab holds.
void TMailStoreEditor::BuildTabs() {
    auto* layout = new QVBoxLayout(this);
    auto* where = new QLabel(tr("Profile: %1").arg(profilePath), this);
    where->setTextInteractionFlags(Qt::TextSelectableByMouse);
    where->setWordWrap(true);
    layout->addWidget(where);
    problems = new QLabel(this);
    problems->setObjectName(QStringLiteral("profileProblems"));
    problems->setWordWrap(true);
    problems->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QPalette alert = problems->palette();
    alert.setColor(QPalette::WindowText, QColor(170, 0, 0));
    problems->setPalette(alert);
    layout->addWidget(problems);

    tabs = new QTabWidget(this);
    tabs->setObjectName(QStringLiteral("tabs"));
    AddTab(TEditorTab::Calendar, tr("&Calendar"));
    AddTab(TEditorTab::Tasks, tr("&Tasks"));
    AddTab(TEditorTab::Inbox, tr("&Inbox"));
    AddTab(TEditorTab::Sending, tr("&Sending"));
    AddTab(TEditorTab::Push, tr("&Push"));
    TabLayout(TEditorTab::Calendar)
        ->addWidget(NewDesktopFields(TDesktopKind::Calendar, QStringLiteral("calendar")));
    TabLayout(TEditorTab::Calendar)
        ->addWidget(BuildSourceGroup(TSourceKind::Calendar, tr("Calendar"),
                                     tr("Or a local .ics file or folder:"), false,
                                     QStringLiteral("https://dav.example.org/calendars/me/"
                                                    "personal/")));
    TabLayout(TEditorTab::Tasks)
        ->addWidget(NewDesktopFields(TDesktopKind::Tasks, QStringLiteral("tasks")));
    TabLayout(TEditorTab::Tasks)
        ->addWidget(BuildSourceGroup(TSourceKind::Tasks, tr("Tasks"),
                                     tr("Or a local .ics file or folder:"), false,
                                     QStringLiteral("https://dav.example.org/calendars/me/"
                                                    "tasks/")));
    TabLayout(TEditorTab::Inbox)
        ->addWidget(BuildSourceGroup(TSourceKind::Inbox, tr("Inbox"),
                                     tr("Or a local Maildir folder:"), true,
                                     QStringLiteral("imaps://mail.example.org:993/INBOX")));
    TabLayout(TEditorTab::Sending)->addWidget(BuildSendPage());
    TabLayout(TEditorTab::Sending)->addWidget(BuildTestRow());
    TabLayout(TEditorTab::Push)->addWidget(BuildPushPage());
    TabLayout(TEditorTab::Push)->addWidget(BuildApprisePage());
    layout->addWidget(tabs, 1);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->setObjectName(QStringLiteral("buttons"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

void TMailStoreEditor::AddTab(TEditorTab tab, const QString& title) {
    auto* scroll = new QScrollArea(tabs);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    auto* page = new QWidget(scroll);
    auto* layout = new QVBoxLayout(page);
    // Groups added later line up under the first, whatever room is left.
    layout->setAlignment(Qt::AlignTop);
    tabLayouts[static_cast<size_t>(tab)] = layout;
    scroll->setWidget(page);
    tabs->addTab(scroll, title);
}

QVBoxLayout* TMailStoreEditor::TabLayout(TEditorTab tab) const {
    return tabLayouts[static_cast<size_t>(tab)];
}

QWidget* TMailStoreEditor::TabPage(TEditorTab tab) const {
    return TabLayout(tab)->parentWidget();
}

// As wide as the widest tab needs and as high as the tallest, but never larger
// than the screen's free area; a tab that needs more scrolls.
void TMailStoreEditor::FitScreen() {
    QSize wanted = sizeHint();
    for (const QVBoxLayout* page : tabLayouts)
        wanted = wanted.expandedTo(
            QSize(page->sizeHint().width() + 60, page->sizeHint().height() + 190));
    const QScreen* screen = parentWidget() ? parentWidget()->screen() : this->screen();
    const QRect free = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
    // Room for the window manager's frame and title bar.
    const QSize room(free.width() - 16, free.height() - 48);
    resize(wanted.boundedTo(room));
}

void TMailStoreEditor::SetTestRecipient(const QString& recipient) {
    if (!recipient.trimmed().isEmpty())
        testRecipient->setText(recipient);
}

// One source: a server (address, login, trust, time-out, "Test") or local files.
QWidget* TMailStoreEditor::BuildSourceGroup(TSourceKind kind, const QString& title,
                                            const QString& pathLabel, bool folder,
                                            const QString& urlHint) {
    TSourceFields& fields = sources[static_cast<size_t>(kind)];
    const QByteArray name = KindName(kind);
    auto* box = new QGroupBox(title, this);
    fields.group = box;
    auto* form = new QFormLayout(box);
    fields.url = NamedEdit(name + "Url", box);
    fields.url->setPlaceholderText(urlHint);
    fields.user = NamedEdit(name + "User", box);
    fields.password = NamedEdit(name + "Password", box);
    fields.password->setEchoMode(QLineEdit::Password);
    fields.caFile = NamedEdit(name + "CaFile", box);
    fields.timeout = new QSpinBox(box);
    fields.timeout->setObjectName(QString::fromLatin1(name + "Timeout"));
    fields.timeout->setRange(1, 600);
    fields.timeout->setSuffix(tr(" seconds"));
    fields.path = NamedEdit(name + "Path", box);
    fields.test = new QPushButton(tr("Test"), box);
    fields.test->setObjectName(QString::fromLatin1(name + "Test"));
    fields.result = new QLabel(box);
    fields.result->setObjectName(QString::fromLatin1(name + "TestResult"));
    fields.result->setWordWrap(true);
    fields.result->setTextInteractionFlags(Qt::TextSelectableByMouse);
    form->addRow(tr("Server address:"), fields.url);
    form->addRow(tr("User name:"), fields.user);
    form->addRow(tr("Password:"), fields.password);
    if (kind == TSourceKind::Inbox)
        form->addRow(NewSignInFields(QStringLiteral("inbox"), inboxSignIn, box));
    form->addRow(tr("CA certificate file:"), PathRow(fields.caFile, false, box));
    form->addRow(tr("Time-out:"), fields.timeout);
    form->addRow(QString(), fields.test);
    form->addRow(fields.result);
    form->addRow(pathLabel, PathRow(fields.path, folder, box));
    connect(fields.test, &QPushButton::clicked, this, [this, kind] { TestSource(kind); });
    connect(fields.url, &QLineEdit::textChanged, this, [this] { UpdateEnabled(); });
    return box;
}

TDesktopSourceFields* TMailStoreEditor::NewDesktopFields(TDesktopKind kind, const QString& name) {
    auto* fields = new TDesktopSourceFields(kind, name, this);
    (kind == TDesktopKind::Calendar ? desktopCalendars : desktopTasks) = fields;
    fields->changed = [this] {
        UpdateEnabled();
        ListDesktop();
    };
    return fields;
}

// Once either is switched on, both lists are asked of the store in one go, off
// the GUI thread; after a failure, switching on asks again.
void TMailStoreEditor::ListDesktop() {
    if (desktopAsked || !(desktopCalendars->isChecked() || desktopTasks->isChecked()))
        return;
    desktopAsked = true;
    desktopCalendars->ShowAsking();
    desktopTasks->ShowAsking();
    RunOffGuiThread(
        this, [] { return ListDesktopSources(); },
        [this](const TDesktopListing& listing) {
            desktopCalendars->TakeListing(listing.calendars, listing.problem);
            desktopTasks->TakeListing(listing.taskLists, listing.problem);
            desktopAsked = listing.problem.isEmpty();
        });
}

void TMailStoreEditor::SetSourceTester(TSourceKind kind, TSourceTester tester) {
    sources[static_cast<size_t>(kind)].tester = std::move(tester);
}

void TMailStoreEditor::LoadSource(TSourceKind kind, const QString& path,
                                  const TSourceSettings& server) {
    TSourceFields& fields = sources[static_cast<size_t>(kind)];
    fields.path->setText(path);
    fields.url->setText(server.url);
    fields.user->setText(server.user);
    fields.password->clear();
    fields.password->setPlaceholderText(server.password.isEmpty() ? QString()
                                                                  : tr("(kept in the profile)"));
    fields.caFile->setText(server.caFile);
    fields.timeout->setValue(server.timeoutSeconds);
}

TSourceSettings TMailStoreEditor::SourceFromFields(TSourceKind kind,
                                                   const TSourceSettings& loadedServer) const {
    const TSourceFields& fields = sources[static_cast<size_t>(kind)];
    TSourceSettings server = loadedServer;
    server.url = NormalizedSourceUrl(fields.url->text());
    server.user = fields.user->text().trimmed();
    if (!fields.password->text().isEmpty())
        server.password = fields.password->text();
    server.caFile = fields.caFile->text().trimmed();
    server.timeoutSeconds = fields.timeout->value();
    return server;
}

void TMailStoreEditor::TestSource(TSourceKind kind) {
    TSourceFields& fields = sources[static_cast<size_t>(kind)];
    const TMailStoreProfile profile = FromFields();
    const TSourceSettings settings = kind == TSourceKind::Calendar ? profile.calendarServer
                                     : kind == TSourceKind::Tasks  ? profile.tasksServer
                                                                   : profile.inboxServer;
    if (!settings.HasServer()) {
        fields.result->setText(tr("Fill in the server address first."));
        return;
    }
    // A server may take its whole time-out to answer; the dialog stays usable.
    RunTest(fields.test, fields.result,
            [tester = fields.tester, settings] { return tester(settings); });
}

QWidget* TMailStoreEditor::BuildSendPage() {
    auto* box = new QGroupBox(tr("How notices are sent"), this);
    auto* form = new QFormLayout(box);
    transport = new QComboBox(box);
    transport->setObjectName(QStringLiteral("transport"));
    transport->addItem(tr("Write them to an outbox folder"), TransportName(TTransportKind::Outbox));
    transport->addItem(tr("Send them through an SMTP server"), TransportName(TTransportKind::Smtp));
    transport->addItem(tr("Hand them to the sendmail command"),
                       TransportName(TTransportKind::Sendmail));
    connect(transport, &QComboBox::currentIndexChanged, this, [this] { UpdateEnabled(); });
    from = NamedEdit("from", box);
    outboxPath = NamedEdit("outboxPath", box);
    url = NamedEdit("url", box);
    url->setPlaceholderText(QStringLiteral("smtp://mail.example.org:587"));
    startTls = new QCheckBox(tr("Use STARTTLS on smtp:// addresses"), box);
    startTls->setObjectName(QStringLiteral("startTls"));
    user = NamedEdit("user", box);
    password = NamedEdit("password", box);
    password->setEchoMode(QLineEdit::Password);
    passwordCommand = NamedEdit("passwordCommand", box);
    caFile = NamedEdit("caFile", box);
    timeout = new QSpinBox(box);
    timeout->setObjectName(QStringLiteral("timeout"));
    timeout->setRange(1, 600);
    timeout->setSuffix(tr(" seconds"));
    command = NamedEdit("command", box);
    form->addRow(tr("Send with:"), transport);
    form->addRow(tr("From:"), from);
    form->addRow(tr("Outbox folder:"), PathRow(outboxPath, true, box));
    form->addRow(tr("SMTP server:"), url);
    form->addRow(QString(), startTls);
    form->addRow(tr("User name:"), user);
    form->addRow(tr("Password:"), password);
    form->addRow(tr("Or password command:"), passwordCommand);
    form->addRow(NewSignInFields(QStringLiteral("send"), sendSignIn, box));
    form->addRow(tr("CA certificate file:"), PathRow(caFile, false, box));
    form->addRow(tr("Time-out:"), timeout);
    form->addRow(tr("Sendmail command:"), command);
    return box;
}

// How the inbox's or the SMTP server's login proves itself: password or OAuth2.
TSignInFields* TMailStoreEditor::NewSignInFields(const QString& name, TSignInFields*& fields,
                                                 QWidget* parent) {
    fields = new TSignInFields(name, accounts, parent);
    fields->changed = [this] { UpdateEnabled(); };
    return fields;
}

QWidget* TMailStoreEditor::BuildPushPage() {
    auto* box = new QGroupBox(tr("Push to the phone's ntfy app (ntfy-TOPIC@HOST addresses)"), this);
    auto* form = new QFormLayout(box);
    pushDirect = new QCheckBox(tr("Publish ntfy-... addresses straight to the ntfy server"), box);
    pushDirect->setObjectName(QStringLiteral("pushDirect"));
    pushServer = NamedEdit("pushServer", box);
    pushServer->setPlaceholderText(tr("https://HOST of the address"));
    pushToken = NamedEdit("pushToken", box);
    pushToken->setEchoMode(QLineEdit::Password);
    pushTokenCommand = NamedEdit("pushTokenCommand", box);
    form->addRow(QString(), pushDirect);
    form->addRow(tr("ntfy server:"), pushServer);
    form->addRow(tr("Access token:"), pushToken);
    form->addRow(tr("Or token command:"), pushTokenCommand);
    connect(pushDirect, &QCheckBox::toggled, this, [this](bool on) {
        for (QWidget* field : {static_cast<QWidget*>(pushServer), static_cast<QWidget*>(pushToken),
                               static_cast<QWidget*>(pushTokenCommand)})
            field->setEnabled(on);
    });
    return box;
}

QWidget* TMailStoreEditor::BuildApprisePage() {
    auto* box = new QGroupBox(tr("Telegram, Gotify and the rest (SERVICE://... addresses)"), this);
    auto* layout = new QVBoxLayout(box);
    pushApprise =
        new QCheckBox(tr("Send Apprise addresses (tgram://, gotify://...) through apprise"), box);
    pushApprise->setObjectName(QStringLiteral("pushApprise"));
    layout->addWidget(pushApprise);
    return box;
}

void TMailStoreEditor::LoadPush(const TPushSettings& push) {
    pushDirect->setChecked(push.direct);
    pushApprise->setChecked(push.apprise);
    pushServer->setText(push.server);
    pushToken->clear();
    pushToken->setPlaceholderText(push.token.isEmpty() ? QString() : tr("(kept in the profile)"));
    pushTokenCommand->setText(push.tokenCommand);
    for (QWidget* field : {static_cast<QWidget*>(pushServer), static_cast<QWidget*>(pushToken),
                           static_cast<QWidget*>(pushTokenCommand)})
        field->setEnabled(push.direct);
}

void TMailStoreEditor::PushFromFields(TPushSettings& push) const {
    push.direct = pushDirect->isChecked();
    push.apprise = pushApprise->isChecked();
    push.server = pushServer->text().trimmed();
    if (!pushToken->text().isEmpty())
        push.token = pushToken->text().trimmed();
    push.tokenCommand = pushTokenCommand->text().trimmed();
}

// A typed token goes to the keyring under its server's name; where the server is
// not known yet or there is no keyring, to the profile.
QString TMailStoreEditor::PushTokenToStore(const TPushSettings& push) {
    if (pushToken->text().isEmpty())
        return push.token;
    QUrl server(push.server);
    if (push.server.isEmpty() && IsPushAddress(testRecipient->text())) {
        try {
            server = PublishUrl(push, ParsePushAddress(testRecipient->text()));
        } catch (const outlook::EAutomationError&) {
        }
    }
    QString why = tr("the ntfy server is not known yet");
    if (!server.host().isEmpty() && keyring(PushKeyringAccount(server), push.token, &why))
        return {};
    notice(this, tr("The access token could not be put into the desktop keyring (%1). It will "
                    "be kept in %2, which only you can read.")
                     .arg(why, profilePath));
    return push.token;
}

QWidget* TMailStoreEditor::BuildTestRow() {
    auto* box = new QGroupBox(tr("Test"), this);
    auto* form = new QFormLayout(box);
    testRecipient = NamedEdit("testRecipient", box);
    sendTest = new QPushButton(tr("Send a test message now"), box);
    sendTest->setObjectName(QStringLiteral("sendTest"));
    testResult = new QLabel(box);
    testResult->setObjectName(QStringLiteral("testResult"));
    testResult->setWordWrap(true);
    testResult->setTextInteractionFlags(Qt::TextSelectableByMouse);
    form->addRow(tr("Send it to:"), testRecipient);
    form->addRow(QString(), sendTest);
    form->addRow(testResult);
    connect(sendTest, &QPushButton::clicked, this, &TMailStoreEditor::SendTestMessage);
    return box;
}

void TMailStoreEditor::Load(const TMailStoreProfile& profile) {
    const TSendSettings& send = profile.send;
    LoadSource(TSourceKind::Calendar, profile.calendarPath, profile.calendarServer);
    LoadSource(TSourceKind::Tasks, profile.tasksPath, profile.tasksServer);
    LoadSource(TSourceKind::Inbox, profile.inboxPath, profile.inboxServer);
    desktopCalendars->Load(profile.calendarDesktop);
    desktopTasks->Load(profile.tasksDesktop);
    transport->setCurrentIndex(transport->findData(TransportName(send.transport)));
    outboxPath->setText(send.outboxPath);
    url->setText(send.url);
    startTls->setChecked(send.startTls);
    user->setText(send.user);
    password->setPlaceholderText(send.password.isEmpty() ? QString() : tr("(kept in the profile)"));
    passwordCommand->setText(send.passwordCommand);
    caFile->setText(send.caFile);
    timeout->setValue(send.timeoutSeconds);
    command->setText(send.command);
    from->setText(send.from);
    // The phone's address, once the window has said which; until then the sender's.
    if (testRecipient->text().isEmpty())
        testRecipient->setText(send.from);
    problems->setText(profile.problems.join(QLatin1Char('\n')));
    problems->setVisible(!profile.problems.isEmpty());
    LoadPush(profile.push);
    inboxSignIn->Load(profile.inboxServer.signIn);
    sendSignIn->Load(send.signIn);
    UpdateEnabled();
}

void TMailStoreEditor::UpdateEnabled() {
    const TTransportKind kind = TransportFromName(transport->currentData().toString());
    outboxPath->parentWidget()->setEnabled(kind == TTransportKind::Outbox);
    for (QWidget* field : {static_cast<QWidget*>(url), static_cast<QWidget*>(startTls),
                           static_cast<QWidget*>(user), static_cast<QWidget*>(password),
                           static_cast<QWidget*>(passwordCommand), caFile->parentWidget()})
        field->setEnabled(kind == TTransportKind::Smtp);
    command->setEnabled(kind == TTransportKind::Sendmail);
    // A source with a server reads no local files.
    for (const TSourceFields& fields : sources)
        fields.path->parentWidget()->setEnabled(fields.url->text().trimmed().isEmpty());
    // The desktop's store serves instead: Path= and Url= wait unused.
    sources[0].group->setEnabled(!desktopCalendars->isChecked());
    sources[1].group->setEnabled(!desktopTasks->isChecked());
    timeout->setEnabled(kind != TTransportKind::Outbox);
    UpdateSignIn(kind == TTransportKind::Smtp);
}

// A token needs no password; an Online Accounts account names the server and user.
void TMailStoreEditor::UpdateSignIn(bool smtp) {
    const TSourceFields& inbox = sources[static_cast<size_t>(TSourceKind::Inbox)];
    const bool inboxFromAccount = inboxSignIn->UsesOnlineAccounts();
    inbox.password->setEnabled(inboxSignIn->UsesPassword());
    inbox.url->setEnabled(!inboxFromAccount);
    inbox.user->setEnabled(!inboxFromAccount);
    if (inboxFromAccount)
        inbox.path->parentWidget()->setEnabled(false);
    sendSignIn->setEnabled(smtp);
    password->setEnabled(smtp && sendSignIn->UsesPassword());
    passwordCommand->setEnabled(smtp && sendSignIn->UsesPassword());
    url->setEnabled(smtp && !sendSignIn->UsesOnlineAccounts());
    user->setEnabled(smtp && !sendSignIn->UsesOnlineAccounts());
}

TMailStoreProfile TMailStoreEditor::FromFields() const {
    TMailStoreProfile profile = loaded;
    profile.calendarPath = sources[0].path->text().trimmed();
    profile.tasksPath = sources[1].path->text().trimmed();
    profile.inboxPath = sources[2].path->text().trimmed();
    profile.calendarServer = SourceFromFields(TSourceKind::Calendar, loaded.calendarServer);
    profile.tasksServer = SourceFromFields(TSourceKind::Tasks, loaded.tasksServer);
    profile.inboxServer = SourceFromFields(TSourceKind::Inbox, loaded.inboxServer);
    profile.calendarDesktop = desktopCalendars->Selection();
    profile.tasksDesktop = desktopTasks->Selection();
    TSendSettings& send = profile.send;
    send.transport = TransportFromName(transport->currentData().toString());
    send.outboxPath = outboxPath->text().trimmed();
    send.url = url->text().trimmed();
    send.startTls = startTls->isChecked();
    send.user = user->text().trimmed();
    if (!password->text().isEmpty())
        send.password = password->text();
    send.passwordCommand = passwordCommand->text().trimmed();
    send.caFile = caFile->text().trimmed();
    send.timeoutSeconds = timeout->value();
    send.command = command->text().trimmed();
    send.from = from->text().trimmed();
    PushFromFields(profile.push);
    profile.inboxServer.signIn = inboxSignIn->SignIn();
    send.signIn = sendSignIn->SignIn();
    return profile;
}

// A typed password goes to the keyring; only where there is none, to the profile.
QString TMailStoreEditor::PasswordToStore(const TSendSettings& settings) {
    if (password->text().isEmpty())
        return settings.password;
    QString why;
    if (keyring(KeyringAccount(settings), password->text(), &why))
        return {};
    notice(this, tr("The password could not be put into the desktop keyring (%1). It will be "
                    "kept in %2, which only you can read.")
                     .arg(why, profilePath));
    return password->text();
}

// As for sending: the keyring under the server's host, else the profile.
QString TMailStoreEditor::SourcePasswordToStore(TSourceKind kind, const TSourceSettings& server) {
    const QString typed = sources[static_cast<size_t>(kind)].password->text();
    if (typed.isEmpty())
        return server.password;
    QString why;
    if (keyring(KeyringAccount(server), typed, &why))
        return {};
    notice(this, tr("The password could not be put into the desktop keyring (%1). It will be "
                    "kept in %2, which only you can read.")
                     .arg(why, profilePath));
    return typed;
}

bool TMailStoreEditor::Save() {
    for (const TDesktopSourceFields* desktop : {desktopCalendars, desktopTasks})
        if (const QString missing = desktop->Incomplete(); !missing.isEmpty()) {
            notice(this, missing);
            return false;
        }
    TMailStoreProfile profile = FromFields();
    if (!PrepareLocalPaths(profile))
        return false;
    profile.send.password = PasswordToStore(profile.send);
    profile.push.token = PushTokenToStore(profile.push);
    profile.calendarServer.password =
        SourcePasswordToStore(TSourceKind::Calendar, profile.calendarServer);
    profile.tasksServer.password = SourcePasswordToStore(TSourceKind::Tasks, profile.tasksServer);
    profile.inboxServer.password = SourcePasswordToStore(TSourceKind::Inbox, profile.inboxServer);
    try {
        SaveProfile(profile, profilePath);
    } catch (const EProfileError& error) {
        notice(this, error.Message());
        return false;
    }
    loaded = profile;
    password->clear();
    Load(loaded);
    return true;
}

// The embedded store's own files are made where the profile names them, as a
// start without a profile makes them; any other local path must exist already,
// or it is named here before the profile is saved.
bool TMailStoreEditor::PrepareLocalPaths(const TMailStoreProfile& profile) {
    const TMailStoreProfile embedded = LoadProfile(QString(), storeFolder);
    const bool usesEmbedded =
        (ReadsCalendarPath(profile) && SamePath(profile.calendarPath, embedded.calendarPath)) ||
        (ReadsTasksPath(profile) && SamePath(profile.tasksPath, embedded.tasksPath)) ||
        (ReadsInboxPath(profile) && SamePath(profile.inboxPath, embedded.inboxPath));
    try {
        if (usesEmbedded)
            CreateDefaultStore(storeFolder);
    } catch (const outlook::EAutomationError& error) {
        notice(this, error.Message());
        return false;
    }
    const QStringList missing = MissingPaths(profile);
    if (missing.isEmpty())
        return true;
    notice(this, missing.join(QLatin1Char('\n')) +
                     tr("\n\nCorrect the path, or fill in a server address instead."));
    return false;
}

void TMailStoreEditor::accept() {
    if (Save())
        QDialog::accept();
}

void TMailStoreEditor::SendTestMessage() {
    const TMailStoreProfile profile = FromFields();
    const TSendSettings settings = profile.send;
    const TOutgoingMessage message = TestMessage(settings.from, testRecipient->text());
    sendTest->setEnabled(false);
    testResult->setText(tr("Sending..."));
    // The server may take its whole time-out to answer; the dialog stays usable.
    RunOffGuiThread(
        this,
        [profile, settings, message]() -> QString {
            try {
                // A push address goes to its ntfy server, as the notices will.
                return TPushRouter(profile, CreateTransport(settings)).SendMessage(message);
            } catch (const ESignInError& error) {
                return tr("The test message could not be sent: %1").arg(error.Explained());
            } catch (const outlook::EAutomationError& error) {
                return tr("The test message could not be sent: %1").arg(error.Message());
            }
        },
        [this](const QString& answer) {
            testResult->setText(answer);
            sendTest->setEnabled(true);
        });
}

} // namespace rp::mailstore
