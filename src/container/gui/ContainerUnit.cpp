#include "container/gui/ContainerUnit.h"

#include <QAction>
#include <QCloseEvent>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <exception>
#include <sys/stat.h>

#include "container/ImageList.h"
#include "container/SharedFiles.h"
#include "container/gui/DropTarget.h"
#include "container/gui/ErrorBox.h"
#include "container/gui/ImageListIcons.h"
#include "container/gui/WidgetPlacement.h"
#include "platform/Exception.h"
#include "platform/TextUtils.h"

namespace driftpost {

namespace {

constexpr int CategoryRole = Qt::UserRole;
constexpr int IdRole = Qt::UserRole + 1;
constexpr int PathRole = Qt::UserRole + 2;

constexpr const char* RemoveCaption = "Remove item from container";

QString FromBytes(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

int CategoryImage(TItemCategory category) {
  switch (category) {
    case TItemCategory::Pictures: return iiPicture;
    case TItemCategory::Sounds: return iiLoudspeaker;
    case TItemCategory::Packages:
    case TItemCategory::Others: return iiPackage;
  }
  return iiPackage;
}

QTreeWidgetItem* MakeNode(const QString& caption, int image) {
  auto* node = new QTreeWidgetItem(QStringList{caption});
  node->setIcon(0, ImageListIcon(image));
  node->setFlags(node->flags() | Qt::ItemIsEditable);
  return node;
}

// Handlers run from Qt's event delivery, which exceptions must not cross: whatever escapes
// one is shown in the error box and the program goes on.
template <typename Handler>
void Guarded(QWidget* window, Handler handler) {
  try {
    handler();
  } catch (const std::exception& error) {
    ShowErrorBox(error.what(), window);
  }
}

bool FileExists(const std::string& fileName) {
  struct stat info;
  return ::stat(fileName.c_str(), &info) == 0;
}

}  // namespace

TContainer::TContainer(TItemStore& store, std::string iniFileName, std::string containerFileName)
    : QWidget(nullptr, Qt::Tool),
      store_(store),
      iniFileName_(std::move(iniFileName)),
      containerFileName_(std::move(containerFileName)) {
  setObjectName(ContainerSection);
  setWindowTitle(ContainerCaption);
  setWindowIcon(ImageListIcon(iiBox));

  auto* strip = new QWidget(this);
  strip->setFixedHeight(25);
  SharedLabel = new QLabel(QStringLiteral("The following files are shared right now:"), strip);
  SharedLabel->setAlignment(Qt::AlignCenter);
  auto* stripLayout = new QVBoxLayout(strip);
  stripLayout->setContentsMargins(0, 0, 0, 0);
  stripLayout->addWidget(SharedLabel);

  TreeView = new QTreeWidget(this);
  TreeView->setObjectName(QStringLiteral("TreeView"));
  TreeView->setHeaderHidden(true);
  // Long paths are scrolled to, not cut short.
  TreeView->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  TreeView->header()->setStretchLastSection(false);
  TreeView->setIndentation(19);
  TreeView->setIconSize(QSize(TImageList::Width, TImageList::Height));
  TreeView->setSelectionMode(QAbstractItemView::SingleSelection);
  TreeView->setEditTriggers(QAbstractItemView::SelectedClicked | QAbstractItemView::EditKeyPressed);
  TreeView->setContextMenuPolicy(Qt::CustomContextMenu);
  // Drops are the window's: the tree lets them through to it.
  TreeView->setAcceptDrops(false);
  TreeView->viewport()->setAcceptDrops(false);
  rootNode_ = MakeNode(QStringLiteral("Shared Items"), iiBox);
  TreeView->addTopLevelItem(rootNode_);

  StatusLine = new QLabel(this);
  StatusLine->setObjectName(QStringLiteral("StatusLine"));
  StatusLine->setContentsMargins(4, 2, 4, 2);
  // The address is there to be typed on the Newton, or copied.
  StatusLine->setTextInteractionFlags(Qt::TextSelectableByMouse);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(strip);
  layout->addWidget(TreeView);
  layout->addWidget(StatusLine);

  acRemoveItemFromContainer = new QAction(ImageListIcon(iiRemove), QString::fromLatin1(RemoveCaption), this);
  acRemoveItemFromContainer->setObjectName(QStringLiteral("acRemoveItemFromContainer"));
  acRemoveItemFromContainer->setToolTip(QString::fromLatin1(RemoveCaption));
  acRemoveItemFromContainer->setStatusTip(QString::fromLatin1(RemoveCaption));
  connect(acRemoveItemFromContainer, &QAction::triggered, this, [this] { acRemoveItemFromContainerExecute(); });

  PopupMenu = new QMenu(this);
  PopupMenu->setObjectName(QStringLiteral("PopupMenu"));
  PopupMenu->addAction(acRemoveItemFromContainer);

  connect(TreeView, &QTreeWidget::itemSelectionChanged, this, [this] { acRemoveItemFromContainerUpdate(); });
  connect(TreeView, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& point) { TreeViewContextPopup(point); });

  DropFileTarget = new TDropFileTarget(this);
  DropFileTarget->setObjectName(QStringLiteral("DropFileTarget"));
  DropFileTarget->Dragtypes = dtLink;
  DropFileTarget->OnDrop = [this](Qt::KeyboardModifiers keys, const QPoint& point, Qt::DropAction& effect) {
    DropFileTargetDrop(keys, point, effect);
  };

  const TWindowGeometry& bounds = ContainerDesignBounds;
  setGeometry(bounds.Left, bounds.Top, bounds.Width, bounds.Height);

  Guarded(this, [this] { FormCreate(); });
  acRemoveItemFromContainerUpdate();
}

TContainer::~TContainer() { ShutDown(); }

void TContainer::FormCreate() {
  store_.OnItemAdded = [this](TItemCategory category, const TItemEntry& entry) { ItemAdded(category, entry); };
  DropFileTarget->Register(this);
  if (FileExists(containerFileName_)) store_.LoadContainerFile(containerFileName_);
  if (!store_.LoadFailure().empty()) ShowErrorBox(store_.LoadFailure(), this);
}

void TContainer::LogLine(const std::string& line) {
  if (OnLogLine) OnLogLine(line);
}

bool TContainer::FormDestroy() {
  // A settings file that cannot be written must not cost the user the share list.
  Guarded(this, [this] { SaveWidgetPlacement(*this, ContainerSection, iniFileName_); });
  bool saved = false;
  Guarded(this, [this, &saved] {
    try {
      store_.SaveContainerFile(containerFileName_);
      saved = true;
    } catch (const std::exception& error) {
      LogLine(error.what());
      throw;
    }
  });
  store_.OnItemAdded = nullptr;
  DropFileTarget->Unregister();
  return saved;
}

bool TContainer::ShutDown() {
  if (shutDown_) return sharesSaved_;
  shutDown_ = true;
  hide();
  sharesSaved_ = FormDestroy();
  return sharesSaved_;
}

void TContainer::setVisible(bool visible) {
  const bool wasVisible = isVisible();
  if (visible && !wasVisible) Guarded(this, [this] { FormShow(); });
  QWidget::setVisible(visible);
  if (!visible && wasVisible) Guarded(this, [this] { FormHide(); });
}

void TContainer::FormShow() {
  RestoreWidgetPlacement(*this, ContainerSection, iniFileName_);
  KeepOnScreenWhenShown(*this);
}

void TContainer::FormHide() { SaveWidgetPlacement(*this, ContainerSection, iniFileName_); }

void TContainer::closeEvent(QCloseEvent* event) {
  event->ignore();
  hide();
}

void TContainer::AddConsoleAction(QAction* action) {
  PopupMenu->addSeparator();
  PopupMenu->addAction(action);
}

void TContainer::ShowStatus(const std::string& text) {
  const QString line = FromBytes(text);
  if (StatusLine->text() != line) StatusLine->setText(line);
}

QTreeWidgetItem* TContainer::CategoryNode(TItemCategory category) const {
  return categoryNodes_[static_cast<int>(category)];
}

bool TContainer::IsItemNode(const QTreeWidgetItem* node) { return node && node->data(0, CategoryRole).isValid(); }

QTreeWidgetItem* TContainer::SelectedNode() const {
  const QList<QTreeWidgetItem*> selected = TreeView->selectedItems();
  return selected.isEmpty() ? nullptr : selected.first();
}

QTreeWidgetItem* TContainer::EnsureCategoryNode(TItemCategory category) {
  QTreeWidgetItem*& node = categoryNodes_[static_cast<int>(category)];
  if (!node) {
    // A new category goes first, so the categories show newest first.
    node = MakeNode(QString::fromLatin1(CategoryCaption(category)), iiBox);
    rootNode_->insertChild(0, node);
    rootNode_->setExpanded(true);
  }
  return node;
}

void TContainer::ItemAdded(TItemCategory category, const TItemEntry& entry) {
  QTreeWidgetItem* categoryNode = EnsureCategoryNode(category);
  QTreeWidgetItem* node = MakeNode(FromBytes(entry.Path), CategoryImage(category));
  node->setData(0, CategoryRole, static_cast<int>(category));
  node->setData(0, IdRole, entry.Id);
  node->setData(0, PathRole, QByteArray(entry.Path.data(), static_cast<qsizetype>(entry.Path.size())));
  categoryNode->addChild(node);
  categoryNode->setExpanded(true);
}

void TContainer::DropFileTargetDrop(Qt::KeyboardModifiers, const QPoint&, Qt::DropAction&) {
  Guarded(this, [this] {
    // A name the share list cannot keep is refused with a word, and does not keep the
    // others of the drop out; the box lists every refusal.
    std::string refused;
    for (const std::string& name : DropFileTarget->Files) {
      if (CanShare(name)) continue;
      const std::string line =
          "Cannot share " + EscapeControlCharacters(name) + ": the share list cannot keep that name";
      LogLine(line);
      refused += (refused.empty() ? "" : "\n") + line;
    }
    ShareFiles(store_, DropFileTarget->Files);
    if (!refused.empty()) ShowErrorBox(refused, this);
  });
}

void TContainer::acRemoveItemFromContainerUpdate() {
  acRemoveItemFromContainer->setEnabled(IsItemNode(SelectedNode()));
}

std::string TContainer::CaptionPath(const QTreeWidgetItem& node) {
  const QByteArray path = node.data(0, PathRole).toByteArray();
  // File names need not be valid UTF-8; as long as nobody edited the caption, the entry's
  // own bytes are what it says.
  if (node.text(0) == QString::fromUtf8(path))
    return std::string(path.constData(), static_cast<std::size_t>(path.size()));
  const QByteArray edited = node.text(0).toUtf8();
  return std::string(edited.constData(), static_cast<std::size_t>(edited.size()));
}

void TContainer::acRemoveItemFromContainerExecute() {
  QTreeWidgetItem* node = SelectedNode();
  if (!IsItemNode(node)) return;
  Guarded(this, [this, node] {
    const auto category = static_cast<TItemCategory>(node->data(0, CategoryRole).toInt());
    const std::string caption = CaptionPath(*node);
    // The node's own entry goes when its path is the caption. Only without it is the first
    // entry of that path taken: on a file system that tells /a.jpg from /A.JPG, the first
    // match ignoring case may be another file.
    const TItemList& list = store_.List(category);
    const int own = list.IndexOfId(node->data(0, IdRole).toInt());
    if (own >= 0 && AnsiSameText(list.Path(own), caption))
      store_.RemoveId(category, list.Id(own));
    else
      store_.Remove(category, caption);
    delete node;
  });
  acRemoveItemFromContainerUpdate();
}

void TContainer::TreeViewContextPopup(const QPoint& point) {
  if (QTreeWidgetItem* node = TreeView->itemAt(point)) TreeView->setCurrentItem(node);
  acRemoveItemFromContainerUpdate();
  PopupMenu->popup(TreeView->viewport()->mapToGlobal(point));
}

}  // namespace driftpost
