// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/platform/BadCalendarServer.h"
#include "tests/platform/CalDavTestSupport.h"

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

class HttpBadServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!server.Ready())
            GTEST_SKIP() << "python3 or openssl is not available";
    }

    // The exchange and how long it took.
    std::pair<THttpResponse, qint64> Timed(const THttpRequest& request) {
        QElapsedTimer clock;
        clock.start();
        THttpResponse response = HttpExchange(request);
        return {response, clock.elapsed()};
    }
    static std::string Text(const THttpResponse& response) {
        return response.failureText.toStdString();
    }

    TBadCalendarServer server;
};

TEST_F(HttpBadServerTest, OversizedAndCutAnswersAreRefusedInBoundedTime) {
    const auto [huge, hugeMs] = Timed(server.Request(server.Good("/huge")));
    EXPECT_EQ(huge.failure, THttpFailure::TooLarge) << Text(huge);
    EXPECT_TRUE(huge.failureText.contains("more than 64 MB")) << Text(huge);
    EXPECT_TRUE(huge.body.isEmpty());
    EXPECT_LT(hugeMs, 20000);

    // A few kB that unpack to 80 MB are as large as 80 MB.
    const auto [bomb, bombMs] = Timed(server.Request(server.Plain("/gzip-bomb")));
    EXPECT_FALSE(bomb.Ok()) << "an answer Qt could not unpack is not a success";
    EXPECT_EQ(bomb.failure, THttpFailure::TooLarge) << Text(bomb);
    EXPECT_LT(bomb.body.size(), 65 * 1024 * 1024);
    EXPECT_LT(bombMs, 20000);

    // One byte every 0.2 s never trips the transfer time-out; the deadline ends it.
    const auto [trickle, trickleMs] = Timed(server.Request(server.Good("/trickle")));
    EXPECT_EQ(trickle.failure, THttpFailure::TimedOut) << Text(trickle);
    EXPECT_TRUE(trickle.failureText.contains("too slowly")) << Text(trickle);
    EXPECT_LT(trickleMs, 8000);

    const THttpResponse cut = HttpExchange(server.Request(server.Plain("/truncated")));
    EXPECT_FALSE(cut.Ok()) << "a cut calendar must not pass for the whole one";
    EXPECT_TRUE(cut.failureText.contains("broke off")) << Text(cut);
}

TEST_F(HttpBadServerTest, RedirectsAreFollowedAFewTimesOnlyAndNeverToPlainHttpOrFiles) {
    const THttpResponse five = HttpExchange(server.Request(server.Good("/redirect/5")));
    ASSERT_TRUE(five.Ok()) << Text(five);
    EXPECT_TRUE(five.body.contains("SUMMARY:password sent")) << "the same server keeps it";
    EXPECT_EQ(five.finalUrl.path(), "/redirect/0");

    const THttpResponse six = HttpExchange(server.Request(server.Good("/redirect/6")));
    EXPECT_EQ(six.failure, THttpFailure::BadRedirect);
    EXPECT_TRUE(six.failureText.contains("redirected too many times")) << Text(six);

    const THttpResponse down = HttpExchange(server.Request(server.Good("/to-http")));
    EXPECT_EQ(down.failure, THttpFailure::BadRedirect);
    EXPECT_TRUE(down.failureText.contains("without encryption")) << Text(down);

    const THttpResponse file = HttpExchange(server.Request(server.Plain("/to-file")));
    EXPECT_EQ(file.failure, THttpFailure::BadRedirect) << Text(file);
    EXPECT_TRUE(file.body.isEmpty());
}

TEST_F(HttpBadServerTest, ThePasswordGoesOnlyToTheServerTheUserNamed) {
    for (const QUrl& url : {server.Plain("/to-other-host"), server.Good("/to-other-host")}) {
        const THttpResponse response = HttpExchange(server.Request(url));
        ASSERT_TRUE(response.Ok()) << Text(response) << " " << url.toString().toStdString();
        EXPECT_EQ(response.finalUrl.host(), "localhost");
        EXPECT_TRUE(response.body.contains("SUMMARY:no password")) << response.body.toStdString();
    }
}

TEST_F(HttpBadServerTest, ExpiredAndForeignCertificatesAreRefusedUnlessCaFileTrustsThem) {
    THttpRequest request = server.Request(server.Good("/echo-auth"));
    ASSERT_TRUE(HttpExchange(request).Ok());
    request.caFile.clear();
    const THttpResponse unknown = HttpExchange(request);
    EXPECT_EQ(unknown.failure, THttpFailure::Certificate);
    EXPECT_TRUE(unknown.failureText.contains("CAFile")) << Text(unknown);

    // The authority is trusted, but the certificate ran out in 2020.
    const THttpResponse expired = HttpExchange(server.Request(server.Expired("/echo-auth")));
    EXPECT_EQ(expired.failure, THttpFailure::Certificate);
    EXPECT_TRUE(expired.failureText.contains("has expired")) << Text(expired);
    EXPECT_FALSE(expired.failureText.contains("never-shown"));

    request = server.Request(server.Foreign("/echo-auth"));
    const THttpResponse foreign = HttpExchange(request);
    EXPECT_EQ(foreign.failure, THttpFailure::Certificate);
    EXPECT_TRUE(foreign.failureText.contains("not trusted")) << Text(foreign);
    request.caFile = server.Authority("b");
    EXPECT_TRUE(HttpExchange(request).Ok()) << "CAFile names its authority";
}

// Connections and trust are kept between requests; an edited CA file must still
// count from the next request on, and never lend its trust to the old server.
TEST_F(HttpBadServerTest, AChangedCaFileIsTrustedFromTheNextRequestOn) {
    QTemporaryDir dir;
    const QString caFile = dir.filePath("ca.pem");
    const auto trust = [&](const char* authority) {
        QFile::remove(caFile);
        ASSERT_TRUE(QFile::copy(server.Authority(authority), caFile));
    };
    trust("a");
    THttpRequest good = server.Request(server.Good("/echo-auth"));
    good.caFile = caFile;
    THttpRequest foreign = server.Request(server.Foreign("/echo-auth"));
    foreign.caFile = caFile;
    ASSERT_TRUE(HttpExchange(good).Ok());
    EXPECT_EQ(HttpExchange(foreign).failure, THttpFailure::Certificate);

    QThread::msleep(20); // a modification time of its own
    trust("b");
    EXPECT_EQ(HttpExchange(good).failure, THttpFailure::Certificate)
        << "the old authority is no longer trusted";
    EXPECT_TRUE(HttpExchange(foreign).Ok()) << "the new one is";
}

} // namespace
