#include "ui/CoefficientPanel.h"

#include <QCheckBox>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QString>
#include <QWidget>

#include <algorithm>
#include <vector>
#include <stdexcept>

#include "tiremodel/RatedLoad.h"

namespace morvex {

namespace {

constexpr int kEditWidth = 72;
constexpr int kEditHeight = 21;
constexpr int kCheckWidth = 16;
constexpr int kGap = 4;
// Usable width of a page of the page control (its 492 pixels less the frame).
constexpr int kPageWidth = 484;
constexpr int kColumnSeparation = 14;

// The top-row position of Fz0 inside the group box.
constexpr int kFz0EditLeft = 112;
constexpr int kFz0EditWidth = 121;
constexpr int kFz0CheckLeft = 240;
constexpr int kFz0Top = 16;

QString ToQString(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

struct Placement {
  int label_left;
  int label_width;
  int edit_left;
  int edit_width;
  int check_left;
};

// The entries of one page column, in table order.
std::vector<size_t> ColumnEntries(TCoefficientPage page, TPageColumn column) {
  std::vector<size_t> indices;
  const auto table = Coefficients();
  for (size_t i = 0; i < table.size(); ++i)
    if (table[i].page == page && table[i].column == column) indices.push_back(i);
  return indices;
}

// Width in pixels of the widest caption of a column in `font_source`'s font.
int WidestCaption(const QWidget* font_source, const std::vector<size_t>& indices) {
  const QFontMetrics metrics(font_source->font());
  int widest = 0;
  for (size_t i : indices)
    widest = std::max(widest, metrics.horizontalAdvance(ToQString(Coefficients()[i].caption)));
  return widest;
}

}  // namespace

TCoefficientPanel::TCoefficientPanel(QWidget* top, QWidget* lateral_page, QWidget* longitudinal_page,
                                     QWidget* aligning_page) {
  const auto table = Coefficients();

  auto make_entry = [&](size_t i, QWidget* parent, const Placement& place, int top_y) {
    const TCoefficientInfo& info = table[i];
    Entry& entry = entries_[i];
    entry.label = new QLabel(ToQString(info.caption), parent);
    entry.label->setObjectName(ToQString(info.edit) + QStringLiteral("Label"));
    entry.label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    entry.label->setGeometry(place.label_left, top_y, place.label_width, kEditHeight);

    entry.edit = new QLineEdit(ToQString(info.default_text), parent);
    entry.edit->setObjectName(ToQString(info.edit));
    entry.edit->setGeometry(place.edit_left, top_y, place.edit_width, kEditHeight);
    entry.label->setBuddy(entry.edit);
    // A value wider than its box (the 15 digits of a fit or an estimate)
    // shows whole on hover; the file keeps every digit either way.
    QObject::connect(entry.edit, &QLineEdit::textChanged, entry.edit, [edit = entry.edit](const QString& text) {
      const int room = edit->contentsRect().width() - 2 * edit->fontMetrics().averageCharWidth();
      edit->setToolTip(edit->fontMetrics().horizontalAdvance(text) > room ? text : QString());
    });

    if (info.HasFreeFlag()) {
      entry.check = new QCheckBox(parent);
      entry.check->setObjectName(ToQString(info.check_box));
      // Every box starts ticked but those of the engineer's choices (Fz0).
      entry.check->setChecked(FreedByAll(info));
      entry.check->setToolTip(QStringLiteral("Checked: the fits may change %1").arg(ToQString(info.name)));
      if (EngineersChoice(info.name))
        entry.check->setToolTip(QStringLiteral("Checked: the fits may change %1. It is your choice, not a property of "
                                               "the tire: editing it offers to re-express every channel at the new value")
                                    .arg(ToQString(info.name)));
      entry.check->setGeometry(place.check_left, top_y + 2, kCheckWidth + 2, kEditHeight - 4);
    }
  };

  // Fz0 in the top row of the group box.
  for (size_t i : ColumnEntries(TCoefficientPage::kAbovePages, TPageColumn::kNone)) {
    const Placement place{4, kFz0EditLeft - kGap - 4, kFz0EditLeft, kFz0EditWidth, kFz0CheckLeft};
    make_entry(i, top, place, kFz0Top);
  }

  // A page with one or two columns.  The left (or single) column's labels
  // are as wide as its widest caption; the right column is pushed against
  // the page's right edge and its labels take the space in between.
  auto lay_out_page = [&](TCoefficientPage page, QWidget* parent) {
    const auto left = ColumnEntries(page, page == TCoefficientPage::kLongitudinal ? TPageColumn::kSingle
                                                                                   : TPageColumn::kLeft);
    const auto right = ColumnEntries(page, TPageColumn::kRight);
    const int left_label_width = WidestCaption(parent, left);
    const Placement left_place{kGap, left_label_width, kGap + left_label_width + kGap, kEditWidth,
                               2 * kGap + left_label_width + kEditWidth + kGap};
    int row = 0;
    for (size_t i : left) make_entry(i, parent, left_place, kFirstRowTop + kRowPitch * row++);

    const int right_check_left = kPageWidth - kGap - kCheckWidth;
    const int right_edit_left = right_check_left - kGap - kEditWidth;
    const int right_label_left = left_place.check_left + kCheckWidth + kColumnSeparation;
    const Placement right_place{right_label_left, right_edit_left - kGap - right_label_left, right_edit_left,
                                kEditWidth, right_check_left};
    row = 0;
    for (size_t i : right) make_entry(i, parent, right_place, kFirstRowTop + kRowPitch * row++);
  };
  lay_out_page(TCoefficientPage::kLateral, lateral_page);
  lay_out_page(TCoefficientPage::kLongitudinal, longitudinal_page);
  lay_out_page(TCoefficientPage::kAligning, aligning_page);

  for (size_t i = 0; i < entries_.size(); ++i)
    if (!entries_[i].edit) throw std::logic_error("coefficient without a place on the panel: " +
                                                  std::string(table[i].name));
}

const TCoefficientPanel::Entry& TCoefficientPanel::EntryOf(std::string_view name) const {
  const auto table = Coefficients();
  for (size_t i = 0; i < table.size(); ++i)
    if (table[i].name == name) return entries_[i];
  throw std::out_of_range("unknown coefficient " + std::string(name));
}

std::string TCoefficientPanel::Text(std::string_view name) const {
  return EntryOf(name).edit->text().toStdString();
}

void TCoefficientPanel::SetText(std::string_view name, const std::string& text) {
  QLineEdit* edit = EntryOf(name).edit;
  edit->setText(QString::fromStdString(text));
  // Show the start of a long text rather than its end.
  edit->setCursorPosition(0);
}

bool TCoefficientPanel::Free(std::string_view name) const {
  const Entry& entry = EntryOf(name);
  return entry.check != nullptr && entry.check->isChecked();
}

void TCoefficientPanel::SetFree(std::string_view name, bool free) {
  const Entry& entry = EntryOf(name);
  if (entry.check) entry.check->setChecked(free);
}

QLineEdit* TCoefficientPanel::Edit(std::string_view name) const { return EntryOf(name).edit; }

QCheckBox* TCoefficientPanel::CheckBox(std::string_view name) const { return EntryOf(name).check; }

QLabel* TCoefficientPanel::Label(std::string_view name) const { return EntryOf(name).label; }

}  // namespace morvex
