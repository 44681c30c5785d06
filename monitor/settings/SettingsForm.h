// The settings dialog: edits a working copy of the settings and, on OK, makes it live and
// saves it.
#pragma once
#include <QDialog>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <array>
#include <functional>

#include "monitor/settings/Settings.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace ombrix {

// The threshold grid: the cursor keys and Tab move among the level cells only, never onto
// the fixed row and column, which have no editor; Tab past the last cell (Shift+Tab before
// the first) leaves the grid for the next control.
class TLevelsGrid : public QTableWidget {
  Q_OBJECT

 public:
  TLevelsGrid(int rows, int columns, QWidget* parent) : QTableWidget(rows, columns, parent) {}

 protected:
  QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
  void closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) override;
};

class TSettingsForm : public QDialog {
  Q_OBJECT

 public:
  explicit TSettingsForm(QWidget* parent = nullptr);
  ~TSettingsForm() override;

  // How messages reach the user; tests replace them to read what would be shown.
  std::function<void(const QString& text)> ShowMessage;  // plain box, one OK button
  std::function<void(const QString& text)> ShowError;    // the application's error box
  std::function<void(int helpContext)> ShowHelp;         // F1

  static constexpr int HelpContext = 800;

  QLabel* Label1;
  QLineEdit* IntervalEdit;
  QCheckBox* SmoothCheck;
  QPushButton* OkButton;
  QPushButton* CancelButton;
  QLabel* Label2;
  QLineEdit* CountEdit;
  QTableWidget* StringGrid1;
  QCheckBox* HostNameCheck;
  QCheckBox* LogCheck;
  QCheckBox* PseudoCheck;
  QCheckBox* OtherIosCheck;
  QCheckBox* OnTopCheck;
  bool InputError = false;

  void FormShow();
  void SmoothCheckClick();
  void OkButtonClick();
  // The text the cell editor starts with; every change of it goes to StringGrid1SetEditText.
  QString StringGrid1GetEditText(int col, int row) const;
  void StringGrid1SetEditText(int col, int row, const QString& text);
  TThresholdLevels* RowLevels(int row) const;

 protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void CreateControls();
  void SetUpGrid();
  void ShowInputError(QWidget* control, const QString& message);

  std::array<TThresholdLevels*, 8> rows_{};
  bool destroying_ = false;  // an editor closing now must not reach the half-gone form
  friend class TLevelsDelegate;
};

// Paints the threshold grid's cells and runs its cell editors.
class TLevelsDelegate : public QStyledItemDelegate {
  Q_OBJECT

 public:
  explicit TLevelsDelegate(TSettingsForm* form) : QStyledItemDelegate(form), form_(form) {}
  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override;
  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                        const QModelIndex& index) const override;
  void setEditorData(QWidget* editor, const QModelIndex& index) const override;
  void setModelData(QWidget* editor, QAbstractItemModel* model,
                    const QModelIndex& index) const override;

 private:
  TSettingsForm* form_;
};

}  // namespace ombrix
