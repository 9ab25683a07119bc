#include "ftp/server/mlst_facts.h"

#include <array>
#include <cinttypes>
#include <cstdio>

#include "app/text_util.h"
#include "ftp/server/info_replies.h"

namespace hx::ftpd {
namespace {

struct FactName {
  Fact fact;
  std::string_view name;
};
constexpr std::array<FactName, 5> kFactNames = {{
    {kFactType, "type"},
    {kFactSize, "size"},
    {kFactModify, "modify"},
    {kFactPerm, "perm"},
    {kFactUnique, "unique"},
}};

}  // namespace

std::string TypeFactValue(const ListEntry& entry, EntryRole role) {
  if (role == EntryRole::InFolder && entry.name == ".") return "cdir";
  if (role == EntryRole::InFolder && entry.name == "..") return "pdir";
  return entry.isDirectory ? "dir" : "file";
}

std::string ModifyFactValue(std::time_t modified, long nanos) {
  std::string text = FormatMdtmTime(modified);
  long millis = nanos / 1000000;
  if (millis <= 0 || millis > 999) return text;
  char fraction[8];
  std::snprintf(fraction, sizeof fraction, ".%03ld", millis);
  return text + fraction;
}

std::string PermFactValue(bool isDirectory, const FactRights& rights) {
  std::string letters;
  auto add = [&letters](bool applies, char letter) {
    if (applies) letters += letter;
  };
  if (isDirectory) {
    add(rights.upload, 'c');
    add(rights.removeDirs, 'd');
    add(true, 'e');
    add(rights.rename, 'f');
    add(true, 'l');
    add(rights.makeDirs, 'm');
    add(rights.deleteFiles, 'p');
  } else {
    // Writing to a file that exists needs the Overwrite right beside Upload, for APPE as for STOR.
    add(rights.upload && rights.overwrite, 'a');
    add(rights.deleteFiles, 'd');
    add(rights.rename, 'f');
    add(rights.download, 'r');
    add(rights.upload && rights.overwrite, 'w');
  }
  return letters;
}

std::string UniqueFactValue(std::uint64_t device, std::uint64_t inode) {
  char text[40];
  std::snprintf(text, sizeof text, "%" PRIx64 "U%" PRIx64, device, inode);
  return text;
}

std::string FactsText(const ListEntry& entry, EntryRole role, FactSet facts, const FactRights& rights) {
  std::string text;
  auto add = [&text](std::string_view name, const std::string& value) {
    text.append(name).append("=").append(value).append(";");
  };
  if (facts & kFactType) add("type", TypeFactValue(entry, role));
  // A folder's size says nothing of what it holds.
  if ((facts & kFactSize) && !entry.isDirectory) add("size", std::to_string(entry.size));
  if (facts & kFactModify) add("modify", ModifyFactValue(entry.modified, entry.modifiedNanos));
  if (facts & kFactPerm) add("perm", PermFactValue(entry.isDirectory, rights));
  if (facts & kFactUnique) add("unique", UniqueFactValue(entry.device, entry.inode));
  return text;
}

std::string FactLine(const ListEntry& entry, FactSet facts, const FactRights& rights) {
  return FactsText(entry, EntryRole::InFolder, facts, rights) + " " + NameForReply(entry.name) + "\r\n";
}

FactSet ParseFactList(std::string_view argument) {
  FactSet facts = 0;
  while (!argument.empty()) {
    size_t end = argument.find(';');
    std::string_view name = argument.substr(0, end);
    for (const FactName& known : kFactNames)
      if (EqualsNoCase(name, known.name)) facts |= known.fact;
    if (end == std::string_view::npos) break;
    argument.remove_prefix(end + 1);
  }
  return facts;
}

std::string OptsMlstReply(FactSet facts) {
  std::string text = "200 MLST OPTS";
  if (facts != 0) text += ' ';
  for (const FactName& known : kFactNames)
    if (facts & known.fact) text.append(known.name).append(";");
  return text + "\r\n";
}

std::string FeatFactsText(FactSet facts) {
  std::string text;
  for (const FactName& known : kFactNames) text.append(known.name).append(facts & known.fact ? "*;" : ";");
  return text;
}

}  // namespace hx::ftpd
