#include "editor_binding.h"

#include "settings/settings_values.h"
#include "settings/value_checks.h"
#include "toolkit/exceptions.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpressionValidator>
#include <QSlider>

#include <cmath>

namespace {

using C = settings::Codec;

template <class W>
W* as(QWidget* w)
{
    return static_cast<W*>(w);
}

QString textOf(QWidget* w)
{
    if (auto* e = qobject_cast<QLineEdit*>(w)) return e->text();
    return as<QComboBox>(w)->currentText();
}

void setTextOf(QWidget* w, const QString& text)
{
    if (auto* e = qobject_cast<QLineEdit*>(w)) return e->setText(text);
    setComboText(as<QComboBox>(w), text);
}

void chooseItem(QComboBox* combo, int index) { combo->setCurrentIndex(index >= 0 && index < combo->count() ? index : -1); }

// Whether `w` is the kind of control the codec's control at `position` must be.
bool fits(C codec, int position, QWidget* w)
{
    const auto text = [w] { return qobject_cast<QLineEdit*>(w) || qobject_cast<QComboBox*>(w); };
    switch (codec) {
    case C::Text:
        return text();
    case C::Index:
    case C::IndexPlusOne:
    case C::FrameRate:
    case C::TimeZone:
    case C::DstCode:
        return qobject_cast<QComboBox*>(w);
    case C::Flag:
    case C::ImageUpload:
        return qobject_cast<QAbstractButton*>(w);
    case C::Position:
        return qobject_cast<QSlider*>(w);
    case C::Encryption:
    case C::WifiSlot:
        return qobject_cast<QLineEdit*>(w);
    case C::ManualTime:
        return position == 0 ? qobject_cast<QDateEdit*>(w) != nullptr : qobject_cast<QComboBox*>(w) != nullptr;
    case C::Line:
        return position == 0 ? qobject_cast<QLineEdit*>(w) != nullptr
                             : position == 1 ? qobject_cast<QLabel*>(w) != nullptr : true;
    }
    return false;
}

// Blanks around the digits stay acceptable: the unit conversion pads what it shows.
QRegularExpression inputPattern(const settings::NumberRule& f)
{
    const int digits = int(std::floor(std::log10(std::max(std::fabs(f.min), std::fabs(f.max))))) + 1;
    QString p = QStringLiteral(" *");
    if (f.negative) p += QStringLiteral("-?");
    p += QStringLiteral("\\d{0,%1}").arg(digits);
    if (f.decimals) p += QStringLiteral("(\\.\\d{0,2})?");
    p += QStringLiteral(" *");
    return QRegularExpression(p);
}

}  // namespace

void setComboText(QComboBox* combo, const QString& text)
{
    const int item = combo->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (item >= 0)
        combo->setCurrentIndex(item);
    else if (combo->isEditable())
        combo->setEditText(text);
    else
        combo->setCurrentIndex(-1);
}

EditorBinding::EditorBinding(QWidget* root, int displayScale) : displayScale_(displayScale)
{
    const auto schema = settings::settingsSchema();
    rows_.resize(schema.size());
    shownUnitText_.resize(schema.size());
    for (std::size_t i = 0; i < schema.size(); ++i) {
        for (int c = 0; c < 4 && schema[i].controls[c]; ++c) {
            const QLatin1String name(schema[i].controls[c]);
            auto* w = root->findChild<QWidget*>(name);
            if (!w || !fits(schema[i].codec, c, w))
                throw toolkit::EArgumentException(
                    QStringLiteral("The editor has no control %1 of the kind %2 needs").arg(name, QLatin1String(schema[i].key)));
            rows_[i][c] = w;
        }
    }
    unitLabels_.resize(schema.size());
    for (const settings::UnitField& f : settings::unitFields()) {
        const QLatin1String name(f.display->label);
        unitLabels_[f.row] = root->findChild<QLabel*>(name);
        if (!unitLabels_[f.row]) throw toolkit::EArgumentException(QStringLiteral("The editor has no label %1").arg(name));
    }
    wifiSelector_ = as<QComboBox>(rows_[*settings::schemaIndex(QStringLiteral("WIFI_AP_SELECTED"))][0]);
}

void EditorBinding::show(const std::vector<settings::Shown>& shown)
{
    for (std::size_t i = 0; i < rows_.size(); ++i) showRow(i, shown[i]);
}

void EditorBinding::showUnitField(const settings::UnitField& f, const settings::Shown& shown, const settings::Units& units)
{
    showRow(f.row, shown);
    unitLabels_[f.row]->setText(settings::captionIn(*f.display, units.of(f.display->quantity)));
}

void EditorBinding::showRow(std::size_t row, const settings::Shown& s)
{
    if (!s.applies) return;
    const settings::SettingKey& key = settings::settingsSchema()[row];
    const auto& w = rows_[row];
    switch (key.codec) {
    case C::Text:
    case C::FrameRate:
    case C::TimeZone:
    case C::Encryption:
    case C::WifiSlot:
        setTextOf(w[0], s.text);
        if (key.unit) shownUnitText_[row] = s.text;
        break;
    case C::Index:
    case C::IndexPlusOne:
        chooseItem(as<QComboBox>(w[0]), s.number);
        break;
    case C::Flag:
        as<QAbstractButton>(w[0])->setChecked(s.ticked);
        break;
    case C::Position:
        as<QSlider>(w[0])->setValue(s.number);
        break;
    case C::DstCode:
        setTextOf(w[0], s.dst.month);
        setTextOf(w[1], s.dst.order);
        chooseItem(as<QComboBox>(w[2]), s.dst.weekday);
        setTextOf(w[3], s.dst.hour);
        break;
    case C::ManualTime:
        break;
    case C::ImageUpload: {
        // The trigger first, so its rule has run before the companions take their states.
        as<QAbstractButton>(w[0])->setChecked(s.boxes.trigger);
        as<QAbstractButton>(w[1])->setChecked(s.boxes.transmit);
        if (w[2]) as<QAbstractButton>(w[2])->setChecked(s.boxes.hz100);
        if (!s.boxes.trigger) {
            w[1]->setEnabled(false);
            if (w[2]) w[2]->setEnabled(false);
        }
        break;
    }
    case C::Line: {
        as<QLineEdit>(w[0])->setText(s.text);
        auto* label = as<QLabel>(w[1]);
        label->setText(s.text);
        const int top = static_cast<int>(static_cast<long long>(s.number) * displayScale_ / 100);
        w[2]->move(w[2]->x(), top);
        label->move(label->x(), top + 5);
        break;
    }
    }
}

settings::Shown EditorBinding::read(std::size_t row) const
{
    const settings::SettingKey& key = settings::settingsSchema()[row];
    const auto& w = rows_[row];
    settings::Shown s;
    switch (key.codec) {
    case C::Text:
    case C::FrameRate:
    case C::TimeZone:
    case C::Encryption:
    case C::Line:
        s.text = textOf(w[0]);
        break;
    case C::WifiSlot:
        s.text = textOf(w[0]);
        s.applies = settings::wifiSlotOf(wifiSelector_->currentText()) == settings::wifiSlotOfKey(key);
        break;
    case C::Index:
    case C::IndexPlusOne:
        s.number = as<QComboBox>(w[0])->currentIndex();
        break;
    case C::Flag:
        s.ticked = as<QAbstractButton>(w[0])->isChecked();
        break;
    case C::Position:
        s.number = as<QSlider>(w[0])->value();
        break;
    case C::DstCode:
        s.dst = {textOf(w[0]), textOf(w[1]), as<QComboBox>(w[2])->currentIndex(), textOf(w[3])};
        break;
    case C::ManualTime:
        s.date = as<QDateEdit>(w[0])->date();
        s.parts = {textOf(w[1]), textOf(w[2]), textOf(w[3])};
        break;
    case C::ImageUpload:
        s.boxes.trigger = as<QAbstractButton>(w[0])->isChecked();
        s.boxes.transmit = as<QAbstractButton>(w[1])->isChecked();
        s.boxes.hz100 = w[2] && as<QAbstractButton>(w[2])->isChecked();
        break;
    }
    return s;
}

void EditorBinding::collect(settings::SettingsValues& values, const settings::Units& units) const
{
    const auto schema = settings::settingsSchema();
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        const settings::Shown shown = read(i);
        if (schema[i].unit && shown.text == shownUnitText_[i]) continue;
        settings::storeShown(i, shown, units, values);
    }
}

void EditorBinding::installNumberInput() const
{
    const auto schema = settings::settingsSchema();
    for (std::size_t i = 0; i < schema.size(); ++i) {
        if (!schema[i].number) continue;
        auto* edit = qobject_cast<QLineEdit*>(rows_[i][0]);
        if (!edit) continue;
        edit->setValidator(new QRegularExpressionValidator(inputPattern(*schema[i].number), edit));
        edit->setToolTip(settings::rangeText(*schema[i].number));
    }
}

std::vector<QWidget*> EditorBinding::controls() const
{
    std::vector<QWidget*> out;
    for (const auto& row : rows_)
        for (QWidget* w : row)
            if (w && !qobject_cast<QLabel*>(w)) out.push_back(w);
    return out;
}
