#pragma once

#include <optional>
#include <string>
#include <string_view>

class QLineEdit;
class QWidget;

namespace hx {

class Modals;

// The refusals that dialogs share when their values are taken back.
inline constexpr const char* kNotBlankMessage = "This field cannot be left blank.";
inline constexpr const char* kIntegerMessage = "Please enter an integer.";
// "Please enter an integer between LOW and HIGH."
std::string IntegerRangeMessage(int low, int high);

// The integer of a field: optional blanks around an optional sign and digits, nothing else; nullopt
// otherwise or when it does not fit an int.
std::optional<int> ParseFieldInt(std::string_view text);

// Each check shows its message and puts the focus into the field when it refuses.
bool CheckNotBlank(QLineEdit* field, Modals& modals, QWidget* parent);
std::optional<int> TakeInt(QLineEdit* field, Modals& modals, QWidget* parent);
std::optional<int> TakeIntInRange(QLineEdit* field, int low, int high, Modals& modals, QWidget* parent);

}  // namespace hx
