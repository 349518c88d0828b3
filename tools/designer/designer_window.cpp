#include "designer_window.h"

#include "package/design/design_registry.h"
#include "package/design/form_events.h"
#include "package/design/form_loader.h"
#include "package_loader.h"
#include "toolkit/exceptions.h"
#include "toolkit/form_stream.h"
#include "toolkit/user_interaction.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QHeaderView>
#include <QListWidget>
#include <QMenuBar>
#include <QPainter>
#include <QSaveFile>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTabWidget>
#include <QTreeWidget>

namespace designer {

namespace {
constexpr int kComponentRole = Qt::UserRole + 1;
const QString kFormFilter = QStringLiteral("Forms (*.dfm)|*.dfm|All files (*)|*");

toolkit::FileDialogRequest request(QWidget* parent, const QString& title, const QString& fileName,
                                   const QString& filter, const QString& suffix, bool mustExist)
{
    toolkit::FileDialogRequest r;
    r.parent = parent;
    r.title = title;
    r.fileName = fileName;
    r.filter = filter;
    r.defaultSuffix = suffix;
    r.mustExist = mustExist;
    return r;
}
// A non-visual component's mark on the form: a tile with the capitals of its
// class name (WSS for TwskWebSocketServer), drawn at the size the view shows,
// where the style's stock icons come at half that size.
QIcon componentIcon(const QString& className)
{
    QString letters;
    for (const QChar c : className.mid(className.startsWith(QStringLiteral("Twsk")) ? 4 : 1))
        if (c.isUpper()) letters += c;
    QPixmap tile(32, 32);
    tile.fill(Qt::transparent);
    QPainter painter(&tile);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(0x2b, 0x57, 0x9a), 1));
    painter.setBrush(QColor(0xdc, 0xe8, 0xf8));
    painter.drawRoundedRect(QRectF(0.5, 0.5, 31, 31), 5, 5);
    QFont font = painter.font();
    font.setBold(true);
    font.setPixelSize(letters.size() > 2 ? 10 : 13);
    painter.setFont(font);
    painter.drawText(QRect(0, 0, 32, 32), Qt::AlignCenter, letters.left(4));
    return QIcon(tile);
}

}  // namespace

DesignerWindow::DesignerWindow(QWidget* parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("DesignerWindow"));
    formRoot_.setObjectName(QStringLiteral("Form1"));

    palette_ = new QTreeWidget;
    palette_->setObjectName(QStringLiteral("paletteTree"));
    palette_->setHeaderLabel(tr("Palette"));
    connect(palette_, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* item) {
        if (item->parent() != nullptr) addComponent(item->text(0));
    });

    formView_ = new QListWidget;
    formView_->setObjectName(QStringLiteral("formView"));
    formView_->setViewMode(QListView::IconMode);
    formView_->setIconSize(QSize(32, 32));
    formView_->setGridSize(QSize(150, 72));
    formView_->setMovement(QListView::Static);
    formView_->setResizeMode(QListView::Adjust);
    // Room around the icons: the grid puts its first row against the view's top edge.
    formView_->setStyleSheet(QStringLiteral("QListWidget#formView { padding: 10px; background: palette(base); }"));
    formView_->setWordWrap(true);
    connect(formView_, &QListWidget::currentItemChanged, this, [this](QListWidgetItem* item) {
        auto* component = item ? item->data(kComponentRole).value<toolkit::TComponent*>() : nullptr;
        grid_->showComponent(component);
        events_->showComponent(component);
    });

    grid_ = new PropertyGrid;
    connect(grid_, &PropertyGrid::renamed, this, [this](toolkit::TComponent* c) {
        updateItem(c);
        // The names the event list suggests follow the component's name.
        events_->showComponent(c);
        markModified();
    });
    connect(grid_, &PropertyGrid::edited, this, [this] { markModified(); });
    events_ = new EventGrid;
    events_->setFormHandlers([this] {
        QStringList names;
        for (const auto* c : components())
            for (const auto& [event, handler] : design::EventHandlerNames(c))
                if (!names.contains(handler)) names << handler;
        names.sort();
        return names;
    });
    connect(events_, &EventGrid::edited, this, [this] { markModified(); });
    inspector_ = new QTabWidget;
    inspector_->setObjectName(QStringLiteral("inspector"));
    inspector_->addTab(grid_, tr("Properties"));
    inspector_->addTab(events_, tr("Events"));

    auto* splitter = new QSplitter;
    splitter->addWidget(palette_);
    splitter->addWidget(formView_);
    splitter->addWidget(inspector_);
    splitter->setStretchFactor(0, 0);
    splitter->setStretchFactor(1, 1);
    splitter->setStretchFactor(2, 0);
    splitter->setSizes({210, 390, 460});
    setCentralWidget(splitter);
    buildMenus();
    updateTitle();
}

DesignerWindow::~DesignerWindow()
{
    // The form's components go before the window's widgets that show them.
    grid_->showComponent(nullptr);
    events_->showComponent(nullptr);
    formView_->clear();
    qDeleteAll(components());
}

void DesignerWindow::buildMenus()
{
    QMenu* file = menuBar()->addMenu(tr("&File"));
    file->addAction(tr("&New Form"), QKeySequence::New, this, [this] {
        if (mayDiscardForm()) newForm();
    });
    file->addAction(tr("&Open Form..."), QKeySequence::Open, this, [this] {
        if (!mayDiscardForm()) return;
        const auto r = request(this, tr("Open Form"), QString(), kFormFilter, QStringLiteral("dfm"), true);
        if (const auto path = toolkit::userInteraction().openFile(r)) openForm(*path);
    });
    file->addAction(tr("&Save Form"), QKeySequence::Save, this, [this] { saveWithDialog(formPath_.isEmpty()); });
    file->addAction(tr("Save Form &As..."), QKeySequence::SaveAs, this, [this] { saveWithDialog(true); });
    file->addSeparator();
    file->addAction(tr("&Load Package..."), this, [this] {
        const auto r = request(this, tr("Load Package"), QString(),
                               QStringLiteral("Packages (*.so)|*.so|All files (*)|*"), QString(), true);
        if (const auto path = toolkit::userInteraction().openFile(r)) loadPackage(*path);
    });
    file->addSeparator();
    file->addAction(tr("E&xit"), QKeySequence::Quit, this, &QWidget::close);
    QMenu* component = menuBar()->addMenu(tr("&Component"));
    component->addAction(tr("&Delete"), QKeySequence::Delete, this, [this] { deleteSelected(); });
}

bool DesignerWindow::saveWithDialog(bool askForName)
{
    if (!askForName) return saveForm(formPath_);
    const QString title = formPath_.isEmpty() ? tr("Save Form") : tr("Save Form As");
    const QString name = formPath_.isEmpty() ? QStringLiteral("Form1.dfm") : formPath_;
    const auto r = request(this, title, name, kFormFilter, QStringLiteral("dfm"), false);
    const auto path = toolkit::userInteraction().saveFile(r);
    return path && saveForm(*path);
}

bool DesignerWindow::mayDiscardForm()
{
    if (!isWindowModified()) return true;
    const QString form = formPath_.isEmpty() ? QStringLiteral("Form1") : formPath_;
    const QString save = tr("Save"), discard = tr("Discard");
    const int answer = toolkit::userInteraction().choose(this, tr("Save changes to %1?").arg(form), tr("Designer"),
                                                         {save, discard, tr("Cancel")});
    if (answer == 0) return saveWithDialog(formPath_.isEmpty());
    return answer == 1;
}

void DesignerWindow::closeEvent(QCloseEvent* event)
{
    if (mayDiscardForm()) {
        event->accept();
    } else {
        event->ignore();
    }
}

void DesignerWindow::markModified()
{
    setWindowModified(true);
    updateTitle();
}

bool DesignerWindow::loadPackage(const QString& path)
{
    QString error;
    const auto package = designer::loadPackage(path, &error);
    if (!package) {
        toolkit::userInteraction().error(this, error, tr("Designer"));
        return false;
    }
    refreshPalette();
    statusBar()->showMessage(tr("Package %1 loaded from %2").arg(package->name, package->path));
    return true;
}

void DesignerWindow::refreshPalette()
{
    palette_->clear();
    for (const QString& page : design::PalettePages()) {
        auto* pageItem = new QTreeWidgetItem(palette_, {page});
        for (const QMetaObject* meta : design::PaletteClasses(page)) {
            auto* item = new QTreeWidgetItem(pageItem, {design::ClassName(meta)});
            item->setIcon(0, style()->standardIcon(QStyle::SP_FileDialogDetailedView));
        }
        pageItem->setExpanded(true);
    }
}

QString DesignerWindow::uniqueName(const QString& className) const
{
    QString base = className;
    if (base.startsWith(QStringLiteral("Twsk"))) base = base.mid(4);
    else if (base.startsWith(u'T')) base = base.mid(1);
    QStringList taken;
    for (const auto* c : components()) taken << c->name();
    for (int n = 1;; ++n)
        if (!taken.contains(base + QString::number(n))) return base + QString::number(n);
}

toolkit::TComponent* DesignerWindow::addComponent(const QString& className)
{
    const QMetaObject* meta = design::FindClass(className);
    if (meta == nullptr) {
        toolkit::userInteraction().error(this, tr("Class %1 is not registered.").arg(className), tr("Designer"));
        return nullptr;
    }
    try {
        toolkit::TComponent* component = design::CreateComponent(meta, &formRoot_, true);
        component->setName(uniqueName(className));
        addToView(component);
        selectComponent(component);
        markModified();
        return component;
    } catch (const toolkit::Exception& e) {
        toolkit::userInteraction().error(this, e.message(), tr("Designer"));
        return nullptr;
    }
}

void DesignerWindow::addToView(toolkit::TComponent* component)
{
    auto* item = new QListWidgetItem(componentIcon(design::ClassName(component->metaObject())), component->name(), formView_);
    item->setData(kComponentRole, QVariant::fromValue(component));
    item->setToolTip(design::ClassName(component->metaObject()));
}

void DesignerWindow::updateItem(toolkit::TComponent* component)
{
    for (int i = 0; i < formView_->count(); ++i)
        if (formView_->item(i)->data(kComponentRole).value<toolkit::TComponent*>() == component)
            formView_->item(i)->setText(component->name());
}

void DesignerWindow::selectComponent(toolkit::TComponent* component)
{
    for (int i = 0; i < formView_->count(); ++i)
        if (formView_->item(i)->data(kComponentRole).value<toolkit::TComponent*>() == component)
            formView_->setCurrentRow(i);
}

void DesignerWindow::deleteSelected()
{
    QListWidgetItem* item = formView_->currentItem();
    if (item == nullptr) return;
    auto* component = item->data(kComponentRole).value<toolkit::TComponent*>();
    grid_->showComponent(nullptr);
    events_->showComponent(nullptr);
    delete item;
    delete component;
    markModified();
}

QList<toolkit::TComponent*> DesignerWindow::components() const
{
    QList<toolkit::TComponent*> out;
    for (QObject* child : formRoot_.children())
        if (auto* c = qobject_cast<toolkit::TComponent*>(child)) out << c;
    return out;
}

QString DesignerWindow::formText() const
{
    QList<const toolkit::TComponent*> list;
    for (const auto* c : components()) list << c;
    return design::WriteForm(list);
}

bool DesignerWindow::saveForm(const QString& path)
{
    QSaveFile file(path);
    const QByteArray text = formText().toUtf8();
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit()) {
        toolkit::userInteraction().error(this, tr("The form could not be saved to %1: %2").arg(path, file.errorString()),
                                         tr("Designer"));
        return false;
    }
    formPath_ = path;
    setWindowModified(false);
    updateTitle();
    statusBar()->showMessage(tr("Saved %1").arg(path));
    return true;
}

void DesignerWindow::newForm()
{
    grid_->showComponent(nullptr);
    events_->showComponent(nullptr);
    formView_->clear();
    qDeleteAll(components());
    formPath_.clear();
    setWindowModified(false);
    updateTitle();
}

bool DesignerWindow::openForm(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        toolkit::userInteraction().error(this, tr("The form %1 could not be opened: %2").arg(path, file.errorString()),
                                         tr("Designer"));
        return false;
    }
    const QString text = QString::fromUtf8(file.readAll());
    newForm();
    const design::LoadedForm loaded = design::LoadForm(text, &formRoot_);
    for (toolkit::TComponent* c : loaded.components) {
        c->setDesigning(true);
        addToView(c);
    }
    if (!loaded.components.isEmpty()) selectComponent(loaded.components.first());
    formPath_ = path;
    setWindowModified(false);
    updateTitle();
    if (!loaded.problems.isEmpty()) {
        toolkit::userInteraction().error(
            this, tr("%1 opened; these lines were left out:\n%2").arg(path, loaded.problems.join(u'\n')),
            tr("Designer"));
    }
    return true;
}

void DesignerWindow::updateTitle()
{
    const QString form = formPath_.isEmpty() ? QStringLiteral("Form1") : formPath_;
    // [*] is where Qt shows the modified mark.
    setWindowTitle(tr("Component Designer - %1[*]").arg(form));
}

}  // namespace designer

