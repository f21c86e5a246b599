// An edit with its own caption label: the label sits in the edit's parent, its right edge 3 px
// left of the edit and vertically centred on it, and it follows the edit's place, visibility and
// enabled state.
#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QPointer>

class LabeledEdit : public QLineEdit {
  Q_OBJECT
  Q_PROPERTY(QString labelText READ labelText WRITE setLabelText)

 public:
  static constexpr int kLabelSpacing = 3;

  explicit LabeledEdit(QWidget* parent = nullptr);
  ~LabeledEdit() override;

  QString labelText() const;
  void setLabelText(const QString& text);
  QLabel* label() const { return label_; }

  void setVisible(bool visible) override;

 protected:
  void moveEvent(QMoveEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void PlaceLabel();
  void AdoptParent();

  QPointer<QLabel> label_;
};
