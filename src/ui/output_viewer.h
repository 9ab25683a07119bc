#pragma once

#include <QAbstractTableModel>
#include <QDialog>
#include <filesystem>

#include "ui/viewer_lines.h"

class QTreeView;

namespace hx {

class Modals;

// The lines of a file as a one-column list "Messages"; rows are made on demand, so the view stays quick on a
// file of millions of lines.
class LinesModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  explicit LinesModel(QObject* parent = nullptr) : QAbstractTableModel(parent) {}

  // Takes the lines; with `withColumn` false the list has no column (the file could not be opened).
  void Reset(ViewerLines lines, bool withColumn);
  const ViewerLines& Lines() const { return m_lines; }

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  ViewerLines m_lines;
  bool m_withColumn = false;
};

// "View Output": a snapshot of the log or the debug trace, one row per line, and OK.
class OutputViewer : public QDialog {
  Q_OBJECT

 public:
  // Reads the file at once; when it cannot be opened, the message "Could not open " and the path is shown and
  // the list stays empty, without a column.
  OutputViewer(const std::filesystem::path& path, Modals& modals, QWidget* parent = nullptr);

  const LinesModel& Model() const { return *m_model; }
  QTreeView* List() const { return m_list; }

 private:
  // The width the column needs for its widest line.
  int WidestLine() const;

  LinesModel* m_model;
  QTreeView* m_list;
};

}  // namespace hx
