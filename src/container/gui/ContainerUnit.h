// The Container window, the program's main window: the tree of the shared files under
// "Shared Items", one node per category and one per entry of the item store, and the target
// for files dropped from the file manager. Closing it only hides it.
//
// The window uses the item store, which the program owns and which outlives it; while the
// window exists it is the store's observer and makes a tree node for every added entry. It
// owns its tree, pop-up menu, remove action and drop target. Every hide saves its placement
// and every show restores it; ShutDown (at exit) saves the placement and the share list.
#pragma once

#include <QWidget>

#include <functional>
#include <string>

#include "container/ItemStore.h"

class QAction;
class QCloseEvent;
class QLabel;
class QMenu;
class QTreeWidget;
class QTreeWidgetItem;

namespace driftpost {

class TDropFileTarget;

// The window's component name, which is also its section in the settings file.
constexpr const char* ContainerSection = "Container";
constexpr const char* ContainerCaption = "Driftpost - Container";

class TContainer : public QWidget {
  Q_OBJECT

 public:
  // Runs FormCreate: binds to the store, registers the drop target and loads the share list
  // file when it exists.
  TContainer(TItemStore& store, std::string iniFileName, std::string containerFileName);
  ~TContainer() override;

  // What destroying the window does at exit, run once: hides it (so a visible window saves
  // its placement and becomes normal), then FormDestroy. False when the share list could not
  // be saved; the error box has said so. The destructor runs it when nobody did.
  bool ShutDown();

  // Adds a separator and the console window's "Console" action to the tree's pop-up menu.
  void AddConsoleAction(QAction* action);

  // Shows the line under the tree: where the Newton finds the server, or why it does not.
  void ShowStatus(const std::string& text);

  // Where the window writes its log lines (refused drops, a share list it did not save).
  std::function<void(const std::string& line)> OnLogLine;

  // Shows and hides run FormShow before the window appears and FormHide after it is gone.
  void setVisible(bool visible) override;

  // The selected node when there is one.
  QTreeWidgetItem* SelectedNode() const;
  QTreeWidgetItem* RootNode() const { return rootNode_; }
  // The category's node, or nullptr before its first item was added.
  QTreeWidgetItem* CategoryNode(TItemCategory category) const;
  // Item nodes carry their category and entry; the root and the categories carry nothing.
  static bool IsItemNode(const QTreeWidgetItem* node);

  void FormShow();
  void FormHide();
  void DropFileTargetDrop(Qt::KeyboardModifiers keys, const QPoint& point, Qt::DropAction& effect);
  void acRemoveItemFromContainerUpdate();
  void acRemoveItemFromContainerExecute();

  QLabel* SharedLabel;
  QTreeWidget* TreeView;
  QLabel* StatusLine;
  QMenu* PopupMenu;
  QAction* acRemoveItemFromContainer;
  TDropFileTarget* DropFileTarget;

 protected:
  // FormCloseQuery: closing hides the window instead.
  void closeEvent(QCloseEvent* event) override;

 private:
  void FormCreate();
  bool FormDestroy();
  void LogLine(const std::string& line);
  // Makes the tree nodes of an entry the store has just added.
  void ItemAdded(TItemCategory category, const TItemEntry& entry);
  QTreeWidgetItem* EnsureCategoryNode(TItemCategory category);
  void TreeViewContextPopup(const QPoint& point);
  // The caption as the path it stands for: the entry's own bytes while the caption is the
  // one the node was given, else the edited text.
  static std::string CaptionPath(const QTreeWidgetItem& node);

  TItemStore& store_;
  std::string iniFileName_;
  std::string containerFileName_;
  QTreeWidgetItem* rootNode_;
  QTreeWidgetItem* categoryNodes_[4] = {};
  bool shutDown_ = false;
  bool sharesSaved_ = false;
};

}  // namespace driftpost
