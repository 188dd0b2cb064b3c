#include "platform/ui/table_view.hpp"

namespace platform::ui {

TableViewCell::TableViewCell(TableViewCellStyle style, std::string reuseIdentifier)
    : View(Rect(0, 0, 320, 44)),
      style_(style),
      reuseIdentifier_(std::move(reuseIdentifier)),
      textLabel_(Label::create(Rect(15, 0, 290, 44))) {
  textLabel_->setAutoresizingMask(kAutoresizingFlexibleWidth | kAutoresizingFlexibleHeight);
  addSubview(textLabel_);
}

std::shared_ptr<TableViewCell> TableViewCell::create(TableViewCellStyle style, std::string reuseIdentifier) {
  return std::make_shared<TableViewCell>(style, std::move(reuseIdentifier));
}

void TableViewCell::setAccessoryType(TableViewCellAccessory accessory) {
  accessory_ = accessory;
  changed();
}

void TableViewCell::setIndentationLevel(int level) {
  indentationLevel_ = level;
  changed();
}

void TableViewCell::setIndentationWidth(double width) {
  indentationWidth_ = width;
  changed();
}

void TableViewCell::setSelected(bool selected, bool) {
  selected_ = selected;
  changed();
}

void TableViewCell::prepareForReuse() { setSelected(false, false); }

TableView::TableView(Rect frame, TableViewStyle style) : ScrollView(frame), style_(style) {}

std::shared_ptr<TableView> TableView::create(Rect frame, TableViewStyle style) {
  return std::make_shared<TableView>(frame, style);
}

void TableView::setDataSource(std::weak_ptr<TableViewDataSource> dataSource) {
  dataSource_ = std::move(dataSource);
  reloadData();
}

void TableView::setDelegate(std::weak_ptr<TableViewDelegate> delegate) { delegate_ = std::move(delegate); }

void TableView::reloadData() {
  for (auto& [indexPath, cell] : cells_) {
    cell->removeFromSuperview();
    reusable_.emplace(cell->reuseIdentifier(), cell);
  }
  cells_.clear();
  selected_.reset();
  changed();
}

int TableView::numberOfSections() {
  auto source = dataSource();
  return source ? std::max(0, source->numberOfSections(*this)) : 0;
}

int TableView::numberOfRows(int section) {
  auto source = dataSource();
  if (!source || section < 0 || section >= numberOfSections()) return 0;
  return std::max(0, source->numberOfRows(*this, section));
}

std::shared_ptr<TableViewCell> TableView::cellForRow(IndexPath indexPath) {
  if (indexPath.row < 0 || indexPath.row >= numberOfRows(indexPath.section)) return nullptr;
  if (auto it = cells_.find(indexPath); it != cells_.end()) return it->second;
  auto source = dataSource();
  auto cell = source->cellForRow(*this, indexPath);
  if (!cell) return nullptr;
  auto rowDelegate = delegate();
  cell->setIndentationLevel(rowDelegate ? rowDelegate->indentationLevelForRow(*this, indexPath) : 0);
  double y = 0;
  for (int section = 0; section <= indexPath.section; ++section) {
    const int rows = section == indexPath.section ? indexPath.row : numberOfRows(section);
    for (int row = 0; row < rows; ++row) y += rowDelegate ? rowDelegate->heightForRow(*this, {section, row}) : 44;
  }
  const double height = rowDelegate ? rowDelegate->heightForRow(*this, indexPath) : 44;
  cell->setFrame(Rect(0, y, bounds().width(), height));
  cell->setSelected(selected_ == indexPath, false);
  cells_[indexPath] = cell;
  addSubview(cell);
  return cell;
}

std::vector<std::shared_ptr<TableViewCell>> TableView::visibleCells() {
  std::vector<std::shared_ptr<TableViewCell>> out;
  const int sections = numberOfSections();
  for (int section = 0; section < sections; ++section) {
    const int rows = numberOfRows(section);
    for (int row = 0; row < rows; ++row) {
      if (auto cell = cellForRow({section, row})) out.push_back(std::move(cell));
    }
  }
  return out;
}

std::shared_ptr<TableViewCell> TableView::dequeueReusableCell(const std::string& identifier) {
  auto it = reusable_.find(identifier);
  if (it == reusable_.end()) return nullptr;
  auto cell = it->second;
  reusable_.erase(it);
  cell->prepareForReuse();
  return cell;
}

void TableView::selectRow(IndexPath indexPath, bool animated) {
  if (selected_) {
    if (auto it = cells_.find(*selected_); it != cells_.end()) it->second->setSelected(false, animated);
  }
  selected_ = indexPath;
  if (auto it = cells_.find(indexPath); it != cells_.end()) it->second->setSelected(true, animated);
}

void TableView::deselectRow(IndexPath indexPath, bool animated) {
  if (selected_ != indexPath) return;
  selected_.reset();
  if (auto it = cells_.find(indexPath); it != cells_.end()) it->second->setSelected(false, animated);
}

void TableView::tapRow(IndexPath indexPath) {
  if (indexPath.row < 0 || indexPath.row >= numberOfRows(indexPath.section)) return;
  cellForRow(indexPath);
  selectRow(indexPath, false);
  // The delegate may release this table (e.g. by popping its screen).
  auto keepAlive = weak_from_this().lock();
  if (auto d = delegate()) d->didSelectRow(*this, indexPath);
}

}  // namespace platform::ui
