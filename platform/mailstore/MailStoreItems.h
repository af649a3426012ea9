// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The items of the local mail store as the object model's item kinds. Every
// property is a read of a compact record held in memory.

#include "engine/OutlookModel.h"
#include "platform/calendar/IcsRecords.h"
#include "platform/delivery/MailTransport.h"
#include "platform/inbox/MaildirInbox.h"
#include "platform/mailstore/MailStoreProfile.h"

#include <memory>

namespace rp::mailstore {

class TIcsSource;

std::shared_ptr<outlook::AppointmentItem>
MakeAppointment(std::shared_ptr<const TAppointmentRecord> record);
// `source` learns of a write-back so the next read sees the changed file.
std::shared_ptr<outlook::TaskItem> MakeTask(std::shared_ptr<const TTaskRecord> record,
                                            std::shared_ptr<TIcsSource> source);
std::shared_ptr<outlook::MailItem> MakeReceivedMail(const TMailRecord& record);
std::shared_ptr<outlook::MailItem> MakeNewMail(QString from,
                                               std::shared_ptr<IMailTransport> transport);

} // namespace rp::mailstore
