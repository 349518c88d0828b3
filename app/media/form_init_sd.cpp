#include "form_init_sd.h"

#include <QComboBox>
#include <QLabel>
#include <QListWidget>

TformInitSd::TformInitSd()
    : TformToolDialog(QStringLiteral("formInitSd"), QStringLiteral("Browse for Files or Folders"), {320, 360})
{
    auto* label = new QLabel(QStringLiteral("Select SD Card Drive"), this);
    label->setObjectName(QStringLiteral("Label1"));
    label->setGeometry(8, 8, 304, 16);
    DriveComboBox1 = new QComboBox(this);
    DriveComboBox1->setObjectName(QStringLiteral("DriveComboBox1"));
    DriveComboBox1->setGeometry(8, 30, 304, 24);
    dirListBox = new QListWidget(this);
    dirListBox->setObjectName(QStringLiteral("dirListBox"));
    dirListBox->setGeometry(8, 60, 304, 292);
}
