#pragma once

#include <string>
#include <string_view>

#include "ftp/server/listing.h"

namespace hx::ftpd {

// The facts of MLSD and MLST lines, "fact=value;" each, in this order. A client chooses among them with
// OPTS MLST; every one is shown until it does.
enum Fact : unsigned {
  kFactType = 1u << 0,    // file, dir, or for the entries "." and ".." of MLSD cdir and pdir
  kFactSize = 1u << 1,    // of a file, in bytes
  kFactModify = 1u << 2,  // YYYYMMDDHHMMSS in UTC, with milliseconds where the file system keeps them
  kFactPerm = 1u << 3,    // what the session's profile lets the client do with the entry
  kFactUnique = 1u << 4,  // the same for two names of one file: device and inode
};
using FactSet = unsigned;
inline constexpr FactSet kAllFacts = kFactType | kFactSize | kFactModify | kFactPerm | kFactUnique;

// The rights of the session's profile that the perm fact reports.
struct FactRights {
  bool download = false;
  bool upload = false;
  bool overwrite = false;
  bool rename = false;
  bool deleteFiles = false;
  bool makeDirs = false;
  bool removeDirs = false;
};

// What a fact's value is: in MLSD the folder's own "." is its cdir and ".." its pdir; MLST names no such
// entry.
enum class EntryRole { Named, InFolder };

std::string TypeFactValue(const ListEntry& entry, EntryRole role);
std::string ModifyFactValue(std::time_t modified, long nanos);
// The letters of RFC 3659 that apply: for a file a (APPE), d (DELE), f (RNFR), r (RETR), w (STOR); for a
// folder c (STOR in it), d (RMD), e (CWD), f (RNFR), l (LIST), m (MKD in it), p (DELE in it).
std::string PermFactValue(bool isDirectory, const FactRights& rights);
std::string UniqueFactValue(std::uint64_t device, std::uint64_t inode);

// "type=file;size=12;...;" with the facts of `facts`.
std::string FactsText(const ListEntry& entry, EntryRole role, FactSet facts, const FactRights& rights);
// An MLSD line: the facts, a blank, the name, CR LF; a name's own line breaks as NameForReply writes them.
std::string FactLine(const ListEntry& entry, FactSet facts, const FactRights& rights);

// OPTS MLST's argument "type;size;": the facts named, without regard to case; names it does not know are
// left out, as the client learns from the reply.
FactSet ParseFactList(std::string_view argument);
// OPTS MLST's reply with the facts chosen: "200 MLST OPTS type;size;", or "200 MLST OPTS" for none.
std::string OptsMlstReply(FactSet facts);
// The facts as FEAT lists them, each shown one with a "*": "type*;size*;modify;perm;unique;".
std::string FeatFactsText(FactSet facts);

}  // namespace hx::ftpd
