// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/gui/SignInFields.h"

#include "platform/gui/OffGuiThread.h"
#include "platform/net/SignIn.h"

#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <utility>

namespace rp::mailstore {

namespace {

enum TMethod { kPassword = 0, kTokenCommand = 1, kOnlineAccounts = 2 };

std::vector<TOnlineMailAccount> DesktopAccounts() {
    return ConnectOnlineAccounts(10)->MailAccounts();
}

} // namespace

TSignInFields::TSignInFields(const QString& name, TAccountLister lister, QWidget* parent)
    : QWidget(parent), lister(lister ? std::move(lister) : TAccountLister(DesktopAccounts)) {
    form = new QFormLayout(this);
    form->setContentsMargins(0, 0, 0, 0);
    method = new QComboBox(this);
    method->setObjectName(name + QStringLiteral("Auth"));
    method->addItem(tr("Password"));
    method->addItem(tr("OAuth2, token from a command"));
    method->addItem(tr("OAuth2, account from GNOME Online Accounts"));
    tokenCommand = new QLineEdit(this);
    tokenCommand->setObjectName(name + QStringLiteral("TokenCommand"));
    tokenCommand->setPlaceholderText(QStringLiteral("oama access anna@outlook.com"));
    account = new QComboBox(this);
    account->setObjectName(name + QStringLiteral("Account"));
    accountsNote = new QLabel(this);
    accountsNote->setObjectName(name + QStringLiteral("Accounts"));
    accountsNote->setWordWrap(true);
    form->addRow(tr("Sign in with:"), method);
    form->addRow(tr("Token command:"), tokenCommand);
    form->addRow(tr("Online account:"), account);
    form->addRow(accountsNote);
    connect(method, &QComboBox::currentIndexChanged, this, [this] {
        ShowChoice();
        if (changed)
            changed();
    });
    ShowChoice();
}

void TSignInFields::Load(const TSignIn& signIn) {
    tokenCommand->setText(signIn.tokenCommand);
    if (signIn.FromOnlineAccounts())
        SelectAccount(signIn.account.trimmed());
    method->setCurrentIndex(!signIn.OAuth2()              ? kPassword
                            : signIn.FromOnlineAccounts() ? kOnlineAccounts
                                                          : kTokenCommand);
    ShowChoice();
}

TSignIn TSignInFields::SignIn() const {
    switch (method->currentIndex()) {
    case kTokenCommand:
        return {TAuthKind::OAuth2, tokenCommand->text().trimmed(), {}};
    case kOnlineAccounts: {
        const QString choice = account->currentData().toString();
        return {TAuthKind::OAuth2, tokenCommand->text().trimmed(),
                choice.isEmpty() ? QStringLiteral("goa") : choice};
    }
    default:
        return {};
    }
}

bool TSignInFields::UsesPassword() const {
    return method->currentIndex() == kPassword;
}

bool TSignInFields::UsesOnlineAccounts() const {
    return method->currentIndex() == kOnlineAccounts;
}

void TSignInFields::ShowChoice() {
    const int chosen = method->currentIndex();
    form->setRowVisible(tokenCommand, chosen == kTokenCommand);
    form->setRowVisible(account, chosen == kOnlineAccounts);
    form->setRowVisible(accountsNote, chosen == kOnlineAccounts);
    if (chosen == kOnlineAccounts)
        ListAccounts();
}

// Online Accounts may take its time to answer, or start first: the dialog stays usable.
void TSignInFields::ListAccounts() {
    if (listing)
        return;
    listing = true;
    accountsNote->setText(tr("Asking GNOME Online Accounts..."));
    using TAnswer = std::pair<std::vector<TOnlineMailAccount>, QString>;
    RunOffGuiThread(
        this,
        [list = lister]() -> TAnswer {
            try {
                return {list(), QString()};
            } catch (const outlook::EAutomationError& error) {
                return {{}, error.Message()};
            }
        },
        [this](const TAnswer& answer) { TakeAccounts(answer.first, answer.second); });
}

void TSignInFields::TakeAccounts(const std::vector<TOnlineMailAccount>& accounts,
                                 const QString& problem) {
    const QString kept = account->currentData().toString();
    account->clear();
    int usable = 0;
    for (const TOnlineMailAccount& found : accounts) {
        if (!found.oauth2)
            continue;
        ++usable;
        const QString text =
            found.attentionNeeded
                ? tr("%1 (%2, needs signing in again)").arg(found.address, found.provider)
                : tr("%1 (%2)").arg(found.address, found.provider);
        account->addItem(text, OnlineAccountChoice(found.address));
    }
    SelectAccount(kept);
    if (!problem.isEmpty())
        accountsNote->setText(problem);
    else if (usable == 0)
        accountsNote->setText(tr("GNOME Online Accounts has no mail account that signs in with "
                                 "OAuth2; add your Google or Microsoft account in Settings, "
                                 "Online Accounts, with Mail switched on."));
    else
        accountsNote->setText(tr("Server and user name come from the account."));
}

// Keeps a choice the list does not hold (Online Accounts not answering yet).
void TSignInFields::SelectAccount(const QString& choice) {
    if (choice.isEmpty())
        return;
    int index = account->findData(choice, Qt::UserRole, Qt::MatchFixedString);
    if (index < 0) {
        account->addItem(choice, choice);
        index = account->count() - 1;
    }
    account->setCurrentIndex(index);
}

} // namespace rp::mailstore
