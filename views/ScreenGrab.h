#pragma once

#include <QImage>
#include <QList>
#include <QString>

// Pictures of everything on the screens, for finding QR codes on them.
struct CScreenGrab
{
    QList<QImage> Pictures; // one per screen (one of the whole desktop under Wayland)
    QString Failure;        // why there are none, when there are none
};

// Grabs every screen with Velmora's own windows hidden meanwhile (they are
// shown again before this returns): under X11 directly, under Wayland through
// the desktop portal's Screenshot interface where the session offers it.
CScreenGrab GrabScreens();
