#include "form_show_text.h"

#include "settings_file_actions.h"

#include "toolkit/exception_display.h"

#include <QFile>
#include <QPalette>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShowEvent>

namespace {

const QString kTextFile = QStringLiteral("./temp.ini");

}  // namespace

TformShowText::TformShowText(SettingsFileActions& files)
    : TformToolDialog(QStringLiteral("formShowText"), QStringLiteral("Show Text"), {712, 671}), files_(files)
{
    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setReadOnly(true);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo1->setGeometry(8, 8, 696, 612);

    auto* copy = new QPushButton(QStringLiteral("Select All and Copy to Clipboard (CTRL+C)"), this);
    copy->setObjectName(QStringLiteral("Button1"));
    copy->setGeometry(8, 630, 320, 32);
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("Button3"));
    ok->setGeometry(604, 630, 100, 32);

    toolkit::connectGuarded(copy, &QPushButton::clicked, this, [this] { Button1Click(); });
    toolkit::connectGuarded(ok, &QPushButton::clicked, this, [this] { Button3Click(); });
}

void TformShowText::showEvent(QShowEvent* event)
{
    TformToolDialog::showEvent(event);
    if (!event->spontaneous()) toolkit::runGuarded([this] { FormShow(); }, this);
}

void TformShowText::FormShow()
{
    // The file shown is the one written, byte for byte what another tool would read.
    files_.writeCopy(kTextFile);
    QFile file(kTextFile);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return;
    Memo1->setPlainText(QString::fromUtf8(file.readAll()));
    setTextColour(Qt::black);
}

void TformShowText::Button1Click()
{
    Memo1->selectAll();
    // Blue tells the user the text was taken.
    setTextColour(Qt::blue);
    Memo1->copy();
}

void TformShowText::Button3Click() { close(); }

void TformShowText::setTextColour(const QColor& colour)
{
    QPalette palette = Memo1->palette();
    palette.setColor(QPalette::Text, colour);
    Memo1->setPalette(palette);
}
