// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The test message's texts: the window's repeated test and the Mail Store
// dialog's send-now button send the same message, and the window recognises
// its delivery report by the subject.

namespace rp {

inline const char* const TestSubject = "Ringpost Test message";
inline const char* const TestBody = "If you got this message Ringpost Notification is working.";

} // namespace rp
