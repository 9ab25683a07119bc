#include "ui/output_viewer.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QTreeView>
#include <QVBoxLayout>
#include <algorithm>

#include "ui/modals.h"

namespace hx {

void LinesModel::Reset(ViewerLines lines, bool withColumn) {
  beginResetModel();
  m_lines = std::move(lines);
  m_withColumn = withColumn;
  endResetModel();
}

int LinesModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() || !m_withColumn ? 0 : static_cast<int>(m_lines.Count());
}

int LinesModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() || !m_withColumn ? 0 : 1;
}

QVariant LinesModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid()) return {};
  std::string_view line = m_lines.Line(static_cast<size_t>(index.row()));
  // The files hold 8-bit text as the senders passed it: Latin-1 shows every byte as one character.
  return QString::fromLatin1(line.data(), static_cast<qsizetype>(line.size()));
}

QVariant LinesModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation == Qt::Horizontal && section == 0 && role == Qt::DisplayRole) return QString("Messages");
  if (orientation == Qt::Horizontal && section == 0 && role == Qt::TextAlignmentRole)
    return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
  return {};
}

OutputViewer::OutputViewer(const std::filesystem::path& path, Modals& modals, QWidget* parent)
    : QDialog(parent), m_model(new LinesModel(this)), m_list(new QTreeView(this)) {
  setWindowTitle("View Output");
  m_list->setRootIsDecorated(false);
  m_list->setUniformRowHeights(true);
  m_list->setItemsExpandable(false);
  m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
  m_list->setSelectionMode(QAbstractItemView::SingleSelection);
  m_list->setAllColumnsShowFocus(true);
  m_list->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  m_list->setModel(m_model);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(m_list);
  layout->addWidget(buttons);
  resize(640, 420);

  ViewerLines lines;
  if (!lines.Load(path)) {
    modals.Message(parent, "Could not open " + path.string());
    return;
  }
  m_model->Reset(std::move(lines), true);
  // The column fills the list and grows past it only for a line that needs it; then the horizontal scroll
  // bar appears, and only then.
  QHeaderView* header = m_list->header();
  header->setMinimumSectionSize(
      std::clamp(WidestLine(), header->minimumSectionSize(), header->maximumSectionSize()));
}

int OutputViewer::WidestLine() const {
  // Measuring every line of a file of millions would hold up the opening; in a proportional font the widest
  // line is among the longest ones.
  constexpr size_t kMeasured = 64;
  int widest = 0;
  for (size_t row : m_model->Lines().Longest(kMeasured))
    widest = std::max(widest, m_list->sizeHintForIndex(m_model->index(static_cast<int>(row), 0)).width());
  return widest;
}

}  // namespace hx
