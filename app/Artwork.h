#pragma once

#include <QIcon>
#include <QPixmap>

class QStyle;

namespace mendrake {

// Pictures drawn by the program itself, so nothing has to be shipped or fetched.

// The Website button's face: 120 x 25 pixels.
QPixmap WebsitePicture();

// A small photograph with a downward arrow: saving the thumbnail.
QIcon SaveJpegIcon();

// The command icons, from the style's standard set where it has a fitting one.
QIcon RepairOpenIcon(const QStyle& style);
QIcon SaveIcon(const QStyle& style);
QIcon CancelIcon(const QStyle& style);
QIcon ExitIcon(const QStyle& style);
QIcon HelpIcon(const QStyle& style);

}  // namespace mendrake
