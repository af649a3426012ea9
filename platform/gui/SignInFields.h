// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// How the inbox's or the sending server's login proves itself, as the Mail Store
// dialog edits it: with the password fields beside it, with an OAuth2 token
// command, or with a mail account of GNOME Online Accounts. The accounts are
// listed on a worker thread, and only once that choice is made, so opening the
// dialog never starts Online Accounts.

#include "platform/common/ProfileTypes.h"
#include "platform/net/OnlineAccounts.h"

#include <QWidget>
#include <functional>
#include <vector>

class QComboBox;
class QFormLayout;
class QLabel;
class QLineEdit;

namespace rp::mailstore {

class TSignInFields : public QWidget {
public:
    // The desktop's mail accounts; throws ESignInError. Runs on a worker thread.
    using TAccountLister = std::function<std::vector<TOnlineMailAccount>()>;

    // `name` prefixes the fields' object names ("inbox": inboxAuth...).
    TSignInFields(const QString& name, TAccountLister lister, QWidget* parent);

    void Load(const TSignIn& signIn);
    TSignIn SignIn() const;
    bool UsesPassword() const;
    bool UsesOnlineAccounts() const;
    // Called when the choice changes.
    std::function<void()> changed;

private:
    void ShowChoice();
    void ListAccounts();
    void TakeAccounts(const std::vector<TOnlineMailAccount>& accounts, const QString& problem);
    void SelectAccount(const QString& choice);

    TAccountLister lister;
    bool listing = false;
    QFormLayout* form = nullptr;
    QComboBox* method = nullptr;
    QLineEdit* tokenCommand = nullptr;
    QComboBox* account = nullptr;
    QLabel* accountsNote = nullptr;
};

} // namespace rp::mailstore
