#pragma once

class QWidget;

// A small modal box with the program's icon, name and version.
void showAboutBox(QWidget *parent);
