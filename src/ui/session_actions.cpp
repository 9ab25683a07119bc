#include "ui/session_actions.h"

#include <QAbstractProxyModel>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QUrl>
#include <algorithm>

#include "app/config_keys.h"
#include "app/worker_registry.h"
#include "ui/session_model.h"
#include "ui/session_view.h"

namespace hx {
namespace {

// The address of a Peer cell without its port: "[::1]:21" and "127.0.0.1:69" give "::1" and "127.0.0.1".
QString AddressOfPeer(const QString& peer) {
  if (peer.startsWith('[')) {
    qsizetype close = peer.indexOf(']');
    return close > 0 ? peer.mid(1, close - 1) : peer;
  }
  qsizetype colon = peer.indexOf(':');
  return colon > 0 && colon == peer.lastIndexOf(':') ? peer.left(colon) : peer;
}

// The index of the session model under any proxies of the view (sorting, filtering).
QModelIndex SourceIndex(QModelIndex index) {
  while (auto* proxy = qobject_cast<const QAbstractProxyModel*>(index.model()))
    index = proxy->mapToSource(index);
  return index;
}

}  // namespace

SessionActions::SessionActions(SessionView& list, WorkerRegistry& registry,
                               std::function<bool(const std::string&)> openUrl,
                               std::function<void(int source, const std::string& line)> log, QObject* parent)
    : QObject(parent),
      m_list(list),
      m_registry(registry),
      m_openUrl(std::move(openUrl)),
      m_log(std::move(log)),
      m_menu(new QMenu(&list)) {
  // Several rows at once, for copying and for ending several sessions.
  m_list.setSelectionMode(QAbstractItemView::ExtendedSelection);
  m_list.setContextMenuPolicy(Qt::CustomContextMenu);
  connect(&m_list, &QWidget::customContextMenuRequested, this, &SessionActions::ShowMenu);
  m_list.installEventFilter(this);

  m_cancel = m_menu->addAction("&Cancel transfer", this, &SessionActions::CancelTransfer);
  m_cancel->setShortcut(QKeySequence::Delete);
  m_disconnect = m_menu->addAction("&Disconnect", this, &SessionActions::Disconnect);
  m_menu->addSeparator();
  m_copy = m_menu->addAction("Cop&y", this, &SessionActions::Copy);
  m_copy->setShortcut(QKeySequence::Copy);
  m_copyAddress = m_menu->addAction("Copy &address", this, &SessionActions::CopyAddress);
  m_menu->addSeparator();
  m_openFolder = m_menu->addAction("&Open containing folder", this, &SessionActions::OpenContainingFolder);
  // The shortcuts are shown in the menu; the list's own keys (eventFilter) carry them out.
  for (QAction* action : m_menu->actions()) action->setShortcutContext(Qt::WidgetShortcut);
}

std::vector<SessionActions::Selected> SessionActions::SelectedRows() const {
  std::vector<Selected> rows;
  if (!m_list.selectionModel()) return rows;
  for (const QModelIndex& index : m_list.selectionModel()->selectedRows()) {
    QModelIndex source = SourceIndex(index);
    auto* model = qobject_cast<const SessionModel*>(source.model());
    if (!model) continue;
    int id = model->SessionIdAt(source.row());
    if (id <= 0) continue;  // the version row is no session
    rows.push_back({id, index.row(), model->Cell(source.row(), kColType), model->Cell(source.row(), kColPeer),
                    model->Cell(source.row(), kColPath)});
  }
  std::sort(rows.begin(), rows.end(),
            [](const Selected& a, const Selected& b) { return a.viewRow < b.viewRow; });
  return rows;
}

void SessionActions::UpdateItems() {
  std::vector<Selected> rows = SelectedRows();
  unsigned offered = 0;
  bool anyPeer = false;
  for (const Selected& row : rows) {
    offered |= m_registry.OfferedActions(row.sessionId);
    anyPeer = anyPeer || !row.peer.isEmpty();
  }
  m_cancel->setEnabled((offered & kOffersCancel) != 0);
  m_disconnect->setEnabled((offered & kOffersDisconnect) != 0);
  m_copy->setEnabled(!rows.empty());
  m_copyAddress->setEnabled(anyPeer);
  m_openFolder->setEnabled(rows.size() == 1 && !rows.front().path.isEmpty());
}

void SessionActions::ShowMenu(const QPoint& position) {
  UpdateItems();
  m_menu->popup(m_list.viewport()->mapToGlobal(position));
}

void SessionActions::ActOnSelected(SessionAction action, unsigned mask) {
  for (const Selected& row : SelectedRows())
    if (m_registry.OfferedActions(row.sessionId) & mask) m_registry.Act(row.sessionId, action);
}

void SessionActions::CancelTransfer() {
  ActOnSelected(SessionAction::CancelTransfer, kOffersCancel);
}

void SessionActions::Disconnect() {
  ActOnSelected(SessionAction::Disconnect, kOffersDisconnect);
}

void SessionActions::DeleteKey() {
  for (const Selected& row : SelectedRows()) {
    unsigned offered = m_registry.OfferedActions(row.sessionId);
    if (offered & kOffersCancel)
      m_registry.Act(row.sessionId, SessionAction::CancelTransfer);
    else if (offered & kOffersDisconnect)
      m_registry.Act(row.sessionId, SessionAction::Disconnect);
  }
}

void SessionActions::Copy() {
  const QAbstractItemModel* shown = m_list.model();
  const QHeaderView* header = m_list.horizontalHeader();
  QString text;
  for (const Selected& row : SelectedRows()) {
    QStringList cells;
    for (int visual = 0; visual < header->count(); ++visual) {
      int column = header->logicalIndex(visual);
      if (header->isSectionHidden(column)) continue;
      cells << shown->index(row.viewRow, column).data(Qt::DisplayRole).toString();
    }
    text += cells.join('\t') + '\n';
    LogDone(row,
            "Row of " +
                (row.peer.isEmpty() ? "session " + std::to_string(row.sessionId) : row.peer.toStdString()) +
                " copied");
  }
  if (!text.isEmpty()) QApplication::clipboard()->setText(text);
}

void SessionActions::CopyAddress() {
  QStringList peers;
  for (const Selected& row : SelectedRows())
    if (!row.peer.isEmpty()) {
      peers << AddressOfPeer(row.peer);
      LogDone(row, "Address of " + row.peer.toStdString() + " copied");
    }
  if (!peers.isEmpty()) QApplication::clipboard()->setText(peers.join('\n'));
}

void SessionActions::OpenContainingFolder() {
  std::vector<Selected> rows = SelectedRows();
  if (rows.size() != 1 || rows.front().path.isEmpty()) return;
  QString folder = QFileInfo(rows.front().path).absolutePath();
  LogDone(rows.front(), "Folder of " + rows.front().path.toStdString() + " opened");
  std::string url = QUrl::fromLocalFile(folder).toString().toStdString();
  if (m_openUrl)
    m_openUrl(url);
  else
    QDesktopServices::openUrl(QUrl(QString::fromStdString(url)));
}

bool SessionActions::eventFilter(QObject* watched, QEvent* event) {
  if (watched == &m_list && event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->matches(QKeySequence::Copy)) {
      Copy();
      return true;
    }
    if (key->matches(QKeySequence::Delete)) {
      DeleteKey();
      return true;
    }
  }
  return QObject::eventFilter(watched, event);
}

void SessionActions::LogDone(const Selected& row, const std::string& what) const {
  if (!m_log) return;
  const bool tftp = row.type.startsWith("Tftp");
  m_log(tftp ? cfg::kSourceTftp : cfg::kSourceFtp, (tftp ? "TFTP: " : "FTP: ") + what + " by the operator");
}

}  // namespace hx
