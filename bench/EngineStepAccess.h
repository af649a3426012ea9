// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The engine's steps and lists, for the benchmark alone: it times one scan step
// at a time, which no public seam can isolate. Touch them only while the engine
// thread is not running (parked or joined). Tests go through the public seams.

#include "engine/OutlookProcessor.h"

namespace rp {

class TOutlookProcessorBenchAccess {
public:
    using P = TOutlookProcessor;

    static const TSortedList<TEventItem>& Appointments(P& p) { return p.Appointments; }
    static const TSortedList<TTaskEvent>& Tasks(P& p) { return p.Tasks; }
    static const TSortedList<TEmailItem>& Emails(P& p) { return p.Emails; }
    static int32_t AppointmentScanPos(P& p) { return p.AppointmentScanPos; }
    static outlook::TOutlookApplication& Outlook(P& p) { return *p.Outlook; }

    static void ProcessCheckes(P& p) { p.ProcessCheckes(); }
    static void CheckUrgentEmail(P& p) { p.CheckUrgentEmail(); }
};

} // namespace rp
