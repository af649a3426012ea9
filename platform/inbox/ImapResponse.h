// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Reading what an IMAP server says: cutting the byte stream into whole responses
// (a response may carry literals, "{n}" and n bytes), and the parts of the few
// responses the inbox needs. Everything here is untrusted input from the network,
// so every size is bounded and nothing is assumed about the order of items.

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <vector>

namespace rp::mailstore {

// A response that breaks the grammar or a limit; the text says which, in plain words.
class EImapProtocol : public std::runtime_error {
public:
    explicit EImapProtocol(const char* what) : std::runtime_error(what) {}
};

struct TImapValue {
    enum class TKind { Atom, String, List, Nil };
    TKind kind = TKind::Atom;
    QByteArray text;               // atom or string
    std::vector<TImapValue> items; // list
};

struct TImapResponse {
    QByteArray tag;                 // "*", "+" or the command's tag
    QByteArray line;                // the response up to its first literal, without CRLF
    std::vector<TImapValue> values; // after the tag
};

// Cuts the stream into responses. A response larger than `maxResponseBytes`
// throws: no server needs that much for flags and a few header lines.
class TImapReader {
public:
    explicit TImapReader(qsizetype maxResponseBytes = 4 * 1024 * 1024)
        : maxResponseBytes(maxResponseBytes) {}

    void Feed(const char* data, qsizetype size) { buffer.append(data, size); }
    // The next whole response, or nullopt when more bytes are needed.
    std::optional<TImapResponse> Next();
    qsizetype Pending() const { return buffer.size() - start; }

private:
    std::optional<qsizetype> ResponseEnd() const;

    QByteArray buffer;
    qsizetype start = 0;
    qsizetype maxResponseBytes;
};

// One whole response (CRLF included) into its tag and values.
TImapResponse ParseResponse(const QByteArray& bytes);

// The condition of a status response: OK, NO, BAD, BYE or PREAUTH; empty otherwise.
QByteArray StatusCondition(const TImapResponse& response);
// The code in brackets after the condition ("UIDVALIDITY 7"), empty when none.
QByteArray ResponseCode(const TImapResponse& response);
// The human-readable text after the condition and code.
QString ResponseText(const TImapResponse& response);

struct TMailboxStatus {
    std::optional<uint32_t> messages;
    std::optional<uint32_t> uidNext;
    std::optional<uint32_t> uidValidity;
    std::optional<uint32_t> unseen;
    std::optional<uint64_t> highestModSeq;
};

// Gathers what STATUS, EXAMINE's untagged answers and their response codes say.
void ReadMailboxStatus(const TImapResponse& response, TMailboxStatus& status);

struct TFetchedMessage {
    uint32_t uid = 0;
    std::optional<std::vector<QByteArray>> flags; // as sent, e.g. "\Seen"
    std::optional<uint64_t> modSeq;
    std::optional<int64_t> internalDate; // seconds since the epoch, UTC
    std::optional<QByteArray> header;    // the fetched header lines
};

// A "* n FETCH (...)" response with a UID; nullopt for any other response.
std::optional<TFetchedMessage> ReadFetch(const TImapResponse& response);
// The UIDs of a "* SEARCH ..." response; empty for any other.
std::vector<uint32_t> ReadSearch(const TImapResponse& response);
// The capabilities of a CAPABILITY response or response code, upper case.
std::vector<QByteArray> ReadCapabilities(const TImapResponse& response);

// "08-Dec-2026 23:04:06 +0000" as seconds since the epoch.
std::optional<int64_t> ParseInternalDate(const QByteArray& text);

// A mailbox name as an IMAP quoted string.
QByteArray QuotedString(const QByteArray& text);

} // namespace rp::mailstore
