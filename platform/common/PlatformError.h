// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the platform layer throws when it cannot do what the user asked: one type
// per kind of failure, each with a text that can be shown to the user as it is.

#include <QString>
#include <stdexcept>

namespace rp {

class EPlatformError : public std::runtime_error {
public:
    explicit EPlatformError(const QString& message)
        : std::runtime_error(message.toStdString()), text(message) {}
    // Names what failed and why, e.g. the file and the system's reason.
    const QString& Message() const { return text; }

private:
    QString text;
};

} // namespace rp
