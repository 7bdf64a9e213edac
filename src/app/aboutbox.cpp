#include "aboutbox.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QVBoxLayout>

#include <algorithm>

void showAboutBox(QWidget *parent)
{
    QDialog box(parent);
    const QString title = QObject::tr("About Glimmerox");
    box.setWindowTitle(title);

    auto *icon = new QLabel(&box);
    icon->setPixmap(QApplication::windowIcon().pixmap(64, 64));
    icon->setAlignment(Qt::AlignTop);
    auto *text = new QLabel(QStringLiteral("<p><b>Glimmerox</b> %1</p><p>%2</p>")
                                .arg(QApplication::applicationVersion(),
                                     QObject::tr("Context, token and plan quota usage of Claude Code, "
                                                 "on a small instrument panel.")),
                            &box);
    text->setWordWrap(true);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok, &box);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &box, &QDialog::accept);

    auto *row = new QHBoxLayout;
    row->addWidget(icon);
    row->addWidget(text, 1);
    auto *column = new QVBoxLayout(&box);
    column->addLayout(row);
    column->addWidget(buttons);

    // A title bar shows its text only when the box is wide enough: room for the title, the
    // window buttons beside it and some margin, and never narrower than the text needs.
    const int titleWidth = box.fontMetrics().horizontalAdvance(title) + 160;
    box.setMinimumWidth(std::max(titleWidth, 380));
    box.exec();
}
