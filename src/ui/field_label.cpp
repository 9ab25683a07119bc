#include "ui/field_label.h"

#include <QLabel>

namespace hx {

QLabel* FieldLabel(const char* text, QWidget* field, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setBuddy(field);
  return label;
}

}  // namespace hx
