#pragma once

#include <QMainWindow>

// The references' window: the application's fixed size (389 x 218), a menu
// bar with File and Help menus, and an empty central widget.
class ReferenceWindow : public QMainWindow
{
public:
    ReferenceWindow();
};
