#include "form_about.h"

#include "toolkit/exception_display.h"

#include <QFont>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>

// The logo lives in the application library's resources, which a static library only links when asked to.
static void initLogoResource() { Q_INIT_RESOURCE(brindle); }

namespace {

QLabel* label(QWidget* parent, const char* name, const QString& text, int pixelSize, bool bold, QRect geometry)
{
    auto* l = new QLabel(text, parent);
    l->setObjectName(QLatin1String(name));
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    l->setFont(font);
    l->setGeometry(geometry);
    return l;
}

}  // namespace

TformAbout::TformAbout() : TformToolDialog(QStringLiteral("formAbout"), QStringLiteral("Information"), {360, 311})
{
    initLogoResource();
    auto* logo = new QLabel(this);
    logo->setObjectName(QStringLiteral("Image1"));
    logo->setPixmap(QPixmap(QStringLiteral(":/brindle/logo.xpm")));
    logo->setScaledContents(true);
    logo->setGeometry(24, 40, 18, 19);

    label(this, "Label1", QStringLiteral("Brindle Configuration Tool"), 16, true, {52, 40, 290, 20});
    label(this, "Label2", QStringLiteral("Configuration Tool Version : 1.1.4"), 15, false, {52, 92, 290, 20});
    label(this, "Label3", QStringLiteral("Applied FW Version : 1.1.4"), 15, false, {52, 120, 290, 20});
    label(this, "Label4", QStringLiteral("Copyright (C) the Brindle project."), 15, false, {52, 176, 290, 20});
    label(this, "Label5", QStringLiteral("All rights reserved."), 15, false, {52, 198, 290, 20});

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("Button1"));
    ok->setGeometry(135, 256, 90, 28);
    ok->setDefault(true);
    toolkit::connectGuarded(ok, &QPushButton::clicked, this, [this] { Button1Click(); });
}

void TformAbout::Button1Click() { close(); }
