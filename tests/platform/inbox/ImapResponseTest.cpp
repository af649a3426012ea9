// SPDX-License-Identifier: GPL-3.0-or-later
// Reading IMAP responses: whole responses out of a stream that arrives in pieces,
// literals, and the answers a broken or hostile server may give.

#include "platform/inbox/ImapResponse.h"

#include <gtest/gtest.h>

using namespace rp::mailstore;

namespace {

std::vector<TImapResponse> ReadAll(const QByteArray& stream, qsizetype chunk,
                                   qsizetype limit = 4 * 1024 * 1024) {
    TImapReader reader(limit);
    std::vector<TImapResponse> responses;
    for (qsizetype at = 0; at < stream.size(); at += chunk) {
        reader.Feed(stream.constData() + at, std::min(chunk, stream.size() - at));
        while (std::optional<TImapResponse> response = reader.Next())
            responses.push_back(std::move(*response));
    }
    EXPECT_EQ(reader.Pending(), 0);
    return responses;
}

const QByteArray kFetchStream =
    "* 1 FETCH (UID 7 FLAGS (\\Seen \\Recent) MODSEQ (12) INTERNALDATE \" 8-Dec-2026 23:04:06 "
    "+0100\" BODY[HEADER.FIELDS (SUBJECT FROM)] {43}\r\n"
    "From: Ann <a@example.com>\r\nSubject: {3}\r\n\r\n)\r\n"
    "* 2 FETCH (FLAGS () UID 9 BODY[HEADER.FIELDS (SUBJECT FROM)] NIL)\r\n"
    "R3 OK Fetch completed (0.001 + 0.000 secs).\r\n";

TEST(ImapResponseTest, ResponsesAreWholeHoweverTheBytesArrive) {
    for (const qsizetype chunk : {1, 7, 64, 4096}) {
        const std::vector<TImapResponse> responses = ReadAll(kFetchStream, chunk);
        ASSERT_EQ(responses.size(), 3u) << chunk;
        const std::optional<TFetchedMessage> first = ReadFetch(responses[0]);
        ASSERT_TRUE(first.has_value());
        EXPECT_EQ(first->uid, 7u);
        EXPECT_EQ(first->flags->size(), 2u);
        EXPECT_EQ(first->modSeq, 12u);
        EXPECT_EQ(first->internalDate, 1796771046 - 3600);
        // A "{3}" inside the literal is text, not another literal.
        EXPECT_EQ(*first->header, "From: Ann <a@example.com>\r\nSubject: {3}\r\n\r\n");
        const std::optional<TFetchedMessage> second = ReadFetch(responses[1]);
        ASSERT_TRUE(second.has_value());
        EXPECT_EQ(second->uid, 9u);
        EXPECT_TRUE(second->flags->empty());
        EXPECT_TRUE(second->header->isEmpty());
        EXPECT_EQ(responses[2].tag, "R3");
        EXPECT_EQ(StatusCondition(responses[2]), "OK");
    }
}

TEST(ImapResponseTest, StatusAndResponseCodesAreRead) {
    TMailboxStatus status;
    for (const TImapResponse& response :
         ReadAll("* STATUS \"INBOX\" (MESSAGES 3 UIDNEXT 12 UIDVALIDITY 99 UNSEEN 2 "
                 "HIGHESTMODSEQ 123456789012)\r\n",
                 4096))
        ReadMailboxStatus(response, status);
    EXPECT_EQ(status.messages, 3u);
    EXPECT_EQ(status.uidNext, 12u);
    EXPECT_EQ(status.uidValidity, 99u);
    EXPECT_EQ(status.unseen, 2u);
    EXPECT_EQ(status.highestModSeq, 123456789012u);

    TMailboxStatus opened;
    for (const TImapResponse& response : ReadAll("* 5 EXISTS\r\n* OK [UNSEEN 4] First unseen.\r\n"
                                                 "* OK [UIDVALIDITY 7] UIDs valid\r\n"
                                                 "* OK [HIGHESTMODSEQ 40] Highest\r\n",
                                                 4096))
        ReadMailboxStatus(response, opened);
    EXPECT_EQ(opened.messages, 5u);
    EXPECT_EQ(opened.uidValidity, 7u);
    EXPECT_EQ(opened.highestModSeq, 40u);
    EXPECT_FALSE(opened.unseen.has_value()) << "[UNSEEN n] is a message number, not a count";

    const TImapResponse refusal =
        ParseResponse("A2 NO [AUTHENTICATIONFAILED] Wrong (really :)\r\n");
    EXPECT_EQ(StatusCondition(refusal), "NO");
    EXPECT_EQ(ResponseCode(refusal), "AUTHENTICATIONFAILED");
    EXPECT_EQ(ResponseText(refusal), "Wrong (really :)");
    EXPECT_EQ(ReadCapabilities(ParseResponse("A1 OK [CAPABILITY IMAP4rev1 condstore] in\r\n")),
              (std::vector<QByteArray>{"IMAP4REV1", "CONDSTORE"}));
    EXPECT_EQ(ReadSearch(ParseResponse("* SEARCH 3 9 x 0 12\r\n")),
              (std::vector<uint32_t>{3, 9, 12}));
}

TEST(ImapResponseTest, QuotedStringsKeepTheirEscapes) {
    const TImapResponse response = ParseResponse("* LIST () \"/\" \"a \\\"b\\\" \\\\c\"\r\n");
    ASSERT_EQ(response.values.size(), 4u);
    EXPECT_EQ(response.values[3].text, "a \"b\" \\c");
    EXPECT_EQ(QuotedString("a \"b\" \\c\r\n"), "\"a \\\"b\\\" \\\\c\"");
}

TEST(ImapResponseTest, AHugeLiteralIsRefusedBeforeItArrives) {
    TImapReader reader(1024);
    const QByteArray announce = "* 1 FETCH (UID 1 BODY[HEADER] {99999999999})\r\n";
    reader.Feed(announce.constData(), announce.size());
    EXPECT_THROW(reader.Next(), EImapProtocol);

    TImapReader endless(1024);
    const QByteArray noise(2000, 'x');
    endless.Feed(noise.constData(), noise.size());
    EXPECT_THROW(endless.Next(), EImapProtocol) << "a line without end";
}

TEST(ImapResponseTest, BrokenResponsesThrowInsteadOfGuessing) {
    for (const char* broken : {
             "* 1 FETCH (UID 1 FLAGS (\\Seen)\r\n",     // unclosed list
             "* 1 FETCH (UID 1))\r\n",                  // stray parenthesis
             "* 1 FETCH (UID 1 BODY[HEADER \"x\")\r\n", // unclosed bracket
             "* 1 FETCH (SUBJECT \"unclosed)\r\n",      // unclosed string
             "* 1 FETCH (UID 1 BODY[] {5}\r\nab)\r\n",  // literal longer than the rest
             "\r\n",                                    // no tag
         })
        EXPECT_THROW(ParseResponse(broken), EImapProtocol) << broken;
    EXPECT_THROW(ParseResponse("* X " + QByteArray(100, '(') + QByteArray(100, ')') + "\r\n"),
                 EImapProtocol)
        << "nesting is bounded";
    // Well-formed but not what was asked: ignored, not misread.
    EXPECT_FALSE(ReadFetch(ParseResponse("* 3 FETCH (FLAGS (\\Seen))\r\n")).has_value());
    EXPECT_FALSE(ReadFetch(ParseResponse("* 3 FETCH (UID 99999999999)\r\n")).has_value());
    EXPECT_FALSE(ReadFetch(ParseResponse("* 3 EXPUNGE\r\n")).has_value());
}

TEST(ImapResponseTest, InternalDatesAreReadWithTheirZone) {
    EXPECT_EQ(ParseInternalDate("01-Jan-1970 00:00:00 +0000"), 0);
    EXPECT_EQ(ParseInternalDate("1-Jan-1970 01:00:00 +0100"), 0);
    EXPECT_EQ(ParseInternalDate("31-Dec-1969 19:00:00 -0500"), 0);
    for (const char* bad : {"", "32-Jan-2026 00:00:00 +0000", "01-Foo-2026 00:00:00 +0000",
                            "01-Jan-2026 25:00:00 +0000", "01-Jan-2026 00:00:00 0000",
                            "01-Jan-2026 00:00:00 +0000 extra"})
        EXPECT_FALSE(ParseInternalDate(bad).has_value()) << bad;
}

} // namespace
