#pragma once

#include <QIcon>
#include <QPixmap>

class QStyle;

namespace mendrake {

// Pictures drawn by the program itself, so nothing has to be shipped or fetched.

// The Website button's face: 120 x 25 pixels, drawn for a screen with the
// given device pixel ratio (at 2, 240 x 50 device pixels).
QPixmap WebsitePicture(qreal devicePixelRatio = 1);
// The Website face for screens at a scale of 1 and of 2.
QIcon WebsiteIcon();

// The application's own icon (the window's and the launcher's), from the
// pictures the build renders from packaging/icons/mendrake.svg.
QIcon ApplicationIcon();

// A small photograph with a downward arrow: saving the thumbnail.
QIcon SaveJpegIcon();

// A memory card: recovering files from a card.
QIcon CardIcon();
// A stop sign: cancelling a run.
QIcon CancelIcon();

// The command icons, from the style's standard set where it has a fitting one.
QIcon RepairOpenIcon(const QStyle& style);
QIcon SaveIcon(const QStyle& style);
QIcon ExitIcon(const QStyle& style);
QIcon HelpIcon(const QStyle& style);

}  // namespace mendrake
