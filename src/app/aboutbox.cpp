#include "aboutbox.h"

#include <QApplication>
#include <QIcon>
#include <QMessageBox>

void showAboutBox(QWidget *parent)
{
    QMessageBox box(parent);
    box.setWindowTitle(QObject::tr("About Glimmerox"));
    box.setIconPixmap(QApplication::windowIcon().pixmap(64, 64));
    box.setText(QStringLiteral("<b>Glimmerox</b> %1").arg(QApplication::applicationVersion()));
    box.setInformativeText(QObject::tr("Context, token and plan quota usage of Claude Code, "
                                       "on a small instrument panel."));
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
}
