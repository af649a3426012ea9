#include "platform/mailstore/Keyring.h"

#include "platform/mailstore/MailStoreFiles.h"

#include <QEventLoop>
#include <QTimer>
#include <QUrl>

#ifdef RINGPOST_HAVE_KEYCHAIN
#include <qt6keychain/keychain.h>
#endif

namespace rp::mailstore {

namespace {

[[maybe_unused]] constexpr int kKeyringWaitMs = 10000;
[[maybe_unused]] const char* const kService = "Ringpost Mail Store";

#ifdef RINGPOST_HAVE_KEYCHAIN
// Runs a keychain job to its end on this thread's event loop, or gives up after
// a while (no keyring daemon answers); true when it finished.
bool RunJob(QKeychain::Job* job) {
    QEventLoop loop;
    bool finished = false;
    QObject::connect(job, &QKeychain::Job::finished, &loop, [&] {
        finished = true;
        loop.quit();
    });
    QTimer::singleShot(kKeyringWaitMs, &loop, &QEventLoop::quit);
    job->setAutoDelete(false);
    job->start();
    if (!finished)
        loop.exec();
    if (!finished)
        job->setAutoDelete(true); // it deletes itself whenever it ends
    else
        delete job;
    return finished;
}
#endif

} // namespace

QString KeyringAccount(const TSendSettings& settings) {
    return settings.user + QLatin1Char('@') + QUrl(settings.url.trimmed()).host();
}

QString ReadKeyringPassword([[maybe_unused]] const QString& account) {
#ifdef RINGPOST_HAVE_KEYCHAIN
    auto* job = new QKeychain::ReadPasswordJob(QString::fromLatin1(kService));
    job->setKey(account);
    if (!RunJob(job)) {
        qCWarning(lcMailStore) << "The desktop keyring did not answer";
        return {};
    }
    if (job->error() != QKeychain::NoError) {
        qCWarning(lcMailStore).noquote()
            << "No password in the desktop keyring:" << job->errorString();
        return {};
    }
    return job->textData();
#else
    return {};
#endif
}

bool WriteKeyringPassword([[maybe_unused]] const QString& account,
                          [[maybe_unused]] const QString& password, QString* why) {
#ifdef RINGPOST_HAVE_KEYCHAIN
    auto* job = new QKeychain::WritePasswordJob(QString::fromLatin1(kService));
    job->setKey(account);
    job->setTextData(password);
    if (!RunJob(job)) {
        if (why)
            *why = QStringLiteral("the desktop keyring did not answer");
        return false;
    }
    if (job->error() != QKeychain::NoError) {
        if (why)
            *why = job->errorString();
        return false;
    }
    return true;
#else
    if (why)
        *why = QStringLiteral("this build has no keyring support");
    return false;
#endif
}

} // namespace rp::mailstore
