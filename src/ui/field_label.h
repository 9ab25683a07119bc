#pragma once

class QLabel;
class QWidget;

namespace hx {

// A label for `field` whose mnemonic (the letter after "&" in `text`) puts the focus into the field.
QLabel* FieldLabel(const char* text, QWidget* field, QWidget* parent);

}  // namespace hx
