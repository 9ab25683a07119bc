#include "ui/dialog_checks.h"

#include <QLineEdit>
#include <climits>
#include <filesystem>

#include "ui/modals.h"

namespace hx {

std::string IntegerRangeMessage(int low, int high) {
  return "Please enter an integer between " + std::to_string(low) + " and " + std::to_string(high) + ".";
}

std::optional<int> ParseFieldInt(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  long long value = 0;
  size_t digits = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++digits) {
    value = value * 10 + (text[i] - '0');
    if (value > static_cast<long long>(INT_MAX) + 1) return std::nullopt;
  }
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  if (digits == 0 || i != text.size()) return std::nullopt;
  if (negative) value = -value;
  if (value > INT_MAX || value < INT_MIN) return std::nullopt;
  return static_cast<int>(value);
}

namespace {

void Refuse(QLineEdit* field, const std::string& message, Modals& modals, QWidget* parent) {
  modals.Message(parent, message);
  field->setFocus();
  field->selectAll();
}

}  // namespace

std::optional<int> TakeInt(QLineEdit* field, Modals& modals, QWidget* parent) {
  std::optional<int> value = ParseFieldInt(field->text().toStdString());
  if (!value) Refuse(field, kIntegerMessage, modals, parent);
  return value;
}

std::optional<std::string> TakeClientLocalFile(bool put, const std::string& remoteName, QLineEdit* localField,
                                               Modals& modals, QWidget* parent) {
  std::string local = localField->text().toStdString();
  std::error_code error;
  if (!std::filesystem::is_directory(local, error)) return local;
  if (put) {
    Refuse(localField, local + " is a folder. Please choose the file to send.", modals, parent);
    return std::nullopt;
  }
  // Servers of either family take "/" and "\\" in a remote name; the last part names the file.
  size_t cut = remoteName.find_last_of("/\\");
  std::string name = cut == std::string::npos ? remoteName : remoteName.substr(cut + 1);
  std::string inside = local + (local.back() == '/' ? "" : "/") + name;
  if (name.empty() || name == "." || name == ".." || std::filesystem::is_directory(inside, error)) {
    Refuse(localField, local + " is a folder. Please enter the name of the file to save the remote file as.",
           modals, parent);
    return std::nullopt;
  }
  return inside;
}

std::optional<int> TakeIntInRange(QLineEdit* field, int low, int high, Modals& modals, QWidget* parent) {
  std::optional<int> value = TakeInt(field, modals, parent);
  if (!value) return std::nullopt;
  if (*value >= low && *value <= high) return value;
  Refuse(field, IntegerRangeMessage(low, high), modals, parent);
  return std::nullopt;
}

}  // namespace hx
