#pragma once

#include <QAbstractTableModel>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <filesystem>
#include <string_view>
#include <vector>

#include "ui/viewer_lines.h"

class QFileSystemWatcher;
class QTreeView;

namespace hx {

class FindBar;
class Modals;

// The lines of a file as a one-column list "Messages"; rows are made on demand, so the view stays quick on a
// file of millions of lines.
class LinesModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  explicit LinesModel(QObject* parent = nullptr) : QAbstractTableModel(parent) {}

  // Takes the lines; with `withColumn` false the list has no column (the file could not be opened).
  void Reset(ViewerLines lines, bool withColumn);
  // Takes bytes the file gained: new rows are inserted, and a last line that went on is changed.
  void Append(std::string_view more);
  const ViewerLines& Lines() const { return m_lines; }

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  ViewerLines m_lines;
  bool m_withColumn = false;
};

// A window on the transfer log or the debug trace, one row per line. It opens at the newest line and follows
// the file as it grows while it is scrolled to the end; scrolled up, it stays where the user put it until
// scrolled back down. Lines selected are copied with Ctrl+C or the context menu; Ctrl+F opens the find bar,
// F3 and Shift+F3 go to the next and the previous matching line. The window is not modal: the main window
// goes on being served beside it.
class OutputViewer : public QWidget {
  Q_OBJECT

 public:
  // Reads the file at once; when it cannot be opened, the message "Could not open " and the path is shown and
  // the list stays empty, without a column.
  OutputViewer(const std::filesystem::path& path, const QString& title, Modals& modals,
               QWidget* parent = nullptr);

  // Shows the viewer held in `slot`, made first when there is none (it goes when closed), raised when there
  // is one.
  static OutputViewer* ShowOrRaise(QPointer<OutputViewer>& slot, const std::filesystem::path& path,
                                   const QString& title, Modals& modals, QWidget* parent);

  const LinesModel& Model() const { return *m_model; }
  QTreeView* List() const { return m_list; }
  FindBar* Finder() const { return m_findBar; }
  // Whether the view keeps to the end of the file as lines come.
  bool Following() const { return m_following; }

  // Takes what the file gained since it was read (a file rewritten shorter is read again whole). A watch on
  // the file calls it soon after each change, and a slow timer in case a change is not reported.
  void Refresh();
  // The selected lines, in file order, one a line.
  QString SelectedText() const;
  void CopySelection() const;
  // The find bar's commands: F3, Shift+F3, and Ctrl+F.
  void FindNext();
  void FindPrevious();
  void OpenFindBar();

 private:
  void BuildActions();
  // Widens the column for the lines from `from` on that need it.
  void FitColumn(size_t from);
  int WidestLine(size_t from) const;
  // Searches again for the find bar's text and shows the match at or after the current line.
  void Search();
  // Drops the matches from line `from` on and searches those lines again.
  void SearchFrom(size_t from);
  void ShowMatch(size_t match);
  void ShowCount();
  void OnEscape();

  std::filesystem::path m_path;
  bool m_readable = false;
  LinesModel* m_model;
  QTreeView* m_list;
  FindBar* m_findBar;
  QFileSystemWatcher* m_watcher = nullptr;
  QTimer m_soon;  // folds a burst of change reports into one read
  QTimer m_poll;
  bool m_following = true;
  std::vector<size_t> m_matches;  // the lines that hold the find bar's text, in order
  // What m_matches were found for, so that a longer text typed on narrows them instead of searching anew.
  QString m_matchedText;
  bool m_matchedCase = false;
  size_t m_match = 0;  // the match shown, when there are any
};

}  // namespace hx
