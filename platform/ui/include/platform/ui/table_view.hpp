#pragma once
// Table views: rows of cells from a data source, selection through a delegate.

#include <compare>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/label.hpp"
#include "platform/ui/scroll_view.hpp"

namespace platform::ui {

class TableView;

struct IndexPath {
  int section = 0;
  int row = 0;
  auto operator<=>(const IndexPath&) const = default;
};

enum class TableViewStyle { Plain, Grouped };
enum class TableViewCellStyle { Default, Value1, Value2, Subtitle };
enum class TableViewCellAccessory { None, DisclosureIndicator, DetailDisclosureButton, Checkmark };

class TableViewCell : public View {
 public:
  TableViewCell(TableViewCellStyle style, std::string reuseIdentifier);
  static std::shared_ptr<TableViewCell> create(TableViewCellStyle style, std::string reuseIdentifier);

  TableViewCellStyle style() const { return style_; }
  const std::string& reuseIdentifier() const { return reuseIdentifier_; }
  // The cell's text label (owned by the cell, always present).
  Label& textLabel() { return *textLabel_; }
  const Label& textLabel() const { return *textLabel_; }

  TableViewCellAccessory accessoryType() const { return accessory_; }
  void setAccessoryType(TableViewCellAccessory accessory);
  int indentationLevel() const { return indentationLevel_; }
  void setIndentationLevel(int level);
  double indentationWidth() const { return indentationWidth_; }
  void setIndentationWidth(double width);
  bool isSelected() const { return selected_; }
  void setSelected(bool selected, bool animated);

  // Called before the table hands the cell out again. The base clears the selection.
  virtual void prepareForReuse();

 private:
  TableViewCellStyle style_;
  std::string reuseIdentifier_;
  std::shared_ptr<Label> textLabel_;
  TableViewCellAccessory accessory_ = TableViewCellAccessory::None;
  int indentationLevel_ = 0;
  double indentationWidth_ = 10;
  bool selected_ = false;
};

// Answers on the main thread. Data sources are not owned.
class TableViewDataSource {
 public:
  virtual ~TableViewDataSource() = default;
  virtual int numberOfSections(TableView& tableView) { return 1; }
  virtual int numberOfRows(TableView& tableView, int section) = 0;
  // A cell for the row: a reused one from dequeueReusableCell or a new one.
  virtual std::shared_ptr<TableViewCell> cellForRow(TableView& tableView, IndexPath indexPath) = 0;
};

// Callbacks on the main thread. Delegates are not owned.
class TableViewDelegate {
 public:
  virtual ~TableViewDelegate() = default;
  virtual void didSelectRow(TableView& tableView, IndexPath indexPath) {}
  virtual int indentationLevelForRow(TableView& tableView, IndexPath indexPath) { return 0; }
  virtual double heightForRow(TableView& tableView, IndexPath indexPath) { return 44; }
};

class TableView : public ScrollView {
 public:
  explicit TableView(Rect frame = {}, TableViewStyle style = TableViewStyle::Plain);
  static std::shared_ptr<TableView> create(Rect frame = {}, TableViewStyle style = TableViewStyle::Plain);

  TableViewStyle style() const { return style_; }
  std::shared_ptr<TableViewDataSource> dataSource() const { return dataSource_.lock(); }
  void setDataSource(std::weak_ptr<TableViewDataSource> dataSource);
  std::shared_ptr<TableViewDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(std::weak_ptr<TableViewDelegate> delegate);

  // Drops the cells (they become reusable) and asks the data source again on
  // the next query.
  void reloadData();
  // Counts from the data source; 0 without one.
  int numberOfSections();
  int numberOfRows(int section);
  // The cell shown for the row, asked from the data source the first time
  // (the delegate's indentation level is applied); null for a row that does
  // not exist or without a data source.
  std::shared_ptr<TableViewCell> cellForRow(IndexPath indexPath);
  // All rows' cells in order (materialising them).
  std::vector<std::shared_ptr<TableViewCell>> visibleCells();
  // A cell given back by reloadData with this identifier, or null.
  std::shared_ptr<TableViewCell> dequeueReusableCell(const std::string& identifier);

  std::optional<IndexPath> indexPathForSelectedRow() const { return selected_; }
  void selectRow(IndexPath indexPath, bool animated);
  void deselectRow(IndexPath indexPath, bool animated);

  // A user's tap on a row: selects it, then tells the delegate. Rows that do
  // not exist are ignored.
  void tapRow(IndexPath indexPath);

 private:
  TableViewStyle style_;
  std::weak_ptr<TableViewDataSource> dataSource_;
  std::weak_ptr<TableViewDelegate> delegate_;
  std::map<IndexPath, std::shared_ptr<TableViewCell>> cells_;
  std::multimap<std::string, std::shared_ptr<TableViewCell>> reusable_;
  std::optional<IndexPath> selected_;
};

}  // namespace platform::ui
