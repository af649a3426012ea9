// SPDX-License-Identifier: GPL-3.0-or-later
#include "CalDavTestSupport.h"

#include <QElapsedTimer>

using namespace rp::mailstore;
using namespace rp::mailstore::testing;

namespace {

// A server that takes the connection and never says a word.
TEST(HttpClientTest, AStalledServerEndsWithinTheTimeOutInPlainWords) {
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost, 0));
    THttpRequest request;
    request.url = QUrl(QStringLiteral("https://127.0.0.1:%1/cal/").arg(silent.serverPort()));
    request.user = "anna";
    request.password = "never-shown";
    request.timeoutSeconds = 1;
    QElapsedTimer clock;
    clock.start();
    const THttpResponse response = HttpExchange(request);
    EXPECT_LT(clock.elapsed(), 6000);
    EXPECT_EQ(response.failure, THttpFailure::TimedOut);
    EXPECT_TRUE(response.failureText.contains("did not answer within 1 seconds"))
        << response.failureText.toStdString();
    EXPECT_FALSE(response.failureText.contains("never-shown"));
}

TEST(HttpClientTest, ACaFileWithoutCertificatesIsNamed) {
    QTemporaryDir dir;
    WriteText(dir.filePath("ca.pem"), "not a certificate");
    THttpRequest request;
    request.url = QUrl("https://127.0.0.1:1/");
    request.caFile = dir.filePath("ca.pem");
    const THttpResponse response = HttpExchange(request);
    EXPECT_FALSE(response.Ok());
    EXPECT_TRUE(response.failureText.contains("holds no certificate"));
}

} // namespace
