#include "labeled_edit.h"

#include <QEvent>

LabeledEdit::LabeledEdit(QWidget* parent) : QLineEdit(parent), label_(new QLabel(parent)) {
  label_->setBuddy(this);
  if (parent == nullptr) label_->hide();  // never a window of its own; shown once parented
  // The label carries the edit's name so that a look-up of the edit never finds it by accident.
  connect(this, &QObject::objectNameChanged, label_,
          [this](const QString& name) { label_->setObjectName(name + "SubLabel"); });
}

LabeledEdit::~LabeledEdit() {
  delete label_;  // the parent owns it, but it belongs to this edit alone
}

QString LabeledEdit::labelText() const {
  return label_->text();
}

void LabeledEdit::setLabelText(const QString& text) {
  label_->setText(text);
  PlaceLabel();
}

void LabeledEdit::setVisible(bool visible) {
  QLineEdit::setVisible(visible);
  if (label_ != nullptr) label_->setVisible(visible && label_->parentWidget() != nullptr);
}

void LabeledEdit::moveEvent(QMoveEvent* event) {
  QLineEdit::moveEvent(event);
  PlaceLabel();
}

void LabeledEdit::resizeEvent(QResizeEvent* event) {
  QLineEdit::resizeEvent(event);
  PlaceLabel();
}

void LabeledEdit::changeEvent(QEvent* event) {
  QLineEdit::changeEvent(event);
  if (label_ == nullptr) return;
  if (event->type() == QEvent::EnabledChange) {
    // Mirror the edit's own switch, not its parent's: the parent disables both anyway.
    label_->setEnabled(!testAttribute(Qt::WA_Disabled));
  } else if (event->type() == QEvent::ParentChange) {
    AdoptParent();
  }
}

void LabeledEdit::AdoptParent() {
  if (label_->parentWidget() == parentWidget()) return;
  label_->setParent(parentWidget());
  label_->setVisible(!isHidden() && parentWidget() != nullptr);
  PlaceLabel();
}

void LabeledEdit::PlaceLabel() {
  if (label_ == nullptr) return;
  label_->adjustSize();
  const int x = geometry().left() - kLabelSpacing - label_->width();
  const int y = geometry().top() + (height() - label_->height()) / 2;
  label_->move(x, y);
}
