// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The toolbar, menu and tray pictures, drawn at run time so they stay sharp at any
// scale and need no image files.

#include <QIcon>

namespace rp {

// Indexes of ImageList1.
enum TImageIndex {
    ImgMeeting = 0,
    ImgMorning = 1,
    ImgEvening = 2,
    ImgTask = 3,
    ImgTaskPre = 4,
    ImgTaskPastDue = 5,
    ImgUrgentEmail = 6,
    ImgTestMessage = 7,
    ImgWizard = 8,
    ImgHelp = 10,
    ImgUpgrade = 11,
    ImgHide = 12,
    ImgExit = 13,
};

// One image of the list at 32 x 32 (and 64 x 64 for high-density screens); an
// index with no picture gives an empty icon.
QIcon ListImage(int index);
// The application icon shown in the tray and the title bar.
QIcon ApplicationIcon();
// The application icon with a red "!": some source is failing.
QIcon TroubleIcon();

} // namespace rp
