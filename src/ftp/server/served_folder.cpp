// The session's folder: held open under its name, and the refusal of every command beneath it while it is
// missing.
#include "app/config_keys.h"
#include "app/config_store.h"
#include "app/file_systems.h"
#include "app/served_root.h"
#include "ftp/server/control_session.h"
#include "ftp/server/file_times.h"
#include "ftp/server/replies.h"

namespace hx::ftpd {

std::shared_ptr<const RootedFileSystem> ControlSession::Files() const {
  std::shared_ptr<const ServedRoot> root = m_context.roots.Get(m_strRootDir).root;
  return m_context.files.Beneath(m_strRootDir, std::move(root),
                                 cfg::Read(m_context.config, cfg::kFollowHardLinks) != 0);
}

bool ControlSession::ServedFolderPresent() {
  ServedRootLookup root = m_context.roots.Get(m_strRootDir);
  if (root.newlyRefused) LogEntry("FTP: " + root.root->RefusalText());
  if (root.root->GetState() != ServedRoot::State::Missing) return true;
  SendReply(reply::kFolderMissing);
  return false;
}

bool ControlSession::UsesServedFolder(CommandId id, std::string_view argument) {
  switch (id) {
    case CommandId::Cwd:
    case CommandId::Cdup:
    case CommandId::Xcwd:
    case CommandId::Xcup:
    case CommandId::Retr:
    case CommandId::Stor:
    case CommandId::Appe:
    case CommandId::Rnfr:
    case CommandId::Rnto:
    case CommandId::Dele:
    case CommandId::Rmd:
    case CommandId::Xrmd:
    case CommandId::Mkd:
    case CommandId::Xmkd:
    case CommandId::List:
    case CommandId::Nlst:
    case CommandId::Mlsd:
    case CommandId::Mlst:
    case CommandId::Mdtm:
    case CommandId::Size:
    case CommandId::Mfmt:
    case CommandId::Hash:
      return true;
    case CommandId::Site:
      return SiteUtimeArgument(argument).has_value();
    case CommandId::Stat:
      return !argument.empty();
    default:
      return false;
  }
}

}  // namespace hx::ftpd
