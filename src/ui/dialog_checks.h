#pragma once

#include <optional>
#include <string>
#include <string_view>

class QLineEdit;
class QWidget;

namespace hx {

class Modals;

// The number checks of the configuration pages, with the standard refusals.
inline constexpr const char* kIntegerMessage = "Please enter an integer.";
// "Please enter an integer between LOW and HIGH."
std::string IntegerRangeMessage(int low, int high);

// The integer of a field: optional blanks around an optional sign and digits, nothing else; nullopt
// otherwise or when it does not fit an int.
std::optional<int> ParseFieldInt(std::string_view text);

// Each check shows its message and puts the focus into the field when it refuses.
std::optional<int> TakeInt(QLineEdit* field, Modals& modals, QWidget* parent);
std::optional<int> TakeIntInRange(QLineEdit* field, int low, int high, Modals& modals, QWidget* parent);

// The local file of a client transfer. A local name that names a folder gets, on a get, the remote file's
// last name part inside that folder, as cp would; a put from a folder, or a get whose remote name gives no
// file name to save under, is refused: nullopt after the message (focus on the local name field).
std::optional<std::string> TakeClientLocalFile(bool put, const std::string& remoteName, QLineEdit* localField,
                                               Modals& modals, QWidget* parent);

}  // namespace hx
