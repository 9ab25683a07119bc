#include "ui/output_viewer.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFileSystemWatcher>
#include <QHeaderView>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QTreeView>
#include <QVBoxLayout>
#include <algorithm>
#include <utility>

#include "ui/find_bar.h"
#include "ui/modals.h"

namespace hx {
namespace {

// How soon a reported change is read, folding the reports of a burst of lines into one read.
constexpr int kChangeDelayMs = 100;
// How often the file is looked at in case a change went unreported (a watch lost to a rename, no watches
// left in the system).
constexpr int kPollIntervalMs = 1000;

QString LatinText(std::string_view line) {
  // The files hold 8-bit text as the senders passed it: Latin-1 shows every byte as one character.
  return QString::fromLatin1(line.data(), static_cast<qsizetype>(line.size()));
}

// A character beyond Latin-1 is in no line (the lines are shown as Latin-1).
bool InLatin1(const QString& text) {
  return std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() <= 0xFF; });
}

}  // namespace

void LinesModel::Reset(ViewerLines lines, bool withColumn) {
  beginResetModel();
  m_lines = std::move(lines);
  m_withColumn = withColumn;
  endResetModel();
}

void LinesModel::Append(std::string_view more) {
  if (more.empty() || !m_withColumn) return;
  const int before = static_cast<int>(m_lines.Count());
  const bool lastGoesOn = m_lines.LastLineOpen();
  const int after = static_cast<int>(m_lines.CountAfter(more));
  if (after > before) beginInsertRows({}, before, after - 1);
  m_lines.Append(more);
  if (after > before) endInsertRows();
  if (lastGoesOn) emit dataChanged(index(before - 1, 0), index(before - 1, 0), {Qt::DisplayRole});
}

int LinesModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() || !m_withColumn ? 0 : static_cast<int>(m_lines.Count());
}

int LinesModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() || !m_withColumn ? 0 : 1;
}

QVariant LinesModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid()) return {};
  return LatinText(m_lines.Line(static_cast<size_t>(index.row())));
}

QVariant LinesModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation == Qt::Horizontal && section == 0 && role == Qt::DisplayRole) return QString("Messages");
  if (orientation == Qt::Horizontal && section == 0 && role == Qt::TextAlignmentRole)
    return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
  return {};
}

OutputViewer::OutputViewer(const std::filesystem::path& path, const QString& title, Modals& modals,
                           QWidget* parent)
    : QWidget(parent, Qt::Window),
      m_path(path),
      m_model(new LinesModel(this)),
      m_list(new QTreeView(this)),
      m_findBar(new FindBar(this)) {
  setWindowTitle(title);
  m_list->setRootIsDecorated(false);
  m_list->setUniformRowHeights(true);
  m_list->setItemsExpandable(false);
  m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
  m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
  m_list->setAllColumnsShowFocus(true);
  m_list->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  m_list->setModel(m_model);
  m_findBar->hide();
  auto* ok = new QPushButton("&OK", this);
  connect(ok, &QPushButton::clicked, this, &QWidget::close);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(ok);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(m_list, 1);
  layout->addWidget(m_findBar);
  layout->addLayout(buttons);
  resize(640, 420);
  BuildActions();

  // At the end of the file the view stays there as rows come; any other place is kept.
  QScrollBar* vertical = m_list->verticalScrollBar();
  connect(vertical, &QScrollBar::valueChanged, this,
          [this, vertical](int value) { m_following = value >= vertical->maximum(); });
  connect(vertical, &QScrollBar::rangeChanged, this, [this, vertical](int, int maximum) {
    if (m_following) vertical->setValue(maximum);
  });
  connect(m_findBar, &FindBar::SearchChanged, this, &OutputViewer::Search);
  connect(m_findBar, &FindBar::NextWanted, this, &OutputViewer::FindNext);
  connect(m_findBar, &FindBar::PreviousWanted, this, &OutputViewer::FindPrevious);
  connect(m_findBar, &FindBar::Closed, this, [this] { m_list->setFocus(); });

  ViewerLines lines;
  if (!lines.Load(path)) {
    modals.Message(parent, "Could not open " + path.string());
    return;
  }
  m_readable = true;
  m_model->Reset(std::move(lines), true);
  FitColumn(0);
  if (int rows = m_model->rowCount(); rows > 0)
    m_list->selectionModel()->setCurrentIndex(m_model->index(rows - 1, 0), QItemSelectionModel::NoUpdate);
  m_list->setFocus();

  m_watcher = new QFileSystemWatcher(this);
  m_watcher->addPath(QString::fromStdString(path.string()));
  m_soon.setSingleShot(true);
  m_soon.setInterval(kChangeDelayMs);
  connect(&m_soon, &QTimer::timeout, this, &OutputViewer::Refresh);
  connect(m_watcher, &QFileSystemWatcher::fileChanged, this, [this] {
    if (!m_soon.isActive()) m_soon.start();
  });
  m_poll.setInterval(kPollIntervalMs);
  connect(&m_poll, &QTimer::timeout, this, &OutputViewer::Refresh);
  m_poll.start();
}

OutputViewer* OutputViewer::ShowOrRaise(QPointer<OutputViewer>& slot, const std::filesystem::path& path,
                                        const QString& title, Modals& modals, QWidget* parent) {
  if (!slot) {
    slot = new OutputViewer(path, title, modals, parent);
    slot->setAttribute(Qt::WA_DeleteOnClose);
  }
  slot->showNormal();
  slot->raise();
  slot->activateWindow();
  return slot;
}

void OutputViewer::BuildActions() {
  auto add = [this](const char* text, QKeySequence key, auto slot) {
    auto* action = new QAction(text, this);
    action->setShortcut(key);
    connect(action, &QAction::triggered, this, slot);
    // The window holds the action for its key, the list for its context menu.
    addAction(action);
    m_list->addAction(action);
  };
  add("&Copy", QKeySequence::Copy, &OutputViewer::CopySelection);
  add("Select &All", QKeySequence::SelectAll, [this] { m_list->selectAll(); });
  auto* separator = new QAction(this);
  separator->setSeparator(true);
  m_list->addAction(separator);
  add("&Find...", QKeySequence::Find, &OutputViewer::OpenFindBar);
  add("Find &Next", QKeySequence(Qt::Key_F3), &OutputViewer::FindNext);
  add("Find &Previous", QKeySequence(Qt::SHIFT | Qt::Key_F3), &OutputViewer::FindPrevious);
  m_list->setContextMenuPolicy(Qt::ActionsContextMenu);
  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  connect(escape, &QShortcut::activated, this, &OutputViewer::OnEscape);
}

void OutputViewer::OnEscape() {
  if (m_findBar->isVisible())
    m_findBar->Close();
  else
    close();
}

void OutputViewer::Refresh() {
  if (!m_readable) return;
  const QString watched = QString::fromStdString(m_path.string());
  if (!m_watcher->files().contains(watched)) m_watcher->addPath(watched);
  const ViewerLines& lines = m_model->Lines();
  std::optional<std::string> more = ReadFileFrom(m_path, lines.Bytes(), false);
  if (!more) {
    // Written anew, shorter: read whole again. A file gone leaves the lines as they were (and is not made
    // again behind the user's back).
    std::optional<std::string> whole = ReadFileFrom(m_path, 0, false);
    if (!whole) return;
    m_model->Reset(ViewerLines(std::move(*whole)), true);
    FitColumn(0);
    m_matchedText.clear();  // the lines are new: nothing to narrow
    Search();
    return;
  }
  if (more->empty()) return;
  const size_t firstChanged = lines.Count() - (lines.LastLineOpen() ? 1 : 0);
  m_model->Append(*more);
  FitColumn(firstChanged);
  SearchFrom(firstChanged);
}

void OutputViewer::FitColumn(size_t from) {
  // The column fills the list and grows past it only for a line that needs it; then the horizontal scroll
  // bar appears, and only then.
  QHeaderView* header = m_list->header();
  int widest = std::max(WidestLine(from), from == 0 ? 0 : header->minimumSectionSize());
  header->setMinimumSectionSize(
      std::clamp(widest, header->minimumSectionSize(), header->maximumSectionSize()));
}

int OutputViewer::WidestLine(size_t from) const {
  // Measuring every line of a file of millions would hold up the opening; in a proportional font the widest
  // line is among the longest ones.
  constexpr size_t kMeasured = 64;
  int widest = 0;
  for (size_t row : m_model->Lines().Longest(kMeasured, from))
    widest = std::max(widest, m_list->sizeHintForIndex(m_model->index(static_cast<int>(row), 0)).width());
  return widest;
}

QString OutputViewer::SelectedText() const {
  std::vector<std::pair<int, int>> ranges;
  for (const QItemSelectionRange& range : m_list->selectionModel()->selection())
    ranges.emplace_back(range.top(), range.bottom());
  std::sort(ranges.begin(), ranges.end());
  QStringList lines;
  int next = 0;  // rows below this one are taken already
  for (auto [top, bottom] : ranges) {
    for (int row = std::max(top, next); row <= bottom; ++row)
      lines << LatinText(m_model->Lines().Line(static_cast<size_t>(row)));
    next = std::max(next, bottom + 1);
  }
  return lines.join('\n');
}

void OutputViewer::CopySelection() const {
  QApplication::clipboard()->setText(SelectedText());
}

void OutputViewer::OpenFindBar() {
  m_findBar->Open();
}

void OutputViewer::Search() {
  const QString text = m_findBar->Text();
  const bool caseSensitive = m_findBar->CaseSensitive();
  // A line that holds the longer text holds the shorter one too.
  if (!m_matchedText.isEmpty() && text.contains(m_matchedText) && caseSensitive == m_matchedCase &&
      InLatin1(text)) {
    m_matches = m_model->Lines().FindAmong(text.toLatin1().toStdString(), caseSensitive, m_matches);
    if (m_match >= m_matches.size()) m_match = 0;
    ShowCount();
  } else {
    m_matches.clear();
    SearchFrom(0);
  }
  m_matchedText = text;
  m_matchedCase = caseSensitive;
  if (m_matches.empty()) return;
  // The first match at or after the current line, or the first of all past the last match.
  const QModelIndex current = m_list->currentIndex();
  const size_t from = current.isValid() ? static_cast<size_t>(current.row()) : 0;
  auto at = std::lower_bound(m_matches.begin(), m_matches.end(), from);
  ShowMatch(at == m_matches.end() ? 0 : static_cast<size_t>(at - m_matches.begin()));
}

void OutputViewer::SearchFrom(size_t from) {
  const QString text = m_findBar->Text();
  m_matches.erase(std::lower_bound(m_matches.begin(), m_matches.end(), from), m_matches.end());
  if (!text.isEmpty() && InLatin1(text)) {
    std::vector<size_t> found =
        m_model->Lines().Find(text.toLatin1().toStdString(), m_findBar->CaseSensitive(), from);
    m_matches.insert(m_matches.end(), found.begin(), found.end());
  }
  if (m_match >= m_matches.size()) m_match = 0;
  ShowCount();
}

void OutputViewer::FindNext() {
  if (m_findBar->Text().isEmpty()) return OpenFindBar();
  if (!m_matches.empty()) ShowMatch((m_match + 1) % m_matches.size());
}

void OutputViewer::FindPrevious() {
  if (m_findBar->Text().isEmpty()) return OpenFindBar();
  if (!m_matches.empty()) ShowMatch((m_match + m_matches.size() - 1) % m_matches.size());
}

void OutputViewer::ShowMatch(size_t match) {
  m_match = match;
  const QModelIndex row = m_model->index(static_cast<int>(m_matches[match]), 0);
  m_list->selectionModel()->setCurrentIndex(row, QItemSelectionModel::ClearAndSelect);
  m_list->scrollTo(row, QAbstractItemView::PositionAtCenter);
  ShowCount();
}

void OutputViewer::ShowCount() {
  m_findBar->ShowCount(m_matches.empty() ? 0 : static_cast<int>(m_match) + 1,
                       static_cast<int>(m_matches.size()));
}

}  // namespace hx
