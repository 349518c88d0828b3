#pragma once
// The settings editor's controls as data: tabs, groups and fields. The main
// window builds its pages from this table; object names are the names the
// binding table and the rules look controls up by.

#include <QString>
#include <QStringList>

#include <vector>

class QTabWidget;
class QWidget;

namespace editor_layout {

enum class Kind {
    Edit,        // QLineEdit
    HiddenEdit,  // QLineEdit never shown
    Combo,       // editable QComboBox: any typed text is kept
    Choice,      // QComboBox limited to its items
    Check,       // QCheckBox
    Radio,       // QRadioButton (the rules keep exclusivity themselves)
    Slider,      // QSlider 0..100
    Date,        // QDateEdit
    Label,       // read-out QLabel
    Button,      // QPushButton
};

struct Field {
    Kind kind;
    const char* name;
    const char* caption = "";   // text before the control (check boxes and radios: their own text)
    const char* items = "";     // "a|b|c", or "@1-12" / "@01-12" for a numbered range
    const char* initial = "";   // text, item text, "1"/"0" for boxes, position for sliders
    const char* labelName = ""; // object name of the caption label, when something relabels it
    const char* suffix = "";    // text after the control, e.g. a unit
    const char* suffixName = "";
    bool sameRow = false;       // continue the previous field's row
};

struct Group {
    const char* title;
    std::vector<Field> fields;
    int column = 0;  // groups stack in columns on their page
};

struct Page {
    const char* name;
    const char* caption;
    std::vector<Group> groups;
};

const std::vector<Page>& editorPages();

QStringList itemsOf(const char* spec);

// Adds one page per entry of editorPages() to `tabs`, controls named and initialised.
void buildPages(QTabWidget* tabs);

}  // namespace editor_layout
